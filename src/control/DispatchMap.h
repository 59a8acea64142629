#pragma once
// A control's dispatch table: the members that a page's script calls by
// name, each with its fixed dispatch id, its parameter kinds and a handler.
// Texts reach the handler as 8-bit strings in the system code page; a text
// result is returned to the caller as a new BSTR.

#include "com/Automation.h"

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace control {

enum class ParamKind { Text, Long, Bool };

using MemberKind = ::MemberKind;

// Converted arguments, in the order of the member's declaration.
class DispArgs {
public:
    using Value = std::variant<std::string, LONG, bool>;

    explicit DispArgs(std::vector<Value> values) : m_values(std::move(values)) { }

    std::size_t Count() const { return m_values.size(); }
    const std::string& Text(std::size_t i) const { return std::get<std::string>(m_values.at(i)); }
    LONG Long(std::size_t i) const { return std::get<LONG>(m_values.at(i)); }
    bool Bool(std::size_t i) const { return std::get<bool>(m_values.at(i)); }

private:
    std::vector<Value> m_values;
};

// A member's result: nothing, or a text.
using DispResult = std::optional<std::string>;

struct DispEntry {
    std::string name;
    DISPID id;
    MemberKind kind;
    std::vector<ParamKind> params;               // methods only
    std::function<DispResult(const DispArgs&)> invoke; // method, or property get
    std::function<void(const std::string&)> put;       // property set
};

class DispatchMap {
public:
    DispatchMap& Method(std::string name, DISPID id, std::vector<ParamKind> params, std::function<DispResult(const DispArgs&)> invoke);
    DispatchMap& Property(std::string name, DISPID id, std::function<DispResult(const DispArgs&)> get, std::function<void(const std::string&)> put);

    // Case-insensitive, as Automation names are.
    const DispEntry* FindName(const std::string& name) const;
    const DispEntry* FindId(DISPID id) const;
    const std::vector<DispEntry>& Entries() const { return m_entries; }

    // IDispatch on top of the table. Never lets an exception out.
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const;
    HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argumentError) const;

private:
    std::vector<DispEntry> m_entries;
};

}

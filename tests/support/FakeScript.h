#pragma once
// A page's script object for tests: knows a set of global function names,
// records every lookup and call, and can be told to fail calls.

#include "com/Automation.h"
#include "com/CodePage.h"

#include <map>
#include <string>
#include <variant>
#include <vector>

namespace testing_support {

using Arg = std::variant<std::int32_t, std::string>; // texts as UTF-8

struct Call {
    std::string name;
    DISPID id;
    std::vector<Arg> args;    // in the order the page function sees them
    std::vector<VARTYPE> raw; // rgvarg[0], rgvarg[1], ... as handed over
};

class FakeScript final : public IDispatch {
public:
    // Function name -> dispatch id.
    std::map<std::string, DISPID> functions;
    int lookups = 0;
    int failuresLeft = 0; // Invoke fails while this is above 0
    std::vector<Call> calls;

    HRESULT QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; } // owned by the test
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        ++lookups;
        auto it = functions.find(com::WideToMultiByte(names[0], com::kCodePageUtf8));
        if (it == functions.end()) {
            *ids = DISPID_UNKNOWN;
            return DISP_E_UNKNOWNNAME;
        }
        *ids = it->second;
        return S_OK;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Call call;
        call.id = id;
        for (auto& [name, fid] : functions)
            if (fid == id)
                call.name = name;
        for (UINT i = 0; i < params->cArgs; ++i)
            call.raw.push_back(params->rgvarg[i].vt);
        for (UINT i = params->cArgs; i-- > 0;) {
            const VARIANT& v = params->rgvarg[i];
            if (v.vt == VT_I4)
                call.args.emplace_back(static_cast<std::int32_t>(v.lVal));
            else
                call.args.emplace_back(com::BstrToUtf8(v.bstrVal));
        }
        calls.push_back(call);
        if (failuresLeft > 0) {
            --failuresLeft;
            return DISP_E_EXCEPTION;
        }
        return S_OK;
    }

    ULONG refs = 1;
};

}

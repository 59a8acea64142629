#include "control/DispatchMap.h"

#include "com/CodePage.h"

#include <cstdio>
#include <strings.h>

namespace control {

DispatchMap& DispatchMap::Method(std::string name, DISPID id, std::vector<ParamKind> params, std::function<DispResult(const DispArgs&)> invoke)
{
    m_entries.push_back(DispEntry { std::move(name), id, MemberKind::Method, std::move(params), std::move(invoke), nullptr });
    return *this;
}

DispatchMap& DispatchMap::Property(std::string name, DISPID id, std::function<DispResult(const DispArgs&)> get, std::function<void(const std::string&)> put)
{
    m_entries.push_back(DispEntry { std::move(name), id, MemberKind::Property, {}, std::move(get), std::move(put) });
    return *this;
}

const DispEntry* DispatchMap::FindName(const std::string& name) const
{
    for (const auto& e : m_entries)
        if (strcasecmp(e.name.c_str(), name.c_str()) == 0)
            return &e;
    return nullptr;
}

const DispEntry* DispatchMap::FindId(DISPID id) const
{
    for (const auto& e : m_entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

HRESULT DispatchMap::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const
{
    if (!names || !ids || count == 0)
        return E_INVALIDARG;
    std::u16string_view first(names[0] ? names[0] : u"");
    const DispEntry* e = FindName(com::WideToMultiByte(first, com::kCodePageUtf8));
    ids[0] = e ? e->id : DISPID_UNKNOWN;
    HRESULT hr = e ? S_OK : DISP_E_UNKNOWNNAME;
    // Named parameters are not supported.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

namespace {

// Argument i of the declaration is rgvarg[cArgs - 1 - i].
HRESULT convertArgs(const std::vector<ParamKind>& kinds, const DISPPARAMS& params, std::vector<DispArgs::Value>& out, UINT* argumentError)
{
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        UINT slot = params.cArgs - 1 - static_cast<UINT>(i);
        const VARIANT& given = params.rgvarg[slot];
        VARIANT v;
        VariantInit(&v);
        VARTYPE want = kinds[i] == ParamKind::Text ? VT_BSTR : kinds[i] == ParamKind::Long ? VT_I4 : VT_BOOL;
        HRESULT hr = VariantChangeType(&v, &given, 0, want);
        if (FAILED(hr)) {
            if (argumentError)
                *argumentError = slot;
            return DISP_E_TYPEMISMATCH;
        }
        switch (kinds[i]) {
        case ParamKind::Text: out.emplace_back(com::BstrToAnsi(v.bstrVal)); break;
        case ParamKind::Long: out.emplace_back(static_cast<LONG>(v.lVal)); break;
        case ParamKind::Bool: out.emplace_back(v.boolVal != VARIANT_FALSE); break;
        }
        VariantClear(&v);
    }
    return S_OK;
}

void setResult(VARIANT* result, const DispResult& value)
{
    if (!result)
        return;
    VariantInit(result);
    if (value) {
        result->vt = VT_BSTR;
        result->bstrVal = com::AnsiToBstr(*value);
    }
}

}

HRESULT DispatchMap::Invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, UINT* argumentError) const
{
    const DispEntry* e = FindId(id);
    if (!e)
        return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none { nullptr, nullptr, 0, 0 };
    if (!params)
        params = &none;
    try {
        if (e->kind == MemberKind::Method) {
            if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)))
                return DISP_E_MEMBERNOTFOUND;
            if (params->cNamedArgs != 0)
                return DISP_E_NONAMEDARGS;
            if (params->cArgs != e->params.size())
                return DISP_E_BADPARAMCOUNT;
            std::vector<DispArgs::Value> values;
            HRESULT hr = convertArgs(e->params, *params, values, argumentError);
            if (FAILED(hr))
                return hr;
            setResult(result, e->invoke(DispArgs(std::move(values))));
            return S_OK;
        }
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (params->cArgs != 1)
                return DISP_E_BADPARAMCOUNT;
            std::vector<DispArgs::Value> values;
            HRESULT hr = convertArgs({ ParamKind::Text }, *params, values, argumentError);
            if (FAILED(hr))
                return hr;
            e->put(std::get<std::string>(values[0]));
            return S_OK;
        }
        if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
            if (params->cArgs != 0)
                return DISP_E_BADPARAMCOUNT;
            setResult(result, e->invoke(DispArgs({})));
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "tiravex: %s failed: %s\n", e->name.c_str(), failure.what());
    } catch (...) {
        std::fprintf(stderr, "tiravex: %s failed\n", e->name.c_str());
    }
    // The failure stays a status code: nothing is thrown at the caller.
    setResult(result, std::nullopt);
    return E_FAIL;
}

}

#pragma once
// Calling the control's script members by name, as a page does, for the
// tests and the benches: the arguments as VARIANTs, given first to last.

#include "control/TiravexCtrl.h"

#include "com/CodePage.h"

#include <algorithm>
#include <string>
#include <vector>

namespace testing_support {

inline VARIANT Num(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

inline VARIANT Str(const std::string& text)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = com::Utf8ToBstr(text.c_str());
    return v;
}

// Invokes a member by name; the arguments are cleared. Returns the HRESULT.
inline HRESULT CallByName(control::CTiravexCtrl* c, const char* name, std::vector<VARIANT> args, VARIANT* result = nullptr)
{
    std::u16string wide = com::MultiByteToWide(name, com::kCodePageUtf8);
    LPOLESTR names[] = { wide.data() };
    DISPID id = 0;
    HRESULT hr = c->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) {
        std::reverse(args.begin(), args.end());
        DISPPARAMS params { args.data(), nullptr, static_cast<UINT>(args.size()), 0 };
        hr = c->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
    }
    for (auto& a : args)
        VariantClear(&a);
    return hr;
}

}

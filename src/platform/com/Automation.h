#pragma once
// Automation: interface identifiers, IUnknown and IDispatch, BSTR (UTF-16
// with a length prefix), VARIANT and DISPPARAMS, with the Windows names and
// result codes that the control and its page host speak.

#include "sys/Types.h"

#include <cstring>

using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using DISPID = LONG;
using MEMBERID = DISPID;
using VARIANT_BOOL = SHORT;
using VARTYPE = USHORT;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
    bool operator==(const GUID& other) const { return std::memcmp(this, &other, sizeof(GUID)) == 0; }
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IOleClientSite;
extern const IID IID_IOleContainer;
extern const IID IID_IHTMLDocument;

// Result codes of the dispatch machinery.
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = static_cast<HRESULT>(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = static_cast<HRESULT>(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_NONAMEDARGS = static_cast<HRESULT>(0x80020007u);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = static_cast<HRESULT>(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);

// Invoke flags.
constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_ABOUTBOX = -552;

constexpr LCID LOCALE_USER_DEFAULT = 0x400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x800;

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    virtual ~IUnknown() = default;
};

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_BOOL = 11,
    VT_UI4 = 19,
    VT_INT = 22,
};

class IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        SHORT iVal;
        ULONG ulVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        IDispatch* pdispVal;
    };
};
using VARIANTARG = VARIANT;

struct DISPPARAMS {
    VARIANTARG* rgvarg;        // arguments in reverse order: rgvarg[0] is the last
    DISPID* rgdispidNamedArgs; // named arguments' ids
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    void* pfnDeferredFillIn;
    HRESULT scode;
};

class IDispatch : public IUnknown {
public:
    virtual HRESULT GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) = 0;
    virtual HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) = 0;
};

// What an object tells about its members beyond IDispatch, so that a
// script engine can show methods as functions and properties as values.
extern const IID IID_IDispatchInfo;

enum class MemberKind { Unknown, Method, Property };

class IDispatchInfo : public IUnknown {
public:
    virtual HRESULT GetMemberKind(DISPID id, MemberKind* kind) = 0;
};

// BSTR: UTF-16 text, a 32-bit byte length stored before the first character,
// always zero-terminated. Null is the empty text.
BSTR SysAllocString(LPCOLESTR text);
BSTR SysAllocStringLen(LPCOLESTR text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

// The number of BSTRs allocated and not yet freed; tests watch it for leaks.
long SysLiveStringCount();

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
// Converts to VT_I4, VT_INT, VT_I2, VT_UI4, VT_BOOL, VT_R8 or VT_BSTR, by
// the Automation rules a browser's script engine meets:
// - a number becomes an integer rounded to the nearest (halves away from
//   zero); one that does not fit the type after rounding, NaN and the
//   infinities are refused with DISP_E_OVERFLOW (never wrapped or clamped);
// - a text becomes a number only when it is a plain decimal number
//   ("-12", "3.5", "1e3", spaces around it allowed); "nan", "inf",
//   hexadecimal and empty texts are refused with DISP_E_TYPEMISMATCH, and a
//   text whose value is too large for a double with DISP_E_OVERFLOW;
// - a number becomes its shortest decimal text (15 significant digits),
//   NaN "NaN" and the infinities "Infinity" and "-Infinity", as the script
//   engine itself would show them;
// - NaN becomes VARIANT_TRUE as a boolean, as every value but zero does.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT flags, VARTYPE type);

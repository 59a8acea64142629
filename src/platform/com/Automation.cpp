#include "com/Automation.h"

#include "com/CodePage.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

const IID IID_NULL = { 0, 0, 0, { 0, 0, 0, 0, 0, 0, 0, 0 } };
const IID IID_IUnknown = { 0x00000000, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
const IID IID_IDispatch = { 0x00020400, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
const IID IID_IOleClientSite = { 0x00000118, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
const IID IID_IOleContainer = { 0x0000011B, 0x0000, 0x0000, { 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 } };
const IID IID_IDispatchInfo = { 0x7A1E3C55, 0x2B9D, 0x4F0E, { 0x9C, 0x61, 0x3D, 0x52, 0x8E, 0x11, 0x07, 0xA4 } };
const IID IID_IHTMLDocument = { 0x626FC520, 0xA41E, 0x11CF, { 0xA7, 0x31, 0x00, 0xA0, 0xC9, 0x08, 0x26, 0x37 } };

namespace {

std::atomic<long> g_liveStrings{0};

// A BSTR block: the byte length, then the characters and a terminating zero.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

std::uint32_t* header(BSTR text) { return reinterpret_cast<std::uint32_t*>(reinterpret_cast<char*>(text) - kPrefix); }

}

BSTR SysAllocStringLen(LPCOLESTR text, UINT length)
{
    if (length > (0x7FFFFFFFu - kPrefix) / sizeof(OLECHAR) - 1)
        return nullptr;
    auto* block = static_cast<char*>(std::malloc(kPrefix + (std::size_t(length) + 1) * sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    std::uint32_t bytes = length * sizeof(OLECHAR);
    std::memcpy(block, &bytes, kPrefix);
    auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
    if (text)
        std::memcpy(chars, text, bytes);
    else
        std::memset(chars, 0, bytes);
    chars[length] = 0;
    g_liveStrings.fetch_add(1, std::memory_order_relaxed);
    return chars;
}

BSTR SysAllocString(LPCOLESTR text)
{
    if (!text)
        return nullptr;
    UINT length = 0;
    while (text[length])
        ++length;
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text)
{
    if (!text)
        return;
    g_liveStrings.fetch_sub(1, std::memory_order_relaxed);
    std::free(header(text));
}

UINT SysStringLen(BSTR text) { return text ? *header(text) / sizeof(OLECHAR) : 0; }

long SysLiveStringCount() { return g_liveStrings.load(std::memory_order_relaxed); }

void VariantInit(VARIANT* v)
{
    std::memset(v, 0, sizeof *v);
    v->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* v)
{
    if (!v)
        return E_INVALIDARG;
    switch (v->vt) {
    case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
    case VT_DISPATCH:
        if (v->pdispVal)
            v->pdispVal->Release();
        break;
    default:
        break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source)
{
    if (!destination || !source)
        return E_INVALIDARG;
    if (destination == source)
        return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (!copy.bstrVal)
            return E_OUTOFMEMORY;
    } else if (source->vt == VT_DISPATCH && source->pdispVal) {
        source->pdispVal->AddRef();
    }
    VariantClear(destination);
    *destination = copy;
    return S_OK;
}

namespace {

// A plain decimal number with optional spaces around it: sign, digits with
// at most one point (at least one digit), then an optional exponent.
bool isPlainDecimal(const std::string& text)
{
    std::size_t i = 0, n = text.size();
    auto digits = [&] {
        std::size_t start = i;
        while (i < n && text[i] >= '0' && text[i] <= '9')
            ++i;
        return i - start;
    };
    while (i < n && text[i] == ' ')
        ++i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissa = digits();
    if (i < n && text[i] == '.') {
        ++i;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    while (i < n && text[i] == ' ')
        ++i;
    return i == n;
}

// The number a VARIANT holds: S_OK, DISP_E_TYPEMISMATCH for what is not a
// number, DISP_E_OVERFLOW for a text too large for a double.
HRESULT toDouble(const VARIANT& v, double& out)
{
    switch (v.vt) {
    case VT_EMPTY: out = 0; return S_OK;
    case VT_I2: out = v.iVal; return S_OK;
    case VT_I4:
    case VT_INT: out = v.lVal; return S_OK;
    case VT_UI4: out = v.ulVal; return S_OK;
    case VT_R8: out = v.dblVal; return S_OK;
    case VT_BOOL: out = v.boolVal ? -1 : 0; return S_OK;
    case VT_BSTR: {
        std::string text = com::BstrToUtf8(v.bstrVal);
        if (!isPlainDecimal(text))
            return DISP_E_TYPEMISMATCH;
        out = std::strtod(text.c_str(), nullptr);
        return std::isfinite(out) ? S_OK : DISP_E_OVERFLOW;
    }
    default: return DISP_E_TYPEMISMATCH;
    }
}

// `number` rounded to the nearest integer (halves away from zero), when
// that lies within [low, high]; false for NaN and the infinities.
bool roundWithin(double number, double low, double high, double& rounded)
{
    if (!std::isfinite(number))
        return false;
    rounded = std::round(number);
    return rounded >= low && rounded <= high;
}

std::u16string numberText(double value)
{
    // Integers below this print all their digits; others take %.15g.
    constexpr double kWholeDigitsLimit = 1e15;
    std::string text;
    if (std::isnan(value))
        text = "NaN";
    else if (std::isinf(value))
        text = value > 0 ? "Infinity" : "-Infinity";
    else if (std::fabs(value) < kWholeDigitsLimit && value == std::trunc(value))
        text = std::to_string(static_cast<long long>(value));
    else {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
        text = buffer;
    }
    return std::u16string(text.begin(), text.end());
}

}

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, USHORT, VARTYPE type)
{
    if (!destination || !source)
        return E_INVALIDARG;
    VARIANT result;
    VariantInit(&result);
    result.vt = type;
    if (source->vt == type) {
        HRESULT hr = VariantCopy(&result, source);
        if (FAILED(hr))
            return hr;
    } else if (type == VT_BSTR) {
        double number = 0;
        if (source->vt == VT_BOOL)
            result.bstrVal = SysAllocString(source->boolVal ? u"True" : u"False");
        else if (HRESULT hr = toDouble(*source, number); SUCCEEDED(hr)) {
            std::u16string text = numberText(number);
            result.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        } else
            return hr;
    } else {
        double number = 0;
        if (HRESULT hr = toDouble(*source, number); FAILED(hr))
            return hr;
        double rounded = 0;
        switch (type) {
        case VT_I4:
        case VT_INT:
            if (!roundWithin(number, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), rounded))
                return DISP_E_OVERFLOW;
            result.lVal = static_cast<LONG>(rounded);
            break;
        case VT_I2:
            if (!roundWithin(number, std::numeric_limits<SHORT>::min(), std::numeric_limits<SHORT>::max(), rounded))
                return DISP_E_OVERFLOW;
            result.iVal = static_cast<SHORT>(rounded);
            break;
        case VT_UI4:
            if (!roundWithin(number, 0, std::numeric_limits<ULONG>::max(), rounded))
                return DISP_E_OVERFLOW;
            result.ulVal = static_cast<ULONG>(rounded);
            break;
        case VT_R8: result.dblVal = number; break;
        case VT_BOOL: result.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        default: return DISP_E_BADVARTYPE;
        }
    }
    if (destination != source)
        VariantClear(destination);
    else
        VariantClear(destination);
    *destination = result;
    return S_OK;
}

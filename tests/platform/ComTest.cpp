#include "com/Automation.h"
#include "com/CodePage.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// "连接失败" in code page 936.
const std::string kConnectFailGbk = "\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC";
const std::u16string kConnectFailWide = u"连接失败";

TEST(Bstr, KeepsItsLengthAndEmbeddedZeros)
{
    const char16_t text[] = { u'a', 0, u'b' };
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[3], 0) << "always terminated";
    SysFreeString(s);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
}

TEST(Variant, ConvertsBetweenTextsAndNumbers)
{
    struct Case {
        const char16_t* text;
        VARTYPE to;
        bool ok;
        LONG number;
    };
    const Case cases[] = {
        { u"42", VT_I4, true, 42 },
        { u"-7", VT_I4, true, -7 },
        { u"3.6", VT_I4, true, 4 },
        { u"abc", VT_I4, false, 0 },
        { u"", VT_I4, false, 0 },
        { u"99999999999", VT_I4, false, 0 },
    };
    for (const auto& c : cases) {
        VARIANT in;
        VariantInit(&in);
        in.vt = VT_BSTR;
        in.bstrVal = SysAllocString(c.text);
        VARIANT out;
        VariantInit(&out);
        HRESULT hr = VariantChangeType(&out, &in, 0, c.to);
        EXPECT_EQ(SUCCEEDED(hr), c.ok) << com::BstrToUtf8(in.bstrVal);
        if (c.ok) {
            EXPECT_EQ(out.lVal, c.number);
        }
        VariantClear(&in);
        VariantClear(&out);
    }
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = -123;
    VARIANT text;
    VariantInit(&text);
    ASSERT_EQ(VariantChangeType(&text, &number, 0, VT_BSTR), S_OK);
    EXPECT_EQ(com::BstrToUtf8(text.bstrVal), "-123");
    VariantClear(&text);
    EXPECT_EQ(SysLiveStringCount(), 0) << "a conversion leaked a string";
}

// Numbers that do not fit, and texts that are not plain numbers, are
// refused; nothing is wrapped, and NaN and the infinities never reach an
// integer.
TEST(Variant, NumbersBecomeIntegersOnlyWhenTheyFitAfterRounding)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double number;
        VARTYPE to;
        HRESULT hr;
        long long value;
    };
    const Case cases[] = {
        { 2.5, VT_I4, S_OK, 3 },
        { -2.5, VT_I4, S_OK, -3 },
        { 2147483647.4, VT_I4, S_OK, 2147483647 },
        { 2147483647.5, VT_I4, DISP_E_OVERFLOW, 0 },
        { -2147483648.4, VT_I4, S_OK, -2147483647 - 1 },
        { -2147483648.5, VT_I4, DISP_E_OVERFLOW, 0 },
        { 1e300, VT_I4, DISP_E_OVERFLOW, 0 },
        { nan, VT_I4, DISP_E_OVERFLOW, 0 },
        { inf, VT_I4, DISP_E_OVERFLOW, 0 },
        { -inf, VT_INT, DISP_E_OVERFLOW, 0 },
        { 32767.4, VT_I2, S_OK, 32767 },
        { -32768.6, VT_I2, DISP_E_OVERFLOW, 0 },
        { nan, VT_I2, DISP_E_OVERFLOW, 0 },
        { 4294967295.2, VT_UI4, S_OK, 4294967295 },
        { -0.4, VT_UI4, S_OK, 0 },
        { -1, VT_UI4, DISP_E_OVERFLOW, 0 },
        { nan, VT_UI4, DISP_E_OVERFLOW, 0 },
    };
    for (const auto& c : cases) {
        VARIANT in;
        VariantInit(&in);
        in.vt = VT_R8;
        in.dblVal = c.number;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &in, 0, c.to), c.hr) << c.number << " to " << c.to;
        if (c.hr == S_OK) {
            long long got = c.to == VT_I2 ? out.iVal : c.to == VT_UI4 ? static_cast<long long>(out.ulVal) : out.lVal;
            EXPECT_EQ(got, c.value) << c.number;
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY) << "a refused conversion left something behind";
        }
        VariantClear(&out);
    }
    VARIANT in;
    VariantInit(&in);
    in.vt = VT_R8;
    in.dblVal = nan;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BOOL), S_OK);
    EXPECT_EQ(out.boolVal, VARIANT_TRUE) << "NaN is not zero";
}

TEST(Variant, OnlyPlainDecimalTextsAreNumbers)
{
    struct Case {
        const char16_t* text;
        HRESULT hr;
        LONG number;
    };
    const Case cases[] = {
        { u" 12 ", S_OK, 12 }, { u"+5", S_OK, 5 }, { u".5", S_OK, 1 }, { u"5.", S_OK, 5 }, { u"-1e3", S_OK, -1000 }, { u"1E-2", S_OK, 0 },
        { u"nan", DISP_E_TYPEMISMATCH, 0 }, { u"NaN", DISP_E_TYPEMISMATCH, 0 }, { u"inf", DISP_E_TYPEMISMATCH, 0 },
        { u"-Infinity", DISP_E_TYPEMISMATCH, 0 }, { u"0x10", DISP_E_TYPEMISMATCH, 0 }, { u"e5", DISP_E_TYPEMISMATCH, 0 },
        { u"1e", DISP_E_TYPEMISMATCH, 0 }, { u"1 2", DISP_E_TYPEMISMATCH, 0 }, { u".", DISP_E_TYPEMISMATCH, 0 },
        { u"1e300", DISP_E_OVERFLOW, 0 }, { u"1e400", DISP_E_OVERFLOW, 0 }, { u"2147483648", DISP_E_OVERFLOW, 0 },
    };
    for (const auto& c : cases) {
        VARIANT in;
        VariantInit(&in);
        in.vt = VT_BSTR;
        in.bstrVal = SysAllocString(c.text);
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &in, 0, VT_I4), c.hr) << com::BstrToUtf8(in.bstrVal);
        if (c.hr == S_OK) {
            EXPECT_EQ(out.lVal, c.number) << com::BstrToUtf8(in.bstrVal);
        }
        VariantClear(&in);
        VariantClear(&out);
    }
    EXPECT_EQ(SysLiveStringCount(), 0);
}

TEST(Variant, EveryNumberHasAText)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, const char*> cases[] = {
        { 1e300, "1e+300" }, { -1e300, "-1e+300" }, { 123456789012345.0, "123456789012345" }, { 1e15, "1e+15" }, { 0.25, "0.25" },
        { -0.0, "0" }, { nan, "NaN" }, { inf, "Infinity" }, { -inf, "-Infinity" }, { 9.2233720368547758e18, "9.22337203685478e+18" },
    };
    for (const auto& [number, text] : cases) {
        VARIANT in;
        VariantInit(&in);
        in.vt = VT_R8;
        in.dblVal = number;
        VARIANT out;
        VariantInit(&out);
        ASSERT_EQ(VariantChangeType(&out, &in, 0, VT_BSTR), S_OK) << text;
        EXPECT_EQ(com::BstrToUtf8(out.bstrVal), text);
        VariantClear(&out);
    }
    EXPECT_EQ(SysLiveStringCount(), 0);
}

TEST(CodePage, ChineseTextsRoundTripThroughTheSystemCodePage)
{
    ASSERT_EQ(com::GetACP(), com::kDefaultCodePage);
    EXPECT_EQ(com::MultiByteToWide(kConnectFailGbk), kConnectFailWide);
    EXPECT_EQ(com::WideToMultiByte(kConnectFailWide), kConnectFailGbk);
    BSTR b = com::AnsiToBstr(kConnectFailGbk);
    EXPECT_EQ(com::BstrToUtf8(b), "连接失败");
    EXPECT_EQ(com::BstrToAnsi(b), kConnectFailGbk);
    SysFreeString(b);
}

TEST(CodePage, BrokenSequencesBecomeQuestionMarksAndNeverReadPastTheText)
{
    // A lead byte cut off at the end, and a byte that is not valid GBK.
    std::string broken = std::string("ab\xC1", 3);
    std::u16string wide = com::MultiByteToWide(std::string_view(broken.data(), broken.size()));
    EXPECT_EQ(wide, u"ab?");
    std::u16string lone = u"x";
    lone += static_cast<char16_t>(0xD800); // an unpaired surrogate
    EXPECT_EQ(com::WideToMultiByte(lone), "x?");
}

TEST(CodePage, TheSystemCodePageCanBeChangedButNotToAnUnknownOne)
{
    EXPECT_FALSE(com::SetSystemCodePage(12345678));
    EXPECT_EQ(com::GetACP(), com::kDefaultCodePage);
    ASSERT_TRUE(com::SetSystemCodePage(950));
    EXPECT_EQ(com::MultiByteToWide("\xB3\x73\xB1\xB5"), u"連接");
    ASSERT_TRUE(com::SetSystemCodePage(com::kDefaultCodePage));
}

}

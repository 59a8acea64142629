#include "com/Automation.h"
#include "com/CodePage.h"

#include <gtest/gtest.h>

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

#include "link/CgiText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CgiText, TheResultElementIsCutOutWithBothTags)
{
    char out[64];
    EXPECT_EQ(devlink::ExtractCgiResult("junk<CGI_Result><result>0</result></CGI_Result>tail", out, sizeof out), devlink::CgiExtract::Found);
    EXPECT_STREQ(out, "<CGI_Result><result>0</result></CGI_Result>");
    EXPECT_EQ(devlink::ExtractCgiResult("<html>no</html>", out, sizeof out), devlink::CgiExtract::NoElement);
    EXPECT_EQ(devlink::ExtractCgiResult("<CGI_Result><result>0", out, sizeof out), devlink::CgiExtract::Unterminated);
    EXPECT_STREQ(out, "");
}

TEST(CgiText, ALongElementIsCutToTheBuffer)
{
    std::string body = "<CGI_Result>" + std::string(2000, 'x') + "</CGI_Result>";
    char out[1000];
    out[999] = 'z';
    ASSERT_EQ(devlink::ExtractCgiResult(body, out, sizeof out), devlink::CgiExtract::Found);
    EXPECT_EQ(std::strlen(out), 999u);
}

TEST(CgiText, ElementsAreReadWithinTheirLimits)
{
    const char* reply = "<CGI_Result><productName>ZA104</productName><motionAreaCols>12</motionAreaCols>"
                        "<ptFlag>1</ptFlag><rs485Flag>x</rs485Flag><modelName>M1234567890123456789012<x></CGI_Result>";
    std::string text;
    ASSERT_TRUE(devlink::ElementText(reply, "<productName>", "</productName>", 19, text));
    EXPECT_EQ(text, "ZA104");
    ASSERT_TRUE(devlink::ElementText(reply, "<modelName>", "<", 19, text));
    EXPECT_EQ(text.size(), 19u);
    EXPECT_FALSE(devlink::ElementText(reply, "<httpsPort>", "</httpsPort>", 19, text));
    EXPECT_EQ(devlink::ElementNumber(reply, "<motionAreaRows>", "</motionAreaRows>", 10), 10);
    EXPECT_EQ(devlink::ElementNumber(reply, "<motionAreaCols>", "</motionAreaCols>", 10), 12);
    EXPECT_EQ(devlink::ElementNumber("<a>123456</a>", "<a>", "</a>", 7), 7) << "five or more digits are rejected";
    EXPECT_EQ(devlink::ElementDigit(reply, "<ptFlag>", 0), 1);
    EXPECT_EQ(devlink::ElementDigit(reply, "<rs485Flag>", 4), 4);
    EXPECT_EQ(devlink::ElementDigit("<ptFlag>", "<ptFlag>", 0), 0) << "nothing after the tag";
    // Cameras that pad their values with spaces or line breaks.
    EXPECT_EQ(devlink::ElementNumber("<motionAreaRows> 8</motionAreaRows>", "<motionAreaRows>", "</motionAreaRows>", 10), 8);
    EXPECT_EQ(devlink::ElementNumber("<a>\n 12 \t</a>", "<a>", "</a>", 10), 12);
    EXPECT_EQ(devlink::ElementNumber("<a> 1 2 </a>", "<a>", "</a>", 10), 10) << "spaces inside a number";
    EXPECT_EQ(devlink::ElementNumber("<a>   </a>", "<a>", "</a>", 10), 10);
    EXPECT_EQ(devlink::ElementDigit("<ptFlag> 1</ptFlag>", "<ptFlag>", 0), 1);
}

TEST(CgiText, AccountTextsArePercentEncodedButUnreservedCharactersStay)
{
    EXPECT_EQ(devlink::PercentEncode("Admin-1._~z"), "Admin-1._~z");
    EXPECT_EQ(devlink::PercentEncode("a&b#c%d e+f=g?h/i"), "a%26b%23c%25d%20e%2Bf%3Dg%3Fh%2Fi");
    EXPECT_EQ(devlink::PercentEncode("\xd6\xd0\x01\x7f"), "%D6%D0%01%7F") << "bytes of the system code page and controls";
    EXPECT_EQ(devlink::PercentEncode(std::string_view("a\0b", 3)), "a%00b");
    EXPECT_EQ(devlink::PercentEncode(""), "");
}

}

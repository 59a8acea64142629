// What a page may pass: numbers that fit no integer, texts that are not
// numbers, languages the string table does not have, mask coordinates at
// the ends of the range, and paths that would reach other programs or other
// folders. Each call is refused or taken within its range; none wraps (the
// ASan+UBSan build stops at any overflow).

#include "support/PageFixture.h"

#include "resources/StringTable.h"
#include "sys/Process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

namespace fs = std::filesystem;

using control::CTiravexCtrl;

VARIANT real(double number)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = number;
    return v;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class PageArguments : public testing_support::PageFixture {
protected:
    std::string areasAfter(const std::string& text)
    {
        EXPECT_EQ(putText(control, "Areas", text.c_str()), S_OK);
        return getText(control, "Areas");
    }

    CTiravexCtrl* control = nullptr;
};

TEST_F(PageArguments, NumbersThatFitNoIntegerAreRefusedAndTextsGetTheirNumbersText)
{
    control = makeControl(0);
    for (double number : { kNaN, kInfinity, -kInfinity, 1e300, 2147483647.5 }) {
        EXPECT_EQ(call(control, "SetLauguage", { real(number) }), DISP_E_TYPEMISMATCH) << number;
        EXPECT_EQ(call(control, "PlaybackSeek", { real(number) }), DISP_E_TYPEMISMATCH) << number;
    }
    EXPECT_EQ(call(control, "SetLauguage", { str("nan") }), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call(control, "SetLauguage", { str("0x2") }), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(control->Hub().Language(), resources::kLanguageSimplifiedChinese);
    EXPECT_EQ(call(control, "SetLauguage", { str(" 2 ") }), S_OK);
    EXPECT_EQ(control->Hub().Language(), resources::kLanguageEnglish);

    // A text member takes any number as its text.
    for (double number : { 1e300, kNaN, kInfinity }) {
        EXPECT_EQ(call(control, "Open", { real(number) }), S_OK) << number;
    }
    VARIANT big = real(1e300);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params { &big, &put, 1, 1 };
    ASSERT_EQ(control->Invoke(idOf(control, "LocalAlarmRecordTime"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(getText(control, "LocalAlarmRecordTime"), "0") << "1e+300 is stored, and read back as not valid";
}

TEST_F(PageArguments, OnlyTheThreeLanguagesAreTaken)
{
    control = makeControl(0);
    ASSERT_EQ(call(control, "SetLauguage", { num(1) }), S_OK);
    ASSERT_EQ(control->Hub().Language(), resources::kLanguageTraditionalChinese);
    for (LONG language : { 30000000, 21474836, -21474836, std::numeric_limits<LONG>::min(), 3, -1 }) {
        EXPECT_EQ(call(control, "SetLauguage", { num(language) }), S_OK);
        EXPECT_EQ(control->Hub().Language(), resources::kLanguageTraditionalChinese) << language;
    }
}

TEST_F(PageArguments, MaskCoordinatesBeyondThePictureStopAtItsEdges)
{
    control = makeControl(0);
    ASSERT_EQ(call(control, "EnterAreaSet", { num(0), str(""), str(""), str(""), num(10000), num(10000) }), S_OK);
    EXPECT_EQ(areasAfter("<cgi_result><result>0</result><x1_0>-2000000000</x1_0><y1_0>0</y1_0><x2_0>2000000000</x2_0><y2_0>5000</y2_0></cgi_result>"),
        "&x1_0=0&y1_0=0&x2_0=10000&y2_0=5000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");
    EXPECT_EQ(control->Shelter().Rect(0), (RECT { 0, 0, 10000, 5000 }));
    // Digits beyond any integer saturate; the text still reads.
    EXPECT_EQ(areasAfter("<cgi_result><result>99999999999999999999999</result><x1_0>-99999999999999999999999</x1_0><y1_0>1000</y1_0>"
                         "<x2_0>99999999999999999999999</x2_0><y2_0>2000</y2_0></cgi_result>"),
        "&x1_0=0&y1_0=1000&x2_0=10000&y2_0=2000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");

    // Picture sizes at the ends of the range are kept within what a screen can be.
    for (LONG size : { std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::min() }) {
        ASSERT_EQ(call(control, "EnterAreaSet", { num(0), str(""), str(""), str(""), num(size), num(size) }), S_OK);
        EXPECT_EQ(areasAfter("<cgi_result><result>0</result><x1_0>0</x1_0><y1_0>0</y1_0><x2_0>10000</x2_0><y2_0>10000</y2_0></cgi_result>"),
            size > 0 ? "&x1_0=0&y1_0=0&x2_0=10000&y2_0=10000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0"
                     : "&x1_0=0&y1_0=0&x2_0=0&y2_0=0&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0")
            << size;
        ASSERT_EQ(call(control, "EnterMotionSet", { num(0), str(""), str(""), str(""), num(size), num(size) }), S_OK);
    }
}

// The file manager here is a script that writes down its arguments.
TEST_F(PageArguments, TheFileManagerGetsOnlyACanonicalFolder)
{
    control = makeControl(0);
    const std::string folder = ::testing::TempDir() + "/page-arguments-folder";
    fs::remove_all(folder);
    fs::create_directories(folder + "/records");
    fs::create_directories(folder + "/bin");
    const std::string said = folder + "/arguments";
    {
        std::ofstream script(folder + "/bin/xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" << said << "'\n";
    }
    fs::permissions(folder + "/bin/xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (folder + "/bin:" + path).c_str(), 1);
    std::ofstream(folder + "/file.desktop").put('x');

    sys::StartProcess({ "true" });
    for (const std::string& text : std::vector<std::string> { "-5", "--help", "records", "./records", "", "/no/such/folder", folder + "/file.desktop" }) {
        ASSERT_EQ(call(control, "OpenLocalRecordFolder", { str(text.c_str()) }), S_OK);
        EXPECT_EQ(sys::LastStartedProcess(), (std::vector<std::string> { "true" })) << "started for " << text;
    }
    ASSERT_EQ(call(control, "OpenLocalRecordFolder", { str((folder + "/records/../records/").c_str()) }), S_OK);
    const std::string canonical = fs::canonical(folder + "/records").string();
    EXPECT_EQ(sys::LastStartedProcess(), (std::vector<std::string> { "xdg-open", canonical }));
    auto written = [&] {
        std::ifstream in(said);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    EXPECT_TRUE(ui::RunUntil([&] { return !written().empty(); }, 5000));
    EXPECT_EQ(written(), canonical + "\n") << "the file manager was started only once, with the folder";
    setenv("PATH", path.c_str(), 1);
}

}

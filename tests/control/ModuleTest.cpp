// The module's pieces: registration through tiravex-register and the store
// it leaves, each step's failure from a store that stops growing, the
// property page, and the About box answered by its button, by Escape and in
// advance, drawn on the screen.

#include "control/AboutDlg.h"
#include "control/Registration.h"
#include "control/TiravexPropPage.h"
#include "support/PageFixture.h"

#include "gfx/PixelFormat.h"
#include "gfx/Screen.h"
#include "resources/Bitmaps.h"
#include "sys/Registry.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using control::StringFromGuid;

const std::string kControlKey = "CLSID\\" + StringFromGuid(control::kControlClsid);
const std::string kInitCategory = StringFromGuid(control::kCatidSafeForInitializing);
const std::string kScriptCategory = StringFromGuid(control::kCatidSafeForScripting);

class Registration : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("tiravex-reg-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        m_store = (m_dir / "registry").string();
        ::setenv("TIRAVEX_REGISTRY", m_store.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("TIRAVEX_REGISTRY");
        fs::remove_all(m_dir);
    }

    // Runs tiravex-register; its exit code and what it printed.
    std::pair<int, std::string> runProgram(bool unregister)
    {
        std::string command = std::string(TIRAVEX_REGISTER) + (unregister ? " --unregister" : "");
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string out;
        char buffer[256];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        int status = pipe ? ::pclose(pipe) : -1;
        return { WIFEXITED(status) ? WEXITSTATUS(status) : -1, out };
    }

    sys::RegistryStore load()
    {
        sys::RegistryStore store(m_store);
        EXPECT_EQ(store.Load(), 0);
        return store;
    }

    // DllRegisterServer in a child whose files may not grow past `limit`.
    static HRESULT registerWithFileLimit(rlim_t limit)
    {
        int answer[2];
        if (::pipe(answer) != 0)
            return S_OK;
        pid_t child = ::fork();
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit cap { limit, limit };
            ::setrlimit(RLIMIT_FSIZE, &cap);
            HRESULT result = DllRegisterServer();
            (void)!::write(answer[1], &result, sizeof result);
            ::_exit(0);
        }
        ::close(answer[1]);
        HRESULT result = S_OK;
        (void)!::read(answer[0], &result, sizeof result);
        ::close(answer[0]);
        ::waitpid(child, nullptr, 0);
        return result;
    }

    fs::path m_dir;
    std::string m_store;
};

TEST_F(Registration, TheProgramRegistersAndUnregistersLeavingTheCategories)
{
    auto [code, out] = runProgram(false);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("DllRegisterServer in " + m_store + ": 0x00000000"), std::string::npos) << out;

    sys::RegistryStore store = load();
    EXPECT_EQ(store.Value(kControlKey, "@"), "Tiravex Control");
    EXPECT_EQ(store.Value(kControlKey + "\\ProgID", "@"), "TIRAVEX.TiravexCtrl.1");
    EXPECT_EQ(store.Value(kControlKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_NE(store.Value(kControlKey + "\\InprocServer32", "@").value_or("").find("libtiravex.so"), std::string::npos);
    EXPECT_EQ(store.Value(kControlKey + "\\MiscStatus\\1", "@"), "131473") << "0x20191";
    EXPECT_EQ(store.Value(kControlKey + "\\TypeLib", "@"), "{DDC012F8-A786-4584-856D-044BC1F49414}");
    EXPECT_EQ(store.Value("TIRAVEX.TiravexCtrl.1\\CLSID", "@"), "{FE4F5263-11D5-4724-95BA-A978983B6369}");
    EXPECT_EQ(store.Value("TIRAVEX.TiravexPropPage.1\\CLSID", "@"), "{A222643E-744A-46F8-85FE-02883EC5C2E3}");
    EXPECT_EQ(store.Value("CLSID\\{A222643E-744A-46F8-85FE-02883EC5C2E3}\\ProgID", "@"), "TIRAVEX.TiravexPropPage.1");
    EXPECT_TRUE(store.HasKey("TypeLib\\{DDC012F8-A786-4584-856D-044BC1F49414}\\1.0"));
    EXPECT_EQ(store.Value("Interface\\{DE2BA9C8-CF2E-41DF-8B64-441C516B64AE}", "@"), "_DTiravex");
    EXPECT_EQ(store.Value("Interface\\{BC322BD5-6359-47D4-9926-363FE6A11024}", "@"), "_DTiravexEvents");
    EXPECT_EQ(store.Value("Component Categories\\" + kInitCategory, "409"), "Controls safely initializable from persistent data!");
    EXPECT_EQ(store.Value("Component Categories\\" + kScriptCategory, "409"), "Controls safely scriptable!");
    EXPECT_EQ(store.SubKeys(kControlKey + "\\Implemented Categories"), (std::vector<std::string> { kScriptCategory, kInitCategory }));

    std::tie(code, out) = runProgram(true);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find("DllUnregisterServer in " + m_store + ": 0x00000000"), std::string::npos) << out;
    store = load();
    EXPECT_FALSE(store.HasKey(kControlKey));
    EXPECT_FALSE(store.HasKey("TIRAVEX.TiravexCtrl.1"));
    EXPECT_FALSE(store.HasKey("TypeLib"));
    EXPECT_FALSE(store.HasKey("Interface"));
    EXPECT_TRUE(store.HasKey("Component Categories\\" + kInitCategory)) << "the categories stay";
    EXPECT_TRUE(store.HasKey("Component Categories\\" + kScriptCategory));
}

TEST_F(Registration, EachStepsFailureIsReturnedAndEarlierStepsStay)
{
    // The store grows with each step; a file that may not grow past a limit
    // stops registration at the step that first crosses it.
    ASSERT_EQ(DllRegisterServer(), S_OK);
    const auto fullSize = static_cast<rlim_t>(fs::file_size(m_store));
    std::vector<HRESULT> results;
    std::vector<std::size_t> keysLeft;
    constexpr rlim_t kStride = 16;
    for (rlim_t limit = 0;; limit = std::min(limit + kStride, fullSize)) {
        fs::remove(m_store);
        HRESULT result = registerWithFileLimit(limit);
        if (limit == fullSize) {
            EXPECT_EQ(result, S_OK) << "the whole store fits";
        }
        if (!results.empty() && results.back() == result) {
            if (limit == fullSize)
                break;
            continue;
        }
        results.push_back(result);
        keysLeft.push_back(fs::exists(m_store) ? load().Text().size() : 0);
        if (limit == fullSize)
            break;
    }
    EXPECT_EQ(results, (std::vector<HRESULT> { control::SELFREG_E_TYPELIB, control::SELFREG_E_CLASS, control::STG_E_MEDIUMFULL, S_OK }));
    ASSERT_EQ(keysLeft.size(), 4u);
    EXPECT_EQ(keysLeft[0], 0u) << "nothing was written";
    EXPECT_LT(keysLeft[1], keysLeft[2]) << "the type library stayed, then the classes too";

    // A store that cannot be read stops unregistering at its first step.
    fs::remove(m_store);
    fs::create_directories(m_store);
    EXPECT_EQ(DllUnregisterServer(), control::SELFREG_E_TYPELIB);
    EXPECT_EQ(DllRegisterServer(), control::SELFREG_E_TYPELIB);
}

TEST(PropertyPage, TheControlHasOnePageWithTheGeneralCaption)
{
    EXPECT_EQ(control::ControlPropPages(), (std::vector<CLSID> { control::kPropPageClsid }));
    EXPECT_EQ(control::CTiravexPropPage().Caption(), u"常规");
}

constexpr LONG kScreenWidth = 1024;
constexpr LONG kScreenHeight = 768;
constexpr UINT_PTR kDriverTimer = 1;
constexpr UINT kDriverTickMs = 10;
constexpr int kDriverGiveUpTicks = 500;

// Acts on the open About box from inside its modal loop, on a timer of a
// window of the same thread.
struct Driver final : ui::WindowHandler {
    std::function<void(HWND dialog)> act;
    bool acted = false;
    bool gaveUp = false;
    int ticks = 0;

    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_TIMER || acted)
            return ui::CallClassProc(window, message, wParam, lParam);
        RECT update {};
        for (HWND top : ui::GetTopLevelWindows()) {
            if (ui::GetClassName(top) == control::kDialogClass && ui::IsWindowVisible(top) && !ui::GetUpdateRect(top, &update)) {
                acted = true;
                act(top);
                return 0;
            }
        }
        if (++ticks > kDriverGiveUpTicks) {
            gaveUp = true;
            acted = true;
            ui::PostQuitMessage(0);
        }
        return 0;
    }
};

class AboutBox : public testing_support::PageFixture {
protected:
    void SetUp() override
    {
        PageFixture::SetUp();
        ui::SetMonitorSizes({ SIZE { kScreenWidth, kScreenHeight } });
        gfx::Screen::Get().SyncToMonitors();
        driverWindow = ui::CreateWindowEx(0, "static", "driver", WS_POPUP, 0, 0, 1, 1, nullptr, &driver);
        ui::SetTimer(driverWindow, kDriverTimer, kDriverTickMs);
    }
    void TearDown() override
    {
        ui::SetDialogsAnswerable(false);
        ui::DestroyWindow(driverWindow);
        PageFixture::TearDown();
    }

    Driver driver;
    HWND driverWindow = nullptr;
};

TEST_F(AboutBox, IsDrawnOnTheScreenAndItsButtonEndsIt)
{
    ui::SetDialogsAnswerable(true);
    RECT shown {};
    int textPixels = 0;
    driver.act = [&](HWND dialog) {
        ui::GetWindowRect(dialog, &shown);
        gfx::Screen& screen = gfx::Screen::Get();
        EXPECT_EQ(shown.left, (kScreenWidth - control::kAboutWidth) / 2) << "centred on the monitor";
        EXPECT_EQ(screen.PixelAt(shown.right - 3, shown.top + 3), gfx::XrgbFromColorRef(control::kAboutCaptionColor));
        const RECT icon = control::AboutIconRect(shown);
        EXPECT_EQ(screen.PixelAt(icon.left + resources::kIconSize / 2, icon.top + resources::kIconSize / 2), gfx::XrgbFromColorRef(resources::kIconLensColor));
        const RECT button = control::AboutButtonRect(shown);
        EXPECT_EQ(screen.PixelAt(button.left, button.top), gfx::XrgbFromColorRef(control::kAboutBorderColor));
        EXPECT_EQ(screen.PixelAt(button.left + 2, button.top + 2), gfx::XrgbFromColorRef(control::kAboutButtonColor));
        // The text's ink beside the icon and on the button.
        for (LONG y = icon.top; y < icon.bottom; ++y)
            for (LONG x = icon.right; x < shown.right - control::kAboutMargin; ++x)
                textPixels += screen.PixelAt(x, y) != gfx::XrgbFromColorRef(control::kAboutFaceColor);
        const POINT centre { (button.left + button.right) / 2, (button.top + button.bottom) / 2 };
        ui::InjectMouse(ui::MouseAction::LeftDown, POINT { button.left - 10, centre.y }); // beside the button: nothing
        ui::InjectMouse(ui::MouseAction::LeftUp, POINT { button.left - 10, centre.y });
        ui::InjectMouse(ui::MouseAction::LeftDown, centre);
        ui::InjectMouse(ui::MouseAction::LeftUp, centre);
    };
    auto* c = makeControl(-1);
    EXPECT_EQ(call(c, "AboutBox", {}), S_OK);
    EXPECT_FALSE(driver.gaveUp);
    EXPECT_GT(textPixels, 20);
    for (HWND top : ui::GetTopLevelWindows())
        EXPECT_NE(ui::GetClassName(top), control::kDialogClass) << "the box is gone";
    auto box = ui::LastMessageBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, "关于 Tiravex Control");
    EXPECT_EQ(box->text, "Tiravex Control 1.0 版");
    EXPECT_EQ(box->button, "确定");
}

TEST_F(AboutBox, EndsWithItsButtonEscapeOrAnAnswerGivenInAdvance)
{
    ui::SetDialogsAnswerable(true);
    driver.act = [](HWND dialog) {
        RECT shown {};
        ui::GetWindowRect(dialog, &shown);
        const RECT button = control::AboutButtonRect(shown);
        const POINT centre { (button.left + button.right) / 2, (button.top + button.bottom) / 2 };
        ui::InjectMouse(ui::MouseAction::LeftDown, centre);
        ui::InjectMouse(ui::MouseAction::LeftUp, centre);
    };
    EXPECT_EQ(control::CAboutDlg().DoModal(), ui::IDOK);

    driver.acted = false;
    driver.act = [](HWND) { ui::InjectKey(true, VK_ESCAPE); };
    EXPECT_EQ(control::CAboutDlg().DoModal(), ui::IDCANCEL);
    EXPECT_FALSE(driver.gaveUp);

    driver.acted = true; // nothing to do: the answer is given before
    ui::SetNextDialogAnswer(ui::IDOK);
    EXPECT_EQ(control::CAboutDlg().DoModal(), ui::IDOK);
    ui::SetDialogsAnswerable(false);
    EXPECT_EQ(control::CAboutDlg().DoModal(), ui::IDCANCEL) << "nobody there to answer";
}

}

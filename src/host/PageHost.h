#pragma once
// The page host: runs one page script (JavaScript, ES5, with Duktape) on
// the calling thread, which becomes the page's thread. The script creates
// controls with createControl, calls their members by name, and defines
// PluginCallBack and PluginCallBackCGI, which the controls call through the
// page's script object. setTimeout, clearTimeout, console.log and host.*
// are there as well.
//
// Threads: page's thread only.

#include "host/PageSite.h"

#include "ui/Window.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct duk_hthread;
using duk_context = duk_hthread;

namespace control {
class CTiravexCtrl;
}

namespace present {
class Presenter;
}

namespace host {

class ScriptObject;

// A page without a time limit runs until it exits or its window is closed.
constexpr unsigned kNoTimeLimit = 0;

struct PageOptions {
    std::map<std::string, std::string> args; // host.args
    std::string outputFolder = ".";
    unsigned timeoutMs = 60000; // the page must end within this time (kNoTimeLimit: none)
};

class PageHost {
public:
    explicit PageHost(PageOptions options);
    ~PageHost();
    PageHost(const PageHost&) = delete;
    PageHost& operator=(const PageHost&) = delete;

    // Runs a page script from a file or from text until it calls
    // host.exit or the time limit passes. Returns the exit code: host.exit's
    // code, 1 when the script fails to load, 2 on time-out.
    int RunFile(const std::string& path);
    int RunText(const std::string& source, const std::string& name);

    // Runs more script text in the page (tests use it); false on a script error.
    bool Eval(const std::string& source);
    // Runs the page's message loop until `done` or the time limit.
    bool RunUntil(const std::function<bool()>& done, unsigned timeoutMs);

    // Objects a host adds to the page before it runs (the simulated camera).
    using Installer = std::function<void(duk_context*)>;
    // Keeps an object (the simulated camera) alive until the page's controls are gone.
    void KeepAlive(std::shared_ptr<void> object) { m_keptAlive.push_back(std::move(object)); }
    void AddInstaller(Installer installer) { m_installers.push_back(std::move(installer)); }

    const std::vector<control::CTiravexCtrl*>& Controls() const { return m_controls; }
    HWND PageWindow() const { return m_page; }
    const PageOptions& Options() const { return m_options; }
    bool Exited() const { return m_exitCode.has_value(); }
    duk_context* Context() const { return m_duk; }

    // The screen's presenter: headless unless a window was asked for.
    bool ShowOnDisplay();
    // Where a page's relative output paths go.
    std::string OutputPath(const std::string& path) const;

    // What the page's own console.log printed (also written to stdout).
    const std::vector<std::string>& ConsoleLines() const { return m_console; }

    // The host of the page whose script is running on this thread.
    static PageHost* From(duk_context* ctx);

private:
    friend class ScriptObject;
    struct TimerHandler;

    void install();
    int run(const std::string& source, const std::string& name);
    void fireTimer(UINT_PTR id);
    void reportError(const std::string& where);

    PageOptions m_options;
    duk_context* m_duk = nullptr;
    HWND m_page = nullptr;
    com::ComPtr<PageSite> m_site;
    ScriptObject* m_script = nullptr;
    std::unique_ptr<TimerHandler> m_timerHandler;
    std::unique_ptr<present::Presenter> m_presenter;
    std::vector<control::CTiravexCtrl*> m_controls;
    std::vector<Installer> m_installers;
    std::vector<std::shared_ptr<void>> m_keptAlive; // released after the controls
    std::vector<std::string> m_console;
    std::optional<int> m_exitCode;
    UINT_PTR m_nextTimer = 1;

    // Native functions of the page (Duktape calling convention).
    static int jsCreateControl(duk_context* ctx);
    static int jsMemberKind(duk_context* ctx);
    static int jsMemberGet(duk_context* ctx);
    static int jsMemberSet(duk_context* ctx);
    static int jsMemberCall(duk_context* ctx);
    static int jsSetTimeout(duk_context* ctx);
    static int jsClearTimeout(duk_context* ctx);
    static int jsConsoleLog(duk_context* ctx);
    static int jsExit(duk_context* ctx);
    static int jsMouse(duk_context* ctx);
    static int jsKey(duk_context* ctx);
    static int jsChooseMenu(duk_context* ctx);
    static int jsChooseFile(duk_context* ctx);
    static int jsAnswerDialog(duk_context* ctx);
    static int jsScreenshot(duk_context* ctx);
};

// Converts between script values and Automation values.
void PushVariant(duk_context* ctx, const VARIANT& value);
VARIANT ToVariant(duk_context* ctx, int index);

}

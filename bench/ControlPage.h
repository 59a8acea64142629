#pragma once
// What the multi-view benches share: the CPU of the process's threads by
// name, a page window of the screen's size whose script has the page's two
// callbacks, controls placed on it, and a control's login to a simulated
// camera with its live view opened, as the tests' pages do it.

#include "support/Dispatch.h"
#include "support/FakeScript.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "sim/Camera.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace bench {

// The user and system CPU seconds in a /proc `stat` file ("pid (name)
// state ... utime stime ...", fields 14 and 15), and the name; -1 when it
// cannot be read.
inline double StatCpuSeconds(const std::string& path, std::string* name = nullptr)
{
    std::ifstream stat(path);
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 > line.size())
        return -1;
    if (name)
        *name = line.substr(open + 1, close - open - 1);
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14)
            utime = std::atof(field.c_str());
        if (n == 15)
            stime = std::atof(field.c_str());
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds of this process's threads by name.
inline std::map<std::string, double> ThreadCpuByName()
{
    std::map<std::string, double> byName;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        const double seconds = StatCpuSeconds(task.path() / "stat", &name);
        if (seconds >= 0)
            byName[name] += seconds;
    }
    return byName;
}

constexpr double kMsPerSecond = 1000.0;

// " name ms" for each thread name that used CPU between the two readings,
// in milliseconds a frame of `frames`.
inline std::string ThreadCpuText(const std::map<std::string, double>& before, const std::map<std::string, double>& after, long frames)
{
    std::string text;
    for (const auto& [name, seconds] : after) {
        const auto was = before.find(name);
        const double used = seconds - (was == before.end() ? 0.0 : was->second);
        if (used <= 0 || frames <= 0)
            continue;
        char figure[32];
        std::snprintf(figure, sizeof figure, " %.3f", used / static_cast<double>(frames) * kMsPerSecond);
        text += " " + name + figure;
    }
    return text;
}


// The Login member's stream type and its last argument, as the tests' pages pass them.
constexpr int kStreamType = 1;
constexpr int kLoginChannel = 7;
constexpr DWORD kLoginWaitMs = 10000;

class ControlPage {
public:
    ControlPage(const char* className, int width, int height)
    {
        ui::SetMonitorSizes({ { width, height } });
        WNDCLASS pageClass;
        pageClass.lpszClassName = className;
        ui::RegisterClass(pageClass);
        window = ui::CreateWindowEx(0, className, "page", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr);
        script.functions = { { "PluginCallBack", 1 }, { "PluginCallBackCGI", 2 } };
        site = host::PageSite::Create();
        site->SetScript(&script);
    }
    ~ControlPage()
    {
        ui::DestroyWindow(window);
        ui::PumpPending();
    }
    ControlPage(const ControlPage&) = delete;
    ControlPage& operator=(const ControlPage&) = delete;

    // A control ("Self" `self`) on the page at `rect`; the caller Release()s it.
    control::CTiravexCtrl* AddControl(int self, const RECT& rect)
    {
        auto* c = control::CTiravexCtrl::Create();
        control::PropertyBag bag;
        bag["Self"] = std::to_string(self);
        c->LoadProperties(bag);
        c->SetClientSite(site.Get());
        c->CreateControlWindow(window, rect);
        return c;
    }

    HWND window = nullptr;
    testing_support::FakeScript script;
    com::ComPtr<host::PageSite> site;
};

// Where a camera is and the account the page logs in with.
struct CameraAt {
    std::string address;
    int port = 0;
    int webPort = 0;
    std::string user;
    std::string password;
};

inline CameraAt AddressOf(const sim::Camera& camera)
{
    return CameraAt { camera.Address(), camera.Port(), camera.WebPort(), camera.User(), camera.Password() };
}

// Login, its reply, LoginSuc and Open with the live view; false when the
// camera refused or did not answer.
inline bool LogInAndOpen(control::CTiravexCtrl* c, const CameraAt& camera)
{
    using testing_support::CallByName;
    using testing_support::Num;
    using testing_support::Str;
    CallByName(c, "Login", { Str(camera.address), Num(camera.port), Num(camera.webPort), Str(camera.user), Str(camera.password), Num(kStreamType), Num(kLoginChannel) });
    if (!ui::RunUntil([&] { return c->Link().LoginStatus() != devlink::kNoLoginReply; }, kLoginWaitMs) || c->Link().LoginStatus() != 0)
        return false;
    CallByName(c, "LoginSuc", {});
    CallByName(c, "Open", { Str("") });
    return true;
}

inline bool LogInAndOpen(control::CTiravexCtrl* c, const sim::Camera& camera)
{
    return LogInAndOpen(c, AddressOf(camera));
}

}

#pragma once
// What the multi-view benches share: a page window of the screen's size
// whose script has the page's two callbacks, controls placed on it, and a
// control's login to a simulated camera with its live view opened, as the
// tests' pages do it.

#include "support/Dispatch.h"
#include "support/FakeScript.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "sim/Camera.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

#include <string>

namespace bench {

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

// Login, its reply, LoginSuc and Open with the live view; false when the
// camera refused or did not answer.
inline bool LogInAndOpen(control::CTiravexCtrl* c, const sim::Camera& camera)
{
    using testing_support::CallByName;
    using testing_support::Num;
    using testing_support::Str;
    CallByName(c, "Login", { Str(camera.Address()), Num(camera.Port()), Num(camera.WebPort()), Str(camera.User()), Str(camera.Password()), Num(kStreamType), Num(kLoginChannel) });
    if (!ui::RunUntil([&] { return c->Link().LoginStatus() != devlink::kNoLoginReply; }, kLoginWaitMs) || c->Link().LoginStatus() != 0)
        return false;
    CallByName(c, "LoginSuc", {});
    CallByName(c, "Open", { Str("") });
    return true;
}

}

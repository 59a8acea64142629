// Fuzz entry point: control-road messages with their filter and handlers.
// Two controls sit on a page (the main view, Self 0, and a second one,
// Self 1); the input's first byte picks one. The rest is a sequence of
// control messages (type as 32 bits, a 16-bit length, the data), each
// handed to that control's road callback as the network library hands it
// (with a zero after the data); then the page's thread handles what the
// link posted: decoding, the stored reply, the control's handlers and the
// page's callbacks.

#include "FuzzInput.h"

#include "support/FakeScript.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "link/DeviceLink.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr RECT kControlRect { 10, 10, 650, 490 };
constexpr int kControls = 2;

struct Page {
    Page()
    {
        ui::SetMonitorSizes({});
        WNDCLASS pageClass;
        pageClass.lpszClassName = "FuzzPage";
        ui::RegisterClass(pageClass);
        window = ui::CreateWindowEx(0, "FuzzPage", "page", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr);
        site = host::PageSite::Create();
        script.functions = { { "PluginCallBack", 1 }, { "PluginCallBackCGI", 2 } };
        site->SetScript(&script);
        for (int self = 0; self < kControls; ++self) {
            auto* c = control::CTiravexCtrl::Create();
            control::PropertyBag bag;
            bag["Self"] = std::to_string(self);
            c->LoadProperties(bag);
            c->SetClientSite(site.Get());
            c->CreateControlWindow(window, kControlRect);
            controls.push_back(c);
        }
    }

    HWND window = nullptr;
    testing_support::FakeScript script;
    com::ComPtr<host::PageSite> site;
    std::vector<control::CTiravexCtrl*> controls;
};

// Made once and kept for the process: a page and its controls.
Page& page()
{
    static Page* made = new Page;
    return *made;
}

}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    page();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Page& p = page();
    fuzz::Input in(data, size);
    control::CTiravexCtrl* c = p.controls[in.U8() % kControls];
    // The library calls back with the link the control gave it.
    auto* link = const_cast<devlink::DeviceLink*>(&c->Link());
    while (!in.Empty()) {
        int type = static_cast<int>(in.U32());
        std::vector<std::uint8_t> message = in.Piece();
        int length = static_cast<int>(message.size());
        message.push_back(0);
        devlink::DeviceLink::RoadCallback(type, reinterpret_cast<const char*>(message.data()), link, length);
    }
    ui::PumpPending();
    p.script.calls.clear();
    return 0;
}

#pragma once
// Pages for tests, two ways. PageFixture embeds controls in a page window
// whose script object is a FakeScript, and CameraPage adds a simulated
// camera on loopback for them to log in to; both let a test call the
// control's members by name and read the calls the page got. RunPage runs
// a whole page script through the page host against a simulated camera.

#include "support/Dispatch.h"
#include "support/FakeScript.h"
#include "support/GlDriver.h"

#include "control/TiravexCtrl.h"
#include "host/PageHost.h"
#include "host/PageSite.h"
#include "host/SimCamera.h"
#include "present/Presenter.h"
#include "sim/Camera.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class PageFixture : public ::testing::Test {
protected:
    static constexpr RECT kControlRect { 10, 10, 650, 490 };

    void SetUp() override
    {
        ui::ResetInput();
        ui::SetMonitorSizes({});
        if (!ui::IsClassRegistered("TestPage")) {
            WNDCLASS c;
            c.lpszClassName = "TestPage";
            ui::RegisterClass(c);
        }
        page = ui::CreateWindowEx(0, "TestPage", "page", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr);
        site = host::PageSite::Create();
        script.functions = { { "PluginCallBack", 1 }, { "PluginCallBackCGI", 2 } };
        site->SetScript(&script);
    }

    void TearDown() override
    {
        for (auto* c : controls)
            c->Release();
        controls.clear();
        ui::DestroyWindow(page);
        ui::PumpPending();
    }

    // A control with "Self" = self (none when self < 0), a site and a window.
    control::CTiravexCtrl* makeControl(int self, bool window = true, RECT rect = kControlRect)
    {
        auto* c = control::CTiravexCtrl::Create();
        control::PropertyBag bag;
        if (self >= 0)
            bag["Self"] = std::to_string(self);
        c->LoadProperties(bag);
        c->SetClientSite(site.Get());
        if (window)
            c->CreateControlWindow(page, rect);
        controls.push_back(c);
        return c;
    }

    std::vector<std::string> childNames(control::CTiravexCtrl* c)
    {
        std::vector<std::string> names;
        for (HWND child : ui::GetChildren(c->GetSafeHwnd()))
            names.push_back(ui::GetWindowText(child));
        return names;
    }

    // The PluginCallBack calls the page got, oldest first.
    std::vector<std::vector<Arg>> events() const
    {
        std::vector<std::vector<Arg>> out;
        for (auto& call : script.calls)
            if (call.name == "PluginCallBack")
                out.push_back(call.args);
        return out;
    }
    bool hasEvent(int code) const
    {
        auto all = events();
        return std::any_of(all.begin(), all.end(), [&](const std::vector<Arg>& e) { return !e.empty() && e[0] == Arg(code); });
    }

    // Invokes a member by name as a page does; returns the HRESULT.
    static HRESULT call(control::CTiravexCtrl* c, const char* name, std::vector<VARIANT> args, VARIANT* result = nullptr)
    {
        return CallByName(c, name, std::move(args), result);
    }
    // Sets and reads a text property by name, as a page does.
    static HRESULT putText(control::CTiravexCtrl* c, const char* name, const char* value)
    {
        VARIANT text = str(value);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params { &text, &put, 1, 1 };
        HRESULT hr = c->Invoke(idOf(c, name), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
        VariantClear(&text);
        return hr;
    }
    static std::string getText(control::CTiravexCtrl* c, const char* name)
    {
        VARIANT r;
        VariantInit(&r);
        EXPECT_EQ(c->Invoke(idOf(c, name), IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &r, nullptr, nullptr), S_OK);
        std::string out = r.vt == VT_BSTR ? com::BstrToUtf8(r.bstrVal) : std::string();
        VariantClear(&r);
        return out;
    }
    // A method's text result.
    static std::string callText(control::CTiravexCtrl* c, const char* name, std::vector<VARIANT> args)
    {
        VARIANT r;
        VariantInit(&r);
        EXPECT_EQ(call(c, name, std::move(args), &r), S_OK);
        std::string out = r.vt == VT_BSTR ? com::BstrToUtf8(r.bstrVal) : std::string();
        VariantClear(&r);
        return out;
    }
    static DISPID idOf(control::CTiravexCtrl* c, const char* name)
    {
        std::u16string n = com::MultiByteToWide(name, com::kCodePageUtf8);
        LPOLESTR names[] = { n.data() };
        DISPID id = DISPID_UNKNOWN;
        c->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        return id;
    }
    static VARIANT num(LONG n) { return Num(n); }
    static VARIANT str(const char* text) { return Str(text); }

    HWND page = nullptr;
    FakeScript script; // before the site, which holds a reference on it
    com::ComPtr<host::PageSite> site;
    std::vector<control::CTiravexCtrl*> controls;
};

// Controls and a simulated camera on loopback. Control messages reach the
// controls as the camera sends them, through the network library; `send`
// waits until a message has been handled by sending a marker after it (a
// road delivers in order) and waiting for the marker's event from every
// road the camera has open.
class CameraPage : public PageFixture {
protected:
    static constexpr std::int32_t kMarkerBase = 0x7E000000;

    void TearDown() override
    {
        PageFixture::TearDown();
        camera.reset();
    }

    void startCamera(sim::CameraConfig config = {})
    {
        config.searchPort = -1;
        camera = sim::Camera::Start(config);
        ASSERT_TRUE(camera);
    }

    // Login as a page does, then waits for the login reply (event 100, or
    // its road when the control is inactive). True when the camera took it.
    bool login(control::CTiravexCtrl* c, LONG streamType = 1, const std::string& password = "")
    {
        std::string pw = password.empty() ? camera->Password() : password;
        EXPECT_EQ(call(c, "Login", { str(camera->Address().c_str()), num(camera->Port()), num(camera->WebPort()), str(camera->User().c_str()), str(pw.c_str()), num(streamType), num(7) }), S_OK);
        int roads = camera->RoadsOpen();
        return ui::RunUntil([&] { return c->Link().LoginStatus() != devlink::kNoLoginReply; }, 10000) && c->Link().LoginStatus() == 0
            && camera->WaitUntil([&] { return camera->RoadsOpen() > roads; }, 5000);
    }

    // The camera sends a control message to every road; returns once the
    // controls have handled it. The marker events are not kept.
    void send(int type, const std::vector<std::uint8_t>& payload)
    {
        int roads = camera->RoadsOpen();
        camera->SendControl(type, payload);
        std::int32_t marker = kMarkerBase + ++m_markers;
        std::vector<std::uint8_t> bytes(4);
        for (int i = 0; i < 4; ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(marker) >> (8 * i));
        camera->SendControl(kz::kMsgNotice602, bytes);
        bool seen = ui::RunUntil([&] {
            return std::count_if(script.calls.begin(), script.calls.end(), [&](const Call& c) {
                return c.args.size() == 2 && c.args[0] == Arg(kz::kMsgNotice602) && c.args[1] == Arg(marker);
            }) >= roads;
        }, 5000);
        EXPECT_TRUE(seen) << "the marker after message " << type << " never arrived";
        script.calls.erase(std::remove_if(script.calls.begin(), script.calls.end(), [](const Call& c) {
            return c.args.size() == 2 && c.args[0] == Arg(kz::kMsgNotice602) && std::holds_alternative<std::int32_t>(c.args[1]) && std::get<std::int32_t>(c.args[1]) > kMarkerBase;
        }), script.calls.end());
    }

    std::unique_ptr<sim::Camera> camera;

private:
    int m_markers = 0;
};

// ---- whole pages through the page host ------------------------------------------------

struct PageRun {
    int exitCode = -1;
    std::vector<std::string> console;
    std::shared_ptr<sim::Camera> camera;
    std::string folder;
};

// Runs a page script against a simulated camera; `camera` is
// "sim[,key=value...]" as on the command line.
// With `display`, the page is shown in a window (false when none opens).
inline PageRun RunPage(const std::string& camera, const std::string& script, const std::string& name, unsigned timeoutMs = 20000, bool display = false)
{
    PageRun run;
    host::PageOptions options;
    options.timeoutMs = timeoutMs;
    options.outputFolder = ::testing::TempDir() + "/" + name;
    std::system(("mkdir -p '" + options.outputFolder + "'").c_str());
    run.folder = options.outputFolder;
    host::PageHost page(options);
    if (display)
        KeepGlDriverLoaded();
    if (display && !page.ShowOnDisplay())
        return run;
    std::string error;
    run.camera = host::InstallSimCamera(page, camera, error);
    EXPECT_TRUE(run.camera) << error;
    if (!run.camera)
        return run;
    run.exitCode = page.RunText(script, name + ".js");
    run.console = page.ConsoleLines();
    return run;
}

// A screenshot.
struct Image {
    std::vector<std::uint32_t> pixels;
    int width = 0;
    int height = 0;
    bool read(const std::string& path) { return present::ReadPng(path, pixels, width, height); }
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)] & 0xFFFFFF; }
};

}

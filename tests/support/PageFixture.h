#pragma once
// A page for control tests: a top-level page window, the page's client site
// with a FakeScript as its script object, and controls embedded in it.

#include "support/FakeScript.h"

#include "control/TiravexCtrl.h"
#include "host/PageSite.h"
#include "ui/Input.h"
#include "ui/Monitor.h"

#include <gtest/gtest.h>

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
    control::CTiravexCtrl* makeControl(int self, bool window = true)
    {
        auto* c = control::CTiravexCtrl::Create();
        control::PropertyBag bag;
        if (self >= 0)
            bag["Self"] = std::to_string(self);
        c->LoadProperties(bag);
        c->SetClientSite(site.Get());
        if (window)
            c->CreateControlWindow(page, kControlRect);
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

    HWND page = nullptr;
    FakeScript script; // before the site, which holds a reference on it
    com::ComPtr<host::PageSite> site;
    std::vector<control::CTiravexCtrl*> controls;
};

}

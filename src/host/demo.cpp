// tiravex-demo: makes a page window on the headless desktop, embeds one
// control in it, lets the control call the page once, and takes it down
// again, saying what happened at each step.

#include "host/PageSite.h"

#include "com/CodePage.h"
#include "control/TiravexCtrl.h"
#include "ui/Monitor.h"
#include "ui/Window.h"

#include <cstdio>
#include <string>

namespace {

constexpr DISPID kCallbackId = 1;
constexpr DISPID kCgiCallbackId = 2;
constexpr int kPageWidth = 800;
constexpr int kPageHeight = 600;
constexpr RECT kControlRect { 10, 10, 650, 490 };

// The page's script: prints every callback it is given.
class PrintingScript final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override { return --m_refs; } // lives on main's stack
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        std::string name = com::WideToMultiByte(names[0], com::kCodePageUtf8);
        *ids = name == "PluginCallBack" ? kCallbackId : name == "PluginCallBackCGI" ? kCgiCallbackId : DISPID_UNKNOWN;
        return *ids == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::printf("  page: %s(", id == kCallbackId ? "PluginCallBack" : "PluginCallBackCGI");
        for (UINT i = 0; i < params->cArgs; ++i) {
            const VARIANT& v = params->rgvarg[params->cArgs - 1 - i]; // first argument last
            if (i)
                std::printf(", ");
            if (v.vt == VT_I4)
                std::printf("%d", v.lVal);
            else if (v.vt == VT_BSTR)
                std::printf("\"%s\"", com::BstrToUtf8(v.bstrVal).c_str());
        }
        std::printf(")\n");
        return S_OK;
    }

private:
    ULONG m_refs = 1;
};

void printTree(HWND window, int depth)
{
    RECT r {};
    ui::GetWindowRect(window, &r);
    std::printf("  %*s%s \"%s\" at (%d,%d) %dx%d%s\n", depth * 2, "", ui::GetClassName(window).c_str(), ui::GetWindowText(window).c_str(),
        r.left, r.top, ui::Width(r), ui::Height(r), ui::IsWindowVisible(window) ? "" : " hidden");
    for (HWND child : ui::GetChildren(window))
        printTree(child, depth + 1);
}

}

int main()
{
    std::printf("Tiravex demo: one control on a headless %dx%d screen\n", ui::GetSystemMetrics(SM_CXSCREEN), ui::GetSystemMetrics(SM_CYSCREEN));

    WNDCLASS pageClass;
    pageClass.lpszClassName = "TiravexPage";
    pageClass.background = RGB(255, 255, 255);
    ui::RegisterClass(pageClass);
    HWND page = ui::CreateWindowEx(0, "TiravexPage", "demo page", WS_POPUP | WS_VISIBLE, 0, 0, kPageWidth, kPageHeight, nullptr);

    PrintingScript script;
    auto site = host::PageSite::Create();
    site->SetScript(&script);

    auto* control = control::CTiravexCtrl::Create();
    control->LoadProperties({ { "Self", "0" } });
    control->SetClientSite(site.Get());
    std::printf("created the control (Self %d); script object %s\n", control->m_self, control->m_script ? "reached" : "missing");

    HWND window = control->CreateControlWindow(page, kControlRect);
    std::printf("created its window; the page now holds:\n");
    printTree(page, 1);
    std::printf("active: %d\n", control->m_active.load());

    std::printf("the control calls the page:\n");
    control->callPage("PluginCallBack", { std::int32_t { 0 }, std::string("hello from Tiravex") }, false);
    int missing = control->callPage("NoSuchFunction", {}, false);
    std::printf("a call of a function the page lacks returns %d\n", missing);

    ui::RunUntil([] { return false; }, 50);
    control->Release();
    std::printf("released the control: its window is %s\n", ui::IsWindow(window) ? "still there" : "gone");
    ui::DestroyWindow(page);
    return ui::IsWindow(window) ? 1 : 0;
}

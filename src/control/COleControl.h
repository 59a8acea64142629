#pragma once
// The control framework: what a page's container needs from an embedded
// control, in place of the platform's OLE control base. A derived control
// supplies its dispatch table, its property exchange and its window
// handlers; the framework gives it a window inside the container's window,
// the client site, persistent properties and the modified mark.
//
// Threads: every call is made on the page's thread.

#include "control/DispatchMap.h"

#include "com/ComPtr.h"
#include "com/OleSite.h"
#include "ui/Window.h"

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace control {

// The page's <param> values of the control, by name.
using PropertyBag = std::map<std::string, std::string>;

// Reads or writes a control's persistent properties.
class CPropExchange {
public:
    CPropExchange(PropertyBag& bag, bool loading) : m_bag(bag), m_loading(loading) { }

    bool IsLoading() const { return m_loading; }
    // The framework's version for the stored properties.
    void ExchangeVersion(DWORD version) { m_version = version; }
    DWORD Version() const { return m_version; }

    // A 32-bit integer: loaded from the bag (`fallback` when absent or not a
    // number) or saved to it.
    void PX_Long(const std::string& name, LONG& value, LONG fallback);

private:
    PropertyBag& m_bag;
    bool m_loading;
    DWORD m_version = 0;
};

class COleControl : public IDispatch, public IDispatchInfo, protected ui::WindowHandler {
public:
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    // IUnknown, IDispatch.
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    // The last Release destroys the window (if any) and then the object.
    ULONG Release() override;
    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;
    // IDispatchInfo.
    HRESULT GetMemberKind(DISPID id, MemberKind* kind) override;
    // Every script member's name and kind, in the dispatch table's order
    // (what a host needs to stand the control in for a page).
    std::vector<std::pair<std::string, MemberKind>> MemberNames() const;

    // The container's side.
    HRESULT SetClientSite(IOleClientSite* site);
    IOleClientSite* GetClientSite() const { return m_site.Get(); }
    void LoadProperties(const PropertyBag& parameters);
    PropertyBag SaveProperties();
    // Makes the control's window as a child of `parent`; null on failure.
    HWND CreateControlWindow(HWND parent, const RECT& rect);
    void DestroyControlWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    void SetModifiedFlag(bool modified = true) { m_modified = modified; }
    bool IsModified() const { return m_modified; }

    static constexpr const char* kWindowClass = "TiravexControl";

protected:
    COleControl() = default;
    virtual ~COleControl();

    virtual const DispatchMap& GetDispatchMap() const = 0;
    virtual void DoPropExchange(CPropExchange& px);
    // Creation handlers return -1 to fail the window.
    virtual int OnCreate() { return 0; }
    virtual void OnSize(UINT, int, int) { }
    virtual void OnDestroy() { }
    virtual void OnSetClientSite() { }
    // Messages the derived control handles itself; the default runs the
    // framework's handling.
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;

private:
    std::atomic<ULONG> m_refs { 1 };
    com::ComPtr<IOleClientSite> m_site;
    PropertyBag m_properties;
    bool m_modified = false;
};

}

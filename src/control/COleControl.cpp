#include "control/COleControl.h"

#include <cerrno>
#include <cstdlib>

namespace control {

void CPropExchange::PX_Long(const std::string& name, LONG& value, LONG fallback)
{
    if (!m_loading) {
        m_bag[name] = std::to_string(value);
        return;
    }
    value = fallback;
    auto it = m_bag.find(name);
    if (it == m_bag.end() || it->second.empty())
        return;
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(it->second.c_str(), &end, 10);
    if (errno == 0 && end && *end == 0 && parsed >= INT32_MIN && parsed <= INT32_MAX)
        value = static_cast<LONG>(parsed);
}

COleControl::~COleControl() = default;

HRESULT COleControl::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    if (iid == IID_IDispatchInfo) {
        *object = static_cast<IDispatchInfo*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG COleControl::AddRef() { return ++m_refs; }

ULONG COleControl::Release()
{
    ULONG left = --m_refs;
    if (left == 0) {
        DestroyControlWindow();
        delete this;
    }
    return left;
}

HRESULT COleControl::GetTypeInfoCount(UINT* count)
{
    if (count)
        *count = 0;
    return S_OK;
}

HRESULT COleControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return GetDispatchMap().GetIDsOfNames(names, count, ids);
}

HRESULT COleControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT* argumentError)
{
    return GetDispatchMap().Invoke(id, flags, params, result, argumentError);
}

std::vector<std::pair<std::string, MemberKind>> COleControl::MemberNames() const
{
    std::vector<std::pair<std::string, MemberKind>> names;
    for (const DispEntry& entry : GetDispatchMap().Entries())
        names.emplace_back(entry.name, entry.kind);
    return names;
}

HRESULT COleControl::GetMemberKind(DISPID id, MemberKind* kind)
{
    if (!kind)
        return E_POINTER;
    const DispEntry* entry = GetDispatchMap().FindId(id);
    *kind = entry ? entry->kind : MemberKind::Unknown;
    return entry ? S_OK : DISP_E_MEMBERNOTFOUND;
}

HRESULT COleControl::SetClientSite(IOleClientSite* site)
{
    m_site = site;
    OnSetClientSite();
    return S_OK;
}

void COleControl::DoPropExchange(CPropExchange&) { }

void COleControl::LoadProperties(const PropertyBag& parameters)
{
    m_properties = parameters;
    CPropExchange px(m_properties, true);
    DoPropExchange(px);
}

PropertyBag COleControl::SaveProperties()
{
    CPropExchange px(m_properties, false);
    DoPropExchange(px);
    return m_properties;
}

HWND COleControl::CreateControlWindow(HWND parent, const RECT& rect)
{
    if (m_hWnd)
        return m_hWnd;
    if (!ui::IsClassRegistered(kWindowClass)) {
        WNDCLASS windowClass;
        windowClass.style = CS_DBLCLKS;
        windowClass.lpszClassName = kWindowClass;
        ui::RegisterClass(windowClass);
    }
    HWND window = ui::CreateWindowEx(0, kWindowClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, rect.left, rect.top, ui::Width(rect), ui::Height(rect), parent, this);
    return window;
}

void COleControl::DestroyControlWindow()
{
    if (m_hWnd)
        ui::DestroyWindow(m_hWnd);
}

LRESULT COleControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefaultProc(window, message, wParam, lParam);
}

LRESULT COleControl::DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        m_hWnd = window;
        if (OnCreate() == -1) {
            return -1;
        }
        return 0;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(static_cast<std::uintptr_t>(lParam)), HIWORD(static_cast<std::uintptr_t>(lParam)));
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_NCDESTROY:
        m_hWnd = nullptr;
        return 0;
    default:
        return ui::DefWindowProc(window, message, wParam, lParam);
    }
}

}

#include "control/TiravexCtrl.h"

#include "control/TiravexApp.h"

#include "com/CodePage.h"
#include "sys/CrashHandler.h"
#include "ui/Monitor.h"
#include "view/CPlayView.h"

#include <algorithm>

namespace control {

namespace {

constexpr const char* kLiveWindowName = "ALIVE";
constexpr const char* kPlaybackWindowName = "PLAYBACK";
constexpr const char* kMotionWindowName = "MOTION";
constexpr const char* kShelterWindowName = "SHELTER";
constexpr const char* kStaticClass = "static";
constexpr const char* kSelfProperty = "Self";

BOOL CALLBACK_recordMonitor(HMONITOR monitor, HDC, RECT*, LPARAM data)
{
    auto* table = reinterpret_cast<MonitorTable*>(data);
    MONITORINFO info {};
    info.cbSize = sizeof info;
    if (!ui::GetMonitorInfo(monitor, &info))
        return TRUE;
    if (table->sizes.size() >= kMaxMonitors)
        return TRUE; // further monitors are not recorded
    SIZE size { ui::Width(info.rcMonitor), ui::Height(info.rcMonitor) };
    table->sizes.push_back(size);
    long long area = static_cast<long long>(size.cx) * size.cy;
    long long keptArea = static_cast<long long>(table->kept.cx) * table->kept.cy;
    if (area > keptArea) // a tie keeps the earlier monitor
        table->kept = size;
    return TRUE;
}

}

CTiravexCtrl* CTiravexCtrl::Create() { return new CTiravexCtrl; }

CTiravexCtrl::CTiravexCtrl() : m_audio(std::make_unique<CMediaHub>(&CPlayView::Make))
{
    theApp().InitInstance();
    buildDispatchMap();
}

CTiravexCtrl::~CTiravexCtrl()
{
    // The search, the road and the link's workers first: after this nothing
    // reaches the live window or the hub from another thread.
    m_link.Shutdown();
    m_audio.reset();
    m_script.Reset();
    for (auto& snapshot : m_snapshots)
        snapshot.DestroyWindow();
    m_shelter.DestroyWindow();
    m_motion.DestroyWindow();
    m_playback.DestroyMenu();
    m_live.DestroyMenu();
    m_playback.DestroyWindow();
    m_live.DestroyWindow();
}

void CTiravexCtrl::DoPropExchange(CPropExchange& px)
{
    px.ExchangeVersion(kPropertyVersion);
    COleControl::DoPropExchange(px);
    px.PX_Long(kSelfProperty, m_self, 0);
}

void CTiravexCtrl::OnSetClientSite()
{
    acquireScript();
}

void CTiravexCtrl::acquireScript()
{
    IOleClientSite* site = GetClientSite();
    if (!site)
        return;
    com::ComPtr<IOleContainer> container;
    if (FAILED(site->GetContainer(container.Put())) || !container)
        return;
    com::ComPtr<IHTMLDocument> document;
    if (FAILED(container->QueryInterface(IID_IHTMLDocument, reinterpret_cast<void**>(document.Put()))) || !document)
        return;
    com::ComPtr<IDispatch> script;
    if (FAILED(document->get_Script(script.Put())) || !script)
        return;
    m_script = script;
}

int CTiravexCtrl::callPage(const char* name, const PageArg* arguments, int count, bool onlyWhenActive)
{
    if (onlyWhenActive && !m_active)
        return 0;
    if (!m_script)
        return -1;

    // The name is looked up on every call: the page may have replaced it.
    std::u16string wideName = com::MultiByteToWide(name ? name : "");
    LPOLESTR names[] = { wideName.data() };
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(m_script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return -1;

    // Automation takes the arguments last first.
    std::vector<VARIANT> packed(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        VARIANT& v = packed[static_cast<std::size_t>(count - 1 - i)];
        VariantInit(&v);
        if (!arguments[i].IsText()) {
            v.vt = VT_I4;
            v.lVal = arguments[i].Number();
        } else {
            v.vt = VT_BSTR;
            v.bstrVal = com::AnsiToBstr(arguments[i].Text());
        }
    }
    DISPPARAMS params { packed.data(), nullptr, static_cast<UINT>(count), 0 };

    auto invoke = [&](IDispatch* script) {
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception {};
        UINT argumentError = static_cast<UINT>(-1); // no argument at fault yet
        HRESULT hr = script->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &exception, &argumentError);
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        return hr;
    };

    if (FAILED(invoke(m_script.Get()))) {
        m_script.Reset();
        acquireScript();
        if (m_script)
            invoke(m_script.Get()); // one retry at most; its result is not reported
    }
    for (auto& v : packed)
        VariantClear(&v);
    return 0;
}

int CTiravexCtrl::OnCreate()
{
    sys::InstallCrashHandler();

    ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, ui::GetWindowLongPtr(m_hWnd, GWL_STYLE) | WS_BORDER);
    ui::SetWindowBackground(m_hWnd, kControlBackground);
    m_link.Open();

    m_penSelected = gfx::CreatePen(gfx::PS_SOLID, 1, kFrameSelectedColour);
    m_penNormal = gfx::CreatePen(gfx::PS_SOLID, 1, kFrameNormalColour);

    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    m_live.SetOwner(this);
    m_live.Register(kLiveWindowName);
    if (m_live.CreateEx(WS_EX_TOOLWINDOW, kLiveWindowName, kLiveWindowName, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, client, m_hWnd, kVideoBackground))
        ui::ShowWindow(m_live.GetHwnd(), SW_SHOW);

    if (m_self != 0)
        return 0; // a secondary instance has only the live window and starts inactive

    m_active = 1;
    m_playback.SetOwner(this);
    m_playback.CreateEx(0, kStaticClass, kPlaybackWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    m_motion.CreateEx(0, kStaticClass, kMotionWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    m_shelter.CreateEx(0, kStaticClass, kShelterWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    return 0;
}

void CTiravexCtrl::OnSize(UINT, int cx, int cy)
{
    if (!m_live.IsFullScreen() && m_live.GetHwnd())
        ui::MoveWindow(m_live.GetHwnd(), kFrameWidth, kFrameWidth, cx - 2 * kFrameWidth, cy - 2 * kFrameWidth, TRUE);
    if (!m_playback.IsFullScreen() && m_playback.GetHwnd())
        ui::SetWindowPos(m_playback.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    if (m_shelter.GetHwnd())
        ui::SetWindowPos(m_shelter.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    if (m_motion.GetHwnd())
        ui::SetWindowPos(m_motion.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    m_motion.SetWorkRect(RECT { 0, 0, cx, cy });
    m_shelter.SetWorkRect(RECT { 0, 0, cx, cy });
}

void CTiravexCtrl::OnDestroy()
{
    m_link.StopPtzWorker();
    m_live.CloseStream();
    m_playback.CloseStream();
    m_shelter.CloseStream();
    m_motion.CloseStream();
    m_audio->HubStop();
    // The HTTP client, the other workers and the link's mailbox go with the window.
    m_link.Close();
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_penSelected));
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_penNormal));
    m_penSelected = m_penNormal = nullptr;
    // The snapshot windows are owned by the control window and go with it.
    for (auto& snapshot : m_snapshots)
        snapshot.DestroyWindow();
    m_snapshotCount = 0;
}

void CTiravexCtrl::postLoginStartup()
{
    if (m_postLoginDone)
        return;
    m_postLoginDone = 1;

    MonitorTable& monitors = theApp().monitors;
    if (m_self == 0) {
        monitors = MonitorTable {};
        ui::EnumDisplayMonitors(nullptr, nullptr, CALLBACK_recordMonitor, reinterpret_cast<LPARAM>(&monitors));
    }
    int width = monitors.kept.cx;
    int height = monitors.kept.cy;
    if (width == 0 || height == 0) {
        width = ui::GetSystemMetrics(SM_CXSCREEN);
        height = ui::GetSystemMetrics(SM_CYSCREEN);
    }

    m_audio->AttachControlWindow(m_hWnd, width, height);
    m_live.Attach(m_hWnd, width, height, m_audio.get());
    if (m_self == 0) {
        m_playback.Attach(m_hWnd, width, height, m_audio.get());
        m_motion.Attach(m_hWnd, width, height, m_audio.get());
        m_shelter.Attach(m_hWnd, width, height, m_audio.get());
    }

    m_audio->SetActiveWindow(kLiveWindowId);
    if (media::Renderer* view = m_audio->GetView())
        view->SetClipperWindow(m_live.GetHwnd());
    if (!m_live.IsViewReady())
        m_live.m_registered = false;

    m_link.ReplaceHttpClient();
    bool hasPtz = m_link.QueryDevInfo();

    if (m_userRight == 0 || m_link.DeviceKind() == kz::kDeviceKindOld)
        m_live.ptzCapable = 0;
    else if (m_link.DeviceType() == devlink::kDeviceTypeFull)
        m_live.ptzCapable = hasPtz ? 1 : 0;

    if (m_link.DeviceType() == devlink::kDeviceTypeFull) {
        if (auto facts = m_link.QueryProductInfo()) {
            if (m_self == 0)
                m_motion.SetGridSize(facts->rows, facts->cols);
            applyPtzFlags(facts->pt, facts->rs);
        }
    }

    m_audio->HubStart(this, m_link.DeviceKind() >= kz::kFirstRoadDeviceKind);
}

bool CTiravexCtrl::applyPtzFlags(int pt, int rs)
{
    if (m_userRight == 0 || m_link.DeviceKind() == kz::kDeviceKindOld) {
        m_live.ptzCapable = 0;
        return true;
    }
    if (m_link.DeviceType() != devlink::kDeviceTypeFull)
        return true;
    if (pt == 1 || rs == 1) {
        m_live.ptzCapable = 1;
        return true;
    }
    if (pt == 0 && rs == 0) {
        m_live.ptzCapable = 0;
        return true;
    }
    return false;
}

void CTiravexCtrl::setScreenPtz(int x, int y)
{
    m_live.ToggleScreenPtz(x, y);
    if (m_live.IsScreenPtz())
        m_link.StartPtzWorker();
    else
        m_link.StopPtzWorker();
}

void CTiravexCtrl::OnTalkReply(bool started)
{
    if (started)
        m_live.StartTalkCapture();
    else
        m_live.StopTalkCapture();
}

}

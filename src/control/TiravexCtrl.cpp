#include "control/TiravexCtrl.h"

#include "control/TiravexApp.h"

#include "com/CodePage.h"
#include "sys/CrashHandler.h"
#include "sys/Time.h"
#include "ui/Monitor.h"
#include "view/CPlayView.h"

#include <algorithm>

namespace control {

namespace {

// Product names of cameras without pan/tilt.
const char* const kNoPtzModelRows[] = {
    "ZA101W", "ZA102W", "ZA103W", "ZB201", "ZB202", "ZB201W", "ZB203", "ZB203W",
    "ZA103P", "ZB301P", "ZA104", "ZA104E", "ZB204", "ZB204E", "ZC401", "ZC402",
};

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

CTiravexCtrl::CTiravexCtrl()
{
    theApp().InitInstance();
    m_noPtzModels.assign(std::begin(kNoPtzModelRows), std::end(kNoPtzModelRows));
    m_audio = new CMediaHub;
    m_login = new LoginInfo {};
    m_login->groupID = static_cast<std::int32_t>(sys::GetTickCount());
    m_loginReply.SetStatus(kNoLoginReply);
    buildDispatchMap();
}

CTiravexCtrl::~CTiravexCtrl()
{
    stopWorkers();
    if (m_search) {
        kz_close_search(m_search);
        m_search = nullptr;
    }
    if (m_road) {
        kz_close_ctrl_road(m_road);
        m_road = nullptr;
    }
    delete m_login;
    m_login = nullptr;
    delete m_audio;
    m_audio = nullptr;
    m_script.Reset();
    for (auto& snapshot : m_snapshots)
        snapshot.DestroyWindow();
    m_shelter.DestroyWindow();
    m_motion.DestroyWindow();
    m_playback.DestroyMenu();
    m_live.DestroyMenu();
    m_playback.DestroyWindow();
    m_live.DestroyWindow();
    m_noPtzModels.clear();
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

bool CTiravexCtrl::IsNoPtzModel(const char* productName) const
{
    if (!productName)
        return false;
    for (const auto& row : m_noPtzModels)
        if (row == productName)
            return true;
    return false;
}

CPlayBase* CTiravexCtrl::PlayerById(int id)
{
    switch (id) {
    case kLiveWindowId: return &m_live;
    case kPlaybackWindowId: return &m_playback;
    case kMotionWindowId: return &m_motion;
    case kShelterWindowId: return &m_shelter;
    default: return nullptr;
    }
}

int CTiravexCtrl::OnCreate()
{
    sys::InstallCrashHandler();

    ui::SetWindowLongPtr(m_hWnd, GWL_STYLE, ui::GetWindowLongPtr(m_hWnd, GWL_STYLE) | WS_BORDER);
    ui::SetWindowBackground(m_hWnd, kControlBackground);
    ui::SetWindowLongPtr(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    m_penSelected = gfx::CreatePen(gfx::PS_SOLID, 1, kFrameSelectedColour);
    m_penNormal = gfx::CreatePen(gfx::PS_SOLID, 1, kFrameNormalColour);

    RECT client {};
    ui::GetClientRect(m_hWnd, &client);
    m_live.Register(kLiveWindowName);
    if (m_live.CreateEx(WS_EX_TOOLWINDOW, kLiveWindowName, kLiveWindowName, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, client, m_hWnd, kVideoBackground))
        ui::ShowWindow(m_live.GetHwnd(), SW_SHOW);

    if (m_self != 0)
        return 0; // a secondary instance has only the live window and starts inactive

    m_active = 1;
    m_playback.CreateEx(0, kStaticClass, kPlaybackWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    m_motion.CreateEx(0, kStaticClass, kMotionWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    m_shelter.CreateEx(0, kStaticClass, kShelterWindowName, WS_CHILD, client, m_hWnd, kVideoBackground);
    return 0;
}

void CTiravexCtrl::OnSize(UINT, int cx, int cy)
{
    if (!m_live.IsFullScreen() && m_live.GetHwnd())
        ui::MoveWindow(m_live.GetHwnd(), 1, 1, cx - 2, cy - 2, TRUE);
    if (!m_playback.IsFullScreen() && m_playback.GetHwnd())
        ui::SetWindowPos(m_playback.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    if (m_shelter.GetHwnd())
        ui::SetWindowPos(m_shelter.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    if (m_motion.GetHwnd())
        ui::SetWindowPos(m_motion.GetHwnd(), nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER);
    m_motion.SetWorkRect(RECT { 0, 0, cx, cy });
}

void CTiravexCtrl::stopPtzWorker()
{
    if (!m_ptzThread)
        return;
    m_ptzThread->Post(sys::kQuitMessage);
    bool ended = m_ptzThread->Wait(kPtzWorkerStopMs);
    if (!ended) {
        // It is stuck in an exchange: closing the socket ends that, and the
        // worker then finds the control gone.
        if (m_http)
            kz_closeHttpSocket(m_http);
        m_ptzThread->Detach();
    }
    if (m_ptzLink) {
        sys::Locker lock(m_ptzLink->lock);
        m_ptzLink->control = nullptr;
    }
    m_ptzLink.reset();
    m_ptzThread.reset();
    m_ptzThreadId = 0;
}

void CTiravexCtrl::OnDestroy()
{
    stopWorkers();
    m_live.CloseStream();
    m_playback.CloseStream();
    m_shelter.CloseStream();
    m_motion.CloseStream();
    if (m_audio)
        m_audio->HubStop();
    if (m_http) {
        kz_closeHttpSocket(m_http);
        kz_freeSendData(m_http);
        kz_close_HttpParser(m_http);
        m_http = nullptr;
    }
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_penSelected));
    gfx::DeleteObject(reinterpret_cast<gfx::HGDIOBJ>(m_penNormal));
    m_penSelected = m_penNormal = nullptr;
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
    m_live.Attach(m_hWnd, width, height, m_audio);
    if (m_self == 0) {
        m_playback.Attach(m_hWnd, width, height, m_audio);
        m_motion.Attach(m_hWnd, width, height, m_audio);
        m_shelter.Attach(m_hWnd, width, height, m_audio);
    }

    m_audio->m_activeWindow = kLiveWindowId;
    if (CPlayView* view = m_audio->GetView())
        view->SetClipperWindow(m_live.GetHwnd());
    if (!m_live.IsViewReady())
        m_live.m_registered = false;

    if (m_http) {
        kz_freeSendData(m_http);
        kz_close_HttpParser(m_http);
    }
    m_http = kz_create_HttpParser();
    kz_mallocSendData(m_http, kHttpSendBufferBytes);

    bool hasPtz = getDevInfo();

    if (m_userRight == 0 || m_deviceKind == 0)
        m_live.ptzCapable = 0;
    else if (m_deviceType == kDeviceTypeFull)
        m_live.ptzCapable = hasPtz ? 1 : 0;

    if (m_deviceType == kDeviceTypeFull)
        getProductAllInfo();

    m_audio->HubStart(this, m_deviceKind >= kFirstRoadDeviceKind);
}

void CTiravexCtrl::setScreenPtz(int x, int y)
{
    m_live.ToggleScreenPtz(x, y);
    if (m_live.IsScreenPtz()) {
        stopPtzWorker();
        m_ptzLink = std::make_shared<PtzWorkerLink>();
        m_ptzLink->control = this;
        m_ptzThread = sys::Thread::Start("screen_ptz", [link = m_ptzLink] { ptzWorkerLoop(link); });
        m_ptzThreadId = m_ptzThread ? m_ptzThread->Id() : 0;
        if (!m_ptzThread)
            m_ptzLink.reset();
        return;
    }
    stopPtzWorker();
}


}

#include "host/PageWorker.h"

#include "host/BridgeProtocol.h"
#include "host/BridgeRequest.h"
#include "host/PageDownloads.h"
#include "host/PageRecordings.h"
#include "host/PageSite.h"
#include "host/WorkerLink.h"

#include "com/CodePage.h"
#include "com/Unknown.h"
#include "control/TiravexCtrl.h"
#include "kzaudio/kzaudio.h"
#include "media/Decoder.h"
#include "media/VideoPassThrough.h"
#include "present/StreamPresenter.h"
#include "sys/MessageQueue.h"
#include "sys/Time.h"
#include "ui/Dialogs.h"
#include "ui/Input.h"
#include "ui/Monitor.h"
#include "view/CPicShowWnd.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <mutex>
#include <limits>
#include <set>
#include <vector>
#include <stdexcept>
#include <thread>

namespace host {

namespace {

using nlohmann::json;
using namespace bridge;

constexpr const char* kPageClass = "TiravexBrowserPage";
constexpr const char* kMailboxClass = "TiravexBrowserMailbox";
// The reading thread wakes the page's thread with this message.
constexpr UINT kIncomingMessage = WM_USER + 0x401;
// Looks for changed windows and for calls waiting for a person.
constexpr UINT_PTR kLayoutTimer = 1;
constexpr UINT kLayoutTimerMs = 50;
// Without a time limit, the loop looks for the end this often.
constexpr DWORD kLoopSliceMs = 60000;
// Page callbacks kept for a page that missed them (a stream that broke).
constexpr std::size_t kEventsKept = 10000;
// Pictures on their way to the page at once; the presenter waits beyond.
constexpr int kPicturesInFlight = 3;
constexpr auto kPictureWait = std::chrono::seconds(2);
constexpr LONG kSmallestScreen = 320;
constexpr LONG kLargestScreen = kLargestScreenSide;
constexpr DISPID kFirstCallbackId = 1;
constexpr int kWheelStep = 120;
constexpr std::uint8_t kNalTypeMask = 0x1F;
constexpr std::uint8_t kNalSps = 7;
constexpr std::size_t kSpsFieldBytes = 3; // profile, constraint flags, level after the NAL header

// The decoder's name of an H.264 stream ("avc1.PPCCLL") from the first
// sequence parameter set of an Annex B frame; "" when it has none.
std::string avcCodecName(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i + 3 + kSpsFieldBytes < size; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1)
            continue;
        if ((data[i + 3] & kNalTypeMask) != kNalSps)
            continue;
        char name[bridge::kVideoCodecChars] = {};
        std::snprintf(name, sizeof name, "avc1.%02x%02x%02x", data[i + 4], data[i + 5], data[i + 6]);
        return name;
    }
    return {};
}

std::string dumpJson(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace); }

// A coordinate, size or code from the page: a whole number in the range of
// a LONG, or the request is refused (tiravex-serve refuses others first).
LONG longOf(const json& value)
{
    if (!IntegerIn(value, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max()))
        throw std::domain_error("not a whole number in range");
    return static_cast<LONG>(value.get<double>());
}

// An event's number field; 0 when it has none.
LONG fieldOf(const json& event, const char* name) { return event.contains(name) ? longOf(event[name]) : 0; }

// A page value as the page host converts it (host::ToVariant).
VARIANT toVariant(const json& value)
{
    VARIANT v;
    VariantInit(&v);
    if (value.is_boolean()) {
        v.vt = VT_BOOL;
        v.boolVal = value.get<bool>() ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (value.is_number()) {
        double n = value.get<double>();
        if (std::floor(n) == n && n >= -2147483648.0 && n <= 2147483647.0) {
            v.vt = VT_I4;
            v.lVal = static_cast<LONG>(n);
        } else {
            v.vt = VT_R8;
            v.dblVal = n;
        }
    } else if (value.is_string()) {
        v.vt = VT_BSTR;
        v.bstrVal = com::Utf8ToBstr(value.get<std::string>());
    } else if (value.is_null()) {
        v.vt = VT_NULL;
    }
    return v; // anything else (undefined, objects) is empty
}

// An Automation value for the page; false for a value the page sees as undefined.
bool fromVariant(const VARIANT& v, json& out)
{
    switch (v.vt) {
    case VT_I4:
    case VT_INT: out = v.lVal; return true;
    case VT_I2: out = v.iVal; return true;
    case VT_UI4: out = v.ulVal; return true;
    case VT_R8: out = v.dblVal; return true;
    case VT_BOOL: out = v.boolVal != VARIANT_FALSE; return true;
    case VT_BSTR: out = com::BstrToUtf8(v.bstrVal); return true;
    case VT_NULL: out = nullptr; return true;
    default: return false;
    }
}

DISPID idOf(control::CTiravexCtrl* c, const std::string& name)
{
    std::u16string wide = com::MultiByteToWide(name, com::kCodePageUtf8);
    LPOLESTR names[] = { wide.data() };
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(c->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return DISPID_UNKNOWN;
    return id;
}

// The CSS name of a cursor shape, for a page that cannot show its picture.
const char* cssCursor(ui::CursorShape shape)
{
    switch (shape) {
    case ui::CursorShape::Hand: return "pointer";
    case ui::CursorShape::Cross: return "crosshair";
    case ui::CursorShape::SizeAll: return "move";
    case ui::CursorShape::SizeNWSE: return "nwse-resize";
    case ui::CursorShape::SizeNESW: return "nesw-resize";
    case ui::CursorShape::SizeWE: return "ew-resize";
    case ui::CursorShape::SizeNS: return "ns-resize";
    case ui::CursorShape::No: return "not-allowed";
    case ui::CursorShape::Wait: return "wait";
    case ui::CursorShape::ArrowUp: return "n-resize";
    case ui::CursorShape::ArrowDown: return "s-resize";
    case ui::CursorShape::ArrowLeft: return "w-resize";
    case ui::CursorShape::ArrowRight: return "e-resize";
    case ui::CursorShape::ArrowUpLeft: return "nw-resize";
    case ui::CursorShape::ArrowUpRight: return "ne-resize";
    case ui::CursorShape::ArrowDownLeft: return "sw-resize";
    case ui::CursorShape::ArrowDownRight: return "se-resize";
    case ui::CursorShape::ZoomIn: return "zoom-in";
    case ui::CursorShape::ZoomOut: return "zoom-out";
    case ui::CursorShape::Arrow: break;
    }
    return "default";
}

const std::map<std::string, ui::MouseAction>& mouseActions()
{
    static const std::map<std::string, ui::MouseAction> actions = {
        { "move", ui::MouseAction::Move }, { "leftdown", ui::MouseAction::LeftDown }, { "leftup", ui::MouseAction::LeftUp },
        { "rightdown", ui::MouseAction::RightDown }, { "rightup", ui::MouseAction::RightUp },
        { "middledown", ui::MouseAction::MiddleDown }, { "middleup", ui::MouseAction::MiddleUp }, { "wheel", ui::MouseAction::Wheel },
    };
    return actions;
}

class PageWorker;

// The page's script object as the controls see it: the page's global
// callback functions, relayed to the browser page in order.
class ScriptRelay final : public com::RefCounted<IDispatch> {
public:
    explicit ScriptRelay(PageWorker& worker) : m_worker(worker) { }
    HRESULT QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*) override;

    // The global functions the page defines.
    void SetFunctions(std::vector<std::string> names) { m_names = std::move(names); }

private:
    PageWorker& m_worker;
    std::vector<std::string> m_names;
};

class PageWorker final : private ui::WindowHandler, private media::VideoPassThrough {
public:
    explicit PageWorker(int fd) : m_link(fd) { }
    ~PageWorker();
    int Run();
    void RaiseEvent(const std::string& name, json arguments);

private:
    struct Incoming {
        LinkKind kind;
        std::uint32_t id;
        std::string payload;
    };
    // A member call being run on the page's thread.
    struct RunningCall {
        std::uint32_t id;
        int modalDepth; // the modal loops that ran when it began
        std::uint64_t have; // the last page callback the page had
        bool answered = false;
    };

    bool start();
    void readLoop();
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    void drainIncoming();
    void onRequest(std::uint32_t id, const json& request);
    void onInput(const json& input);
    std::optional<DWORD> pressedAt(const json& event);
    void onAttach(const json& attach);
    void reply(std::uint32_t id, const json& body);
    json eventsSince(std::uint64_t have) const;
    json createControl(const json& request);
    json invokeMember(const json& request);
    // Remembers what the page's recordings need of a member call.
    void noteMember(const json& request);
    void answerWaitingCalls();
    void updateLayout();
    // Tells the page when the pointer's shape changed.
    void updateCursor();
    // Hands what a control saved to the page as a download.
    void sendDownloads();
    std::uint32_t windowView(HWND window);
    void fitSnapshot(HWND window);
    void sendPicture(present::StreamPicture&& picture);
    void sendSound(int device, const std::int16_t* samples, std::size_t count);
    // The live windows' coded frames, for a page that decodes them itself.
    bool Takes(media::Codec codec) const override;
    void OnFrame(const media::PassedFrame& frame) override;
    control::CTiravexCtrl* controlOf(const json& request) const;

    WorkerLink m_link;
    std::thread m_reader;
    // The reading thread hands messages to the page's thread through this queue.
    std::mutex m_incomingMutex;
    std::deque<Incoming> m_incoming; // guarded by m_incomingMutex
    std::atomic<bool> m_quit { false };
    std::atomic<bool> m_microphone { false }; // the controls capture sound

    // Page's thread only.
    HWND m_page = nullptr;
    HWND m_mailbox = nullptr;
    SIZE m_screen { ui::kDefaultScreenWidth, ui::kDefaultScreenHeight };
    com::ComPtr<PageSite> m_site;
    ScriptRelay* m_script = nullptr;
    std::map<std::uint32_t, control::CTiravexCtrl*> m_controls;
    std::vector<RunningCall*> m_calls;
    std::uint64_t m_lastEvent = 0;
    std::deque<std::pair<std::uint64_t, std::string>> m_events; // recent callbacks, oldest first
    std::map<HWND, std::uint32_t> m_windowViews;
    std::uint32_t m_nextWindowView = kFirstWindowView;
    std::string m_lastLayout;
    std::string m_lastCursor; // what the page was told: a picture's serial or a shape's name
    std::optional<std::pair<LONG, DWORD>> m_inputClock; // the page's time and ours at its first timed input
    std::unique_ptr<present::StreamPresenter> m_presenter;
    PageDownloads m_downloads;
    PageRecordings m_recordings;
    std::map<std::uint32_t, std::string> m_cameraAddresses; // control -> the address it logs in to
    std::vector<control::CTiravexCtrl*> m_releasing; // released by the page while a modal loop ran

    // Pictures sent and not yet written to the page (presenter's thread and reader).
    std::mutex m_flowMutex;
    std::condition_variable m_flowChanged;
    int m_inFlight = 0; // guarded by m_flowMutex

    // The codings the page decodes itself; it may give one up (its decoder failed).
    std::atomic<bool> m_passH264 { false };
    std::atomic<bool> m_passMjpeg { false };
    // One player's frames as the page gets them (frame threads).
    struct VideoStream {
        std::uint32_t number = 0;
        std::uint32_t serial = 0;
        bool waitKey = true; // the page's decoder starts at a key frame
        std::string codec;
        RECT target {};
    };
    std::mutex m_videoMutex;
    std::map<const void*, VideoStream> m_videoStreams; // guarded by m_videoMutex
};

HRESULT ScriptRelay::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || count != 1)
        return E_INVALIDARG;
    std::string name = com::WideToMultiByte(names[0], com::kCodePageUtf8);
    for (std::size_t i = 0; i < m_names.size(); ++i)
        if (m_names[i] == name) {
            *ids = kFirstCallbackId + static_cast<DISPID>(i);
            return S_OK;
        }
    *ids = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT ScriptRelay::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*, UINT*)
{
    std::size_t index = static_cast<std::size_t>(id - kFirstCallbackId);
    if (id < kFirstCallbackId || index >= m_names.size())
        return DISP_E_MEMBERNOTFOUND;
    json arguments = json::array();
    UINT count = params ? params->cArgs : 0;
    for (UINT i = count; i-- > 0;) { // the first argument is the last one packed
        json value;
        arguments.push_back(fromVariant(params->rgvarg[i], value) ? value : json(nullptr));
    }
    m_worker.RaiseEvent(m_names[index], std::move(arguments));
    if (result)
        VariantInit(result); // the page's answer stays in the browser
    return S_OK;
}

PageWorker::~PageWorker()
{
    if (media::GetVideoPassThrough() == this)
        media::SetVideoPassThrough(nullptr);
    kzaudio::SetPlayListener(nullptr);
    kzaudio::SetCaptureListener(nullptr);
    for (auto& [handle, c] : m_controls)
        c->Release();
    m_controls.clear();
    for (auto* c : m_releasing)
        c->Release();
    m_releasing.clear();
    m_presenter.reset();
    if (m_site)
        m_site->SetScript(nullptr);
    if (m_script)
        m_script->Release();
    if (m_mailbox)
        ui::DestroyWindow(m_mailbox);
    if (m_page)
        ui::DestroyWindow(m_page);
    m_link.Shutdown();
    if (m_reader.joinable())
        m_reader.join();
}

bool PageWorker::start()
{
    // The first message says what the page is: the screen and its callbacks.
    LinkKind kind;
    std::uint32_t id = 0;
    std::string payload;
    if (!m_link.Receive(kind, id, payload) || kind != LinkKind::Request)
        return false;
    json request = json::parse(payload, nullptr, false);
    if (request.is_discarded() || request.value("op", "") != "start")
        return false;
    if (request.contains("screen") && request["screen"].is_array() && request["screen"].size() == 2) {
        const json& screen = request["screen"];
        if (!IntegerIn(screen[0], 0, kLargestScreen) || !IntegerIn(screen[1], 0, kLargestScreen))
            return false;
        m_screen.cx = std::clamp<LONG>(longOf(screen[0]), kSmallestScreen, kLargestScreen);
        m_screen.cy = std::clamp<LONG>(longOf(screen[1]), kSmallestScreen, kLargestScreen);
    }
    if (request.contains("passthrough") && request["passthrough"].is_array())
        for (const auto& coding : request["passthrough"]) {
            if (coding == "h264")
                m_passH264 = true;
            if (coding == "mjpeg")
                m_passMjpeg = true;
        }
    std::vector<std::string> callbacks;
    if (request.contains("callbacks") && request["callbacks"].is_array())
        for (const auto& name : request["callbacks"])
            if (name.is_string())
                callbacks.push_back(name.get<std::string>());

    ui::SetMonitorSizes({ m_screen });
    if (!ui::IsClassRegistered(kPageClass)) {
        WNDCLASS page;
        page.lpszClassName = kPageClass;
        page.background = RGB(255, 255, 255);
        ui::RegisterClass(page);
        WNDCLASS mailbox;
        mailbox.lpszClassName = kMailboxClass;
        ui::RegisterClass(mailbox);
    }
    m_page = ui::CreateWindowEx(0, kPageClass, "page", WS_POPUP | WS_VISIBLE, 0, 0, m_screen.cx, m_screen.cy, nullptr);
    m_mailbox = ui::CreateWindowEx(0, kMailboxClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, this);
    m_script = new ScriptRelay(*this);
    m_script->SetFunctions(std::move(callbacks));
    m_site = PageSite::Create();
    m_site->SetScript(m_script);
    m_presenter = present::StreamPresenter::Create([this](present::StreamPicture&& picture) { sendPicture(std::move(picture)); });
    kzaudio::SetPlayListener([this](int device, const std::int16_t* samples, std::size_t count) { sendSound(device, samples, count); });
    kzaudio::SetCaptureListener([this](bool on) {
        m_microphone = on;
        m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Microphone, 0, on ? "1" : "0"));
    });
    if (m_passH264 || m_passMjpeg)
        media::SetVideoPassThrough(this);
    m_downloads.Arm();
    ui::SetTimer(m_mailbox, kLayoutTimer, kLayoutTimerMs);
    m_reader = std::thread([this] { readLoop(); });
    reply(id, json { { "ok", true } });
    return true;
}

int PageWorker::Run()
{
    if (!start())
        return 1;
    while (!m_quit)
        ui::RunUntil([this] { return m_quit.load(); }, kLoopSliceMs, ui::kRunNoPoll); // m_quit is set with a message
    return 0;
}

void PageWorker::readLoop()
{
    LinkKind kind;
    std::uint32_t id = 0;
    std::string payload;
    while (m_link.Receive(kind, id, payload)) {
        switch (kind) {
        case LinkKind::Talk:
            kzaudio::PushCapture(reinterpret_cast<const std::int16_t*>(payload.data()), payload.size() / sizeof(std::int16_t));
            continue;
        case LinkKind::PictureDone: {
            std::lock_guard lock(m_flowMutex);
            if (m_inFlight > 0)
                --m_inFlight;
            m_flowChanged.notify_all();
            continue;
        }
        default: break;
        }
        {
            std::lock_guard lock(m_incomingMutex);
            m_incoming.push_back(Incoming { kind, id, std::move(payload) });
        }
        ui::PostMessage(m_mailbox, kIncomingMessage, 0, 0);
        if (kind == LinkKind::Close)
            break;
    }
    // The session ended, or tiravex-serve is gone: the page goes.
    {
        std::lock_guard lock(m_flowMutex);
        m_inFlight = -1; // nobody reads pictures any more
        m_flowChanged.notify_all();
    }
    m_quit = true;
    ui::PostMessage(m_mailbox, kIncomingMessage, 0, 0);
}

LRESULT PageWorker::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kIncomingMessage:
        drainIncoming();
        return 0;
    case WM_TIMER:
        if (wParam == kLayoutTimer) {
            answerWaitingCalls();
            updateLayout();
            updateCursor();
            sendDownloads();
            if (!m_releasing.empty() && ui::ModalLoopDepth() == 0) {
                for (auto* c : m_releasing)
                    c->Release();
                m_releasing.clear();
            }
        }
        return 0;
    default:
        return ui::DefWindowProc(window, message, wParam, lParam);
    }
}

void PageWorker::drainIncoming()
{
    // One at a time: a call that runs a modal loop takes the next ones there.
    for (;;) {
        Incoming in;
        {
            std::lock_guard lock(m_incomingMutex);
            if (m_incoming.empty())
                return;
            in = std::move(m_incoming.front());
            m_incoming.pop_front();
        }
        if (in.kind == LinkKind::Close) {
            // A dialog or menu open now ends too: its modal loop leaves at the quit message.
            m_quit = true;
            sys::PostQuitMessage(0);
            return;
        }
        json body = json::parse(in.payload, nullptr, false);
        if (body.is_discarded())
            body = json::object();
        // What a page sends may have any shape: a value of the wrong type
        // refuses the request, and never ends the page.
        try {
            switch (in.kind) {
            case LinkKind::Request: onRequest(in.id, body); break;
            case LinkKind::Input:
                onInput(body);
                updateCursor();
                break;
            case LinkKind::Attach: onAttach(body); break;
            default: break;
            }
        } catch (const std::exception&) {
            if (in.kind == LinkKind::Request)
                reply(in.id, json { { "error", "a value of the wrong type" } });
        }
        updateLayout();
    }
}

void PageWorker::reply(std::uint32_t id, const json& body) { m_link.Send(LinkKind::Reply, id, dumpJson(body)); }

void PageWorker::RaiseEvent(const std::string& name, json arguments)
{
    const std::uint64_t sequence = ++m_lastEvent;
    std::string text = dumpJson(json::array({ sequence, name, std::move(arguments) }));
    m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Event, 0, text));
    m_events.emplace_back(sequence, std::move(text));
    if (m_events.size() > kEventsKept)
        m_events.pop_front();
}

void PageWorker::sendDownloads()
{
    if (auto file = m_downloads.Take())
        m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Download, static_cast<std::uint32_t>(file->name.size()), file->name + file->bytes));
    m_downloads.Arm();
}

json PageWorker::eventsSince(std::uint64_t have) const
{
    json events = json::array();
    for (const auto& [sequence, text] : m_events)
        if (sequence > have)
            events.push_back(json::parse(text, nullptr, false));
    return events;
}

control::CTiravexCtrl* PageWorker::controlOf(const json& request) const
{
    if (!request.contains("control") || !request["control"].is_number_unsigned())
        return nullptr;
    auto it = m_controls.find(request["control"].get<std::uint32_t>());
    return it == m_controls.end() ? nullptr : it->second;
}

void PageWorker::onRequest(std::uint32_t id, const json& request)
{
    const std::string op = request.value("op", "");
    if (op == "create") {
        reply(id, createControl(request));
        return;
    }
    if (op == "call" || op == "get" || op == "set") {
        if (request.contains("have") && !IntegerIn(request["have"], 0, kMaxCount))
            throw std::domain_error("not a count");
        RunningCall call { id, ui::ModalLoopDepth(), request.contains("have") ? static_cast<std::uint64_t>(request["have"].get<double>()) : 0 };
        m_calls.push_back(&call);
        m_downloads.Cancel(); // a member's chooser would ask on the server's display
        json answer = invokeMember(request);
        m_downloads.Arm();
        noteMember(request);
        m_calls.pop_back();
        if (!call.answered) {
            answer["events"] = eventsSince(call.have);
            reply(id, answer);
        }
        return;
    }
    control::CTiravexCtrl* c = controlOf(request);
    if (op == "resize" && c && request.contains("rect") && request["rect"].is_array() && request["rect"].size() == 4) {
        // The page moved or resized the object: the control follows, on the page's screen.
        const json& r = request["rect"];
        const LONG width = std::clamp<LONG>(longOf(r[2]), 0, m_screen.cx), height = std::clamp<LONG>(longOf(r[3]), 0, m_screen.cy);
        const LONG x = std::clamp<LONG>(longOf(r[0]), 0, m_screen.cx - width), y = std::clamp<LONG>(longOf(r[1]), 0, m_screen.cy - height);
        ui::MoveWindow(c->GetSafeHwnd(), x, y, width, height, TRUE);
        reply(id, json { { "ok", true } });
        return;
    }
    if (op == "view" && c) {
        // What the control's live view knows of its picture, for the page
        // to show: the stream's size, the pictures drawn so far (the page
        // counts them per second) and the zoom.
        const CLiveCtrl& live = c->Live();
        const SIZE size = live.PictureSize();
        const RECT zoom = live.GetZoomRect();
        reply(id, json { { "width", size.cx }, { "height", size.cy }, { "frames", live.DrawnFrames() }, { "zoom", live.GetZoomLevel() },
                           { "zoomRect", { zoom.left, zoom.top, zoom.right, zoom.bottom } } });
        return;
    }
    if (op == "recordings") {
        reply(id, json { { "recordings", m_recordings.List() } });
        return;
    }
    if (op == "recording" && request.contains("id") && IntegerIn(request["id"], 0, kMaxCount)) {
        auto path = m_recordings.PathOf(static_cast<std::uint64_t>(request["id"].get<double>()));
        reply(id, path ? json { { "path", *path } } : json { { "error", "no such recording" } });
        return;
    }
    if (op == "destroy" && c) {
        // The page released the object: what the control said while it
        // closed reaches the page with the answer, before anything of the
        // control that the page makes next.
        if (request.contains("have") && !IntegerIn(request["have"], 0, kMaxCount))
            throw std::domain_error("not a count");
        const std::uint64_t have = request.contains("have") ? static_cast<std::uint64_t>(request["have"].get<double>()) : m_lastEvent;
        m_controls.erase(request["control"].get<std::uint32_t>());
        m_cameraAddresses.erase(request["control"].get<std::uint32_t>());
        // A modal loop (a dialog, a menu) may run inside the control's own
        // code: it goes once no modal loop runs.
        if (ui::ModalLoopDepth() > 0)
            m_releasing.push_back(c);
        else
            c->Release();
        reply(id, json { { "ok", true }, { "events", eventsSince(have) } });
        return;
    }
    reply(id, json { { "error", "unknown request" } });
}

void PageWorker::noteMember(const json& request)
{
    if (!controlOf(request) || request.value("op", "") != "call" || !request.contains("args") || !request["args"].is_array() || request["args"].empty())
        return;
    std::string name = request.value("name", "");
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    const std::uint32_t handle = request["control"].get<std::uint32_t>();
    const json& first = request["args"][0];
    if ((name == "login" || name == "regmy") && first.is_string())
        m_cameraAddresses[handle] = first.get<std::string>();
    else if (name == "record" && ((first.is_boolean() && first.get<bool>()) || (first.is_number() && first.get<double>() != 0)))
        m_recordings.Recorded(m_cameraAddresses[handle]);
}

json PageWorker::createControl(const json& request)
{
    if (!request.contains("control") || !request["control"].is_number_unsigned())
        return json { { "error", "no control handle" } };
    const std::uint32_t handle = request["control"].get<std::uint32_t>();
    control::PropertyBag bag;
    if (request.contains("params") && request["params"].is_object())
        for (const auto& [name, value] : request["params"].items())
            bag[name] = value.is_string() ? value.get<std::string>() : value.dump();
    LONG x = 0, y = 0, width = 0, height = 0;
    if (request.contains("rect") && request["rect"].is_array() && request["rect"].size() == 4) {
        const json& r = request["rect"];
        x = longOf(r[0]), y = longOf(r[1]), width = std::clamp<LONG>(longOf(r[2]), 0, m_screen.cx);
        height = std::clamp<LONG>(longOf(r[3]), 0, m_screen.cy);
    }
    // The control lies on the page's screen (pages longer than it scroll).
    x = std::clamp<LONG>(x, 0, m_screen.cx - width);
    y = std::clamp<LONG>(y, 0, m_screen.cy - height);
    auto* c = control::CTiravexCtrl::Create();
    c->LoadProperties(bag);
    c->SetClientSite(m_site.Get());
    c->CreateControlWindow(m_page, RECT { x, y, x + width, y + height });
    m_controls[handle] = c;
    json members = json::array();
    for (const auto& [name, kind] : c->MemberNames())
        members.push_back(json::array({ name, kind == MemberKind::Method ? 1 : 2 }));
    return json { { "control", handle }, { "members", members } };
}

json PageWorker::invokeMember(const json& request)
{
    control::CTiravexCtrl* c = controlOf(request);
    const std::string op = request.value("op", "");
    const std::string name = request.value("name", "");
    DISPID id = c ? idOf(c, name) : DISPID_UNKNOWN;
    if (id == DISPID_UNKNOWN)
        return json { { "hr", static_cast<std::int32_t>(DISP_E_UNKNOWNNAME) } };
    std::vector<VARIANT> args;
    if (request.contains("args") && request["args"].is_array()) {
        const json& given = request["args"];
        args.resize(given.size());
        for (std::size_t i = 0; i < given.size(); ++i)
            args[given.size() - 1 - i] = toVariant(given[i]); // last argument first
    }
    VARIANT result;
    VariantInit(&result);
    HRESULT hr;
    if (op == "get") {
        hr = c->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr);
    } else if (op == "set") {
        if (args.empty())
            args.push_back(VARIANT {});
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params { &args.back(), &named, 1, 1 };
        hr = c->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
    } else {
        DISPPARAMS params { args.data(), nullptr, static_cast<UINT>(args.size()), 0 };
        hr = c->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
    }
    for (auto& a : args)
        VariantClear(&a);
    json answer { { "hr", static_cast<std::int32_t>(hr) } };
    json value;
    if (SUCCEEDED(hr) && fromVariant(result, value))
        answer["value"] = value;
    VariantClear(&result);
    return answer;
}

void PageWorker::answerWaitingCalls()
{
    // A call whose member runs a modal loop waits for the person, who can
    // only answer once the page has its answer.
    for (RunningCall* call : m_calls)
        if (!call->answered && ui::ModalLoopDepth() > call->modalDepth) {
            json answer { { "hr", 0 }, { "waiting", true }, { "events", eventsSince(call->have) } };
            reply(call->id, answer);
            call->answered = true;
        }
}

// When the person acted, on this process's clock: the page's time of the
// event ("ms", milliseconds of the page's own clock) from the first one on.
// Input crosses the network in batches, one request at a time, so a double
// click's second press can arrive well after the first.
std::optional<DWORD> PageWorker::pressedAt(const json& event)
{
    if (!event.contains("ms"))
        return std::nullopt;
    const LONG ms = fieldOf(event, "ms");
    if (!m_inputClock)
        m_inputClock = std::pair { ms, sys::GetTickCount() };
    return static_cast<DWORD>(m_inputClock->second + static_cast<DWORD>(ms - m_inputClock->first));
}

void PageWorker::onInput(const json& input)
{
    if (!input.contains("events") || !input["events"].is_array())
        return;
    for (const json& e : input["events"]) {
        if (!e.is_object())
            continue;
        const std::string type = e.value("t", "");
        if (type == "mouse") {
            auto action = mouseActions().find(e.value("a", ""));
            if (action == mouseActions().end())
                continue;
            UINT modifiers = static_cast<UINT>(fieldOf(e, "m")) & (ui::ModShift | ui::ModControl);
            int wheel = action->second == ui::MouseAction::Wheel ? (fieldOf(e, "w") > 0 ? kWheelStep : -kWheelStep) : 0;
            ui::InjectMouse(action->second, POINT { fieldOf(e, "x"), fieldOf(e, "y") }, modifiers, wheel, pressedAt(e));
        } else if (type == "video" && e.value("a", "") == "off") {
            // The page cannot decode this coding after all: its pictures come as before.
            const std::string coding = e.value("c", "");
            if (coding == "h264")
                m_passH264 = false;
            else if (coding == "mjpeg")
                m_passMjpeg = false;
        } else if (type == "key") {
            const LONG key = fieldOf(e, "vk");
            if (key > 0 && key < 256)
                ui::InjectKey(e.value("down", false), static_cast<UINT>(key));
        }
    }
}

void PageWorker::onAttach(const json& attach)
{
    // A new stream: what the page may have missed, then everything whole.
    for (const auto& [sequence, text] : m_events)
        if (sequence > attach.value("have", std::uint64_t { 0 }))
            m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Event, 0, text));
    if (m_microphone)
        m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Microphone, 0, "1"));
    m_lastLayout.clear();
    m_lastCursor.clear();
    updateLayout();
    updateCursor();
    m_presenter->SendWhole();
}

std::uint32_t PageWorker::windowView(HWND window)
{
    auto it = m_windowViews.find(window);
    if (it != m_windowViews.end())
        return it->second;
    fitSnapshot(window);
    return m_windowViews[window] = m_nextWindowView++;
}

// A snapshot window opens over a fixed rectangle and stretches its picture
// to it. On a page it opens at the picture's ratio instead: the largest
// picture of that ratio below the title bar that the rectangle holds (the
// page shows it within its view).
void PageWorker::fitSnapshot(HWND window)
{
    if (ui::GetClassName(window) != CPicShowWnd::kClassName)
        return;
    for (const CPicShowWnd* snapshot : CPicShowWnd::OpenWindows()) {
        if (snapshot->GetHwnd() != window)
            continue;
        std::uint32_t width = 0, height = 0;
        const auto& picture = snapshot->Picture();
        RECT r {};
        if (!media::ProbeJpegSize(picture.data(), picture.size(), width, height) || !width || !height || !ui::GetWindowRect(window, &r))
            return;
        const double areaWidth = ui::Width(r), areaHeight = ui::Height(r) - CPicShowWnd::kCaptionHeight;
        if (areaHeight <= 0)
            return;
        const double scale = std::min(areaWidth / width, areaHeight / height);
        const int fitWidth = std::max(CPicShowWnd::kMinWidth, static_cast<int>(std::lround(width * scale)));
        const int fitHeight = std::max(CPicShowWnd::kMinHeight, static_cast<int>(std::lround(height * scale)) + CPicShowWnd::kCaptionHeight);
        ui::SetWindowPos(window, nullptr, 0, 0, fitWidth, fitHeight, SWP_NOMOVE | SWP_NOZORDER);
        return;
    }
}

void PageWorker::updateLayout()
{
    if (!m_presenter)
        return;
    json views = json::array();
    std::vector<present::StreamView> streamed;
    auto add = [&](std::uint32_t id, const char* kind, const RECT& r, json extra) {
        json v { { "id", id }, { "kind", kind }, { "rect", { r.left, r.top, ui::Width(r), ui::Height(r) } } };
        v.update(extra);
        views.push_back(std::move(v));
        streamed.push_back(present::StreamView { id, r });
    };
    for (const auto& [handle, c] : m_controls) {
        RECT r {};
        if (HWND w = c->GetSafeHwnd(); w && ui::GetWindowRect(w, &r))
            add(handle, "control", r, json::object());
    }
    // Top-level windows, the topmost first, each above the ones after it.
    const RECT monitor { 0, 0, m_screen.cx, m_screen.cy };
    std::set<HWND> seen;
    const std::vector<HWND> windows = ui::GetTopLevelWindows();
    for (std::size_t i = 0; i < windows.size(); ++i) {
        HWND w = windows[i];
        RECT r {};
        if (w == m_page || w == m_mailbox || !ui::IsWindowVisible(w) || !ui::GetWindowRect(w, &r) || ui::IsEmpty(r))
            continue;
        seen.insert(w);
        const std::uint32_t id = windowView(w); // a new snapshot window may change its size here
        ui::GetWindowRect(w, &r);
        add(id, "window", r, json { { "z", windows.size() - i }, { "full", r == monitor }, { "title", ui::GetWindowText(w) } });
    }
    for (auto it = m_windowViews.begin(); it != m_windowViews.end();)
        it = seen.count(it->first) ? std::next(it) : m_windowViews.erase(it);
    const RECT menu = present::StreamPresenter::MenuRect();
    if (!ui::IsEmpty(menu))
        add(kMenuView, "menu", menu, json::object());
    json layout { { "views", views }, { "screen", { m_screen.cx, m_screen.cy } } };
    std::string text = dumpJson(layout);
    if (text == m_lastLayout)
        return;
    m_lastLayout = text;
    // The page learns of the views before their pictures come.
    m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Layout, 0, text));
    m_presenter->SetViews(std::move(streamed));
}

void PageWorker::updateCursor()
{
    HCURSOR cursor = ui::GetCursor();
    ui::CursorImage image;
    const bool picture = ui::GetCursorImage(cursor, image);
    const char* css = cssCursor(ui::GetCursorShape(cursor));
    const std::string key = picture ? "picture " + std::to_string(image.serial) : css;
    if (key == m_lastCursor)
        return;
    m_lastCursor = key;
    json shape { { "css", css } };
    if (picture) {
        shape["width"] = image.width;
        shape["height"] = image.height;
        shape["hot"] = { image.hotX, image.hotY };
        shape["argb"] = image.argb;
    }
    m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Cursor, 0, dumpJson(shape)));
}

void PageWorker::sendPicture(present::StreamPicture&& picture)
{
    {
        std::unique_lock lock(m_flowMutex);
        m_flowChanged.wait_for(lock, kPictureWait, [this] { return m_inFlight < kPicturesInFlight; });
        if (m_inFlight < 0)
            return;
        ++m_inFlight;
    }
    PictureHeader header {};
    header.serial = static_cast<std::uint32_t>(picture.serial);
    header.x = picture.part.left;
    header.y = picture.part.top;
    header.width = ui::Width(picture.part);
    header.height = ui::Height(picture.part);
    header.viewWidth = static_cast<std::uint32_t>(picture.viewWidth);
    header.viewHeight = static_cast<std::uint32_t>(picture.viewHeight);
    header.workUs = static_cast<std::uint32_t>(picture.workUs);
    header.changedMs = static_cast<double>(picture.changedUs) / 1000.0;
    m_link.Send(LinkKind::StreamPicture, kNoRequest, PictureItem(picture.view, header, picture.jpeg.data(), picture.jpeg.size()));
}

bool PageWorker::Takes(media::Codec codec) const
{
    return (codec == media::Codec::H264 && m_passH264) || (codec == media::Codec::Mjpeg && m_passMjpeg);
}

void PageWorker::OnFrame(const media::PassedFrame& frame)
{
    const bool mjpeg = frame.codec == media::Codec::Mjpeg;
    const bool key = frame.keyFrame || mjpeg; // every Motion-JPEG frame stands alone
    std::lock_guard lock(m_videoMutex);
    VideoStream& stream = m_videoStreams[frame.player];
    if (!stream.number)
        stream.number = static_cast<std::uint32_t>(m_videoStreams.size());
    if (frame.target != stream.target) {
        // The page's pictures become transparent over the new place.
        stream.target = frame.target;
        std::vector<RECT> rects;
        for (const auto& [player, s] : m_videoStreams)
            rects.push_back(s.target);
        m_presenter->SetVideoRects(std::move(rects));
    }
    if (key && !mjpeg)
        if (std::string name = avcCodecName(frame.data, frame.size); !name.empty())
            stream.codec = std::move(name);
    if (stream.waitKey && (!key || (!mjpeg && stream.codec.empty())))
        return;
    {
        std::lock_guard flow(m_flowMutex);
        if (m_inFlight < 0)
            return;
    }
    // tiravex-serve drops frames for a page that falls behind (to the next key frame).
    stream.waitKey = false;
    VideoHeader header {};
    header.serial = ++stream.serial;
    header.coding = mjpeg ? VideoCoding::Mjpeg : VideoCoding::H264;
    header.keyFrame = key ? 1 : 0;
    header.width = static_cast<std::uint32_t>(frame.width);
    header.height = static_cast<std::uint32_t>(frame.height);
    const RECT& s = frame.source;
    const RECT& t = frame.target;
    const std::int32_t source[4] = { s.left, s.top, s.right, s.bottom };
    const std::int32_t target[4] = { t.left, t.top, t.right, t.bottom };
    std::copy(std::begin(source), std::end(source), header.source);
    std::copy(std::begin(target), std::end(target), header.target);
    header.arrivedMs = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch()).count()) / 1000.0;
    const std::string& codec = mjpeg ? std::string("jpeg") : stream.codec;
    std::copy_n(codec.data(), std::min(codec.size(), kVideoCodecChars - 1), header.codec);
    m_link.Send(LinkKind::StreamVideo, kNoRequest, VideoItem(stream.number, header, frame.data, frame.size));
}

void PageWorker::sendSound(int device, const std::int16_t* samples, std::size_t count)
{
    m_link.Send(LinkKind::Stream, kNoRequest, Item(ItemType::Sound, static_cast<std::uint32_t>(device), std::string_view(reinterpret_cast<const char*>(samples), count * sizeof(std::int16_t))));
}

}

int RunPageWorker(int linkFd)
{
    // Sound goes to the page and the page's microphone comes from it.
    setenv("TIRAVEX_AUDIO", "relay", 1);
    std::signal(SIGPIPE, SIG_IGN);
    PageWorker worker(linkFd);
    return worker.Run();
}

}

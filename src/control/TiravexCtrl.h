#pragma once
// The control object that a page creates: it owns every other object of
// the system (the four video windows, the media hub, the snapshot windows),
// the login record that the network library reads, the handles of the
// control road, the HTTP client and the device search, and its reference on
// the page's script object, through which every page callback is made.
//
// Threads: the page's thread runs every script method, every window message
// and every page callback. Other threads only post to the control window.

#include "control/COleControl.h"
#include "control/ControlIds.h"

#include "audio/CMediaHub.h"
#include "gfx/Gdi.h"
#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "kznet/kznet.h"
#include "sys/Thread.h"
#include "view/CPicShowWnd.h"
#include "view/CPlayCtrl.h"

#include <array>
#include <atomic>
#include <memory>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace control {

// One argument of a page callback: a 32-bit integer or an 8-bit text in the
// system code page.
class PageArg {
public:
    PageArg(std::int32_t number) : m_number(number) { }
    PageArg(std::string text) : m_text(std::move(text)), m_isText(true) { }
    PageArg(const char* text) : m_text(text ? text : ""), m_isText(true) { }

    bool IsText() const { return m_isText; }
    std::int32_t Number() const { return m_number; }
    const std::string& Text() const { return m_text; }

private:
    std::int32_t m_number = 0;
    std::string m_text;
    bool m_isText = false;
};

// Who gets an event: only an active instance, every instance, or every
// instance with the active flag raised for the call and restored after.
enum class Delivery { IfActive, Always, Forced };

// Values the device-event handlers keep from the camera's messages.
struct DeviceStores {
    std::uint8_t alarmState = 0;        // 102
    std::uint8_t b103[2] = {};          // 103
    std::uint8_t b105First = 0;         // 105, b0
    std::uint8_t b105Second = 0;        // 105, b0 again
    std::uint8_t b105b1 = 0;            // 105, b1
    std::uint8_t b106 = 0;              // 106
    std::string texts106[16];           // 106
    std::uint8_t b107 = 0;              // 107
    std::string texts107[8];            // 107
    std::string last107;                // 107, the text at byte 257
    std::uint8_t b108[2] = {};          // 108
    std::uint8_t b109[2] = {};          // 109 and 120; 113 and 119 write these too
    std::int32_t values109[20] = {};    // 109 (stream type 0) or 120 (otherwise)
    std::uint8_t b110[5] = {};          // 110
    std::uint8_t b112 = 0;              // 112
    std::string text303;                // 303
};

// The settings the camera reports in messages 151 to 158, kept in
// m_alarmInfo: a fixed layout, then the settings-received latch.
struct AlarmInfoLayout {
    static constexpr std::size_t k151 = 0;
    static constexpr std::size_t k153 = 1;
    static constexpr std::size_t k154 = 2;
    static constexpr std::size_t k155 = 3;
    static constexpr std::size_t k156 = 4;       // b0, b1
    static constexpr std::size_t k156Texts = 6;  // four texts of 32 bytes
    static constexpr std::size_t k157 = 134;     // b0, b1
    static constexpr std::size_t k158 = 136;
    static constexpr std::size_t kTextBytes = 32;
    static constexpr std::size_t kLatch = kAlarmInfoBytes;
};

// A control message as the road callback hands it to the window (wParam
// of message 1124); the payload copy travels in lParam.
struct RoadMessage {
    std::int32_t type;
    std::int32_t length;
};

// The stored login reply: the device identifier with its zero, the device
// name, then the reply record as the camera sent it.
struct LoginReplyArea {
    char deviceId[kDeviceIdLength + 1];
    char deviceName[kDeviceNameBytes];
    std::uint8_t reply[kLoginReplyBytes];

    std::int32_t Status() const
    {
        std::int32_t status;
        std::memcpy(&status, reply, sizeof status);
        return status;
    }
    void SetStatus(std::int32_t status) { std::memcpy(reply, &status, sizeof status); }
};

// The device kind overlays bytes 2215-2216 of the stored reply: read as a
// 16-bit integer; the type-3 message writes it as 32 bits over 2215-2218.
class DeviceKindField {
public:
    explicit DeviceKindField(LoginReplyArea& area) : m_area(area) { }
    operator int() const
    {
        std::int16_t kind;
        std::memcpy(&kind, m_area.reply + kDeviceKindOffset, sizeof kind);
        return kind;
    }
    DeviceKindField& operator=(std::int32_t kind)
    {
        std::memcpy(m_area.reply + kDeviceKindOffset, &kind, sizeof kind);
        return *this;
    }

private:
    LoginReplyArea& m_area;
};

class CTiravexCtrl : public COleControl {
public:
    // Made with one reference, owned by the page; the last Release destroys it.
    static CTiravexCtrl* Create();

    // Calls the page's global script function `name`; 0 when made or
    // skipped, -1 without a script object or when the name is unknown.
    int callPage(const char* name, const PageArg* arguments, int count, bool onlyWhenActive);
    int callPage(const char* name, const std::vector<PageArg>& arguments, bool onlyWhenActive)
    {
        return callPage(name, arguments.data(), static_cast<int>(arguments.size()), onlyWhenActive);
    }
    // (Re)fetches m_script from the container; a failure leaves it as it was.
    void acquireScript();
    // The post-login start-up; runs once per login.
    void postLoginStartup();
    // Screen pan/tilt on or off at the window point (x, y) of the live window.
    void setScreenPtz(int x, int y);

    // A product name that equals a row exactly means the camera has no pan/tilt.
    bool IsNoPtzModel(const char* productName) const;

    // CGI over HTTP: one exchange; the reply text (m_cgiResult) or null.
    const char* cgiRequest(const char* address, const char* username, int port, const char* passwd, const char* command, int mode);
    bool getDevInfo();
    bool getProductAllInfo();

    CPlayBase* PlayerById(int id);

    // The road and the login.
    void Login(const std::string& ip, LONG port, LONG webport, const std::string& username, const std::string& passwd, LONG streamType, LONG groupID);
    void RegMy(const std::string& ip, LONG webport, LONG port, const std::string& username, const std::string& passwd, const std::string& devName, LONG streamType, LONG groupID, LONG deviceType);
    void UNRegMy();
    void LoginSuc() { postLoginStartup(); }
    // Whether a control message of this type and length passes the filter
    // now (it depends on the reply-format flag).
    bool PassesRoadFilter(int type, int length) const;
    // The control-road callback: runs on the library's threads, filters,
    // copies and posts. `user` is the control.
    static int RoadCallback(int type, const char* data, void* user, int length);

    // Activation and the reports it makes.
    void activate();
    void deactivate();
    void reportState();
    void reportLoginReply(const std::uint8_t* reply, bool withEntries);

    // Device search: every camera that answers, or the one logged in to.
    void searchDevices(LONG parameter);
    void searchOneDevice(LONG time);
    static int SearchListCallback(int type, const char* record, int length, void* user);
    static int SearchFindCallback(int type, const char* record, int length, void* user);

    // Makes one page event.
    void event(int code, std::vector<PageArg> arguments, Delivery delivery);
    void cgiToPage(const char* text, int length);

    // The camera's values kept for later reports.
    DeviceStores m_stores;

    // The members, in declaration order.
    com::ComPtr<IDispatch> m_script;
    std::vector<std::string> m_noPtzModels;
    CMediaHub* m_audio = nullptr;
    std::int32_t m_webPort = 0;
    CLiveCtrl m_live;
    CPbCtrl m_playback;
    CMotion m_motion;
    CShelter m_shelter;
    std::uint8_t m_loginRequested = 0;
    LoginInfo* m_login = nullptr;
    KzHandle m_road = nullptr;
    sys::ThreadHandle m_ptzThread;
    sys::ThreadId m_ptzThreadId = 0;
    std::int32_t m_roadMode = 0;
    KzHandle m_http = nullptr;
    KzHandle m_search = nullptr;
    LoginReplyArea m_loginReply {};
    DeviceKindField m_deviceKind { m_loginReply };
    std::uint8_t m_postLoginDone = 0;
    LONG m_self = 0;
    std::atomic<std::uint8_t> m_active { 0 }; // read by the audio path
    gfx::HPEN m_penSelected = nullptr;
    gfx::HPEN m_penNormal = nullptr;
    std::int32_t m_deviceType = kDeviceTypeFull;
    std::array<std::int32_t, kHttpsPortSlots> m_httpsPorts {};
    char m_modelName[kModelNameBytes] = {};
    char m_productInfo[kProductInfoBytes] = {};
    char m_cgiResult[kCgiResultBytes] = {};
    std::int32_t m_userRight = kDefaultUserRight;
    std::uint8_t m_alarmInfo[kAlarmInfoBytes + 1] = {}; // the last byte is the settings-received latch
    std::uint8_t m_devRecord[kDevRecordBytes] = {};
    std::atomic<std::uint8_t> m_replyFormat { 0 }; // read by the road callback
    std::uint8_t m_httpsFlag = 0;
    std::uint8_t m_cgiPending = 0;
    std::array<CPicShowWnd, kSnapshotWindows> m_snapshots;
    std::int32_t m_snapshotCount = 0;

protected:
    CTiravexCtrl();
    ~CTiravexCtrl() override;

    const DispatchMap& GetDispatchMap() const override { return m_dispatch; }
    void DoPropExchange(CPropExchange& px) override;
    int OnCreate() override;
    void OnSize(UINT type, int cx, int cy) override;
    void OnDestroy() override;
    void OnSetClientSite() override;
    LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // Internal messages of the control window.
    void onRoadMessage(int type, const std::uint8_t* data, int length);
    void onOpenRoad(int mode, int kind);
    void onCgiTimeout();
    void onDeviceInfoReply(int type, const char* text, int length);
    void onAlarmSound(const std::uint8_t* data);
    void onAlarm111(const std::uint8_t* data, int length);
    void paintControl(HDC dc);
    void paintFrame(HDC dc);
    void paintLiveArea();
    std::vector<PageArg> loginReplyArgs(const std::uint8_t* reply, bool withEntries) const;
    void reportAfterLogin();
    std::int32_t settingsByte(std::size_t offset) const { return m_alarmInfo[offset]; }
    std::string deviceName() const;
    void startPortQuery();
    void stopWorkers();
    void onSearchAnswer(WPARAM copy, bool oneDevice);

    // What the screen pan/tilt worker shares with the control. The control
    // clears `control` when it lets the worker go, so a worker that outlived
    // its stop never touches a control that is gone.
    struct PtzWorkerLink {
        sys::CriticalSection lock;
        CTiravexCtrl* control = nullptr; // guarded by lock
    };

    void stopPtzWorker();
    static void ptzWorkerLoop(std::shared_ptr<PtzWorkerLink> link);
    // One pan/tilt step of the worker, under the link's lock; false ends the worker.
    bool ptzStep(WPARAM stop, const std::string& hostText);
    void buildDispatchMap();

    DispatchMap m_dispatch;
    std::shared_ptr<PtzWorkerLink> m_ptzLink;
    // HTTPS-port queries (one per RegMy) and closings of replaced roads.
    std::vector<std::shared_ptr<PtzWorkerLink>> m_portLinks;
    std::vector<sys::ThreadHandle> m_portThreads;
    std::vector<sys::ThreadHandle> m_closeThreads;
    char m_updatePath[kUpdatePathBytes] = {};
    // Exchanges on m_http do not overlap: the page's thread, the port-query
    // threads and the pan/tilt worker take this around each one.
    sys::CriticalSection m_httpLock;
};

}

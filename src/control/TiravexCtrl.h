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
#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "kznet/kznet.h"
#include "sys/Thread.h"
#include "view/CPicShowWnd.h"
#include "view/CPlayCtrl.h"

#include <array>
#include <memory>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace control {

// One argument of a page callback: a 32-bit integer or an 8-bit text in the
// system code page.
using PageArg = std::variant<std::int32_t, std::string>;

// A pen of the control's frame; the drawing layer makes the real pen from it.
struct FramePen {
    int width;
    COLORREF colour;
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
    std::uint8_t m_active = 0;
    std::optional<FramePen> m_penSelected;
    std::optional<FramePen> m_penNormal;
    std::int32_t m_deviceType = kDeviceTypeFull;
    std::array<std::int32_t, kHttpsPortSlots> m_httpsPorts {};
    char m_modelName[kModelNameBytes] = {};
    char m_productInfo[kProductInfoBytes] = {};
    char m_cgiResult[kCgiResultBytes] = {};
    std::int32_t m_userRight = kDefaultUserRight;
    std::uint8_t m_alarmInfo[kAlarmInfoBytes + 1] = {}; // the last byte is the settings-received latch
    std::uint8_t m_devRecord[kDevRecordBytes] = {};
    std::uint8_t m_replyFormat = 0;
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

private:
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
    // Exchanges on m_http do not overlap: the page's thread, the port-query
    // threads and the pan/tilt worker take this around each one.
    sys::CriticalSection m_httpLock;
};

}

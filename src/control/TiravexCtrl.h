#pragma once
// The control object that a page creates: it owns every other object of
// the system (the device link to the camera, the media hub, the four video
// windows, the snapshot windows) and its reference on the page's script
// object, through which every page callback is made. It answers the page's
// script members, turns the link's typed events and the other layers'
// notifications into page events, and keeps what the page sees: which
// instance is active, what is painted on the control.
//
// Threads: the page's thread runs every script member, every window message,
// every link event and every page callback. Other threads only post to the
// control window or to the link's mailbox; the live-view calls of the link
// and IsSelected of the hub are the exceptions, and touch only atomics and
// the live window's own locked state.

#include "control/COleControl.h"
#include "control/ControlIds.h"
#include "control/DeviceReports.h"

#include "editors/CMotion.h"
#include "editors/CShelter.h"
#include "gfx/Gdi.h"
#include "link/DeviceLink.h"
#include "media/CMediaHub.h"
#include "view/CLiveCtrl.h"
#include "view/CPbCtrl.h"
#include "view/CPicShowWnd.h"

#include <array>
#include <atomic>
#include <memory>
#include <string>
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

class CTiravexCtrl : public COleControl,
                     private devlink::LinkSink,
                     private devlink::LiveView,
                     private CMediaHub::Owner,
                     private view::WindowOwner {
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
    // (Re)fetches the script object from the container; a failure leaves it as it was.
    void acquireScript();
    // The post-login start-up; runs once per login.
    void postLoginStartup();
    // Screen pan/tilt on or off at the window point (x, y) of the live
    // window: starts or stops the link's pan/tilt worker.
    void setScreenPtz(int x, int y);

    // Activation and the reports it makes.
    void activate();
    void deactivate();
    void reportState();

    // What the control shows of its state (read-only).
    LONG Self() const { return m_self; }
    bool IsActive() const { return m_active.load() != 0; }
    bool HasScript() const { return static_cast<bool>(m_script); }
    bool PostLoginDone() const { return m_postLoginDone != 0; }
    std::int32_t UserRight() const { return m_userRight; }
    const devlink::DeviceLink& Link() const { return m_link; }
    const CMediaHub& Hub() const { return *m_audio; }
    const CLiveCtrl& Live() const { return m_live; }
    const CPbCtrl& Playback() const { return m_playback; }
    const CMotion& Motion() const { return m_motion; }
    const CShelter& Shelter() const { return m_shelter; }
    std::int32_t SnapshotCount() const { return m_snapshotCount; }

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
    friend struct LinkEventVisitor;

    // The script members (ScriptMethods.cpp).
    void buildDispatchMap();
    void Login(const devlink::Credentials& login);
    void RegMy(const devlink::Credentials& login, std::int32_t deviceType);
    void UNRegMy();

    // Page events (PageEvents.cpp): one event, the CGI text, the login reply.
    void event(int code, std::vector<PageArg> arguments, Delivery delivery);
    void cgiToPage(const std::string& text, std::int32_t length);
    void reportLoginReply(const std::uint8_t* reply, bool withEntries);
    std::vector<PageArg> loginReplyArgs(const std::uint8_t* reply, bool withEntries) const;
    void reportAfterLogin();
    void reportSettings();

    // The link's events (LinkEvents.cpp).
    void OnLinkEvent(const devlink::LinkEvent& event) override;
    void onDeviceInfoReply(const devlink::DeviceInfoReply& reply);
    void onAlarm(const devlink::Alarm& alarm);
    // A picture from the camera, shown in the first free snapshot window;
    // dropped when all are open.
    void showSnapshot(const std::vector<std::uint8_t>& picture);
    // Pan/tilt from the product information's flags; false when they
    // decide nothing.
    bool applyPtzFlags(int pt, int rs);

    // devlink::LiveView: the live window, off the page's thread.
    void OnAudioBlockLength(std::int32_t length) override { m_live.SetAudioBlockLength(length); }
    void OnTalkReply(bool started) override;
    int BeginPtzMove() override { return m_live.BeginPtzMove(); }
    void EndPtzMove() override { m_live.EndPtzMove(); }

    // CMediaHub::Owner.
    bool IsSelected() const override { return IsActive(); }
    bool IsMainInstance() const override { return m_self == 0; }

    // view::WindowOwner.
    void ActivateFromView() override { activate(); }
    void SetScreenPtz(int x, int y) override { setScreenPtz(x, y); }
    void PostPtzMove(bool stop) override { m_link.PtzMove(stop); }

    // The control window (ControlWindow.cpp).
    void onCgiTimeout();
    void paintControl(HDC dc);
    void paintFrame(HDC dc);
    void paintLiveArea();
    // The four players in window-id order: live, playback, motion, shelter.
    std::array<CPlayBase*, kPlayerCount> players() { return { &m_live, &m_playback, &m_motion, &m_shelter }; }
    // Hides the other three video windows and shows `shown`.
    void showOnly(CNPWnd& shown);
    // Makes window `id` the hub's active one and clips the renderer to it.
    void clipTo(CNPWnd& window, std::int32_t id);

    com::ComPtr<IDispatch> m_script;
    std::unique_ptr<CMediaHub> m_audio;
    CLiveCtrl m_live;
    CPbCtrl m_playback;
    CMotion m_motion;
    CShelter m_shelter;
    devlink::DeviceLink m_link { *this, *this };
    LONG m_self = 0;
    std::atomic<std::uint8_t> m_active { 0 }; // read by the hub's audio path
    std::uint8_t m_postLoginDone = 0;
    gfx::HPEN m_penSelected = nullptr;
    gfx::HPEN m_penNormal = nullptr;
    std::int32_t m_userRight = kDefaultUserRight;
    std::uint8_t m_cgiPending = 0;
    DeviceReports m_reports;
    std::array<CPicShowWnd, CPicShowWnd::kMaxOpen> m_snapshots;
    std::int32_t m_snapshotCount = 0;
    char m_updatePath[kUpdatePathBytes] = {};
    DispatchMap m_dispatch;
};

}

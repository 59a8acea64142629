// The script members: what the page calls by name, with the control's own
// dispatch numbers (1 to 44 in table order, AboutBox -552). Parameters
// arrive converted; texts are returned as new BSTRs. None raises a script
// error.

#include "control/AboutDlg.h"
#include "control/TiravexCtrl.h"

#include "control/DispatchIds.h"
#include "control/Settings.h"

#include "link/CgiText.h"
#include "media/Notifications.h"
#include "resources/StringTable.h"
#include "sys/Process.h"
#include "ui/Dialogs.h"

#include <cstdio>
#include <cstring>

namespace control {

namespace {

using P = ParamKind;

// The project's one version string (CMake's project VERSION).
constexpr const char* kVersion = TIRAVEX_VERSION;
constexpr const char* kAlarmPath = "alarm";
constexpr const char* kFileManager = "xdg-open";
constexpr const char* kStoragePort = "50021";
constexpr std::size_t kStorageUrlBytes = 256;
constexpr std::int32_t kLanguageStep = 100;
// SetLauguage's numbers: 0 Simplified Chinese, 1 Traditional Chinese, 2 English.
constexpr LONG kFirstLanguage = resources::kLanguageSimplifiedChinese / kLanguageStep;
constexpr LONG kLastLanguage = resources::kLanguageEnglish / kLanguageStep;

// EnterConfigPage flags.
constexpr LONG kConfigLive = 0;
constexpr LONG kConfigPage1 = 1;
constexpr LONG kConfigPage2 = 2;

DispResult none() { return std::nullopt; }

}

void CTiravexCtrl::Login(const devlink::Credentials& login)
{
    if (m_link.Login(login))
        m_audio->SetTalkCoding(m_link.Record().streamType);
}

void CTiravexCtrl::RegMy(const devlink::Credentials& login, std::int32_t deviceType)
{
    std::optional<int> resentKind = m_link.Register(login, deviceType, m_self);
    m_audio->SetTalkCoding(m_link.Record().streamType);
    m_live.m_registered = true;
    if (resentKind)
        m_live.SetOpenParam(*resentKind);
}

void CTiravexCtrl::UNRegMy()
{
    // Without a road the login stays as it is (one on its way keeps its
    // record); only the view forgets the registration.
    m_live.m_registered = false;
    if (!m_link.HasRoad())
        return;
    m_live.CloseStream();
    m_link.Unregister();
    m_postLoginDone = 0;
    m_reports.deviceRecord = {};
    m_reports.settingsReceived = false;
    m_live.m_streamMode = kz::kStreamModePlain;
}

void CTiravexCtrl::showOnly(CNPWnd& shown)
{
    for (CNPWnd* window : players())
        if (window != &shown && window->GetHwnd())
            ui::ShowWindow(window->GetHwnd(), SW_HIDE);
    if (shown.GetHwnd())
        ui::ShowWindow(shown.GetHwnd(), SW_SHOW);
}

void CTiravexCtrl::clipTo(CNPWnd& window, std::int32_t id)
{
    m_audio->SetActiveWindow(id);
    if (media::Renderer* view = m_audio->GetView())
        view->SetClipperWindow(window.GetHwnd());
}

void CTiravexCtrl::buildDispatchMap()
{
    auto& m = m_dispatch;
    auto roadKind = [this] { return m_link.DeviceKind() >= kz::kFirstRoadDeviceKind; };
    auto viewMode = [this] { return m_audio->ActiveWindow(); };
    auto command = [this](int code, std::intptr_t a, std::intptr_t b) { return m_link.SendCommand(code, a, b); };
    // A view that cannot open its stream: event 212, and its registered flag cleared.
    auto cannotOpen = [this](CPlayBase& player) {
        ui::PostMessage(m_hWnd, kMsgViewCannotOpen, 0, 0);
        player.m_registered = false;
    };

    m.Method("Login", kDispLogin, { P::Text, P::Long, P::Long, P::Text, P::Text, P::Long, P::Long }, [this](const DispArgs& a) {
        Login({ a.Text(0), a.Long(1), a.Long(2), a.Text(3), a.Text(4), a.Long(5), a.Long(6) });
        return none();
    });
    m.Method("Open", kDispOpen, { P::Text }, [this, command, roadKind, cannotOpen](const DispArgs& a) {
        if (m_link.LoginStatus() != kz::kLoginOk)
            return none();
        if (!m_live.IsViewReady()) {
            cannotOpen(m_live);
            return none();
        }
        m_live.OpenStream(a.Text(0).c_str(), m_link.RecordForChannels());
        if (m_active)
            reportState();
        if (roadKind() && m_link.HasRoad()) {
            m_live.SetAudioOn(false);
            command(kz::kCmdVideo, 0, kz::kCmdStart);
        }
        return none();
    });
    m.Method("Close", kDispClose, {}, [this, command, roadKind](const DispArgs&) {
        m_live.CloseStream();
        if (roadKind())
            command(kz::kCmdVideo, 0, kz::kCmdStop);
        return none();
    });
    m.Method("Record", kDispRecord, { P::Bool, P::Text }, [this](const DispArgs& a) {
        if (a.Bool(0)) {
            // Without a camera address nothing records, and nothing is armed.
            if (m_link.Record().ip[0]) {
                m_live.CheckRecordPath(ReadRecordFolder() + "/" + m_link.Record().ip);
                m_live.m_alarmRecording = a.Text(1) == kAlarmPath;
            }
        } else {
            m_live.m_alarmRecording = false;
            m_live.StopRecord();
        }
        return none();
    });
    m.Method("OpenAudio", kDispOpenAudio, {}, [this, command, roadKind, viewMode](const DispArgs&) {
        if (!roadKind()) {
            if (viewMode() == kLiveWindowId)
                m_live.StartAudio();
            else if (viewMode() == kPlaybackWindowId)
                m_playback.StartAudio();
        } else if (m_link.HasRoad()) {
            m_live.SetAudioOn(true);
            command(kz::kCmdAudio, 0, kz::kCmdStart);
        }
        return none();
    });
    m.Method("OpenTalk", kDispOpenTalk, {}, [this, command, roadKind](const DispArgs&) {
        if (!roadKind()) {
            m_live.StartTalkMedia();
        } else if (m_link.HasRoad()) {
            m_audio->ResetTalkCoder();
            command(kz::kCmdTalk, 0, kz::kCmdStart);
        }
        return none();
    });
    m.Method("CloseTalk", kDispCloseTalk, {}, [this, command, roadKind](const DispArgs&) {
        if (!roadKind()) {
            m_live.StopTalkMedia();
        } else {
            command(kz::kCmdTalk, 0, kz::kCmdStop);
            m_live.StopTalkCapture();
        }
        return none();
    });
    m.Method("CloseAudio", kDispCloseAudio, {}, [this, command, roadKind, viewMode](const DispArgs&) {
        if (!roadKind()) {
            if (viewMode() == kLiveWindowId)
                m_live.StopAudio();
            else if (viewMode() == kPlaybackWindowId)
                m_playback.StopAudio();
        } else if (m_link.HasRoad()) {
            command(kz::kCmdAudio, 0, kz::kCmdStop);
            m_live.SetAudioOn(false);
        }
        return none();
    });
    m.Method("LeaveAreaSet", kDispLeaveAreaSet, {}, [this](const DispArgs&) {
        if (m_shelter.GetHwnd())
            ui::ShowWindow(m_shelter.GetHwnd(), SW_HIDE);
        m_shelter.CloseStream();
        return none();
    });
    m.Method("DelRect", kDispDelRect, {}, [this](const DispArgs&) {
        m_shelter.DeleteSelected();
        return none();
    });
    m.Method("LeaveMotionSet", kDispLeaveMotionSet, {}, [this](const DispArgs&) {
        if (m_motion.GetHwnd())
            ui::ShowWindow(m_motion.GetHwnd(), SW_HIDE);
        m_motion.CloseStream();
        return none();
    });
    m.Method("Live", kDispLive, {}, [this](const DispArgs&) {
        showOnly(m_live);
        clipTo(m_live, kLiveWindowId);
        if (!m_live.IsViewReady())
            m_live.m_registered = false;
        return none();
    });
    m.Method("EnterConfigPage", kDispEnterConfigPage, { P::Long }, [this](const DispArgs& a) {
        switch (a.Long(0)) {
        case kConfigLive: m_audio->SetActiveWindow(kLiveWindowId); break;
        case kConfigPage1: m_audio->SetActiveWindow(kConfigPage1WindowId); break;
        case kConfigPage2: m_audio->SetActiveWindow(kConfigPage2WindowId); break;
        default: break;
        }
        return none();
    });
    m.Method("Playback", kDispPlayback, {}, [this](const DispArgs&) {
        showOnly(m_playback);
        if (m_self == 0) {
            clipTo(m_playback, kPlaybackWindowId);
            if (!m_playback.IsViewReady())
                m_playback.m_registered = false;
        }
        return none();
    });
    m.Method("EnterAreaSet", kDispEnterAreaSet, { P::Long, P::Text, P::Text, P::Text, P::Long, P::Long }, [this, cannotOpen](const DispArgs& a) {
        showOnly(m_shelter);
        m_shelter.SetPictureSize(a.Long(4), a.Long(5));
        if (m_self == 0)
            clipTo(m_shelter, kShelterWindowId);
        if (m_shelter.IsViewReady()) {
            m_shelter.RestoreDeleted();
            m_shelter.OpenStream(a.Text(1).c_str(), m_link.RecordForChannels());
        } else {
            cannotOpen(m_shelter);
        }
        return none();
    });
    m.Method("EnterMotionSet", kDispEnterMotionSet, { P::Long, P::Text, P::Text, P::Text, P::Long, P::Long }, [this, cannotOpen](const DispArgs& a) {
        showOnly(m_motion);
        m_motion.SetOverlaySize(a.Long(4), a.Long(5));
        if (m_self == 0)
            clipTo(m_motion, kMotionWindowId);
        if (m_motion.IsViewReady())
            m_motion.OpenStream(a.Text(1).c_str(), m_link.RecordForChannels());
        else
            cannotOpen(m_motion);
        return none();
    });
    m.Method("PlaybackOpen", kDispPlaybackOpen, { P::Text }, [this, cannotOpen](const DispArgs& a) {
        if (a.Text(0).empty())
            return none();
        if (m_playback.IsViewReady())
            m_playback.OpenStream(a.Text(0).c_str(), m_link.RecordForChannels());
        else
            cannotOpen(m_playback);
        return none();
    });
    m.Method("GetLiveCfg", kDispGetLiveCfg, {}, [command](const DispArgs&) {
        command(kz::kCmdLiveCfg, 0, 0);
        return none();
    });
    m.Method("test", kDisptest, {}, [](const DispArgs&) -> DispResult { return std::string(kVersion); });
    m.Method("FullScreen", kDispFullScreen, {}, [this, viewMode](const DispArgs&) {
        if (!m_live.GetHub())
            return none();
        if (viewMode() == kLiveWindowId)
            m_live.ToggleFullScreen();
        else if (viewMode() == kPlaybackWindowId)
            m_playback.ToggleFullScreen();
        return none();
    });
    m.Method("PlaybackClose", kDispPlaybackClose, {}, [this](const DispArgs&) {
        if (m_self == 0)
            m_playback.CloseStream();
        return none();
    });
    m.Method("PlaybackSeek", kDispPlaybackSeek, { P::Long }, [this](const DispArgs& a) {
        if (KzHandle channel = m_playback.GetChannel())
            kz_seek_record(channel, static_cast<double>(a.Long(0)));
        return none();
    });
    m.Method("PlaybackPause", kDispPlaybackPause, {}, [this](const DispArgs&) {
        m_playback.Pause();
        return none();
    });
    m.Method("PlaybackResume", kDispPlaybackResume, {}, [this](const DispArgs&) {
        m_playback.Resume();
        return none();
    });
    m.Property(
        "Areas", kDispAreas, [this](const DispArgs&) -> DispResult { return m_shelter.AreasString(); },
        [this](const std::string& text) {
            m_shelter.LoadAreasText(text);
            SetModifiedFlag();
        });
    m.Property(
        "MotionAreas", kDispMotionAreas, [this](const DispArgs&) -> DispResult { return m_motion.MaskString(); },
        [this](const std::string& text) {
            m_motion.LoadMasks(text);
            SetModifiedFlag();
        });
    m.Method("GetDevIPandPort", kDispGetDevIPandPort, { P::Long }, [this](const DispArgs& a) {
        m_link.SearchLoggedInDevice(a.Long(0));
        return none();
    });
    m.Method("SetLauguage", kDispSetLauguage, { P::Long }, [this](const DispArgs& a) {
        // Only the string table's languages are taken: any other number
        // would name texts the table does not have (or overflow the base).
        LONG language = a.Long(0);
        if (language >= kFirstLanguage && language <= kLastLanguage)
            m_audio->SetLanguage(language * kLanguageStep);
        return none();
    });
    m.Method("LoginSuc", kDispLoginSuc, {}, [this](const DispArgs&) {
        postLoginStartup();
        return none();
    });
    m.Method("SearchDev", kDispSearchDev, { P::Long }, [this](const DispArgs& a) {
        m_link.SearchAll(a.Long(0));
        return none();
    });
    m.Method("RegMy", kDispRegMy, { P::Text, P::Long, P::Long, P::Text, P::Text, P::Text, P::Long, P::Long, P::Long }, [this](const DispArgs& a) {
        // The web port comes second and the media port third; devName is not used.
        RegMy({ a.Text(0), a.Long(2), a.Long(1), a.Text(3), a.Text(4), a.Long(6), a.Long(7) }, a.Long(8));
        return none();
    });
    m.Method("UNRegMy", kDispUNRegMy, {}, [this](const DispArgs&) {
        UNRegMy();
        return none();
    });
    m.Method("KillFocus", kDispKillFocus, {}, [this](const DispArgs&) {
        deactivate();
        return none();
    });
    m.Property(
        "RecordPath", kDispRecordPath, [](const DispArgs&) -> DispResult { return ReadRecordFolder(); },
        [this](const std::string& path) {
            SettingResult r = WriteRecordFolder(path);
            if (r == SettingResult::Unchanged)
                return;
            if (r == SettingResult::Failed)
                ui::PostMessage(m_hWnd, media::kNotifyRecordPathFailed, 0, 0);
            SetModifiedFlag();
        });
    m.Property(
        "ManualRecordPath", kDispManualRecordPath, [](const DispArgs&) -> DispResult { return ui::ChooseFolder(); },
        [this](const std::string&) { SetModifiedFlag(); });
    m.Property(
        "LocalAlarmRecordTime", kDispLocalAlarmRecordTime, [](const DispArgs&) -> DispResult { return ReadAlarmRecordTimeText(); },
        [this](const std::string& text) {
            SettingResult r = WriteAlarmRecordTime(text);
            ui::PostMessage(m_hWnd, kMsgAlarmRecordTime, r == SettingResult::Stored ? 1 : 0, 0);
            SetModifiedFlag();
        });
    m.Method("SDManage", kDispSDManage, { P::Text }, [this](const DispArgs&) {
        char url[kStorageUrlBytes];
        std::snprintf(url, sizeof url, "ftp://%s:%s", m_link.Record().ip, kStoragePort);
        sys::StartProcess({ kFileManager, url });
        return none();
    });
    m.Method("UpdateFirstChannelUserRight", kDispUpdateFirstChannelUserRight, { P::Long }, [this](const DispArgs& a) {
        m_userRight = a.Long(0);
        return none();
    });
    m.Method("SetCheckedOut", kDispSetCheckedOut, { P::Long }, [this](const DispArgs& a) {
        m_motion.SetInvertedSelection(a.Long(0) != 0);
        return none();
    });
    m.Method("GetCGIResult", kDispGetCGIResult, { P::Text, P::Long }, [this](const DispArgs& a) -> DispResult {
        return m_link.PageCgiRequest(a.Text(0), a.Long(1));
    });
    m.Method("SendCgiToPlugin", kDispSendCgiToPlugin, { P::Text, P::Long, P::Long }, [this, command](const DispArgs& a) {
        if (!command(kz::kCmdCgi, a.Long(2), reinterpret_cast<std::intptr_t>(a.Text(0).c_str())))
            return none();
        ui::SetTimer(m_hWnd, kCgiTimer, static_cast<UINT>(a.Long(1)));
        m_cgiPending = 1;
        return none();
    });
    m.Method("SetHttpsFlg", kDispSetHttpsFlg, { P::Long }, [this](const DispArgs& a) {
        LONG type = a.Long(0);
        if (type != 0 && type != 1)
            return none();
        m_link.SetHttpsFlag(static_cast<std::uint8_t>(type));
        for (CPlayBase* player : players())
            player->m_secureTransport = type == 1;
        return none();
    });
    m.Method("GetUpdataFilePath", kDispGetUpdataFilePath, {}, [this, command](const DispArgs&) -> DispResult {
        std::memset(m_updatePath, 0, sizeof m_updatePath);
        std::string chosen = ui::ChooseOpenFile();
        if (chosen.empty())
            return std::string();
        devlink::CopyText(m_updatePath, sizeof m_updatePath, chosen);
        command(kz::kCmdUpdateFile, reinterpret_cast<std::intptr_t>(m_updatePath), 0);
        return std::string(m_updatePath);
    });
    m.Method("OpenLocalRecordFolder", kDispOpenLocalRecordFolder, { P::Text }, [](const DispArgs& a) {
        // The file manager gets a canonical absolute path of an existing
        // folder, never the page's text as it is (which it could take for
        // an option, or a file to run); anything else opens nothing.
        std::string folder = ExistingFolderPath(a.Text(0));
        if (!folder.empty())
            sys::StartProcess({ kFileManager, folder });
        return none();
    });
    m.Method("AboutBox", kDispAboutBox, {}, [](const DispArgs&) {
        CAboutDlg().DoModal();
        return none();
    });
}

}

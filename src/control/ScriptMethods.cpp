// The script members: what the page calls by name, with the control's own
// dispatch numbers (1 to 44 in table order, AboutBox -552). Parameters
// arrive converted; texts are returned as new BSTRs. None raises a script
// error.

#include "control/TiravexCtrl.h"

#include "control/Settings.h"
#include "link/CgiText.h"
#include "link/EventCodes.h"
#include "resources/StringTable.h"

#include "com/CodePage.h"
#include "sys/Process.h"
#include "ui/Dialogs.h"
#include "view/CPlayView.h"

#include <cstdio>
#include <cstring>

namespace control {

namespace {

using P = ParamKind;

constexpr const char* kVersion = "3.1.0.9";
constexpr const char* kAlarmPath = "alarm";
constexpr const char* kFileManager = "xdg-open";
constexpr const char* kStoragePort = "50021";
constexpr std::size_t kCgiResultLimit = 2047;

// Road commands.
constexpr int kCommandVideo = 1;
constexpr int kCommandAudio = 2;
constexpr int kCommandTalk = 3;
constexpr int kCommandLiveConfig = 12;
constexpr int kCommandCgi = 13;
constexpr int kCommandUpdateFile = 17;
constexpr std::intptr_t kStart = 0;
constexpr std::intptr_t kStop = 1;

// EnterConfigPage flags.
constexpr LONG kConfigLive = 0;
constexpr LONG kConfigPage1 = 1;
constexpr LONG kConfigPage2 = 2;

constexpr const char* kAreasFormat =
    "<cgi_result><result>%d</result><x1_0>%d</x1_0><y1_0>%d</y1_0><x2_0>%d</x2_0><y2_0>%d</y2_0><x1_1>%d</x1_1><y1_1>%d</y1_1><x2_1>%d</x2_1><y2_1>%d</y2_1><x1_2>%d</x1_2><y1_2>%d</y1_2><x2_2>%d</x2_2><y2_2>%d</y2_2><x1_3>%d</x1_3><y1_3>%d</y1_3><x2_3>%d</x2_3><y2_3>%d</y2_3></cgi_result>";
// A value the Areas text leaves out.
constexpr int kAreasMissing = 0x01010101;

DispResult none() { return std::nullopt; }

}

void CTiravexCtrl::buildDispatchMap()
{
    auto& m = m_dispatch;
    auto road = [this](int command, std::intptr_t a, std::intptr_t b) {
        if (m_road)
            kz_post_ctrl_road_msg(m_road, command, a, b);
    };
    auto roadKind = [this] { return m_deviceKind >= kFirstRoadDeviceKind; };
    auto show = [](CNPWnd& window, bool visible) {
        if (window.GetHwnd())
            ui::ShowWindow(window.GetHwnd(), visible ? SW_SHOW : SW_HIDE);
    };
    auto clipTo = [this](CNPWnd& window) {
        if (CPlayView* view = m_audio->GetView())
            view->SetClipperWindow(window.GetHwnd());
    };
    auto viewMode = [this] { return m_audio->m_activeWindow.load(); };

    m.Method("Login", 1, { P::Text, P::Long, P::Long, P::Text, P::Text, P::Long, P::Long }, [this](const DispArgs& a) {
        Login(a.Text(0), a.Long(1), a.Long(2), a.Text(3), a.Text(4), a.Long(5), a.Long(6));
        return none();
    });
    m.Method("Open", 2, { P::Text }, [this, road, roadKind](const DispArgs& a) {
        if (m_loginReply.Status() != 0)
            return none();
        if (!m_live.IsViewReady()) {
            ui::PostMessage(m_hWnd, kMsgViewCannotOpen, 0, 0);
            m_live.m_registered = false;
            return none();
        }
        m_live.OpenStream(a.Text(0).c_str(), m_login);
        if (m_active)
            reportState();
        if (roadKind() && m_road) {
            m_live.SetAudioOn(false);
            road(kCommandVideo, 0, kStart);
        }
        return none();
    });
    m.Method("Close", 3, {}, [this, road, roadKind](const DispArgs&) {
        m_live.CloseStream();
        if (roadKind())
            road(kCommandVideo, 0, kStop);
        return none();
    });
    m.Method("Record", 4, { P::Bool, P::Text }, [this](const DispArgs& a) {
        if (a.Bool(0)) {
            std::string folder = ReadRecordFolder();
            if (m_login->ip[0])
                m_live.StartRecord(folder + "/" + m_login->ip);
            m_live.m_alarmRecording = a.Text(1) == kAlarmPath;
        } else {
            m_live.m_alarmRecording = false;
            m_live.StopRecord();
        }
        return none();
    });
    m.Method("OpenAudio", 5, {}, [this, road, roadKind, viewMode](const DispArgs&) {
        if (!roadKind()) {
            if (viewMode() == kLiveWindowId)
                m_live.StartAudio();
            else if (viewMode() == kPlaybackWindowId)
                m_playback.StartAudio();
        } else if (m_road) {
            m_live.SetAudioOn(true);
            road(kCommandAudio, 0, kStart);
        }
        return none();
    });
    m.Method("OpenTalk", 6, {}, [this, road, roadKind](const DispArgs&) {
        if (!roadKind()) {
            m_live.StartTalkMedia();
        } else if (m_road) {
            m_live.m_adpcmEncodePredictor = 0;
            m_live.m_adpcmEncodeIndex = 0;
            road(kCommandTalk, 0, kStart);
        }
        return none();
    });
    m.Method("CloseTalk", 7, {}, [this, road, roadKind](const DispArgs&) {
        if (!roadKind()) {
            m_live.StopTalkMedia();
        } else {
            road(kCommandTalk, 0, kStop);
            m_live.StopTalkCapture();
        }
        return none();
    });
    m.Method("CloseAudio", 8, {}, [this, road, roadKind, viewMode](const DispArgs&) {
        if (!roadKind()) {
            if (viewMode() == kLiveWindowId)
                m_live.StopAudio();
            else if (viewMode() == kPlaybackWindowId)
                m_playback.StopAudio();
        } else if (m_road) {
            road(kCommandAudio, 0, kStop);
            m_live.SetAudioOn(false);
        }
        return none();
    });
    m.Method("LeaveAreaSet", 9, {}, [this, show](const DispArgs&) {
        show(m_shelter, false);
        m_shelter.CloseStream();
        return none();
    });
    m.Method("DelRect", 10, {}, [this](const DispArgs&) {
        m_shelter.DeleteSelected();
        return none();
    });
    m.Method("LeaveMotionSet", 11, {}, [this, show](const DispArgs&) {
        show(m_motion, false);
        m_motion.CloseStream();
        return none();
    });
    m.Method("Live", 12, {}, [this, show, clipTo](const DispArgs&) {
        show(m_playback, false);
        show(m_shelter, false);
        show(m_motion, false);
        show(m_live, true);
        m_audio->m_activeWindow = kLiveWindowId;
        clipTo(m_live);
        if (!m_live.IsViewReady())
            m_live.m_registered = false;
        return none();
    });
    m.Method("EnterConfigPage", 13, { P::Long }, [this](const DispArgs& a) {
        switch (a.Long(0)) {
        case kConfigLive: m_audio->m_activeWindow = kLiveWindowId; break;
        case kConfigPage1: m_audio->m_activeWindow = kViewConfigPage1; break;
        case kConfigPage2: m_audio->m_activeWindow = kViewConfigPage2; break;
        default: break;
        }
        return none();
    });
    m.Method("Playback", 14, {}, [this, show, clipTo](const DispArgs&) {
        show(m_shelter, false);
        show(m_motion, false);
        show(m_live, false);
        show(m_playback, true);
        if (m_self == 0) {
            m_audio->m_activeWindow = kPlaybackWindowId;
            clipTo(m_playback);
            if (!m_playback.IsViewReady())
                m_playback.m_registered = false;
        }
        return none();
    });
    m.Method("EnterAreaSet", 15, { P::Long, P::Text, P::Text, P::Text, P::Long, P::Long }, [this, show, clipTo](const DispArgs& a) {
        show(m_playback, false);
        show(m_live, false);
        show(m_motion, false);
        show(m_shelter, true);
        m_shelter.SetPictureSize(a.Long(4), a.Long(5));
        if (m_self == 0) {
            m_audio->m_activeWindow = kShelterWindowId;
            clipTo(m_shelter);
        }
        if (m_shelter.IsViewReady()) {
            m_shelter.RestoreDeleted();
            m_shelter.OpenStream(a.Text(1).c_str(), m_login);
        } else {
            ui::PostMessage(m_hWnd, kMsgViewCannotOpen, 0, 0);
            m_shelter.m_registered = false;
        }
        return none();
    });
    m.Method("EnterMotionSet", 16, { P::Long, P::Text, P::Text, P::Text, P::Long, P::Long }, [this, show, clipTo](const DispArgs& a) {
        show(m_playback, false);
        show(m_live, false);
        show(m_shelter, false);
        show(m_motion, true);
        m_motion.SetWorkRect(RECT { 0, 0, a.Long(4), a.Long(5) });
        if (m_self == 0) {
            m_audio->m_activeWindow = kMotionWindowId;
            clipTo(m_motion);
        }
        if (m_motion.IsViewReady()) {
            m_motion.OpenStream(a.Text(1).c_str(), m_login);
        } else {
            ui::PostMessage(m_hWnd, kMsgViewCannotOpen, 0, 0);
            m_motion.m_registered = false;
        }
        return none();
    });
    m.Method("PlaybackOpen", 17, { P::Text }, [this](const DispArgs& a) {
        if (a.Text(0).empty())
            return none();
        if (m_playback.IsViewReady()) {
            m_playback.OpenStream(a.Text(0).c_str(), m_login);
        } else {
            ui::PostMessage(m_hWnd, kMsgViewCannotOpen, 0, 0);
            m_playback.m_registered = false;
        }
        return none();
    });
    m.Method("GetLiveCfg", 18, {}, [road](const DispArgs&) {
        road(kCommandLiveConfig, 0, 0);
        return none();
    });
    m.Method("test", 19, {}, [](const DispArgs&) -> DispResult { return std::string(kVersion); });
    m.Method("FullScreen", 20, {}, [this, viewMode](const DispArgs&) {
        if (!m_live.GetHub())
            return none();
        if (viewMode() == kLiveWindowId)
            m_live.ToggleFullScreen();
        else if (viewMode() == kPlaybackWindowId)
            m_playback.ToggleFullScreen();
        return none();
    });
    m.Method("PlaybackClose", 21, {}, [this](const DispArgs&) {
        if (m_self == 0)
            m_playback.CloseStream();
        return none();
    });
    m.Method("PlaybackSeek", 22, { P::Long }, [this](const DispArgs& a) {
        if (KzHandle channel = m_playback.GetChannel())
            kz_seek_record(channel, static_cast<double>(a.Long(0)));
        return none();
    });
    m.Method("PlaybackPause", 23, {}, [this](const DispArgs&) {
        m_playback.Pause();
        return none();
    });
    m.Method("PlaybackResume", 24, {}, [this](const DispArgs&) {
        m_playback.Resume();
        return none();
    });
    m.Property(
        "Areas", 25, [this](const DispArgs&) -> DispResult { return m_shelter.AreasString(); },
        [this](const std::string& text) {
            int v[17];
            for (int& x : v)
                x = kAreasMissing;
            std::sscanf(text.c_str(), kAreasFormat, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15], &v[16]);
            std::array<RECT, CShelter::kSlots> rects {};
            for (int i = 0; i < CShelter::kSlots; ++i)
                rects[static_cast<std::size_t>(i)] = RECT { v[1 + 4 * i], v[2 + 4 * i], v[3 + 4 * i], v[4 + 4 * i] };
            m_shelter.LoadAreas(rects);
            SetModifiedFlag();
        });
    m.Property(
        "MotionAreas", 26, [this](const DispArgs&) -> DispResult { return m_motion.MaskString(); },
        [this](const std::string& text) {
            m_motion.LoadMasks(text);
            SetModifiedFlag();
        });
    m.Method("GetDevIPandPort", 27, { P::Long }, [this](const DispArgs& a) {
        searchOneDevice(a.Long(0));
        return none();
    });
    m.Method("SetLauguage", 28, { P::Long }, [this](const DispArgs& a) {
        m_audio->m_language = a.Long(0) * 100;
        return none();
    });
    m.Method("LoginSuc", 29, {}, [this](const DispArgs&) {
        LoginSuc();
        return none();
    });
    m.Method("SearchDev", 30, { P::Long }, [this](const DispArgs& a) {
        searchDevices(a.Long(0));
        return none();
    });
    m.Method("RegMy", 31, { P::Text, P::Long, P::Long, P::Text, P::Text, P::Text, P::Long, P::Long, P::Long }, [this](const DispArgs& a) {
        RegMy(a.Text(0), a.Long(1), a.Long(2), a.Text(3), a.Text(4), a.Text(5), a.Long(6), a.Long(7), a.Long(8));
        return none();
    });
    m.Method("UNRegMy", 32, {}, [this](const DispArgs&) {
        UNRegMy();
        return none();
    });
    m.Method("KillFocus", 33, {}, [this](const DispArgs&) {
        deactivate();
        return none();
    });
    m.Property(
        "RecordPath", 34, [](const DispArgs&) -> DispResult { return ReadRecordFolder(); },
        [this](const std::string& path) {
            SettingResult r = WriteRecordFolder(path);
            if (r == SettingResult::Unchanged)
                return;
            if (r == SettingResult::Failed)
                ui::PostMessage(m_hWnd, kMsgRecordPathFailed, 0, 0);
            SetModifiedFlag();
        });
    m.Property(
        "ManualRecordPath", 35, [](const DispArgs&) -> DispResult { return ui::ChooseFolder(); },
        [this](const std::string&) { SetModifiedFlag(); });
    m.Property(
        "LocalAlarmRecordTime", 36, [](const DispArgs&) -> DispResult { return ReadAlarmRecordTimeText(); },
        [this](const std::string& text) {
            SettingResult r = WriteAlarmRecordTime(text);
            ui::PostMessage(m_hWnd, kMsgAlarmRecordTime, r == SettingResult::Stored ? 1 : 0, 0);
            SetModifiedFlag();
        });
    m.Method("SDManage", 37, { P::Text }, [this](const DispArgs&) {
        char url[256];
        std::snprintf(url, sizeof url, "ftp://%s:%s", m_login->ip, kStoragePort);
        sys::StartProcess({ kFileManager, url });
        return none();
    });
    m.Method("UpdateFirstChannelUserRight", 38, { P::Long }, [this](const DispArgs& a) {
        m_userRight = a.Long(0);
        return none();
    });
    m.Method("SetCheckedOut", 39, { P::Long }, [this](const DispArgs& a) {
        m_motion.SetInvertedSelection(a.Long(0) != 0);
        return none();
    });
    m.Method("GetCGIResult", 40, { P::Text, P::Long }, [this](const DispArgs& a) -> DispResult {
        std::string result;
        if (!m_login->ip[0])
            return result;
        sys::Locker lock(m_httpLock);
        const char* text = cgiRequest(m_login->ip, m_login->username, m_webPort, m_login->passwd, a.Text(0).c_str(), a.Long(1));
        if (!text)
            return result;
        char element[kCgiResultLimit + 1];
        if (devlink::ExtractCgiResult(text, element, sizeof element) == devlink::CgiExtract::Found)
            result = element;
        return result;
    });
    m.Method("SendCgiToPlugin", 41, { P::Text, P::Long, P::Long }, [this](const DispArgs& a) {
        if (!m_road)
            return none();
        kz_post_ctrl_road_msg(m_road, kCommandCgi, a.Long(2), reinterpret_cast<std::intptr_t>(a.Text(0).c_str()));
        ui::SetTimer(m_hWnd, kCgiTimer, static_cast<UINT>(a.Long(1)));
        m_cgiPending = 1;
        return none();
    });
    m.Method("SetHttpsFlg", 42, { P::Long }, [this](const DispArgs& a) {
        LONG type = a.Long(0);
        if (type != 0 && type != 1)
            return none();
        m_httpsFlag = static_cast<std::uint8_t>(type);
        for (CPlayBase* player : { static_cast<CPlayBase*>(&m_live), static_cast<CPlayBase*>(&m_playback), static_cast<CPlayBase*>(&m_motion), static_cast<CPlayBase*>(&m_shelter) })
            player->m_secureTransport = type == 1;
        return none();
    });
    m.Method("GetUpdataFilePath", 43, {}, [this, road](const DispArgs&) -> DispResult {
        std::memset(m_updatePath, 0, sizeof m_updatePath);
        std::string chosen = ui::ChooseOpenFile();
        if (chosen.empty())
            return std::string();
        devlink::CopyText(m_updatePath, sizeof m_updatePath, chosen);
        road(kCommandUpdateFile, reinterpret_cast<std::intptr_t>(m_updatePath), 0);
        return std::string(m_updatePath);
    });
    m.Method("OpenLocalRecordFolder", 44, { P::Text }, [](const DispArgs& a) {
        sys::StartProcess({ kFileManager, a.Text(0) });
        return none();
    });
    m.Method("AboutBox", DISPID_ABOUTBOX, {}, [](const DispArgs&) {
        ui::ShowMessageBox({ "关于 Tiravex Control", "Tiravex Control 1.0 版", "确定" });
        return none();
    });
}

}

// The device link's typed events, on the page's thread: what each keeps of
// the camera's state, and the page event it makes.

#include "control/TiravexCtrl.h"

#include "control/EventCodes.h"
#include "control/Settings.h"

#include "audio/AlarmSound.h"

#include "resources/StringTable.h"

#include "com/CodePage.h"

#include <algorithm>

namespace control {

namespace {

// Snapshot windows are made over this rectangle, then placed at its corner
// with its right and bottom as their width and height.
constexpr RECT kSnapshotRect { 150, 30, 1200, 800 };
constexpr DWORD kSnapshotFrameStyle = WS_CAPTION | WS_SYSMENU;
// The titles are 8-bit texts in code page 936.
constexpr UINT kSnapshotTitleCodePage = 936;
constexpr const char16_t* kSnapshotTitleSimplified = u"显示抓拍";
constexpr const char16_t* kSnapshotTitleTraditional = u"顯示抓拍";
constexpr const char16_t* kSnapshotTitleEnglish = u"Snap Display";

std::string snapshotTitle(int language)
{
    const char16_t* title = language == resources::kLanguageSimplifiedChinese ? kSnapshotTitleSimplified
        : language == resources::kLanguageTraditionalChinese                 ? kSnapshotTitleTraditional
                                                                               : kSnapshotTitleEnglish;
    return com::WideToMultiByte(title, kSnapshotTitleCodePage);
}

}

// One handler per event type.
struct LinkEventVisitor {
    CTiravexCtrl& c;

    void operator()(const devlink::DeviceKindReport& r) const
    {
        if (c.m_self == 0)
            return; // the main view is started by the page's LoginSuc
        c.m_link.SetLoginStatus(r.status);
        c.m_link.SetDeviceKind(r.deviceKind);
        c.postLoginStartup();
        if (r.status == kz::kLoginOk && c.m_link.HasRoad())
            c.event(kEventSecondaryLoggedIn, { c.m_self, std::int32_t { r.status } }, Delivery::Always);
    }
    void operator()(const devlink::TalkMode& r) const
    {
        if (r.value == kz::kTalkMode201)
            c.event(kEventTalkMode1, {}, Delivery::IfActive);
        else if (r.value == kz::kTalkMode202)
            c.event(kEventTalkMode2, {}, Delivery::IfActive);
    }
    void operator()(const devlink::AlarmFlag& r) const { c.m_live.m_alarmFlag = r.on; }
    void operator()(const devlink::ReplyFormat&) const { }
    void operator()(const devlink::DeviceInfoReply& r) const { c.onDeviceInfoReply(r); }
    void operator()(const devlink::LiveConfig& r) const { c.m_live.SetStreamInfo(r.info.data(), r.size); }
    void operator()(const devlink::VideoLoss& r) const
    {
        if (r.value == 1 && c.m_link.LoginStatus() == kz::kLoginOk)
            c.event(kEventVideoLoss, { r.value }, Delivery::IfActive);
    }
    void operator()(const devlink::LoginReply& r) const
    {
        c.reportLoginReply(r.reply.data(), true);
        if (c.m_self != 0 && r.Status() == kz::kLoginOk) {
            c.postLoginStartup();
            c.event(kEventSecondaryLoggedIn, { c.m_self, r.Status() }, Delivery::Always);
        }
    }
    void operator()(const devlink::ByteReport& r) const
    {
        DeviceReports& s = c.m_reports;
        std::int32_t b0 = r.b0;
        switch (r.type) {
        case kz::kMsgAlarmState:
            s.alarmState = r.b0;
            c.m_live.m_alarmFlag = r.b0 != 0;
            break;
        case kz::kMsgSettings151:
            s.settings.b151 = r.b0;
            s.settingsReceived = true;
            break;
        case kz::kMsgSettings153:
            s.settings.b153 = r.b0;
            s.settingsReceived = true;
            break;
        case kz::kMsgSettings154:
            s.settings.b154 = r.b0;
            s.settingsReceived = true;
            break;
        case kz::kMsgSettings155:
            s.settings.b155 = r.b0;
            s.settingsReceived = true;
            break;
        case kz::kMsgReport159:
            c.event(r.type, { b0, c.m_self }, Delivery::Always);
            return;
        default: break;
        }
        c.event(r.type, { b0 }, Delivery::IfActive);
    }
    void operator()(const devlink::BytePairReport& r) const
    {
        DeviceReports& s = c.m_reports;
        std::int32_t b0 = r.b0, b1 = r.b1;
        switch (r.type) {
        case kz::kMsgReport103:
            s.b103[0] = r.b0;
            s.b103[1] = r.b1;
            break;
        case kz::kMsgReport105:
            s.b105First = s.b105Second = r.b0;
            s.b105b1 = r.b1;
            break;
        case kz::kMsgReport108:
            s.b108[0] = r.b0;
            s.b108[1] = r.b1;
            c.event(r.type, { b1, b0 }, Delivery::IfActive);
            return;
        case kz::kMsgSettings157:
            s.settings.b157[0] = r.b0;
            s.settings.b157[1] = r.b1;
            s.settingsReceived = true;
            break;
        default: break;
        }
        c.event(r.type, { b0, b1 }, Delivery::IfActive);
    }
    void operator()(const devlink::ValueReport& r) const
    {
        DeviceReports& s = c.m_reports;
        auto low = static_cast<std::uint8_t>(r.value);
        switch (r.type) {
        case kz::kMsgReport112: s.b112 = low; break;
        case kz::kMsgMainStreamByte0: s.b109[0] = low; break;
        case kz::kMsgMainStreamByte1: s.b109[1] = low; break;
        case kz::kMsgSettings158:
            s.settings.b158 = low;
            s.settingsReceived = true;
            break;
        case kz::kMsgReport162:
            c.event(r.type, { r.value, c.m_self }, Delivery::IfActive);
            return;
        case kz::kMsgNotice602:
        case kz::kMsgNotice604:
        case kz::kMsgNotice605:
            c.event(r.type, { r.value }, Delivery::Always);
            return;
        default: break;
        }
        c.event(r.type, { r.value }, Delivery::IfActive);
    }
    void operator()(const devlink::NamesReport& r) const
    {
        DeviceReports& s = c.m_reports;
        std::vector<PageArg> args { std::int32_t { r.b0 } };
        for (const std::string& name : r.names)
            args.emplace_back(name);
        args.emplace_back(r.last);
        if (r.type == kz::kMsgChannelNames) {
            s.b106 = r.b0;
            std::copy(r.names.begin(), r.names.begin() + static_cast<std::ptrdiff_t>(std::min(r.names.size(), s.texts106.size())), s.texts106.begin());
        } else {
            s.b107 = r.b0;
            std::copy(r.names.begin(), r.names.begin() + static_cast<std::ptrdiff_t>(std::min(r.names.size(), s.texts107.size())), s.texts107.begin());
            s.last107 = r.last;
        }
        c.event(r.type, std::move(args), Delivery::IfActive);
    }
    void operator()(const devlink::StreamValues& r) const
    {
        DeviceReports& s = c.m_reports;
        s.b109[0] = r.b0;
        s.b109[1] = r.b1;
        // The main stream's values are kept for stream type 0, the sub stream's otherwise.
        bool mainStream = c.m_link.Record().streamType == kz::kAudioPcm;
        if ((r.type == kz::kMsgMainStream) == mainStream)
            s.values109 = r.values;
        std::vector<PageArg> args { std::int32_t { r.b0 }, std::int32_t { r.b1 } };
        for (std::int32_t v : r.values)
            args.emplace_back(v);
        c.event(r.type, std::move(args), Delivery::IfActive);
    }
    void operator()(const devlink::Report110& r) const
    {
        std::copy(r.bytes.begin(), r.bytes.begin() + sizeof c.m_reports.b110, c.m_reports.b110);
        std::vector<PageArg> args;
        for (std::uint8_t b : r.bytes)
            args.emplace_back(std::int32_t { b });
        c.event(kz::kMsgReport110, std::move(args), Delivery::IfActive);
    }
    void operator()(const devlink::Alarm& r) const { c.onAlarm(r); }
    void operator()(const devlink::CgiReply& r) const
    {
        if (c.m_cgiPending) {
            ui::KillTimer(c.m_hWnd, kCgiTimer);
            c.m_cgiPending = 0;
        }
        c.cgiToPage(r.text, r.length);
    }
    void operator()(const devlink::Snapshot& r) const { c.showSnapshot(r.picture); }
    void operator()(const devlink::SettingsText& r) const { c.event(kz::kMsgSettingsText, { std::int32_t { r.b0 }, r.text }, Delivery::IfActive); }
    void operator()(const devlink::Settings156& r) const
    {
        DeviceReports& s = c.m_reports;
        s.settings.b156[0] = r.b0;
        s.settings.b156[1] = r.b1;
        s.settings.texts156 = r.texts;
        s.settingsReceived = true;
        std::vector<PageArg> args { std::int32_t { r.b0 }, std::int32_t { r.b1 } };
        for (const std::string& text : r.texts)
            args.emplace_back(text);
        c.event(kz::kMsgSettings156, std::move(args), Delivery::IfActive);
    }
    void operator()(const devlink::DeviceRecord& r) const
    {
        c.m_reports.deviceRecord = r.record;
        c.m_live.m_streamMode = r.record[kz::kStreamModeAt];
    }
    void operator()(const devlink::AlarmSound& r) const
    {
        if (r.Sounds())
            audio::PlayAlarmSound();
    }
    void operator()(const devlink::DeviceText& r) const
    {
        c.m_reports.text303 = r.text;
        c.event(kz::kMsgDeviceText, { r.text }, Delivery::IfActive);
    }
    void operator()(const devlink::RoadOpened& r) const
    {
        for (CPlayBase* player : c.players())
            player->SetOpenParam(r.kind);
    }
    void operator()(const devlink::DeviceFound& r) const { c.event(kEventDeviceFound, { r.address, r.port }, Delivery::Always); }
    void operator()(const devlink::SearchAnswer& r) const { c.event(kEventSearchAnswer, { r.name, r.address, r.port, r.value }, Delivery::Always); }
    void operator()(const devlink::PtzDirection& r) const { c.event(kEventPtzDirection, { std::int32_t { r.index } }, Delivery::IfActive); }
    void operator()(const devlink::HttpsPort& r) const { c.event(kEventHttpsPort, { r.self, r.port }, Delivery::Always); }
};

void CTiravexCtrl::OnLinkEvent(const devlink::LinkEvent& event)
{
    std::visit(LinkEventVisitor { *this }, event);
}

void CTiravexCtrl::onDeviceInfoReply(const devlink::DeviceInfoReply& reply)
{
    if (m_cgiPending) {
        ui::KillTimer(m_hWnd, kCgiTimer);
        m_cgiPending = 0;
    }
    if (m_audio->ActiveWindow() != kLiveWindowId) {
        // A configuration page: the reply goes to the page.
        if (m_self != 0 && reply.text.find(kCgiSuccessMarker) == std::string::npos)
            return;
        cgiToPage(reply.text, reply.length);
        return;
    }
    switch (reply.type) {
    case kz::kMsgDevInfo:
        m_live.ptzCapable = m_link.TakeDevInfo(reply.text) ? 1 : 0;
        return;
    case kz::kMsgProductInfo: {
        auto facts = m_link.TakeProductInfo(reply.text, devlink::Rs485Default::Zero);
        if (!facts)
            return;
        if (m_self == 0) {
            m_motion.SetGridSize(facts->rows, facts->cols);
            event(kEventProductInfo, { std::string(m_link.ProductInfo()) }, Delivery::Always);
        }
        applyPtzFlags(facts->pt, facts->rs);
        return;
    }
    case kz::kMsgPortInfo:
        if (auto port = devlink::DeviceLink::HttpsPortOf(reply.text))
            m_link.ReportHttpsPort(m_self, *port);
        return;
    default:
        return;
    }
}

void CTiravexCtrl::onAlarm(const devlink::Alarm& alarm)
{
    const auto& b = alarm.bytes;
    bool idle = !m_live.m_alarmRecording && !m_live.m_recordingArmed;
    if (!alarm.longForm) {
        if (m_audio->ActiveWindow() != kLiveWindowId)
            return; // the short form counts in live mode only
        if (idle) {
            m_live.m_alarmRecording = true;
            m_live.m_alarmKind = b[kz::kAlarmKindAt];
        }
        event(kEventAlarm, { 0, std::int32_t { b[0] }, std::int32_t { b[1] }, m_self, ReadAlarmRecordTime() }, Delivery::Always);
        return;
    }
    if (b[kz::kAlarmOnAt] == 0)
        return;
    if (idle)
        m_live.m_alarmRecording = true;
    m_live.m_alarmKind = b[kz::kAlarmKindAt];
    event(kEventAlarm, { 1, m_self, std::int32_t { b[2] }, std::int32_t { b[3] }, std::int32_t { b[0] }, std::int32_t { b[1] } }, Delivery::Always);
}

void CTiravexCtrl::showSnapshot(const std::vector<std::uint8_t>& picture)
{
    auto free = std::find_if(m_snapshots.begin(), m_snapshots.end(), [](const CPicShowWnd& w) { return !ui::IsWindow(w.GetHwnd()); });
    if (free == m_snapshots.end())
        return;
    int language = m_audio->Language();
    free->SetPicture(picture.size(), picture.data(), language);
    HWND window = free->Create(m_hWnd, snapshotTitle(language), kSnapshotRect);
    if (!window)
        return;
    ui::SetWindowLongPtr(window, GWL_STYLE, ui::GetWindowLongPtr(window, GWL_STYLE) | kSnapshotFrameStyle);
    ui::SetWindowPos(window, nullptr, kSnapshotRect.left, kSnapshotRect.top, kSnapshotRect.right, kSnapshotRect.bottom, SWP_SHOWWINDOW);
    ui::InvalidateRect(window, nullptr, TRUE);
    ++m_snapshotCount;
}

}

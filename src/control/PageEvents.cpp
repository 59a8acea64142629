// Page events: the one way reports reach the page, the login-reply report
// with its 70 or 133 arguments, the settings report, and activation of an
// instance with the reports it makes.

#include "control/TiravexCtrl.h"

#include "control/EventCodes.h"

#include "link/Bytes.h"

#include <cstring>

namespace control {

namespace {

using devlink::FieldText;
using devlink::ReadI32;

std::string replyText(const std::uint8_t* reply, std::size_t offset) { return FieldText(reply, offset, kz::kTextField); }

}

void CTiravexCtrl::event(int code, std::vector<PageArg> arguments, Delivery delivery)
{
    arguments.insert(arguments.begin(), PageArg(std::int32_t { code }));
    if (delivery == Delivery::Forced) {
        std::uint8_t before = m_active;
        m_active = 1;
        callPage(kPluginCallBack, arguments, true);
        if (!before)
            m_active = 0;
        return;
    }
    callPage(kPluginCallBack, arguments, delivery == Delivery::IfActive);
}

void CTiravexCtrl::cgiToPage(const std::string& text, std::int32_t length)
{
    callPage(kPluginCallBackCGI, { text, length }, false);
}

std::vector<PageArg> CTiravexCtrl::loginReplyArgs(const std::uint8_t* r, bool withEntries) const
{
    using namespace kz;
    std::vector<PageArg> a;
    a.emplace_back(ReadI32(r, kReplyStatusAt));
    a.emplace_back(std::int32_t { m_live.m_recordingArmed ? 1 : 0 });
    for (std::size_t k = 0; k < kReplyByteCount; ++k)
        a.emplace_back(std::int32_t { r[kReplyBytesAt + k] });
    for (std::size_t k = 0; k < kReplyChannelTextCount; ++k)
        a.emplace_back(replyText(r, kReplyChannelTextsAt + kTextField * k));
    a.emplace_back(replyText(r, kReplyUserTextAt));
    a.emplace_back(std::int32_t { r[kReplyByte553At] });
    for (std::size_t k = 0; k < kReplyInputTextCount; ++k)
        a.emplace_back(replyText(r, kReplyInputTextsAt + kTextField * k));
    a.emplace_back(replyText(r, kReplyText810At));
    a.emplace_back(std::int32_t { r[kReplyByte842At] });
    a.emplace_back(std::int32_t { r[kReplyByte843At] });
    for (std::size_t k = 0; k < kReplyValueCount; ++k)
        a.emplace_back(ReadI32(r, kReplyValuesAt + sizeof(std::int32_t) * k));
    for (std::size_t k = 0; k < kReplyFlagCount; ++k)
        a.emplace_back(std::int32_t { r[kReplyFlagsAt + k] });
    a.emplace_back(ReadI32(r, kReplyWebPortAt));
    a.emplace_back(ReadI32(r, kReplyHttpsPortAt));
    a.emplace_back(std::int32_t { static_cast<std::int16_t>(devlink::ReadU16(r, kReplyDeviceKindAt)) });
    a.emplace_back(std::int32_t { m_active });
    if (withEntries) {
        for (std::size_t e = 0; e < kReplyEntryCount; ++e) {
            std::size_t base = kReplyEntriesAt + kReplyEntryBytes * e;
            a.emplace_back(replyText(r, base + kEntryUserAt));
            a.emplace_back(ReadI32(r, base + kEntryRightAt));
            a.emplace_back(ReadI32(r, base + kEntryStateAt));
            a.emplace_back(replyText(r, base + kEntryText1At));
            a.emplace_back(replyText(r, base + kEntryText2At));
            a.emplace_back(replyText(r, base + kEntryText3At));
            a.emplace_back(ReadI32(r, base + kEntryNumberAt));
        }
    }
    return a;
}

void CTiravexCtrl::reportLoginReply(const std::uint8_t* reply, bool withEntries)
{
    // The link has stored the reply (and its device identifier and name).
    std::int32_t status = ReadI32(reply, kz::kReplyStatusAt);
    // A refused login clears the live window's connected flag, which makes
    // it say "connect fail"; a successful one sets it again.
    if (status != kz::kLoginOk) {
        m_live.m_connected = false;
        paintLiveArea();
    } else {
        m_live.m_connected = true;
        m_live.m_replyFlag = reply[kz::kReplyFlagAt] != 0;
    }
    event(kEventLoginReply, loginReplyArgs(reply, withEntries), Delivery::IfActive);
    if (status == kz::kLoginOk && m_reports.settingsReceived)
        reportSettings();
}

void CTiravexCtrl::reportSettings()
{
    const DeviceReports::Settings& s = m_reports.settings;
    event(kEventSettings,
        { std::int32_t { s.b151 }, std::int32_t { s.b153 }, std::int32_t { s.b155 }, std::int32_t { s.b157[0] }, std::int32_t { s.b157[1] },
            std::int32_t { s.b154 }, std::int32_t { s.b158 }, std::int32_t { s.b156[0] }, std::int32_t { s.b156[1] }, s.texts156[0],
            s.texts156[1], s.texts156[2], s.texts156[3] },
        Delivery::IfActive);
}

void CTiravexCtrl::reportAfterLogin()
{
    if (!m_postLoginDone)
        return;
    if (m_link.DeviceKind() < kz::kFirstRoadDeviceKind)
        reportLoginReply(m_link.StoredReply(), false);
    else
        event(kEventRecordingState, { std::int32_t { m_live.m_recordingArmed ? 1 : 0 } }, Delivery::IfActive);
}

void CTiravexCtrl::activate()
{
    if (m_active)
        return;
    m_active = 1;
    if (HDC dc = gfx::GetDC(m_hWnd)) {
        paintFrame(dc);
        gfx::ReleaseDC(m_hWnd, dc);
    }
    if (m_live.m_silence >= kSilenceForBlack)
        paintLiveArea();
    const LoginInfo& login = m_link.Record();
    event(kEventViewActivated,
        { m_self, std::string(login.ip), m_link.WebPort(), std::string(login.username), std::string(login.passwd), m_link.ReplyDeviceName(),
            std::int32_t { m_link.DeviceKind() }, std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 }, std::int32_t { m_live.m_audioOn ? 1 : 0 },
            std::string(m_link.ModelName()), std::string(m_link.ProductInfo()), std::int32_t { m_link.ReplyFormat() } },
        Delivery::IfActive);
    reportAfterLogin();
}

void CTiravexCtrl::deactivate()
{
    m_active = 0;
    if (HDC dc = gfx::GetDC(m_hWnd)) {
        paintFrame(dc);
        gfx::ReleaseDC(m_hWnd, dc);
    }
}

void CTiravexCtrl::reportState()
{
    if (!m_link.ProductInfo()[0])
        return;
    const LoginInfo& login = m_link.Record();
    event(kEventState,
        { m_self, m_link.ReplyDeviceName(), std::int32_t { m_link.DeviceKind() }, std::int32_t { m_live.m_talkCaptureOn ? 1 : 0 },
            std::int32_t { m_live.m_audioOn ? 1 : 0 }, std::string(m_link.ModelName()), std::string(login.ip), m_link.WebPort(),
            std::string(login.username), std::string(login.passwd), std::string(m_link.ProductInfo()) },
        Delivery::IfActive);
    reportAfterLogin();
}

}

// A standard camera's alarms and motion cells in the library: the event
// watch against the simulated camera of the standards (each alarm kind
// reported once however many topics carry it, the alarm state on with the
// first and off with the last, a short subscription kept alive by renewal,
// ended on the way out), the reading of notification messages other
// cameras send, and the mapping of ActiveCells onto the editor's grid.

#include "kznet/OnvifAnalytics.h"
#include "kznet/OnvifEvents.h"
#include "kznet/Protocol.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

using namespace kz;
using namespace kz::onvif;

namespace {

constexpr int kWaitMs = 8000;

struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, std::vector<std::uint8_t>>> list;

    void Add(int type, const std::uint8_t* data, std::size_t n)
    {
        std::lock_guard lock(mutex);
        list.emplace_back(type, std::vector<std::uint8_t>(data, data + n));
        changed.notify_all();
    }
    // The reports once there are `count` of them (fewer after the wait).
    std::vector<std::pair<int, std::vector<std::uint8_t>>> Take(std::size_t count)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] { return list.size() >= count; });
        return std::exchange(list, {});
    }
};

std::size_t logged(const sim::Camera& camera, const std::string& entry)
{
    auto log = camera.OnvifLog();
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), entry));
}

using ReportList = std::vector<std::pair<int, std::vector<std::uint8_t>>>;
const std::vector<std::uint8_t> kSound = { 0, 0, 1, 0, 0 };

}

TEST(OnvifEvents, EachAlarmKindIsReportedOnceTheStateFollowsTheLastAlarmAndAShortSubscriptionIsRenewed)
{
    sim::CameraConfig config;
    config.dialect = sim::Dialect::Standards;
    config.accounts = { { "admin", "pw" } };
    config.clockOffsetSeconds = 3 * 3600; // the subscription's times are the camera's
    config.eventSubscriptionSeconds = 2;
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    auto session = std::make_shared<Session>("127.0.0.1", camera->WebPort(), "admin", "pw");
    auto deadline = Clock::now() + std::chrono::seconds(10);
    ASSERT_TRUE(session->Probe(deadline, nullptr));
    ASSERT_EQ(session->LogIn(camera->Port(), deadline, nullptr), kLoginOk);

    Reports reports;
    auto watch = EventWatch::Start(session, [&](int type, const std::uint8_t* data, std::size_t n) { reports.Add(type, data, n); });
    ASSERT_TRUE(watch);
    ASSERT_TRUE(camera->WaitUntil([&] { return logged(*camera, "CreatePullPointSubscription") == 1; }, kWaitMs));

    // Motion comes on two topics, one alarm; then sound while it lasts.
    camera->Alarm(kAlarmKindMotion);
    EXPECT_EQ(reports.Take(3), (ReportList { { kMsgAlarm, { 0, 0, 1, 0 } }, { kMsgAlarmSound, kSound }, { kMsgAlarmState, { 1 } } }));
    camera->Alarm(kAlarmKindSound);
    EXPECT_EQ(reports.Take(2), (ReportList { { kMsgAlarm, { 0, 1, 1, 0 } }, { kMsgAlarmSound, kSound } }));
    camera->EndAlarm(kAlarmKindMotion);
    camera->EndAlarm(kAlarmKindSound);
    EXPECT_EQ(reports.Take(1), (ReportList { { kMsgAlarmState, { 0 } } })) << "the state ends with the last alarm, once";

    // The two-second subscription lives on by renewal, past its first end.
    ASSERT_TRUE(camera->WaitUntil([&] { return logged(*camera, "Renew") >= 3; }, kWaitMs));
    camera->Alarm(kAlarmKindInput);
    EXPECT_EQ(reports.Take(3), (ReportList { { kMsgAlarm, { 0, 2, 1, 0 } }, { kMsgAlarmSound, kSound }, { kMsgAlarmState, { 1 } } }));
    EXPECT_EQ(logged(*camera, "CreatePullPointSubscription"), 1u);

    watch.reset();
    EXPECT_TRUE(camera->WaitUntil([&] { return logged(*camera, "Unsubscribe") == 1; }, kWaitMs));
}

TEST(OnvifEvents, OtherCamerasMessagesAreReadByTopicAndStateAndEverythingElseIsDropped)
{
    const std::string answer = R"(<?xml version="1.0"?>
<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope" xmlns:ev="http://www.onvif.org/ver10/events/wsdl"
 xmlns:n="http://docs.oasis-open.org/wsn/b-2" xmlns:s="http://www.onvif.org/ver10/schema"><e:Body><ev:PullMessagesResponse>
<ev:CurrentTime>2026-12-09T17:30:05.25+01:00</ev:CurrentTime><ev:TerminationTime>2026-12-09T16:31:05Z</ev:TerminationTime>
<n:NotificationMessage><n:Topic>top:Device/Trigger/DigitalInput</n:Topic><n:Message><s:Message PropertyOperation="Changed">
 <s:Source><s:SimpleItem Name="InputToken" Value="in 2"/></s:Source><s:Data><s:SimpleItem Name="LogicalState" Value="1"/></s:Data></s:Message></n:Message></n:NotificationMessage>
<n:NotificationMessage><n:Topic>tns1:VideoSource/ImageTooDark</n:Topic><n:Message><s:Message>
 <s:Data><s:SimpleItem Name="State" Value="true"/></s:Data></s:Message></n:Message></n:NotificationMessage>
<n:NotificationMessage><n:Topic>tns1:VideoSource/MotionAlarm</n:Topic><n:Message><s:Message>
 <s:Data><s:SimpleItem Name="State" Value="maybe"/></s:Data></s:Message></n:Message></n:NotificationMessage>
<n:NotificationMessage><n:Topic>tns1:AudioAnalytics/Audio/DetectedSound</n:Topic><n:Message><s:Message PropertyOperation="Deleted">
 </s:Message></n:Message></n:NotificationMessage>
</ev:PullMessagesResponse></e:Body></e:Envelope>)";
    PullAnswer pulled;
    ASSERT_EQ(ReadPullMessages(answer.data(), answer.size(), pulled), SoapStatus::Ok);
    EXPECT_EQ(pulled.dropped, 2u) << "an unknown topic and a state that is no boolean";
    ASSERT_EQ(pulled.notices.size(), 2u);
    EXPECT_EQ(pulled.notices[0].kind, kAlarmKindInput);
    EXPECT_EQ(pulled.notices[0].source, "InputToken=in 2;");
    EXPECT_TRUE(pulled.notices[0].active);
    EXPECT_EQ(pulled.notices[1].kind, kAlarmKindSound);
    EXPECT_FALSE(pulled.notices[1].active) << "a deleted property is off";
    EXPECT_EQ(pulled.terminationTime - pulled.currentTime, 60) << "times in other zones";

    // Two inputs are two alarms of one kind: one report, the state ends with the second.
    AlarmBoard board;
    EXPECT_EQ(board.Apply({ { kAlarmKindInput, "t", "a", true }, { kAlarmKindInput, "t", "b", true } }).size(), 3u);
    EXPECT_TRUE(board.Apply({ { kAlarmKindInput, "t", "a", false } }).empty());
    EXPECT_EQ(board.Apply({ { kAlarmKindInput, "t", "b", false } }).size(), 1u);
}

TEST(OnvifCells, ActiveCellsMapOntoTheEditorsGridAndBadCellsAreRefused)
{
    // PackBits: runs and literals back to the same bytes.
    const std::string bytes = std::string("\x00\x00\x00\x01\x02\x03\xFF\xFF", 8) + std::string(300, '\x55') + "x";
    std::string unpacked;
    ASSERT_TRUE(UnpackBits(PackBits(bytes), bytes.size(), unpacked));
    EXPECT_EQ(unpacked, bytes);

    // A 12 x 9 layout is the editor's own; 22 x 18 is shown as 16 x 18, each
    // editor column one or two of the camera's.
    for (CellLayout layout : { CellLayout { 12, 9 }, CellLayout { 22, 18 } }) {
        CellLayout editor = EditorGrid(layout);
        std::vector<std::uint16_t> masks(static_cast<std::size_t>(editor.rows));
        for (std::size_t i = 0; i < masks.size(); ++i)
            masks[i] = static_cast<std::uint16_t>((0x9A5Bu * (i + 1)) & ((1u << editor.columns) - 1));
        std::vector<std::uint16_t> back;
        ASSERT_TRUE(CellsToMasks(MasksToCells(masks, layout), layout, back)) << layout.columns;
        EXPECT_EQ(back, masks) << layout.columns;
    }
    CellLayout layout { 10, 10 };
    std::vector<std::uint16_t> masks;
    // The first cell in a byte's highest bit: 0x80 is the top left cell; the rest are off.
    ASSERT_TRUE(CellsToMasks(Base64(PackBits(std::string("\x80", 1))), layout, masks));
    EXPECT_EQ(masks, (std::vector<std::uint16_t> { 1, 0, 0, 0, 0, 0, 0, 0, 0, 0 }));
    // Not base64, a run cut short, more cells than the layout, a huge text.
    for (const std::string& bad : { std::string("*!"), Base64(std::string("\x05\x01", 2)), Base64(PackBits(std::string(14, '\xFF'))),
             std::string(1 << 20, 'A') })
        EXPECT_FALSE(CellsToMasks(bad, layout, masks)) << bad.substr(0, 16);
    EXPECT_FALSE(CellsToMasks(Base64(""), CellLayout { 100000, 100000 }, masks)) << "a layout of ten billion cells";
}

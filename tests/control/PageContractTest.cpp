// The page contract through IDispatch, against a simulated camera: login
// and registration, the control messages' filter and their events with
// exact arguments, delivery to active and inactive instances, and members
// reached by name and number.

#include "support/PageFixture.h"

#include "view/Notifications.h"

#include <cstring>

namespace {

using control::CTiravexCtrl;
using testing_support::Arg;
using testing_support::CameraPage;

class Contract : public CameraPage {
protected:
    void loginWith(CTiravexCtrl* c, LONG port, LONG webport, LONG streamType)
    {
        ASSERT_EQ(call(c, "Login", { str("127.0.0.1"), num(port), num(webport), str("admin"), str("pw"), num(streamType), num(7) }), S_OK);
        ui::PumpPending();
    }

    // A control logged in to the camera, its login's events forgotten.
    CTiravexCtrl* loggedIn(int self = 0, sim::CameraConfig config = {})
    {
        if (!camera)
            startCamera(config);
        auto* c = makeControl(self);
        EXPECT_TRUE(login(c));
        send(kz::kMsgNotice604, { 0, 0, 0, 0 }); // everything the login brought has been handled
        script.calls.clear();
        return c;
    }

    void click(CTiravexCtrl* c)
    {
        RECT live {};
        ui::GetWindowRect(c->Live().GetHwnd(), &live);
        ui::InjectMouse(ui::MouseAction::LeftDown, POINT { live.left + 20, live.top + 20 });
        ui::InjectMouse(ui::MouseAction::LeftUp, POINT { live.left + 20, live.top + 20 });
        ui::PumpPending();
    }

    // A login reply with recognisable values at the offsets the page reads.
    static std::vector<std::uint8_t> loginReply(std::int32_t status, std::int16_t kind)
    {
        std::vector<std::uint8_t> r(2219, 0);
        std::memcpy(r.data(), &status, 4);
        r[4] = 1;
        for (int o = 5; o <= 8; ++o)
            r[o] = static_cast<std::uint8_t>(o);
        for (int k = 0; k < 16; ++k)
            std::snprintf(reinterpret_cast<char*>(r.data() + 9 + 32 * k), 32, "user%d", k);
        std::strcpy(reinterpret_cast<char*>(r.data() + 934), "ABCDEF123456");
        std::strcpy(reinterpret_cast<char*>(r.data() + 1063), "Front door");
        for (int e = 0; e < 9; ++e) {
            std::int32_t first = 1000 + e;
            std::memcpy(r.data() + 955 + 140 * e, &first, 4);
        }
        std::memcpy(r.data() + 2215, &kind, 2);
        return r;
    }

    std::vector<std::vector<Arg>> eventsWithCode(int code) const
    {
        std::vector<std::vector<Arg>> out;
        for (auto& e : events())
            if (!e.empty() && e[0] == Arg(code))
                out.push_back(e);
        return out;
    }
};

TEST_F(Contract, ASecondLoginDoesNothingEvenAfterLoggingOut)
{
    auto* c = makeControl(0);
    loginWith(c, 88, 80, 1);
    const LoginInfo& login = c->Link().Record();
    EXPECT_EQ(c->Link().RoadMode(), 259);
    EXPECT_EQ(c->Live().GetOpenParam(), 3);
    EXPECT_STREQ(login.ip, "127.0.0.1");
    EXPECT_EQ(login.groupID, 7);
    EXPECT_EQ(login.webport, 80);
    EXPECT_EQ(login.port, 88);
    call(c, "UNRegMy", {});
    EXPECT_EQ(login.ip[0], 0);
    ASSERT_EQ(call(c, "Login", { str("10.9.9.9"), num(1), num(2), str("x"), str("y"), num(1), num(1) }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(login.ip[0], 0) << "a second Login changed the login record";
}

TEST_F(Contract, EqualPortsOrStreamTypeZeroOpenTheWebRoad)
{
    struct Case {
        LONG port, webport, streamType;
        int mode, kind;
    };
    const Case cases[] = { { 80, 80, 1, 260, 4 }, { 88, 80, 0, 260, 4 }, { 88, 80, 2, 259, 3 } };
    for (const auto& t : cases) {
        auto* c = makeControl(0);
        loginWith(c, t.port, t.webport, t.streamType);
        EXPECT_EQ(c->Link().RoadMode(), t.mode) << t.port << "/" << t.webport << "/" << t.streamType;
        EXPECT_EQ(c->Live().GetOpenParam(), t.kind);
        EXPECT_EQ(c->Shelter().GetOpenParam(), t.kind);
    }
}

TEST_F(Contract, RegistrationWithDeviceTypeZeroForcesStreamTwoAndTheRegisterRoad)
{
    auto* c = makeControl(0);
    // RegMy takes the web port second and the media port third.
    ASSERT_EQ(call(c, "RegMy", { str("127.0.0.1"), num(80), num(88), str("admin"), str("pw"), str("cam"), num(0), num(3), num(0) }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(c->Link().Record().streamType, 2);
    EXPECT_EQ(c->Hub().TalkCoding(), 2);
    EXPECT_EQ(c->Link().RoadMode(), 257);
    EXPECT_EQ(c->Live().GetOpenParam(), 1);
    EXPECT_EQ(c->Link().Record().webport, 80);
    EXPECT_EQ(c->Link().Record().port, 88);
    EXPECT_TRUE(c->Live().m_registered);
    EXPECT_EQ(c->Link().DeviceType(), 0);
}

TEST_F(Contract, PageTextsAreCutToTheirFields)
{
    auto* c = makeControl(0);
    std::string longIp(300, '1'), longUser(50, 'u');
    ASSERT_EQ(call(c, "Login", { str(longIp.c_str()), num(1), num(2), str(longUser.c_str()), str(longUser.c_str()), num(1), num(1) }), S_OK);
    const LoginInfo& login = c->Link().Record();
    EXPECT_EQ(std::strlen(login.ip), 127u);
    EXPECT_EQ(std::strlen(login.username), 20u);
    EXPECT_EQ(std::strlen(login.passwd), 20u);
    EXPECT_EQ(login.port, 1) << "the address overran into the port";
}

TEST_F(Contract, AMessageOfTheWrongLengthNeverReachesThePage)
{
    auto* c = loggedIn();
    send(111, { 1, 2, 3 });
    send(102, { 1, 0 });
    EXPECT_TRUE(events().empty());
    send(12, { 1 });
    send(111, { 5, 6, 7, 8 });
    EXPECT_TRUE(events().empty()) << "after type 12 only 16-byte alarms pass";
    std::vector<std::uint8_t> alarm16(16, 0);
    alarm16[0] = 5;
    alarm16[1] = 6;
    alarm16[2] = 7;
    alarm16[3] = 8;
    send(111, alarm16);
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0], (std::vector<Arg> { 111, 1, 0, 7, 8, 5, 6 }));
    EXPECT_EQ(c->Link().ReplyFormat(), 1);
}

TEST_F(Contract, TheLoginReplyGives133ArgumentsThenSeventyWhenReported)
{
    auto* c = loggedIn();
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    script.calls.clear();
    send(100, loginReply(0, 50));
    ASSERT_EQ(events().size(), 1u);
    auto e = events()[0];
    ASSERT_EQ(e.size(), 133u);
    EXPECT_EQ(e[0], Arg(100));
    EXPECT_EQ(e[1], Arg(0));               // status
    EXPECT_EQ(e[3], Arg(5));               // byte 5
    EXPECT_EQ(e[6], Arg(8));               // byte 8
    EXPECT_EQ(e[7], Arg(std::string("user0")));
    EXPECT_EQ(e[22], Arg(std::string("user15")));
    EXPECT_EQ(e[68], Arg(50));             // the device kind
    EXPECT_EQ(e[69], Arg(1));              // active
    EXPECT_EQ(e[76], Arg(1000));           // first entry's int32 at its base
    EXPECT_EQ(e[132], Arg(1008));
    EXPECT_EQ(c->Link().DeviceKind(), 50);
    EXPECT_STREQ(c->Link().DeviceId(), "ABCDEF123456");
    EXPECT_STREQ(c->Link().DeviceNameField(), "Front door");

    // Selected again (a click after KillFocus), a logged-in view of a
    // device kind below 100 reports the stored reply: 70 arguments.
    ASSERT_EQ(call(c, "KillFocus", {}), S_OK);
    script.calls.clear();
    click(c);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].size(), 13u);
    EXPECT_EQ(events()[0][0], Arg(209));
    EXPECT_EQ(events()[1].size(), 70u);
    EXPECT_EQ(events()[1][0], Arg(100));
}

TEST_F(Contract, SettingsReceivedBeforeTheLoginFollowItWithEvent501)
{
    auto* c = loggedIn();
    ASSERT_EQ(call(c, "KillFocus", {}), S_OK); // the settings arrive unseen
    send(151, { 1 });
    send(153, { 3 });
    send(154, { 4 });
    send(155, { 5 });
    std::vector<std::uint8_t> m156(130, 0);
    m156[0] = 60;
    m156[1] = 61;
    std::strcpy(reinterpret_cast<char*>(m156.data() + 2), "t0");
    std::strcpy(reinterpret_cast<char*>(m156.data() + 98), "t3");
    send(156, m156);
    send(157, { 70, 71 });
    send(158, { 8, 0, 0, 0 });
    EXPECT_TRUE(events().empty());
    click(c);
    script.calls.clear();
    send(100, loginReply(0, 0));
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1], (std::vector<Arg> { 501, 1, 3, 5, 70, 71, 4, 8, 60, 61, std::string("t0"), std::string(), std::string(), std::string("t3") }));
}

TEST_F(Contract, EventArgumentsFollowTheirMessages)
{
    auto* c = loggedIn();
    send(108, { 5, 7 });
    std::vector<std::uint8_t> m106(545, 0);
    m106[0] = 9;
    std::strcpy(reinterpret_cast<char*>(m106.data() + 1), "first");
    std::strcpy(reinterpret_cast<char*>(m106.data() + 513), "last");
    send(106, m106);
    std::vector<std::uint8_t> m109(82, 0);
    m109[0] = 1;
    m109[1] = 2;
    std::int32_t v = -5;
    std::memcpy(m109.data() + 2 + 4 * 19, &v, 4);
    send(109, m109);
    send(111, { 3, 4 }); // the short form, in live mode
    auto e = events();
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0], (std::vector<Arg> { 108, 7, 5 }));
    ASSERT_EQ(e[1].size(), 19u);
    EXPECT_EQ(e[1][1], Arg(9));
    EXPECT_EQ(e[1][2], Arg(std::string("first")));
    EXPECT_EQ(e[1][18], Arg(std::string("last")));
    ASSERT_EQ(e[2].size(), 23u);
    EXPECT_EQ(e[2][22], Arg(-5));
    EXPECT_EQ(e[3], (std::vector<Arg> { 111, 0, 3, 4, 0, 10 }));
    EXPECT_TRUE(c->Live().m_alarmRecording);
    EXPECT_EQ(c->Live().m_alarmKind, 4);
}

TEST_F(Contract, AnInactiveViewGetsOnlyAlwaysAndForcedEventsAndStaysInactive)
{
    auto* c = loggedIn(4);
    ASSERT_FALSE(c->IsActive());
    send(102, { 1 });                                                  // if active
    send(159, { 2 });                                                  // always
    send(16, { '<', 'h', 't', 't', 'p', 's', 'P', 'o', 'r', 't', '>', '4', '4', '3', '<' }); // always: event 220
    // The playback window's notifications are forced (posted as the window
    // posts them; the playback events that make them are not built yet).
    ui::PostMessage(c->GetSafeHwnd(), view::kNotifyPlaybackStopped, 0, 0);
    ui::PostMessage(c->GetSafeHwnd(), view::kNotifyPlaybackProgress, 0, 42);
    ui::PumpPending();
    EXPECT_EQ(events(), (std::vector<std::vector<Arg>> { { 159, 2, 4 }, { 220, 4, 443 }, { 205 }, { 203, 42 } }));
    EXPECT_FALSE(c->IsActive()) << "a forced event left the view active";
    // A forced event on an active view leaves it active.
    click(c);
    ui::PostMessage(c->GetSafeHwnd(), view::kNotifyPlaybackEnd, 0, 0);
    ui::PumpPending();
    EXPECT_TRUE(c->IsActive());
}

TEST_F(Contract, StreamStatusGivesEvent200OnlyForTheLiveWindow)
{
    auto* c = loggedIn();
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    ASSERT_EQ(call(c, "PlaybackOpen", { str("/record/clip1.avi") }), S_OK);
    ASSERT_EQ(call(c, "Open", { str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return c->Playback().DrawnFrames() > 0 && c->Live().DrawnFrames() > 0; }, 10000));
    ui::PumpPending();
    ASSERT_EQ(call(c, "Close", {}), S_OK);
    int drawn = c->Live().DrawnFrames();
    ASSERT_EQ(call(c, "Open", { str("") }), S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return c->Live().DrawnFrames() > drawn; }, 10000));
    ui::PumpPending();
    EXPECT_EQ(eventsWithCode(200), (std::vector<std::vector<Arg>> { { 200 }, { 200 } })) << "one for each opening of the live window, none for playback";
}

TEST_F(Contract, TheMainViewIgnoresType3)
{
    sim::CameraConfig oldCamera;
    oldCamera.deviceKind = 0; // sends no message 3 of its own
    auto* main = loggedIn(0, oldCamera);
    send(3, { 5, 0, 0, 2, 0, 0, 0 });
    EXPECT_EQ(main->Link().DeviceKind(), 0);
    EXPECT_FALSE(main->PostLoginDone());
    EXPECT_EQ(main->Link().LoginStatus(), 0) << "the message's status was taken";

    auto* secondary = loggedIn(2);
    send(3, { 0, 0, 0, 2, 0, 0, 0 });
    EXPECT_EQ(secondary->Link().DeviceKind(), 100);
    EXPECT_TRUE(secondary->PostLoginDone());
    EXPECT_EQ(secondary->Link().LoginStatus(), 0);
    EXPECT_EQ(eventsWithCode(210), (std::vector<std::vector<Arg>> { { 210, 2, 0 } }));
}

TEST_F(Contract, MembersAreBoundByNameNotByTypeLibraryNumber)
{
    auto* c = makeControl(0);
    // Number 13 is EnterConfigPage: it needs its flag, and gets it.
    VARIANT flag = num(1);
    DISPPARAMS params { &flag, nullptr, 1, 0 };
    ASSERT_EQ(c->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(c->Hub().ActiveWindow(), 1029);
    EXPECT_FALSE(ui::IsWindowVisible(c->Playback().GetHwnd()));
    ASSERT_EQ(call(c, "Playback", {}), S_OK);
    EXPECT_EQ(c->Hub().ActiveWindow(), 1026);
    EXPECT_TRUE(ui::IsWindowVisible(c->Playback().GetHwnd()));
    EXPECT_FALSE(ui::IsWindowVisible(c->Live().GetHwnd()));
    EXPECT_EQ(idOf(c, "Playback"), 14);
}

TEST_F(Contract, TheVersionAndTheAreasTravelAsTexts)
{
    auto* c = makeControl(0);
    EXPECT_EQ(callText(c, "test", {}), "3.1.0.9");

    // The mask editor takes the picture's size when it is entered.
    ASSERT_EQ(call(c, "EnterAreaSet", { num(0), str(""), str(""), str(""), num(640), num(480) }), S_OK);
    ASSERT_EQ(putText(c, "Areas", "<cgi_result><result>0</result><x1_0>1000</x1_0><y1_0>1000</y1_0><x2_0>9990</x2_0><y2_0>9990</y2_0></cgi_result>"), S_OK);
    EXPECT_TRUE(c->IsModified());
    EXPECT_EQ(c->Shelter().Count(), 1) << "missing rectangles must not be stored";
    EXPECT_EQ(getText(c, "Areas"), "&x1_0=1000&y1_0=1000&x2_0=10000&y2_0=10000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");
}

TEST_F(Contract, MotionAreasKeepTheRowsTheGridHas)
{
    sim::CameraConfig threeRows;
    threeRows.rows = 3;
    auto* c = loggedIn(0, threeRows);
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK); // the camera's product information gives the grid
    ASSERT_EQ(c->Motion().GetGridRows(), 3);
    ASSERT_EQ(putText(c, "MotionAreas", "3,65535,7,9,"), S_OK);
    EXPECT_EQ(getText(c, "MotionAreas"), "&area0=3&area1=-1&area2=7");
    EXPECT_EQ(c->Motion().Mask(3), 0) << "a row beyond the grid was stored";
}

// An older camera sends the sound its device record's stream mode names:
// OpenAudio asks its media channel for that variant (the wrong one leaves
// the page silent).
TEST_F(Contract, TheStreamModeChoosesTheSoundAnOlderCameraIsAskedFor)
{
    sim::CameraConfig config;
    config.deviceKind = 0;
    auto* c = loggedIn(0, config);
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    ASSERT_EQ(call(c, "Open", { str("") }), S_OK);
    ASSERT_TRUE(camera->WaitUntil([&] { return camera->ChannelsOpen() > 0; }, 5000));
    const std::pair<std::uint8_t, int> modes[] = { { kz::kStreamModePlain, kz::kMediaAudio }, { kz::kStreamModeVariant10, kz::kMediaAudioVariant10 },
        { kz::kStreamModeRawAudio, kz::kMediaAudioVariant11 }, { kz::kStreamModeVariant12, kz::kMediaAudioVariant12 }, { 6, kz::kMediaAudioVariant9 } };
    for (auto [mode, selector] : modes) {
        std::vector<std::uint8_t> record(342, 0);
        record[kz::kStreamModeAt] = mode;
        send(kz::kMsgDeviceRecord, record);
        const std::size_t before = camera->MediaControls().size();
        ASSERT_EQ(call(c, "OpenAudio", {}), S_OK);
        ASSERT_TRUE(camera->WaitUntil([&] { return camera->MediaControls().size() > before; }, 5000)) << int(mode);
        auto asked = camera->MediaControls()[before];
        EXPECT_EQ(asked.op, kz::wire::MediaOp::Start) << int(mode);
        EXPECT_EQ(asked.a, selector) << "stream mode " << int(mode);
        ASSERT_EQ(call(c, "CloseAudio", {}), S_OK);
        ASSERT_TRUE(camera->WaitUntil([&] { return camera->MediaControls().size() > before + 1; }, 5000));
    }
}

TEST_F(Contract, TheConnectionFailureOfTheViewIsReported)
{
    startCamera();
    auto* c = makeControl(0);
    ASSERT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(camera->WebPort()), num(camera->Port()), str(camera->User().c_str()),
                                    str(camera->Password().c_str()), str("cam"), num(1), num(1), num(1) }),
        S_OK);
    ASSERT_TRUE(ui::RunUntil([&] { return c->Link().LoginStatus() == 0; }, 10000));
    ASSERT_TRUE(c->Live().m_registered);
    // Logged in, but the page never called LoginSuc: the view cannot open.
    ASSERT_EQ(call(c, "Open", { str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(eventsWithCode(212), (std::vector<std::vector<Arg>> { { 212 } }));
    EXPECT_FALSE(c->Live().m_registered);
}

// The page calls LoginSuc while RegMy's HTTPS-port query waits for the
// camera's answer: the start-up's new HTTP client does not disturb the
// query's own, and event 220 arrives.
TEST_F(Contract, AnHttpsPortQueryRunningAtLoginSucKeepsItsAnswer)
{
    startCamera();
    camera->DelayCgi(400);
    auto* c = makeControl(0);
    ASSERT_EQ(call(c, "RegMy", { str(camera->Address().c_str()), num(camera->WebPort()), num(camera->Port()), str(camera->User().c_str()),
                                    str(camera->Password().c_str()), str("cam"), num(1), num(1), num(1) }),
        S_OK);
    auto asked = [&] {
        auto log = camera->CgiLog();
        return std::find(log.begin(), log.end(), "getPortInfo") != log.end();
    };
    ASSERT_TRUE(camera->WaitUntil(asked, 5000));
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    EXPECT_TRUE(ui::RunUntil([&] { return hasEvent(220); }, 5000)) << "the port query's answer was lost";
    EXPECT_EQ(eventsWithCode(220), (std::vector<std::vector<Arg>> { { 220, 0, 443 } }));
    EXPECT_EQ(c->Link().KnownHttpsPort(0), 443);
}

// Before the road is open there is nothing to log out of: the login on its
// way goes on, and without a camera address Record arms nothing.
TEST_F(Contract, WithoutARoadLoggingOutAndAlarmRecordingLeaveTheStateAlone)
{
    startCamera();
    auto* c = makeControl(0);
    ASSERT_EQ(call(c, "Record", { num(1), str("alarm") }), S_OK);
    EXPECT_FALSE(c->Live().m_alarmRecording) << "no address, yet armed for an alarm";
    ASSERT_EQ(call(c, "Login", { str(camera->Address().c_str()), num(camera->Port()), num(camera->WebPort()), str(camera->User().c_str()),
                                    str(camera->Password().c_str()), num(1), num(7) }),
        S_OK);
    ASSERT_FALSE(c->Link().HasRoad());
    ASSERT_EQ(call(c, "UNRegMy", {}), S_OK);
    EXPECT_STREQ(c->Link().Record().ip, camera->Address().c_str());
    EXPECT_TRUE(ui::RunUntil([&] { return c->Link().LoginStatus() == 0; }, 5000)) << "the login was undone before its road opened";
}

// Locating the camera last logged in to: other cameras that answer the
// search too (most of them before it), each with its own identifier, are
// not taken for it.
TEST_F(Contract, LocatingTheCameraPassesOverOthersThatAnswer)
{
    sim::CameraConfig mine;
    mine.deviceId = "TVXAAAAAAAAA";
    camera = sim::Camera::Start(mine);
    ASSERT_TRUE(camera);
    std::vector<std::unique_ptr<sim::Camera>> strangers;
    std::string targets;
    for (char id = 'B'; id <= 'F'; ++id) {
        sim::CameraConfig other;
        other.deviceId = "TVX" + std::string(9, id);
        strangers.push_back(sim::Camera::Start(other));
        ASSERT_TRUE(strangers.back());
        targets += "127.0.0.1:" + std::to_string(strangers.back()->SearchPort()) + ",";
    }
    setenv("TIRAVEX_SEARCH_TARGETS", (targets + "127.0.0.1:" + std::to_string(camera->SearchPort())).c_str(), 1);
    auto* c = makeControl(0);
    ASSERT_TRUE(login(c));
    script.calls.clear();
    ASSERT_EQ(call(c, "GetDevIPandPort", { num(1) }), S_OK);
    EXPECT_TRUE(ui::RunUntil([&] { return hasEvent(208); }, 5000));
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    EXPECT_EQ(eventsWithCode(208), (std::vector<std::vector<Arg>> { { 208, std::string("127.0.0.1"), camera->Port() } }));
}

TEST_F(Contract, LoggingOutKeepsTheCameraToLocateAgain)
{
    startCamera();
    sim::CameraConfig config;
    auto* c = loggedIn();
    ASSERT_STREQ(c->Link().DeviceId(), config.deviceId.c_str());
    ASSERT_EQ(call(c, "UNRegMy", {}), S_OK);
    EXPECT_FALSE(c->Link().HasRoad());
    EXPECT_EQ(c->Link().LoginStatus(), -1);
    EXPECT_STREQ(c->Link().DeviceId(), config.deviceId.c_str()) << "the identifier the search looks for";
}

}

namespace {

class Reports : public testing_support::CameraPage { };

TEST_F(Reports, TheStateReportCarriesTwelveValuesThenTheRecordingState)
{
    startCamera();
    auto* c = makeControl(0);
    ASSERT_TRUE(login(c));
    c->reportState(); // no product information yet: nothing
    EXPECT_FALSE(hasEvent(500));
    ASSERT_EQ(call(c, "LoginSuc", {}), S_OK);
    script.calls.clear();
    c->reportState();
    auto e = events();
    ASSERT_EQ(e.size(), 2u);
    ASSERT_EQ(e[0].size(), 12u);
    EXPECT_EQ(e[0][0], testing_support::Arg(500));
    EXPECT_EQ(e[0][3], testing_support::Arg(101));
    EXPECT_EQ(e[0][7], testing_support::Arg(std::string("127.0.0.1")));
    EXPECT_EQ(e[0][11], testing_support::Arg(std::string(c->Link().ProductInfo())));
    EXPECT_NE(std::get<std::string>(e[0][11]).find("<CGI_Result>"), std::string::npos);
    EXPECT_EQ(e[1], (std::vector<testing_support::Arg> { 302, 0 }));
}

TEST_F(Reports, TheAlarmSoundFollowsTheChannelBits)
{
    struct Case {
        std::uint8_t m, c;
        bool sounds;
    };
    const Case cases[] = { { 1, 0, true }, { 2, 0, false }, { 0x04, 3, true }, { 0x03, 3, false }, { 0xFF, 9, false } };
    startCamera();
    auto* c = makeControl(0);
    ASSERT_TRUE(login(c));
    for (const auto& t : cases) {
        std::string path = ::testing::TempDir() + "/alarm.wav";
        std::remove(path.c_str());
        setenv("TIRAVEX_AUDIO_OUT", path.c_str(), 1);
        send(300, { 0, 0, t.m, 0, t.c });
        auto size = [&] {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (!f)
                return 0L;
            std::fseek(f, 0, SEEK_END);
            long n = std::ftell(f);
            std::fclose(f);
            return n;
        };
        // Four alerts of 200 ms at 8 kHz.
        bool played = ui::RunUntil([&] { return size() >= 44 + 4 * 3200; }, t.sounds ? 5000 : 300);
        unsetenv("TIRAVEX_AUDIO_OUT");
        EXPECT_EQ(played, t.sounds) << "m " << int(t.m) << " c " << int(t.c);
    }
}

}

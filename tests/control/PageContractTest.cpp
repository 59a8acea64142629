// The page contract through IDispatch: login and registration, the control
// messages' filter and their events with exact arguments, delivery to
// active and inactive instances, and members reached by name and number.

#include "support/PageFixture.h"

#include "sys/Thread.h"

#include <algorithm>
#include <cstring>

namespace {

using control::CTiravexCtrl;
using testing_support::Arg;
using testing_support::PageFixture;

class Contract : public PageFixture {
protected:
    // Hands a control message to the control as the network library does:
    // on a thread of its own. Then runs the page's loop.
    void deliver(CTiravexCtrl* c, int type, const std::vector<std::uint8_t>& payload)
    {
        auto library = sys::Thread::Start("library", [&] {
            CTiravexCtrl::RoadCallback(type, reinterpret_cast<const char*>(payload.data()), c, static_cast<int>(payload.size()));
        });
        ASSERT_TRUE(library->Wait(5000));
        ui::PumpPending();
    }

    std::vector<std::vector<Arg>> events()
    {
        std::vector<std::vector<Arg>> out;
        for (auto& call : script.calls)
            if (call.name == "PluginCallBack")
                out.push_back(call.args);
        return out;
    }

    // Invokes a member by name as a page does; returns the HRESULT.
    HRESULT call(CTiravexCtrl* c, const char* name, std::vector<VARIANT> args, VARIANT* result = nullptr, WORD flags = DISPATCH_METHOD)
    {
        std::u16string wide = com::MultiByteToWide(name, com::kCodePageUtf8);
        LPOLESTR names[] = { wide.data() };
        DISPID id = 0;
        HRESULT hr = c->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr))
            return hr;
        std::reverse(args.begin(), args.end());
        DISPPARAMS params { args.data(), nullptr, static_cast<UINT>(args.size()), 0 };
        hr = c->Invoke(id, IID_NULL, 0, flags, &params, result, nullptr, nullptr);
        for (auto& a : args)
            VariantClear(&a);
        return hr;
    }

    // Sets and reads a text property by name, as a page does.
    HRESULT putText(CTiravexCtrl* c, const char16_t* name, const char* value)
    {
        VARIANT text = str(value);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params { &text, &put, 1, 1 };
        HRESULT hr = c->Invoke(idOf(c, name), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
        VariantClear(&text);
        return hr;
    }
    std::string getText(CTiravexCtrl* c, const char16_t* name)
    {
        VARIANT r;
        VariantInit(&r);
        EXPECT_EQ(c->Invoke(idOf(c, name), IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &r, nullptr, nullptr), S_OK);
        std::string out = r.vt == VT_BSTR ? com::BstrToUtf8(r.bstrVal) : std::string();
        VariantClear(&r);
        return out;
    }
    static DISPID idOf(CTiravexCtrl* c, const char16_t* name)
    {
        std::u16string n(name);
        LPOLESTR names[] = { n.data() };
        DISPID id = DISPID_UNKNOWN;
        c->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
        return id;
    }

    static VARIANT num(LONG n)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = n;
        return v;
    }
    static VARIANT str(const char* text)
    {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = com::Utf8ToBstr(text);
        return v;
    }

    void login(CTiravexCtrl* c, LONG port, LONG webport, LONG streamType)
    {
        ASSERT_EQ(call(c, "Login", { str("127.0.0.1"), num(port), num(webport), str("admin"), str("pw"), num(streamType), num(7) }), S_OK);
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
};

TEST_F(Contract, ASecondLoginDoesNothingEvenAfterLoggingOut)
{
    auto* c = makeControl(0);
    login(c, 88, 80, 1);
    EXPECT_EQ(c->m_roadMode, 259);
    EXPECT_EQ(c->m_live.GetOpenParam(), 3);
    EXPECT_STREQ(c->m_login->ip, "127.0.0.1");
    EXPECT_EQ(c->m_login->groupID, 7);
    EXPECT_EQ(c->m_login->webport, 80);
    EXPECT_EQ(c->m_login->port, 88);
    call(c, "UNRegMy", {});
    EXPECT_EQ(c->m_login->ip[0], 0);
    ASSERT_EQ(call(c, "Login", { str("10.9.9.9"), num(1), num(2), str("x"), str("y"), num(1), num(1) }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(c->m_login->ip[0], 0) << "a second Login changed the login record";
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
        login(c, t.port, t.webport, t.streamType);
        EXPECT_EQ(c->m_roadMode, t.mode) << t.port << "/" << t.webport << "/" << t.streamType;
        EXPECT_EQ(c->m_live.GetOpenParam(), t.kind);
        EXPECT_EQ(c->m_shelter.GetOpenParam(), t.kind);
    }
}

TEST_F(Contract, RegistrationWithDeviceTypeZeroForcesStreamTwoAndTheRegisterRoad)
{
    auto* c = makeControl(0);
    // RegMy takes the web port second and the media port third.
    ASSERT_EQ(call(c, "RegMy", { str("127.0.0.1"), num(80), num(88), str("admin"), str("pw"), str("cam"), num(0), num(3), num(0) }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(c->m_login->streamType, 2);
    EXPECT_EQ(c->m_audio->m_talkCoding, 2);
    EXPECT_EQ(c->m_roadMode, 257);
    EXPECT_EQ(c->m_live.GetOpenParam(), 1);
    EXPECT_EQ(c->m_login->webport, 80);
    EXPECT_EQ(c->m_login->port, 88);
    EXPECT_TRUE(c->m_live.m_registered);
    EXPECT_EQ(c->m_deviceType, 0);
}

TEST_F(Contract, PageTextsAreCutToTheirFields)
{
    auto* c = makeControl(0);
    std::string longIp(300, '1'), longUser(50, 'u');
    ASSERT_EQ(call(c, "Login", { str(longIp.c_str()), num(1), num(2), str(longUser.c_str()), str(longUser.c_str()), num(1), num(1) }), S_OK);
    EXPECT_EQ(std::strlen(c->m_login->ip), 127u);
    EXPECT_EQ(std::strlen(c->m_login->username), 20u);
    EXPECT_EQ(std::strlen(c->m_login->passwd), 20u);
    EXPECT_EQ(c->m_login->port, 1) << "the address overran into the port";
}

TEST_F(Contract, TheFilterChecksLengthsByTheReplyFormatFlag)
{
    auto* c = makeControl(0, false);
    struct Case {
        int type, length;
        bool passes;
    };
    const Case plain[] = { { 111, 2, true }, { 111, 3, false }, { 111, 4, true }, { 111, 16, false }, { 100, 2219, true },
        { 100, 2224, false }, { 106, 545, true }, { 106, 544, false }, { 115, 0, true }, { 115, 9000, true }, { 4, 4, false },
        { 999, 4, false }, { 303, 32, true }, { 12, 1, true } };
    for (const auto& t : plain)
        EXPECT_EQ(c->PassesRoadFilter(t.type, t.length), t.passes) << t.type << " of " << t.length;
    c->m_replyFormat = 1;
    const Case reply[] = { { 111, 2, false }, { 111, 4, false }, { 111, 16, true }, { 100, 2224, true }, { 100, 2219, false },
        { 3, 7, true }, { 303, 32, true }, { 106, 560, true }, { 102, 1, false }, { 102, 16, true } };
    for (const auto& t : reply)
        EXPECT_EQ(c->PassesRoadFilter(t.type, t.length), t.passes) << "reply format: " << t.type << " of " << t.length;
}

TEST_F(Contract, AMessageOfTheWrongLengthNeverReachesThePage)
{
    auto* c = makeControl(0);
    deliver(c, 111, { 1, 2, 3 });
    deliver(c, 102, { 1, 0 });
    EXPECT_TRUE(events().empty());
    deliver(c, 12, { 1 });
    deliver(c, 111, { 5, 6, 7, 8 });
    EXPECT_TRUE(events().empty()) << "after type 12 only 16-byte alarms pass";
    std::vector<std::uint8_t> alarm16(16, 0);
    alarm16[0] = 5;
    alarm16[1] = 6;
    alarm16[2] = 7;
    alarm16[3] = 8;
    deliver(c, 111, alarm16);
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0], (std::vector<Arg> { 111, 1, 0, 7, 8, 5, 6 }));
}

TEST_F(Contract, TheLoginReplyGives133ArgumentsThenSeventyWhenReported)
{
    auto* c = makeControl(0);
    deliver(c, 100, loginReply(0, 101));
    ASSERT_EQ(events().size(), 1u);
    auto e = events()[0];
    ASSERT_EQ(e.size(), 133u);
    EXPECT_EQ(e[0], Arg(100));
    EXPECT_EQ(e[1], Arg(0));               // status
    EXPECT_EQ(e[3], Arg(5));               // byte 5
    EXPECT_EQ(e[6], Arg(8));               // byte 8
    EXPECT_EQ(e[7], Arg(std::string("user0")));
    EXPECT_EQ(e[22], Arg(std::string("user15")));
    EXPECT_EQ(e[68], Arg(101));            // the device kind
    EXPECT_EQ(e[69], Arg(1));              // active
    EXPECT_EQ(e[76], Arg(1000));           // first entry's int32 at its base
    EXPECT_EQ(e[132], Arg(1008));
    EXPECT_EQ(c->m_deviceKind, 101);
    EXPECT_STREQ(c->m_loginReply.deviceId, "ABCDEF123456");
    EXPECT_STREQ(c->m_loginReply.deviceName, "Front door");

    // Activating again (a secondary view) reports the stored reply: 70 arguments.
    c->m_postLoginDone = 1;
    c->m_deviceKind = 50;
    c->m_active = 0;
    script.calls.clear();
    c->activate();
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].size(), 13u);
    EXPECT_EQ(events()[0][0], Arg(209));
    EXPECT_EQ(events()[1].size(), 70u);
    EXPECT_EQ(events()[1][0], Arg(100));
}

TEST_F(Contract, SettingsReceivedBeforeTheLoginFollowItWithEvent501)
{
    auto* c = makeControl(0);
    c->m_active = 0; // the settings arrive unseen
    deliver(c, 151, { 1 });
    deliver(c, 153, { 3 });
    deliver(c, 154, { 4 });
    deliver(c, 155, { 5 });
    std::vector<std::uint8_t> m156(130, 0);
    m156[0] = 60;
    m156[1] = 61;
    std::strcpy(reinterpret_cast<char*>(m156.data() + 2), "t0");
    std::strcpy(reinterpret_cast<char*>(m156.data() + 98), "t3");
    deliver(c, 156, m156);
    deliver(c, 157, { 70, 71 });
    deliver(c, 158, { 8, 0, 0, 0 });
    EXPECT_TRUE(events().empty());
    c->m_active = 1;
    deliver(c, 100, loginReply(0, 0));
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1], (std::vector<Arg> { 501, 1, 3, 5, 70, 71, 4, 8, 60, 61, std::string("t0"), std::string(), std::string(), std::string("t3") }));
}

TEST_F(Contract, EventArgumentsFollowTheirMessages)
{
    auto* c = makeControl(0);
    deliver(c, 108, { 5, 7 });
    std::vector<std::uint8_t> m106(545, 0);
    m106[0] = 9;
    std::strcpy(reinterpret_cast<char*>(m106.data() + 1), "first");
    std::strcpy(reinterpret_cast<char*>(m106.data() + 513), "last");
    deliver(c, 106, m106);
    std::vector<std::uint8_t> m109(82, 0);
    m109[0] = 1;
    m109[1] = 2;
    std::int32_t v = -5;
    std::memcpy(m109.data() + 2 + 4 * 19, &v, 4);
    deliver(c, 109, m109);
    deliver(c, 111, { 3, 4 }); // the short form, in live mode
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
    EXPECT_TRUE(c->m_live.m_alarmRecording);
    EXPECT_EQ(c->m_live.m_alarmKind, 4);
}

TEST_F(Contract, AnInactiveViewGetsOnlyAlwaysAndForcedEventsAndStaysInactive)
{
    auto* c = makeControl(4);
    ASSERT_EQ(c->m_active, 0);
    deliver(c, 102, { 1 });                           // if active
    deliver(c, 159, { 2 });                           // always
    ui::PostMessage(c->GetSafeHwnd(), 1227, 0, 0);    // forced
    ui::PostMessage(c->GetSafeHwnd(), 1229, 0, 42);   // forced
    ui::PostMessage(c->GetSafeHwnd(), 1224, 0, 1025); // if active
    ui::PostMessage(c->GetSafeHwnd(), 1524, 0, 0);    // always
    ui::PumpPending();
    EXPECT_EQ(events(), (std::vector<std::vector<Arg>> { { 159, 2, 4 }, { 205 }, { 203, 42 }, { 213, 4 } }));
    EXPECT_EQ(c->m_active, 0) << "a forced event left the view active";
    // A forced event on an active view leaves it active.
    c->m_active = 1;
    ui::PostMessage(c->GetSafeHwnd(), 1228, 0, 0);
    ui::PumpPending();
    EXPECT_EQ(c->m_active, 1);
}

TEST_F(Contract, StreamStatusGivesEvent200OnlyForTheLiveWindow)
{
    auto* c = makeControl(0);
    ui::PostMessage(c->GetSafeHwnd(), 1224, 0, 1026);
    ui::PostMessage(c->GetSafeHwnd(), 1224, 0, 1025);
    ui::PostMessage(c->GetSafeHwnd(), 1224, 0, 1025);
    ui::PumpPending();
    EXPECT_EQ(events(), (std::vector<std::vector<Arg>> { { 200 }, { 200 } }));
}

TEST_F(Contract, TheMainViewIgnoresType3)
{
    auto* main = makeControl(0);
    deliver(main, 3, { 0, 0, 0, 2, 0, 0, 0 });
    EXPECT_EQ(main->m_deviceKind, 0);
    EXPECT_EQ(main->m_postLoginDone, 0);
    EXPECT_EQ(main->m_loginReply.Status(), -1);

    auto* secondary = makeControl(2);
    deliver(secondary, 3, { 0, 0, 0, 2, 0, 0, 0 });
    EXPECT_EQ(secondary->m_deviceKind, 100);
    EXPECT_EQ(secondary->m_postLoginDone, 1);
    EXPECT_EQ(secondary->m_loginReply.Status(), 0);
}

TEST_F(Contract, MembersAreBoundByNameNotByTypeLibraryNumber)
{
    auto* c = makeControl(0);
    // Number 13 is EnterConfigPage: it needs its flag, and gets it.
    VARIANT flag = num(1);
    DISPPARAMS params { &flag, nullptr, 1, 0 };
    ASSERT_EQ(c->Invoke(13, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(c->m_audio->m_activeWindow, 1029);
    EXPECT_FALSE(ui::IsWindowVisible(c->m_playback.GetHwnd()));
    ASSERT_EQ(call(c, "Playback", {}), S_OK);
    EXPECT_EQ(c->m_audio->m_activeWindow, 1026);
    EXPECT_TRUE(ui::IsWindowVisible(c->m_playback.GetHwnd()));
    EXPECT_FALSE(ui::IsWindowVisible(c->m_live.GetHwnd()));
    std::u16string name = u"Playback";
    LPOLESTR names[] = { name.data() };
    DISPID id = 0;
    c->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    EXPECT_EQ(id, 14);
}

TEST_F(Contract, TheVersionAndTheAreasTravelAsTexts)
{
    auto* c = makeControl(0);
    VARIANT r;
    VariantInit(&r);
    ASSERT_EQ(call(c, "test", {}, &r), S_OK);
    EXPECT_EQ(com::BstrToUtf8(r.bstrVal), "3.1.0.9");
    VariantClear(&r);

    c->m_shelter.SetPictureSize(640, 480);
    ASSERT_EQ(putText(c, u"Areas", "<cgi_result><result>0</result><x1_0>1000</x1_0><y1_0>1000</y1_0><x2_0>9990</x2_0><y2_0>9990</y2_0></cgi_result>"), S_OK);
    EXPECT_TRUE(c->IsModified());
    EXPECT_EQ(c->m_shelter.Count(), 1) << "missing rectangles must not be stored";
    EXPECT_EQ(getText(c, u"Areas"), "&x1_0=1000&y1_0=1000&x2_0=10000&y2_0=10000&x1_1=0&y1_1=0&x2_1=0&y2_1=0&x1_2=0&y1_2=0&x2_2=0&y2_2=0&x1_3=0&y1_3=0&x2_3=0&y2_3=0");
}

TEST_F(Contract, MotionAreasKeepTheRowsTheGridHas)
{
    auto* c = makeControl(0);
    c->m_motion.SetGridSize(3, 10);
    ASSERT_EQ(putText(c, u"MotionAreas", "3,65535,7,9,"), S_OK);
    EXPECT_EQ(getText(c, u"MotionAreas"), "&area0=3&area1=-1&area2=7");
    EXPECT_EQ(c->m_motion.Mask(3), 0) << "a row beyond the grid was stored";
}

TEST_F(Contract, TheConnectionFailureOfTheViewIsReported)
{
    auto* c = makeControl(0);
    c->m_loginReply.SetStatus(0);
    c->m_live.m_registered = true;
    ASSERT_EQ(call(c, "Open", { str("") }), S_OK);
    ui::PumpPending();
    EXPECT_EQ(events(), (std::vector<std::vector<Arg>> { { 212 } }));
    EXPECT_FALSE(c->m_live.m_registered);
}

}

namespace {

class Reports : public testing_support::PageFixture {
protected:
    std::vector<std::vector<testing_support::Arg>> events()
    {
        std::vector<std::vector<testing_support::Arg>> out;
        for (auto& call : script.calls)
            if (call.name == "PluginCallBack")
                out.push_back(call.args);
        return out;
    }
};

TEST_F(Reports, TheStateReportCarriesTwelveValuesThenTheRecordingState)
{
    auto* c = makeControl(0);
    c->reportState(); // no product information yet: nothing
    EXPECT_TRUE(events().empty());
    std::strcpy(c->m_productInfo, "<CGI_Result/>");
    std::strcpy(c->m_login->ip, "127.0.0.1");
    c->m_deviceKind = 101;
    c->m_postLoginDone = 1;
    c->reportState();
    auto e = events();
    ASSERT_EQ(e.size(), 2u);
    ASSERT_EQ(e[0].size(), 12u);
    EXPECT_EQ(e[0][0], testing_support::Arg(500));
    EXPECT_EQ(e[0][3], testing_support::Arg(101));
    EXPECT_EQ(e[0][7], testing_support::Arg(std::string("127.0.0.1")));
    EXPECT_EQ(e[0][11], testing_support::Arg(std::string("<CGI_Result/>")));
    EXPECT_EQ(e[1], (std::vector<testing_support::Arg> { 302, 0 }));
}

TEST_F(Reports, TheAlarmSoundFollowsTheChannelBits)
{
    struct Case {
        std::uint8_t m, c;
        bool sounds;
    };
    const Case cases[] = { { 1, 0, true }, { 2, 0, false }, { 0x04, 3, true }, { 0x03, 3, false }, { 0xFF, 9, false } };
    for (const auto& t : cases) {
        std::string path = ::testing::TempDir() + "/alarm.wav";
        std::remove(path.c_str());
        setenv("TIRAVEX_AUDIO_OUT", path.c_str(), 1);
        auto* c = makeControl(0);
        std::vector<std::uint8_t> payload { 0, 0, t.m, 0, t.c };
        control::CTiravexCtrl::RoadCallback(300, reinterpret_cast<const char*>(payload.data()), c, static_cast<int>(payload.size()));
        ui::PumpPending();
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

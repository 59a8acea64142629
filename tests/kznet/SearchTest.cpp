// Device search over UDP to the configured targets.

#include "Recorder.h"

#include "kznet/Library.h"
#include "kznet/Wire.h"
#include "sim/Camera.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <cstdlib>

using namespace kztest;
using namespace kz;
using namespace kz::wire;

namespace {

struct kznetSearch : ::testing::Test {
    void TearDown() override { unsetenv("TIRAVEX_SEARCH_TARGETS"); }
};

sim::CameraConfig searchable(const char* id, const char* name, std::size_t recordBytes)
{
    sim::CameraConfig config;
    config.deviceId = id;
    config.name = name;
    config.searchRecordBytes = recordBytes;
    return config;
}

std::string targets(const sim::Camera& a, const sim::Camera& b)
{
    return "127.0.0.1:" + std::to_string(a.SearchPort()) + ",127.0.0.1:" + std::to_string(b.SearchPort());
}

std::uint16_t portOf(const std::vector<std::uint8_t>& record)
{
    std::uint16_t net;
    std::memcpy(&net, &record[kRecPortAt], 2);
    return ntohs(net);
}

}

TEST_F(kznetSearch, ListSearchFindsEveryCameraOnce)
{
    auto a = sim::Camera::Start(searchable("AAAAAAAAAAAA", "first", kRecordLong));
    auto b = sim::Camera::Start(searchable("BBBBBBBBBBBB", "second", kRecordShort));
    ASSERT_TRUE(a && b);
    setenv("TIRAVEX_SEARCH_TARGETS", targets(*a, *b).c_str(), 1);
    Recorder r;
    KzHandle search = kz_search_devices(&Recorder::OnSearch, &r, 3, kz::kSearchAll);
    ASSERT_TRUE(search);
    ASSERT_TRUE(r.WaitFor([&] { return r.answers.size() == 2; }));
    // Probes repeat each second; the same device is still reported once.
    EXPECT_FALSE(r.WaitFor([&] { return r.answers.size() > 2; }, 1300));
    EXPECT_EQ(kz_close_search(search), 0);
    r.Locked([&] {
        std::map<std::string, std::vector<std::uint8_t>> byId;
        for (auto& answer : r.answers) {
            EXPECT_EQ(answer.type, kz::kSearchAnswer);
            byId[reinterpret_cast<const char*>(&answer.record[kRecIdAt])] = answer.record;
        }
        ASSERT_EQ(byId.size(), 2u);
        auto& first = byId["AAAAAAAAAAAA"];
        auto& second = byId["BBBBBBBBBBBB"];
        EXPECT_EQ(first.size(), kRecordLong);
        EXPECT_EQ(second.size(), kRecordShort);
        EXPECT_STREQ(reinterpret_cast<const char*>(&first[kRecNameAt]), "first");
        EXPECT_EQ(portOf(first), a->Port()) << "port in network byte order";
        EXPECT_EQ(portOf(second), b->Port());
        in_addr address;
        std::memcpy(&address, &first[kRecAddressAt], 4);
        EXPECT_STREQ(inet_ntoa(address), "127.0.0.1");
    });
}

TEST_F(kznetSearch, OneDeviceSearchEndsAtTheFirstAcceptedAnswer)
{
    auto a = sim::Camera::Start(searchable("AAAAAAAAAAAA", "first", kRecordMedium));
    auto b = sim::Camera::Start(searchable("BBBBBBBBBBBB", "second", kRecordMedium));
    ASSERT_TRUE(a && b);
    setenv("TIRAVEX_SEARCH_TARGETS", targets(*a, *b).c_str(), 1);
    Recorder r;
    r.searchReturn = kz::kSearchStop;
    KzHandle search = kz_search_devices(&Recorder::OnSearch, &r, 3, kz::kSearchOne);
    ASSERT_TRUE(search);
    ASSERT_TRUE(r.WaitFor([&] { return r.answers.size() == 1; }));
    EXPECT_FALSE(r.WaitFor([&] { return r.answers.size() > 1; }, 1300));
    EXPECT_EQ(r.Locked([&] { return r.answers[0].record.size(); }), kRecordMedium);
    kz_close_search(search);
}

TEST_F(kznetSearch, TargetListTakesHostsPortsAndSkipsBadEntries)
{
    auto list = kz::ParseSearchTargets("127.0.0.1, 127.0.0.2:7000;localhost:99999,:5,127.0.0.3:x,  ");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].host, "127.0.0.1");
    EXPECT_EQ(list[0].port, kDefaultSearchPort);
    EXPECT_EQ(list[1].host, "127.0.0.2");
    EXPECT_EQ(list[1].port, 7000);
    EXPECT_TRUE(kz::ParseSearchTargets("").empty());
    EXPECT_EQ(kz_search_devices(nullptr, nullptr, 1, 0), nullptr);
    EXPECT_EQ(kz_close_search(nullptr), -1);
}

// A camera of the standards found by WS-Discovery is listed under the
// identifier its login reported, also after it has moved to another
// address: its endpoint reference, which its login asked for, names it.
// In a network namespace of this test's own, multicast routed to loopback.
TEST_F(kznetSearch, ACameraOfTheStandardsThatMovedIsFoundUnderItsLoginsIdentifierAtItsNewAddress)
{
    if (::unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up multicast on && ip route add 224.0.0.0/4 dev lo") != 0)
        GTEST_SKIP() << "no network namespace of our own with multicast on loopback (needs CAP_SYS_ADMIN and CAP_NET_ADMIN, and ip)";
    setenv("TIRAVEX_SEARCH_TARGETS", "239.255.255.250", 1);
    sim::CameraConfig config;
    config.dialect = sim::Dialect::Standards;
    config.deviceId = "TVXMOVES0042";
    config.accounts = { { "admin", "pw" } };
    auto camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    Recorder road;
    LoginInfo login = MakeLogin("127.0.0.1", camera->Port(), "admin", "pw", kAudioPcm, camera->WebPort());
    KzHandle h = kz_open_ctrl_road(kRoadModeMedia, &login, &Recorder::OnControl, &road, 0);
    ASSERT_TRUE(road.WaitFor([&] { return road.FindControl(kMsgLoginReply) != nullptr; }, 10000));
    kz_close_ctrl_road(h);
    camera.reset();

    config.address = "127.0.0.2";
    camera = sim::Camera::Start(config);
    ASSERT_TRUE(camera);
    Recorder r;
    r.searchReturn = kz::kSearchStop;
    KzHandle search = kz_search_devices(&Recorder::OnSearch, &r, 3, kz::kSearchOne);
    ASSERT_TRUE(search);
    ASSERT_TRUE(r.WaitFor([&] { return !r.answers.empty(); }, 4000)) << "the camera was not found";
    auto record = r.Locked([&] { return r.answers[0].record; });
    kz_close_search(search);
    ASSERT_EQ(record.size(), kRecordLong);
    EXPECT_STREQ(reinterpret_cast<const char*>(&record[kRecIdAt]), "TVXMOVES0042");
    char address[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &record[kRecAddressAt], address, sizeof address);
    EXPECT_STREQ(address, "127.0.0.2");
    EXPECT_EQ(portOf(record), camera->WebPort());
}

// A hostile peer: malformed, truncated, oversized and garbage input from the
// network is dropped (or ends the link) without a crash, and what is valid
// around it still arrives.

#include "Recorder.h"

#include "kznet/Wire.h"
#include "sim/Camera.h"
#include "support/Loopback.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

using namespace kztest;
using namespace kz;
using namespace kz::wire;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Accepts one connection, waits for the library's first message, sends
// `script`, then closes (or holds the connection until destroyed).
class FakeCamera {
public:
    FakeCamera(Bytes script, bool closeAfter, bool reads = true)
        : m_script(std::move(script)), m_closeAfter(closeAfter), m_reads(reads), m_socket(testing_support::BindLoopback())
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~FakeCamera()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket.fd);
    }
    int Port() const { return m_socket.port; }

private:
    void Run()
    {
        pollfd p { m_socket.fd, POLLIN, 0 };
        while (!m_stop && ::poll(&p, 1, 50) == 0) { }
        if (m_stop)
            return;
        int fd = ::accept(m_socket.fd, nullptr, nullptr);
        std::uint8_t header[kHeaderBytes];
        if (::recv(fd, header, sizeof header, MSG_WAITALL) == sizeof header) {
            Bytes rest(r32(header + 8));
            ::recv(fd, rest.data(), rest.size(), MSG_WAITALL);
        }
        ::send(fd, m_script.data(), m_script.size(), MSG_NOSIGNAL);
        if (!m_closeAfter) {
            pollfd q { fd, POLLIN, 0 };
            while (!m_stop) {
                if (!m_reads) {
                    ::poll(nullptr, 0, 50);
                    continue;
                }
                if (::poll(&q, 1, 50) > 0) {
                    std::uint8_t sink[256];
                    if (::recv(fd, sink, sizeof sink, 0) <= 0)
                        break;
                }
            }
        }
        ::close(fd);
    }

    Bytes m_script;
    bool m_closeAfter;
    bool m_reads;
    testing_support::LoopbackSocket m_socket;
    std::atomic<bool> m_stop { false };
    std::thread m_thread;
};

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes rawHeader(std::uint32_t magic, std::uint16_t kind, std::uint32_t length)
{
    Bytes b;
    w32(b, magic);
    w16(b, kind);
    w16(b, 0);
    w32(b, length);
    return b;
}

Bytes validFrame(std::uint32_t number)
{
    FrameHeader f;
    f.kind = kz::kFrameH264;
    f.frameRate = 10;
    f.passThrough1 = number;
    Bytes payload { 0, 0, 0, 1, 0x65, 1, 2, 3 };
    return FrameMessage(f, payload.data(), payload.size());
}

struct Outcome {
    int frames;
    int lost;
    std::uint32_t firstNumber;
};

Outcome runMedia(const Bytes& script, bool closeAfter, int waitLost = 1)
{
    FakeCamera fake(script, closeAfter);
    Recorder r;
    LoginInfo login = MakeLogin("127.0.0.1", fake.Port(), "admin", "");
    KzHandle h = kz_open_device(kz::kConnectMedia, "", &login, 0, kLiveId, 258, &Recorder::OnStatus, &Recorder::OnFrame, &r, 0);
    EXPECT_TRUE(h);
    if (waitLost)
        EXPECT_TRUE(r.WaitFor([&] { return r.CountStatus(kz::kStatusLinkLost) >= 1; }));
    else
        r.WaitFor([&] { return !r.frames.empty(); });
    kz_close_device(h);
    return r.Locked([&] {
        return Outcome { static_cast<int>(r.frames.size()), r.CountStatus(kz::kStatusLinkLost), r.frames.empty() ? 0u : r.frames[0].record.passThrough1 };
    });
}

}

TEST(kznetHostile, GarbageOrOversizedHeadersEndTheMediaLink)
{
    struct Case {
        const char* what;
        Bytes script;
    } cases[] = {
        { "garbage", Bytes(64, 0x5A) },
        { "oversized frame", rawHeader(kMagic, static_cast<std::uint16_t>(Kind::Frame), 0x7FFFFFFF) },
        { "just over the limit", rawHeader(kMagic, static_cast<std::uint16_t>(Kind::Frame), kMaxPayload + 1) },
    };
    for (auto& c : cases) {
        Bytes script = c.script;
        append(script, validFrame(1)); // never reached: the link has ended
        auto o = runMedia(script, false);
        EXPECT_EQ(o.frames, 0) << c.what;
        EXPECT_EQ(o.lost, 1) << c.what;
    }
}

TEST(kznetHostile, MalformedMessagesAreDroppedAndTheLinkGoesOn)
{
    Bytes script;
    append(script, Message(Kind::Frame, Bytes(10, 1)));              // shorter than a frame header
    append(script, Message(Kind::Status, Bytes(5, 1)));              // status of the wrong length
    append(script, Message(static_cast<Kind>(999), Bytes(3, 1)));    // unknown kind
    FrameHeader unknown;
    unknown.kind = 999;
    Bytes p { 1, 2, 3 };
    append(script, FrameMessage(unknown, p.data(), p.size()));       // unknown frame kind
    FrameHeader empty;
    empty.kind = kz::kFrameH264;
    append(script, FrameMessage(empty, nullptr, 0));                 // frame without payload
    append(script, validFrame(7));
    auto o = runMedia(script, true);
    EXPECT_EQ(o.frames, 1);
    EXPECT_EQ(o.firstNumber, 7u);
    EXPECT_EQ(o.lost, 1) << "the close after the script";
}

TEST(kznetHostile, TruncatedFrameIsNeverDelivered)
{
    Bytes frame = validFrame(3);
    Bytes script(frame.begin(), frame.end() - 3);
    auto o = runMedia(script, true);
    EXPECT_EQ(o.frames, 0);
    EXPECT_EQ(o.lost, 1);
}

TEST(kznetHostile, RoadDropsBadControlMessagesAndEndsOnOversizedOnes)
{
    Bytes script;
    append(script, Message(Kind::Control, Bytes { 1, 2 }));                    // shorter than its type
    auto reply = MakeLoginReply(kLoginReplyBytes, kLoginOk, "ID0000000001", "cam", 101);
    append(script, Message(Kind::Control, PutControl(kMsgLoginReply, reply.data(), reply.size())));
    append(script, rawHeader(kMagic, static_cast<std::uint16_t>(Kind::Control), kMaxControlPayload + 1));
    append(script, Message(Kind::Control, PutControl(8, "\1\0\0\0", 4)));     // after the end: never read
    FakeCamera fake(script, false);
    Recorder r;
    LoginInfo login = MakeLogin("127.0.0.1", fake.Port(), "admin", "");
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &Recorder::OnControl, &r, 0);
    ASSERT_TRUE(road);
    ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }));
    EXPECT_FALSE(r.WaitFor([&] { return r.controls.size() > 1; }, 300));
    kz_close_ctrl_road(road);
    r.Locked([&] {
        ASSERT_EQ(r.controls.size(), 1u);
        EXPECT_EQ(Int32At(r.controls[0].data, kReplyStatusAt), kLoginOk);
    });
}

TEST(kznetHostile, SearchIgnoresAnswersOfWrongLengthOrToOtherSearches)
{
    auto [fd, port] = testing_support::BindLoopback(SOCK_DGRAM);
    ASSERT_GE(fd, 0);
    setenv("TIRAVEX_SEARCH_TARGETS", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);

    Recorder r;
    KzHandle search = kz_search_devices(&Recorder::OnSearch, &r, 2, kz::kSearchAll);
    ASSERT_TRUE(search);
    std::uint8_t probe[64];
    sockaddr_in from {};
    socklen_t fromLength = sizeof from;
    pollfd p { fd, POLLIN, 0 };
    ASSERT_GT(::poll(&p, 1, 3000), 0);
    ASSERT_EQ(::recvfrom(fd, probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&from), &fromLength), static_cast<ssize_t>(kHeaderBytes + kSearchProbeBytes));
    std::uint32_t nonce = r32(probe + kHeaderBytes);
    auto answer = [&](std::uint32_t withNonce, std::size_t recordBytes, std::uint8_t id) {
        Bytes payload;
        w32(payload, withNonce);
        Bytes record(recordBytes, 0);
        record[0] = id;
        append(payload, record);
        return Message(Kind::SearchAnswer, payload);
    };
    Bytes truncated = answer(nonce, kRecordShort, 'T');
    truncated.erase(truncated.end() - 10, truncated.end());
    Bytes sends[] = { answer(nonce, 70, 'L'), answer(nonce + 1, kRecordShort, 'N'), truncated, Bytes(40, 0xEE), answer(nonce, kRecordShort, 'G') };
    for (auto& d : sends)
        ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
    ASSERT_TRUE(r.WaitFor([&] { return !r.answers.empty(); }));
    kz_close_search(search);
    ::close(fd);
    unsetenv("TIRAVEX_SEARCH_TARGETS");
    r.Locked([&] {
        ASSERT_EQ(r.answers.size(), 1u);
        EXPECT_EQ(r.answers[0].record[0], 'G');
        EXPECT_EQ(r.answers[0].record.size(), kRecordShort);
    });
}

TEST(kznetHostile, CameraSurvivesAHostileClientAndServesTheNextOne)
{
    auto camera = sim::Camera::Start({});
    ASSERT_TRUE(camera);
    auto connectRaw = [&] {
        int fd = testing_support::ConnectLoopback(camera->Port());
        EXPECT_GE(fd, 0);
        return fd;
    };
    auto login = PutLogin({ 259, 0, 0, 0, "admin", "" });
    Bytes truncatedLogin = Message(Kind::Login, login);
    truncatedLogin.erase(truncatedLogin.end() - 20, truncatedLogin.end());
    Bytes wrongLength = Message(Kind::Login, Bytes(login.begin(), login.end() - 1));
    Bytes scripts[] = {
        Bytes(100, 0xA5),
        rawHeader(kMagic, static_cast<std::uint16_t>(Kind::Open), 0xFFFFFFF0),
        truncatedLogin,
        wrongLength,
        Message(Kind::Talk, Bytes(960, 1)), // talk before any open
    };
    for (auto& script : scripts) {
        int fd = connectRaw();
        ::send(fd, script.data(), script.size(), MSG_NOSIGNAL);
        ::shutdown(fd, SHUT_WR);
        std::uint8_t sink[64];
        pollfd p { fd, POLLIN, 0 };
        while (::poll(&p, 1, 5000) > 0 && ::recv(fd, sink, sizeof sink, 0) > 0) { } // the camera ends the connection
        ::close(fd);
    }
    EXPECT_EQ(camera->LoginsAccepted() + camera->LoginsRefused(), 0);
    Recorder r;
    LoginInfo info = MakeLogin("127.0.0.1", camera->Port(), "admin", "");
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &info, &Recorder::OnControl, &r, 0);
    ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }));
    EXPECT_EQ(r.Locked([&] { return Int32At(r.FindControl(kMsgLoginReply)->data, kReplyStatusAt); }), kLoginOk);
    kz_close_ctrl_road(road);
}

TEST(kznetHostile, CloseIsPromptWhileAWriterIsStuckOnACameraThatDoesNotRead)
{
    auto reply = MakeLoginReply(kLoginReplyBytes, kLoginOk, "ID0000000001", "cam", 101);
    FakeCamera fake(Message(Kind::Control, PutControl(kMsgLoginReply, reply.data(), reply.size())), false, false);
    Recorder r;
    LoginInfo login = MakeLogin("127.0.0.1", fake.Port(), "admin", "");
    KzHandle road = kz_open_ctrl_road(kz::kRoadModeMedia, &login, &Recorder::OnControl, &r, 0);
    ASSERT_TRUE(r.WaitFor([&] { return r.FindControl(kMsgLoginReply) != nullptr; }));
    std::string text(kMaxCommandText, 'c');
    std::atomic<int> posted { 0 };
    std::mutex mutex;
    std::condition_variable progress;
    std::thread poster([&] {
        // Far more than the socket buffers hold: the writer ends up blocked.
        for (int i = 0; i < 5000; ++i) {
            if (kz_post_ctrl_road_msg(road, kCmdCgi, 0, reinterpret_cast<std::intptr_t>(text.c_str())) != 0)
                break;
            ++posted;
            progress.notify_all();
        }
        progress.notify_all();
    });
    {
        // Wait until the writer is stuck: no post has finished for 200 ms
        // (bounded: at most 5000 posts, at most 10 s).
        std::unique_lock lock(mutex);
        auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (int last = -1; posted.load() != last && posted.load() < 5000 && std::chrono::steady_clock::now() < limit;) {
            last = posted.load();
            progress.wait_for(lock, std::chrono::milliseconds(200), [&] { return posted.load() != last; });
        }
    }
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kz_close_ctrl_road(road), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    poster.join();
    EXPECT_LT(posted.load(), 5000) << "posting ends once the road is closed";
}

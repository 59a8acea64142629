#include "sys/Files.h"
#include "sys/MessageQueue.h"
#include "sys/Thread.h"
#include "sys/Time.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr UINT kTestMessage = 0x8001;

TEST(ThreadQueue, MessagesFromManyThreadsArriveInPostingOrderPerSender)
{
    std::vector<sys::Message> received;
    auto receiver = sys::Thread::Start("receiver", [&] {
        sys::Message m;
        while (sys::WaitMessage(m, 5000) && m.message != sys::kQuitMessage)
            received.push_back(m);
    });
    ASSERT_TRUE(receiver);
    constexpr int kSenders = 4;
    constexpr int kEach = 200;
    std::vector<sys::ThreadHandle> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.push_back(sys::Thread::Start("sender", [&, s] {
            for (int i = 0; i < kEach; ++i)
                receiver->Post(kTestMessage, static_cast<WPARAM>(s), i);
        }));
    for (auto& sender : senders)
        ASSERT_TRUE(sender->Wait(5000));
    receiver->Post(sys::kQuitMessage);
    ASSERT_TRUE(receiver->Wait(5000));

    ASSERT_EQ(received.size(), std::size_t(kSenders * kEach));
    std::vector<LPARAM> last(kSenders, -1);
    for (const auto& m : received) {
        ASSERT_GT(m.lParam, last[m.wParam]) << "a sender's messages were reordered";
        last[m.wParam] = m.lParam;
    }
}

TEST(ThreadQueue, PostingToAThreadThatEndedFails)
{
    auto worker = sys::Thread::Start("short", [] { });
    ASSERT_TRUE(worker);
    sys::ThreadId id = worker->Id();
    ASSERT_TRUE(worker->Wait(5000));
    worker.reset();
    EXPECT_FALSE(sys::PostThreadMessage(id, kTestMessage, 0, 0));
}

TEST(ThreadQueue, AMessagePostedRightAfterStartIsNotLost)
{
    std::atomic<int> got { 0 };
    auto worker = sys::Thread::Start("late", [&] {
        sys::Message m;
        if (sys::WaitMessage(m, 5000))
            got = static_cast<int>(m.wParam);
    });
    ASSERT_TRUE(worker->Post(kTestMessage, 42));
    ASSERT_TRUE(worker->Wait(5000));
    EXPECT_EQ(got, 42);
}

TEST(ThreadStop, AWorkerThatOutlivesItsWaitIsDetachedAndFinishesAlone)
{
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    auto worker = sys::Thread::Start("stuck", [release, finished] {
        while (!*release)
            std::this_thread::yield();
        *finished = true;
    });
    EXPECT_FALSE(worker->Wait(20)); // bounded: it does not end in time
    worker->Detach();
    worker.reset();
    *release = true;
    for (int i = 0; i < 5000 && !*finished; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(*finished);
}

TEST(TickCount, DifferencesStayRightAcrossTheWrapAround)
{
    DWORD now = sys::GetTickCount();
    sys::SetTickCountBias(0xFFFFFFFFu - now - 5); // 5 ms before the wrap
    DWORD before = sys::GetTickCount();
    while (sys::TicksBetween(before, sys::GetTickCount()) < 20) { }
    DWORD after = sys::GetTickCount();
    sys::SetTickCountBias(0);
    EXPECT_LT(after, before) << "the tick count should have wrapped";
    EXPECT_GE(sys::TicksBetween(before, after), 20u);
    EXPECT_LT(sys::TicksBetween(before, after), 1000u);
}

TEST(LocalTime, FieldsAreInRange)
{
    SYSTEMTIME t = sys::GetLocalTime();
    EXPECT_GE(t.wYear, 2020);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12);
    EXPECT_TRUE(t.wDay >= 1 && t.wDay <= 31);
    EXPECT_LE(t.wHour, 23);
    EXPECT_LE(t.wMinute, 59);
    EXPECT_LE(t.wMilliseconds, 999);
    EXPECT_LE(t.wDayOfWeek, 6);
}

}

// Recordings claim their file names by creating them: of several threads
// asking for one name at once, exactly one gets it.
TEST(Files, OfThreadsCreatingOneNewFileExactlyOneGetsIt)
{
    const std::string path = ::testing::TempDir() + "/claimed-name.avi";
    std::remove(path.c_str());
    constexpr int kThreads = 8;
    std::atomic<int> created { 0 };
    std::atomic<bool> go { false };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            while (!go) { }
            created += sys::CreateNewFile(path) ? 1 : 0;
        });
    go = true;
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(created, 1);
    EXPECT_FALSE(sys::CreateNewFile(path)) << "it exists now";
    std::remove(path.c_str());
}

#include "sys/MessageQueue.h"

#include "sys/Time.h"

#include <atomic>
#include <unordered_map>

namespace sys {

MessageQueue::~MessageQueue()
{
    for (auto& m : m_messages)
        if (m.dropped)
            m.dropped();
}

void MessageQueue::Post(Message message)
{
    if (message.time == 0)
        message.time = GetTickCount();
    {
        std::lock_guard lock(m_mutex);
        m_messages.push_back(std::move(message));
    }
    m_ready.notify_one();
}

bool MessageQueue::Take(Message& out)
{
    std::lock_guard lock(m_mutex);
    if (m_messages.empty())
        return false;
    out = std::move(m_messages.front());
    m_messages.pop_front();
    return true;
}

bool MessageQueue::Front(Message& out)
{
    std::lock_guard lock(m_mutex);
    if (m_messages.empty())
        return false;
    out = m_messages.front();
    return true;
}

bool MessageQueue::WaitFor(Message& out, Deadline deadline)
{
    std::unique_lock lock(m_mutex);
    m_ready.wait_until(lock, deadline, [this] { return !m_messages.empty() || m_woken; });
    m_woken = false;
    if (m_messages.empty())
        return false;
    out = std::move(m_messages.front());
    m_messages.pop_front();
    return true;
}

bool MessageQueue::WaitReady(Deadline deadline)
{
    std::unique_lock lock(m_mutex);
    m_ready.wait_until(lock, deadline, [this] { return !m_messages.empty() || m_woken; });
    m_woken = false;
    return !m_messages.empty();
}

void MessageQueue::Wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_ready.notify_one();
}

std::size_t MessageQueue::Size()
{
    std::lock_guard lock(m_mutex);
    return m_messages.size();
}

namespace {

std::atomic<ThreadId> g_nextThreadId{1};

struct Registry {
    std::mutex mutex;
    std::unordered_map<ThreadId, std::weak_ptr<MessageQueue>> queues;
};

Registry& registry()
{
    static Registry* r = new Registry; // outlives every thread_local below
    return *r;
}

// Unregisters the thread's queue when the thread ends.
struct ThreadSlot {
    ThreadId id = g_nextThreadId.fetch_add(1);
    std::shared_ptr<MessageQueue> queue;
    ~ThreadSlot()
    {
        if (!queue)
            return;
        std::lock_guard lock(registry().mutex);
        registry().queues.erase(id);
    }
};

thread_local ThreadSlot t_slot;

}

ThreadId CurrentThreadId() { return t_slot.id; }

MessageQueue& CurrentQueue()
{
    if (!t_slot.queue) {
        t_slot.queue = std::make_shared<MessageQueue>(t_slot.id);
        std::lock_guard lock(registry().mutex);
        registry().queues[t_slot.id] = t_slot.queue;
    }
    return *t_slot.queue;
}

std::shared_ptr<MessageQueue> QueueOf(ThreadId thread)
{
    std::lock_guard lock(registry().mutex);
    auto it = registry().queues.find(thread);
    if (it == registry().queues.end())
        return nullptr;
    return it->second.lock();
}

bool PostThreadMessage(ThreadId thread, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto queue = QueueOf(thread);
    if (!queue)
        return false;
    Message m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    queue->Post(std::move(m));
    return true;
}

void PostQuitMessage(int exitCode)
{
    Message m;
    m.message = kQuitMessage;
    m.wParam = static_cast<WPARAM>(exitCode);
    CurrentQueue().Post(std::move(m));
}

bool PeekMessage(Message& out, bool remove)
{
    return remove ? CurrentQueue().Take(out) : CurrentQueue().Front(out);
}

bool HandleWaitingMessages(const std::function<bool(const Message&)>& handle)
{
    Message message;
    while (PeekMessage(message, true)) {
        if (message.message == kQuitMessage || !handle(message))
            return false;
    }
    return true;
}

bool WaitMessage(Message& out, DWORD timeoutMs)
{
    return CurrentQueue().WaitFor(out, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
}

}

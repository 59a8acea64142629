#pragma once
// Thread message queues. Every thread that the platform knows about owns one
// queue; posting from any thread appends to it under its mutex, and only the
// owning thread takes messages out. The window system (ui) builds its posted
// window messages, timers and cross-thread sends on these queues.

#include "sys/Types.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace sys {

using ThreadId = DWORD;
using Deadline = std::chrono::steady_clock::time_point;

constexpr UINT kQuitMessage = 0x0012; // WM_QUIT

struct Message {
    std::uintptr_t window = 0; // 0: a thread message
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;
    // When set, the owning thread runs this instead of dispatching; used for
    // messages sent from another thread, which must run on the owner.
    std::function<void()> call;
    // Runs when the message is dropped instead of handled (its window is
    // gone): frees what the message carries.
    std::function<void()> dropped;
};

class MessageQueue {
public:
    explicit MessageQueue(ThreadId owner) : m_owner(owner) { }
    // Messages never handled are dropped: their `dropped` runs.
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    ThreadId Owner() const { return m_owner; }

    // Any thread. Appends and wakes the owner.
    void Post(Message message);

    // Owner only. Takes the oldest message; false when the queue is empty.
    bool Take(Message& out);
    // Owner only. Copies the oldest message without removing it.
    bool Front(Message& out);
    // Owner only. Waits for a message until the deadline; false on time-out
    // or when woken without a message.
    bool WaitFor(Message& out, Deadline deadline);

    // Owner only. Waits until a message is queued or the deadline passes, or
    // until woken; takes nothing. True when a message is queued.
    bool WaitReady(Deadline deadline);

    // Any thread. Wakes a waiting owner without a message (timers use it).
    void Wake();

    std::size_t Size();

private:
    ThreadId m_owner;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Message> m_messages; // guarded by m_mutex
    bool m_woken = false;           // guarded by m_mutex
};

// The calling thread's id: a small number assigned on first use, stable for
// the thread's life and never reused while the process runs.
ThreadId CurrentThreadId();

// The calling thread's queue, created on first use.
MessageQueue& CurrentQueue();

// The queue of a live thread, or null when that thread has ended or never
// had a queue.
std::shared_ptr<MessageQueue> QueueOf(ThreadId thread);

// Posts a thread message (window 0). False when the thread has no queue.
bool PostThreadMessage(ThreadId thread, UINT message, WPARAM wParam, LPARAM lParam);

// Posts the quit message (kQuitMessage, wParam = exit code) to the calling
// thread's own queue.
void PostQuitMessage(int exitCode);

// The calling thread's queue: take (remove = true) or look at the oldest
// message. False when there is none.
bool PeekMessage(Message& out, bool remove);

// Waits up to `timeoutMs` for a message on the calling thread's queue and
// takes it. False on time-out.
bool WaitMessage(Message& out, DWORD timeoutMs);

// A worker's turn at its queue: takes every waiting message, oldest first,
// and hands each to `handle`. False, leaving the rest, at the quit message or
// when `handle` returns false (the worker is to end).
bool HandleWaitingMessages(const std::function<bool(const Message&)>& handle);

}

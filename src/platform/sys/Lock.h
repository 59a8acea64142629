#pragma once
// A critical section: a recursive lock, as the control's code expects (the
// same thread may enter it again). Held by value; not copyable.

#include <mutex>

namespace sys {

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { m_mutex.lock(); }
    bool TryEnter() { return m_mutex.try_lock(); }
    void Leave() { m_mutex.unlock(); }

    // BasicLockable, so std::lock_guard and std::scoped_lock work.
    void lock() { Enter(); }
    bool try_lock() { return TryEnter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a critical section for the life of a scope.
class Locker {
public:
    explicit Locker(CriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~Locker() { m_cs.Leave(); }
    Locker(const Locker&) = delete;
    Locker& operator=(const Locker&) = delete;

private:
    CriticalSection& m_cs;
};

}

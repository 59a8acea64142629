#pragma once
// Test helper: records every callback of the network library (control,
// status, frame, search) so tests can wait for conditions with a time limit.

#include "kznet/kznet.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kztest {

struct ControlMessage {
    int type;
    std::vector<std::uint8_t> data;
};
struct StatusEvent {
    int type;
    bool hasData;
    int data;
    int value;
};
struct Frame {
    int kind;
    int id;
    FrameRecord record;
    std::vector<std::uint8_t> payload;
};
struct Answer {
    int type;
    std::vector<std::uint8_t> record;
};

class Recorder {
public:
    std::vector<ControlMessage> controls;
    std::vector<StatusEvent> statuses;
    std::vector<Frame> frames;
    std::vector<Answer> answers;
    int searchReturn = 0; // what the search callback returns

    // Waits until `condition` (called under the recorder's lock) holds.
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
    }
    template<typename F> auto Locked(F f)
    {
        std::lock_guard lock(m_mutex);
        return f();
    }

    int CountControls(int type)
    {
        int n = 0;
        for (auto& c : controls)
            n += c.type == type;
        return n;
    }
    const ControlMessage* FindControl(int type)
    {
        for (auto& c : controls)
            if (c.type == type)
                return &c;
        return nullptr;
    }
    int CountStatus(int type)
    {
        int n = 0;
        for (auto& s : statuses)
            n += s.type == type;
        return n;
    }
    int CountFrames(int kind)
    {
        int n = 0;
        for (auto& f : frames)
            n += f.kind == kind;
        return n;
    }

    // The last frame of `kind`, or null.
    const Frame* LastFrame(int kind)
    {
        for (auto it = frames.rbegin(); it != frames.rend(); ++it)
            if (it->kind == kind)
                return &*it;
        return nullptr;
    }

    static int OnControl(int type, const char* data, void* user, int length)
    {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard lock(self->m_mutex);
        self->controls.push_back({ type, std::vector<std::uint8_t>(data, data + length) });
        self->m_changed.notify_all();
        return 0;
    }
    static int OnStatus(int type, int* data, void* user, int value)
    {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard lock(self->m_mutex);
        self->statuses.push_back({ type, data != nullptr, data ? *data : 0, value });
        self->m_changed.notify_all();
        return 0;
    }
    static int OnFrame(int kind, FrameRecord* frame, void* user, int id)
    {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard lock(self->m_mutex);
        Frame f { kind, id, *frame, std::vector<std::uint8_t>(frame->payload, frame->payload + frame->size) };
        f.record.payload = nullptr;
        self->frames.push_back(std::move(f));
        self->m_changed.notify_all();
        return 0;
    }
    static int OnSearch(int type, const char* record, int length, void* user)
    {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard lock(self->m_mutex);
        self->answers.push_back({ type, std::vector<std::uint8_t>(record, record + length) });
        self->m_changed.notify_all();
        return self->searchReturn;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

inline LoginInfo MakeLogin(const std::string& ip, int port, const std::string& user, const std::string& password, int streamType = 0, int webPort = 0)
{
    LoginInfo login {};
    std::strncpy(login.ip, ip.c_str(), sizeof login.ip - 1);
    login.port = port;
    std::strncpy(login.username, user.c_str(), sizeof login.username - 1);
    std::strncpy(login.passwd, password.c_str(), sizeof login.passwd - 1);
    login.streamType = static_cast<std::int16_t>(streamType);
    login.webport = static_cast<std::uint16_t>(webPort);
    return login;
}

inline std::int32_t Int32At(const std::vector<std::uint8_t>& b, std::size_t at)
{
    std::int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

constexpr int kLiveId = 1025;
constexpr int kPlaybackId = 1026;

}

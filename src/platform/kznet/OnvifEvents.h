#pragma once
// A standard camera's alarms as our camera reports them. After the login
// the road watches the camera's event service through a PullPoint
// subscription (created, pulled with long polls, renewed before it ends,
// made again when the camera forgets it or cannot be reached) and turns
// the alarm topics it knows into our camera's alarm messages:
//
//   tns1:VideoSource/MotionAlarm (State), tns1:RuleEngine/CellMotionDetector/
//   Motion (IsMotion)                        -> kind 0, motion
//   tns1:AudioAnalytics/Audio/DetectedSound (IsSoundDetected) -> kind 1, sound
//   tns1:Device/Trigger/DigitalInput (LogicalState)           -> kind 2, input
//
// A kind that becomes active is reported as message 111 (long form, raised,
// with its kind) and message 300 (the alarm sound); the camera's alarm
// state as a whole as message 102 (1 when the first alarm starts, 0 when
// the last one ends), which lights and clears the red dot. Other topics
// and messages without a state are dropped.
//
// Threads: the readers and AlarmBoard are plain functions and values;
// EventWatch runs one thread of its own and calls its sink on it.

#include "kznet/Onvif.h"

#include "sys/Thread.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kz::onvif {

// How long a subscription is asked for, and how long one pull waits at most.
constexpr int kSubscriptionSeconds = 60;
constexpr int kPullTimeoutSeconds = 5;
// Notification messages one pull takes at most.
constexpr int kPullMessageLimit = 32;
// The most notification messages one answer is read for.
constexpr std::size_t kMaxNotices = 256;

// One alarm state a notification message reports: our camera's alarm kind
// (0 motion, 1 sound, 2 input), the message's topic and source (so that
// two inputs or two detectors are kept apart) and whether it is on.
struct AlarmNotice {
    int kind = 0;
    std::string topic;
    std::string source;
    bool active = false;
};

// A CreatePullPointSubscription answer: the subscription's address and
// the camera's clock now and at the subscription's end (0 when absent).
struct Subscription {
    std::string address;
    std::time_t currentTime = 0;
    std::time_t terminationTime = 0;
};

// A PullMessages answer.
struct PullAnswer {
    std::time_t currentTime = 0;
    std::time_t terminationTime = 0;
    std::vector<AlarmNotice> notices;
    std::size_t dropped = 0; // messages of other topics, or without a state
};

SoapStatus ReadSubscription(const char* data, std::size_t n, Subscription& out);
SoapStatus ReadPullMessages(const char* data, std::size_t n, PullAnswer& out);
// A Renew answer's times (its TerminationTime is required).
SoapStatus ReadRenew(const char* data, std::size_t n, std::time_t& current, std::time_t& termination);
// xsd:dateTime ("2026-12-09T17:30:05Z", fractions and a "+hh:mm" zone
// allowed) as seconds since 1970; false for anything else.
bool ReadDateTime(std::string_view text, std::time_t& out);

// The request bodies of the event service.
std::string CreatePullPointBody(int seconds);
std::string PullMessagesBody(int timeoutSeconds, int messageLimit);
std::string RenewBody(int seconds);
std::string UnsubscribeBody();

// The alarm state of every topic and source, and the control messages
// that report its changes as our camera would.
class AlarmBoard {
public:
    struct Report {
        int type;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Report> Apply(const std::vector<AlarmNotice>& notices);
    bool Active() const;

private:
    bool kindActive(int kind) const;
    std::map<std::string, std::pair<int, bool>> m_states; // topic and source -> kind, on
};

// Watches a logged-in session's events and hands each report to `sink`
// (on the watch's thread). The thread holds what it uses: a watch that is
// destroyed while its thread is still in an exchange lets the thread end
// by itself (it unsubscribes on its way out).
class EventWatch {
public:
    using Sink = std::function<void(int type, const std::uint8_t* data, std::size_t n)>;
    // Null when the camera offers no event service or no thread starts.
    static std::unique_ptr<EventWatch> Start(std::shared_ptr<const Session> session, Sink sink);
    // Stops the thread (waiting a bounded time).
    ~EventWatch();
    EventWatch(const EventWatch&) = delete;
    EventWatch& operator=(const EventWatch&) = delete;

    struct Core;

private:
    EventWatch() = default;
    std::shared_ptr<Core> m_core;
    sys::ThreadHandle m_thread;
};

}

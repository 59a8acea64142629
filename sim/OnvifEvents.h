#pragma once
// The standards-mode camera's event service: PullPoint subscriptions
// (CreatePullPointSubscription at the event service, then PullMessages,
// Renew and Unsubscribe at the subscription's own address), and
// GetEventProperties. The camera's alarms are property events: a new
// subscription first gets every alarm's present state ("Initialized"),
// then each change ("Changed"). A subscription that is not renewed ends at
// its termination time; the camera keeps at most kMaxSubscriptions.
//
// Alarm kinds as our protocol numbers them: 0 motion (reported on
// tns1:VideoSource/MotionAlarm and tns1:RuleEngine/CellMotionDetector/
// Motion), 1 sound (tns1:AudioAnalytics/Audio/DetectedSound), 2 input
// (tns1:Device/Trigger/DigitalInput).
//
// Threads: the HTTP server's (a PullMessages waits on its own thread for
// messages, for its timeout or for the camera to stop); SetAlarm and
// Forget from any thread.

#include "sim/CameraState.h"

#include <pugixml.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace sim {

constexpr const char* kOnvifEventsPath = "/onvif/event_service";
// A subscription's address is this and its number.
constexpr const char* kOnvifSubscriptionPath = "/onvif/subscription/";
constexpr std::size_t kMaxSubscriptions = 16;
// A PullMessages waits at most this long, whatever it asks.
constexpr int kMaxPullWaitSeconds = 60;
// Messages a subscription holds for its client at most; older ones go.
constexpr std::size_t kMaxQueuedMessages = 256;
constexpr int kAlarmKinds = 3;

class EventService {
public:
    explicit EventService(Camera::State& state);

    struct Answer {
        int status;
        std::string body;
    };
    // One authorised request at `path` (the event service or a
    // subscription's address); `base` is "http://address:port".
    Answer Handle(const std::string& path, const pugi::xml_node& operation, const std::string& base);

    // Raises (on) or clears an alarm kind; other kinds are ignored.
    void SetAlarm(int kind, bool on);
    // Forgets every subscription, as a camera that restarted.
    void Forget();
    // Subscriptions alive.
    std::size_t Subscriptions() const;

private:
    struct Message {
        std::string topic;
        std::string item;
        std::string operation; // Initialized, Changed
        bool state;
        long utc;
    };
    struct Pull {
        std::chrono::steady_clock::time_point ends;
        std::deque<Message> queue;
    };
    void Expire(); // with m_mutex held
    std::string Times(const Pull& pull) const;

    Camera::State& m_state;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_arrived;
    std::map<int, Pull> m_pulls;
    int m_next = 1;
    bool m_alarms[kAlarmKinds] = {};
};

}

// A standard camera's events: the PullPoint subscription's requests and the
// readers of their answers (pugixml, by local names), the alarm board that
// turns alarm states into our camera's messages, and the watch thread.

#include "kznet/OnvifEvents.h"

#include "kznet/Library.h"
#include "kznet/Protocol.h"
#include "kznet/TextParts.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace kz::onvif {

namespace {

using text::child;
using text::localName;

constexpr const char* kEventsNamespace = "http://www.onvif.org/ver10/events/wsdl";
constexpr const char* kNotificationNamespace = "http://docs.oasis-open.org/wsn/b-2";
constexpr const char* kCreatePullPointAction = "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest";
constexpr const char* kPullMessagesAction = "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest";
constexpr const char* kRenewAction = "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest";
constexpr const char* kUnsubscribeAction = "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest";

constexpr int kKindMotion = kAlarmKindMotion;
constexpr int kKindSound = kAlarmKindSound;
constexpr int kKindInput = kAlarmKindInput;
constexpr int kKinds = kAlarmKindInput + 1;

// The topics turned into alarms, and the data item that carries each one's state.
struct AlarmTopic {
    const char* topic; // without its namespace prefix
    const char* item;
    int kind;
};
constexpr AlarmTopic kAlarmTopics[] = {
    { "VideoSource/MotionAlarm", "State", kKindMotion },
    { "RuleEngine/CellMotionDetector/Motion", "IsMotion", kKindMotion },
    { "AudioAnalytics/Audio/DetectedSound", "IsSoundDetected", kKindSound },
    { "Device/Trigger/DigitalInput", "LogicalState", kKindInput },
};

// Time limits of the watch (milliseconds): a request other than a pull,
// the pull's answer beyond its own timeout, the first and the longest
// pause before a subscription is made again, and the bounded wait for
// the thread when the watch ends.
constexpr int kRequestTimeoutMs = 4000;
constexpr int kPullSlackMs = 4000;
constexpr int kRetryFirstMs = 250;
constexpr int kRetryMostMs = 4000;
constexpr int kUnsubscribeTimeoutMs = 1000;
// A subscription is renewed when this share of its time is left.
constexpr int kRenewDivisor = 2;
constexpr std::size_t kSecondsPerMinute = 60;
constexpr std::size_t kSecondsPerHour = 3600;
constexpr int kMsPerSecond = 1000;
// The parts of a date and time a reader accepts (a leap second included).
constexpr int kEpochYear = 1970;
constexpr int kTmYearBase = 1900;
constexpr int kMonths = 12;
constexpr int kLongestMonth = 31;
constexpr int kLastHour = 23;
constexpr int kLastMinute = 59;
constexpr int kLastSecond = 60;

std::string trimmed(const char* value)
{
    std::string_view v = value;
    std::size_t first = v.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    std::size_t last = v.find_last_not_of(" \t\r\n");
    return std::string(v.substr(first, std::min(last - first + 1, kMaxAnswerText)));
}

void readTimes(const pugi::xml_node& answer, std::time_t& current, std::time_t& termination)
{
    if (!ReadDateTime(trimmed(child(answer, "CurrentTime").child_value()), current))
        current = 0;
    if (!ReadDateTime(trimmed(child(answer, "TerminationTime").child_value()), termination))
        termination = 0;
}

// "true", "1" and "false", "0"; false for anything else.
bool readBool(std::string value, bool& out)
{
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (value == "true" || value == "1")
        out = true;
    else if (value == "false" || value == "0")
        out = false;
    else
        return false;
    return true;
}

// The notice of one NotificationMessage; false when it is not an alarm we know.
bool readNotice(const pugi::xml_node& notification, AlarmNotice& out)
{
    std::string topic = trimmed(child(notification, "Topic").child_value());
    // "tns1:VideoSource/MotionAlarm": the prefix is whatever the camera bound the topic namespace to.
    if (std::size_t colon = topic.find(':'); colon != std::string::npos && colon < topic.find('/'))
        topic.erase(0, colon + 1);
    const AlarmTopic* known = nullptr;
    for (const auto& t : kAlarmTopics)
        if (topic == t.topic)
            known = &t;
    pugi::xml_node message = child(child(notification, "Message"), "Message");
    if (!known || !message)
        return false;
    bool deleted = std::string_view(message.attribute("PropertyOperation").value()) == "Deleted";
    bool found = false, on = false;
    for (pugi::xml_node item = child(message, "Data").first_child(); item; item = item.next_sibling())
        if (item.type() == pugi::node_element && localName(item) == "SimpleItem" && std::string_view(item.attribute("Name").value()) == known->item)
            found = readBool(trimmed(item.attribute("Value").value()), on);
    if (!found && !deleted)
        return false;
    std::string source;
    for (pugi::xml_node item = child(message, "Source").first_child(); item && source.size() < kMaxAnswerText; item = item.next_sibling())
        if (item.type() == pugi::node_element && localName(item) == "SimpleItem")
            source += std::string(item.attribute("Name").value()) + "=" + item.attribute("Value").value() + ";";
    out.kind = known->kind;
    out.topic = known->topic;
    out.source = source.substr(0, kMaxAnswerText);
    out.active = on && !deleted;
    return true;
}

}

bool ReadDateTime(std::string_view text, std::time_t& out)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    std::string copy(text.substr(0, kMaxAnswerText));
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second, &used) != 6)
        return false;
    if (year < kEpochYear || month < 1 || month > kMonths || day < 1 || day > kLongestMonth || hour > kLastHour || minute > kLastMinute
        || second > kLastSecond)
        return false;
    std::string_view rest = std::string_view(copy).substr(static_cast<std::size_t>(used));
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        while (!rest.empty() && std::isdigit(static_cast<unsigned char>(rest.front())))
            rest.remove_prefix(1);
    }
    long zone = 0;
    if (rest == "Z" || rest.empty()) {
        zone = 0;
    } else if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
        int h = 0, m = 0;
        if (std::sscanf(std::string(rest.substr(1)).c_str(), "%2d:%2d", &h, &m) != 2 || h > kLastHour || m > kLastMinute)
            return false;
        zone = (rest[0] == '-' ? -1 : 1) * static_cast<long>(h * kSecondsPerHour + m * kSecondsPerMinute);
    } else {
        return false;
    }
    std::tm parts {};
    parts.tm_year = year - kTmYearBase;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    out = timegm(&parts) - zone;
    return true;
}

SoapStatus ReadSubscription(const char* data, std::size_t n, Subscription& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "CreatePullPointSubscriptionResponse");
    out.address = trimmed(child(child(answer, "SubscriptionReference"), "Address").child_value());
    readTimes(answer, out.currentTime, out.terminationTime);
    return out.address.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

SoapStatus ReadPullMessages(const char* data, std::size_t n, PullAnswer& out)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "PullMessagesResponse");
    if (!answer)
        return SoapStatus::Malformed;
    readTimes(answer, out.currentTime, out.terminationTime);
    out.notices.clear();
    out.dropped = 0;
    for (pugi::xml_node node = answer.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "NotificationMessage")
            continue;
        AlarmNotice notice;
        if (out.notices.size() < kMaxNotices && readNotice(node, notice))
            out.notices.push_back(std::move(notice));
        else
            ++out.dropped;
    }
    return SoapStatus::Ok;
}

SoapStatus ReadRenew(const char* data, std::size_t n, std::time_t& current, std::time_t& termination)
{
    pugi::xml_document document;
    pugi::xml_node body;
    if (SoapStatus status = OpenAnswer(document, data, n, body); status != SoapStatus::Ok)
        return status;
    pugi::xml_node answer = child(body, "RenewResponse");
    readTimes(answer, current, termination);
    return termination == 0 ? SoapStatus::Malformed : SoapStatus::Ok;
}

std::string CreatePullPointBody(int seconds)
{
    return std::string("<CreatePullPointSubscription xmlns=\"") + kEventsNamespace + "\"><InitialTerminationTime>PT" + std::to_string(seconds)
        + "S</InitialTerminationTime></CreatePullPointSubscription>";
}

std::string PullMessagesBody(int timeoutSeconds, int messageLimit)
{
    return std::string("<PullMessages xmlns=\"") + kEventsNamespace + "\"><Timeout>PT" + std::to_string(timeoutSeconds) + "S</Timeout><MessageLimit>"
        + std::to_string(messageLimit) + "</MessageLimit></PullMessages>";
}

std::string RenewBody(int seconds)
{
    return std::string("<Renew xmlns=\"") + kNotificationNamespace + "\"><TerminationTime>PT" + std::to_string(seconds) + "S</TerminationTime></Renew>";
}

std::string UnsubscribeBody()
{
    return std::string("<Unsubscribe xmlns=\"") + kNotificationNamespace + "\"/>";
}

// ---- the alarm board ------------------------------------------------------------

bool AlarmBoard::kindActive(int kind) const
{
    return std::any_of(m_states.begin(), m_states.end(), [kind](const auto& s) { return s.second.first == kind && s.second.second; });
}

bool AlarmBoard::Active() const
{
    return std::any_of(m_states.begin(), m_states.end(), [](const auto& s) { return s.second.second; });
}

std::vector<AlarmBoard::Report> AlarmBoard::Apply(const std::vector<AlarmNotice>& notices)
{
    std::vector<Report> out;
    for (const AlarmNotice& notice : notices) {
        if (notice.kind < 0 || notice.kind >= kKinds)
            continue;
        bool wasActive = Active(), kindWasActive = kindActive(notice.kind);
        std::string key = notice.topic + "|" + notice.source;
        if (notice.active)
            m_states[key] = { notice.kind, true };
        else
            m_states.erase(key);
        if (notice.active && !kindWasActive) {
            // As our camera raises an alarm: message 111 in its long form, then the alarm sound.
            std::vector<std::uint8_t> alarm(kAlarmLongBytes, 0);
            alarm[kAlarmKindAt] = static_cast<std::uint8_t>(notice.kind);
            alarm[kAlarmOnAt] = 1;
            out.push_back({ kMsgAlarm, std::move(alarm) });
            std::vector<std::uint8_t> sound(static_cast<std::size_t>(FindControlLength(kMsgAlarmSound)->plain), 0);
            sound[kAlarmSoundMaskAt] = 1; // the first channel
            sound[kAlarmSoundChannelAt] = 0; // any
            out.push_back({ kMsgAlarmSound, std::move(sound) });
        }
        if (Active() != wasActive)
            out.push_back({ kMsgAlarmState, { static_cast<std::uint8_t>(Active() ? 1 : 0) } });
    }
    return out;
}

// ---- the watch ------------------------------------------------------------------

struct EventWatch::Core {
    std::shared_ptr<const Session> session;
    Sink sink;
    std::atomic<bool> stop { false };
    std::mutex mutex; // guards the pause's wait
    std::condition_variable wake;
    ServiceAddress subscription; // the watch thread's; empty host: none
    Clock::time_point renewAt;
    AlarmBoard board;

    // Waits `ms` or until stopped; false when stopped.
    bool Pause(int ms)
    {
        std::unique_lock lock(mutex);
        return !wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
    }

    Clock::time_point Deadline(int ms) const { return Clock::now() + std::chrono::milliseconds(ms); }

    // When a subscription that ends at `termination` (the camera's clock,
    // read at `current`) is to be renewed.
    void PlanRenewal(std::time_t current, std::time_t termination)
    {
        if (current == 0)
            current = std::time(nullptr) + session->ClockOffsetSeconds();
        long left = termination > current ? static_cast<long>(termination - current) : kSubscriptionSeconds;
        renewAt = Clock::now() + std::chrono::seconds(std::max(1L, left / kRenewDivisor));
    }

    bool Subscribe()
    {
        std::string answer;
        Subscription made;
        if (session->Send(session->EventService(), kCreatePullPointAction, CreatePullPointBody(kSubscriptionSeconds), answer,
                Deadline(kRequestTimeoutMs), &stop)
                != SoapStatus::Ok
            || ReadSubscription(answer.data(), answer.size(), made) != SoapStatus::Ok || !SplitHttpAddress(made.address, subscription))
            return false;
        // As the service addresses: the camera's name for itself may not reach it from here.
        subscription.host = session->Host();
        PlanRenewal(made.currentTime, made.terminationTime);
        return true;
    }

    bool Renew()
    {
        std::string answer;
        std::time_t current = 0, termination = 0;
        if (session->Send(subscription, kRenewAction, RenewBody(kSubscriptionSeconds), answer, Deadline(kRequestTimeoutMs), &stop) != SoapStatus::Ok
            || ReadRenew(answer.data(), answer.size(), current, termination) != SoapStatus::Ok)
            return false;
        PlanRenewal(current, termination);
        return true;
    }

    bool Pull()
    {
        auto untilRenewal = std::chrono::duration_cast<std::chrono::seconds>(renewAt - Clock::now()).count();
        int timeout = static_cast<int>(std::clamp<long long>(untilRenewal, 1, kPullTimeoutSeconds));
        std::string answer;
        PullAnswer pulled;
        if (session->Send(subscription, kPullMessagesAction, PullMessagesBody(timeout, kPullMessageLimit), answer,
                Deadline(timeout * kMsPerSecond + kPullSlackMs), &stop)
                != SoapStatus::Ok
            || ReadPullMessages(answer.data(), answer.size(), pulled) != SoapStatus::Ok)
            return false;
        for (const auto& report : board.Apply(pulled.notices))
            if (!stop.load())
                sink(report.type, report.bytes.data(), report.bytes.size());
        return true;
    }

    void Run()
    {
        int retryMs = kRetryFirstMs;
        while (!stop.load()) {
            bool ok = true;
            if (subscription.host.empty())
                ok = Subscribe();
            else if (Clock::now() >= renewAt)
                ok = Renew();
            if (ok && !stop.load())
                ok = Pull();
            if (ok) {
                retryMs = kRetryFirstMs;
                continue;
            }
            if (stop.load())
                break; // an exchange cut short by the stop: the subscription is still the camera's
            // The camera forgot the subscription (it restarted), refused it
            // or cannot be reached: a new one, after a pause that grows.
            subscription = {};
            if (!Pause(retryMs))
                break;
            retryMs = std::min(retryMs * 2, kRetryMostMs);
        }
        if (!subscription.host.empty()) {
            std::string answer;
            session->Send(subscription, kUnsubscribeAction, UnsubscribeBody(), answer, Deadline(kUnsubscribeTimeoutMs), nullptr);
        }
    }
};

std::unique_ptr<EventWatch> EventWatch::Start(std::shared_ptr<const Session> session, Sink sink)
{
    if (!session || session->EventService().host.empty() || !sink)
        return nullptr;
    std::unique_ptr<EventWatch> watch(new EventWatch());
    watch->m_core = std::make_shared<Core>();
    watch->m_core->session = std::move(session);
    watch->m_core->sink = std::move(sink);
    watch->m_thread = sys::Thread::Start("kz_events", [core = watch->m_core] { core->Run(); });
    if (!watch->m_thread)
        return nullptr;
    return watch;
}

EventWatch::~EventWatch()
{
    {
        std::lock_guard lock(m_core->mutex);
        m_core->stop = true;
    }
    m_core->wake.notify_all();
    StopWorker(m_thread);
}

}

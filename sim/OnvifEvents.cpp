#include "sim/OnvifEvents.h"
#include "sim/HttpStatus.h"

#include "sim/OnvifServer.h"
#include "sim/XmlNames.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace sim {

namespace {

using xml::child;
using xml::localName;
using Clock = std::chrono::steady_clock;

// A subscription asked for without a usable time lives this long, and at most this long.
constexpr long kDefaultSubscriptionSeconds = 60;
constexpr long kMostSubscriptionSeconds = 3600;
constexpr int kDefaultPullSeconds = 10;
constexpr int kDefaultMessageLimit = 10;
constexpr int kMostMessageLimit = 1000;
// A waiting pull looks at the camera's stop flag this often.
constexpr int kPullSliceMs = 100;
constexpr long kSecondsPerMinute = 60;
constexpr long kSecondsPerHour = 3600;
constexpr long kSecondsPerDay = 86400;

constexpr const char* kEnvelopeOpen =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\""
    " xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\""
    " xmlns:wsa=\"http://www.w3.org/2005/08/addressing\""
    " xmlns:wstop=\"http://docs.oasis-open.org/wsn/t-1\""
    " xmlns:tns1=\"http://www.onvif.org/ver10/topics\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\">\n<env:Body>";
constexpr const char* kEnvelopeClose = "</env:Body>\n</env:Envelope>\n";
constexpr const char* kTopicDialect = "http://www.onvif.org/ver10/tev/topicExpression/ConcreteSet";

// The topics of each alarm kind, with the data item that carries the
// state and the source that names what raised it.
struct Topic {
    int kind;
    const char* topic;
    const char* item;
    const char* source;
};
constexpr Topic kTopics[] = {
    { 0, "tns1:VideoSource/MotionAlarm", "State", "<tt:SimpleItem Name=\"Source\" Value=\"video_source_1\"/>" },
    { 0, "tns1:RuleEngine/CellMotionDetector/Motion", "IsMotion",
        "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"source_config_1\"/>"
        "<tt:SimpleItem Name=\"VideoAnalyticsConfigurationToken\" Value=\"analytics_1\"/><tt:SimpleItem Name=\"Rule\" Value=\"cell_motion\"/>" },
    { 1, "tns1:AudioAnalytics/Audio/DetectedSound", "IsSoundDetected",
        "<tt:SimpleItem Name=\"AudioSourceConfigurationToken\" Value=\"audio_source_config_1\"/>"
        "<tt:SimpleItem Name=\"AudioAnalyticsConfigurationToken\" Value=\"audio_analytics_1\"/><tt:SimpleItem Name=\"Rule\" Value=\"sound\"/>" },
    { 2, "tns1:Device/Trigger/DigitalInput", "LogicalState", "<tt:SimpleItem Name=\"InputToken\" Value=\"input_1\"/>" },
};

std::string envelope(const std::string& body)
{
    return kEnvelopeOpen + body + kEnvelopeClose;
}

EventService::Answer fault(const char* subcode, const char* reason)
{
    return { kHttpBadRequest, envelope(std::string("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>") + subcode
                                  + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason
                                  + "</env:Text></env:Reason></env:Fault>") };
}

std::string utcText(long utc)
{
    std::time_t t = utc;
    std::tm parts {};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

// An xsd:duration ("PT60S", "PT1M", "P1DT2H"), in whole seconds; -1 for anything else.
long durationSeconds(const std::string& text)
{
    if (text.size() < 3 || text[0] != 'P')
        return -1;
    long total = 0;
    bool time = false, any = false;
    for (std::size_t at = 1; at < text.size();) {
        if (text[at] == 'T') {
            time = true;
            ++at;
            continue;
        }
        char* end = nullptr;
        double n = std::strtod(text.c_str() + at, &end);
        if (end == text.c_str() + at || !*end || n < 0 || n > static_cast<double>(kMostSubscriptionSeconds))
            return -1;
        switch (*end) {
        case 'D': total += static_cast<long>(n * kSecondsPerDay); break;
        case 'H': if (!time) return -1; total += static_cast<long>(n * kSecondsPerHour); break;
        case 'M': if (!time) return -1; total += static_cast<long>(n * kSecondsPerMinute); break;
        case 'S': if (!time) return -1; total += static_cast<long>(n); break;
        default: return -1;
        }
        any = true;
        at = static_cast<std::size_t>(end - text.c_str()) + 1;
    }
    return any ? total : -1;
}

// A subscription's life asked for as a duration or an absolute time.
long lifeSeconds(const pugi::xml_node& node, long cameraUtc)
{
    std::string text = node.child_value();
    if (text.empty())
        return kDefaultSubscriptionSeconds;
    long seconds = durationSeconds(text);
    if (seconds < 0) {
        std::tm parts {};
        if (strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts))
            seconds = static_cast<long>(timegm(&parts)) - cameraUtc;
    }
    return seconds <= 0 ? kDefaultSubscriptionSeconds : std::min(seconds, kMostSubscriptionSeconds);
}

long granted(long asked, const CameraConfig& config)
{
    return config.eventSubscriptionSeconds > 0 ? std::min<long>(asked, config.eventSubscriptionSeconds) : asked;
}

}

EventService::EventService(Camera::State& state) : m_state(state) { }

void EventService::Expire()
{
    auto now = Clock::now();
    std::erase_if(m_pulls, [now](const auto& p) { return p.second.ends <= now; });
}

std::string EventService::Times(const Pull& pull) const
{
    long now = CameraUtc(m_state.config);
    long left = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(pull.ends - Clock::now()).count());
    return "<tev:CurrentTime>" + utcText(now) + "</tev:CurrentTime><tev:TerminationTime>" + utcText(now + std::max(left, 0L)) + "</tev:TerminationTime>";
}

std::size_t EventService::Subscriptions() const
{
    std::lock_guard lock(m_mutex);
    return m_pulls.size();
}

void EventService::SetAlarm(int kind, bool on)
{
    if (kind < 0 || kind >= kAlarmKinds)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_alarms[kind] == on)
            return;
        m_alarms[kind] = on;
        long utc = CameraUtc(m_state.config);
        for (auto& [id, pull] : m_pulls)
            for (const auto& t : kTopics)
                if (t.kind == kind) {
                    if (pull.queue.size() >= kMaxQueuedMessages)
                        pull.queue.pop_front();
                    pull.queue.push_back({ t.topic, t.item, "Changed", on, utc });
                }
    }
    m_arrived.notify_all();
}

void EventService::Forget()
{
    {
        std::lock_guard lock(m_mutex);
        m_pulls.clear();
    }
    m_arrived.notify_all();
}

EventService::Answer EventService::Handle(const std::string& path, const pugi::xml_node& operationNode, const std::string& base)
{
    const std::string operation(localName(operationNode));
    const long cameraUtc = CameraUtc(m_state.config);
    auto log = [this](const std::string& entry) {
        std::lock_guard lock(m_state.mutex);
        m_state.onvifLog.push_back(entry);
        m_state.Notify();
    };

    if (path == kOnvifEventsPath && operation == "GetEventProperties") {
        std::string topics;
        for (const auto& t : kTopics) {
            // "tns1:VideoSource/MotionAlarm" as nested topic elements.
            std::string name = std::string(t.topic).substr(std::string(t.topic).find(':') + 1);
            std::vector<std::string> parts;
            for (std::size_t at = 0; at <= name.size();) {
                std::size_t slash = std::min(name.find('/', at), name.size());
                parts.push_back(name.substr(at, slash - at));
                at = slash + 1;
            }
            std::string element = "<tt:MessageDescription IsProperty=\"true\"><tt:Data><tt:SimpleItemDescription Name=\"" + std::string(t.item)
                + "\" Type=\"xs:boolean\"/></tt:Data></tt:MessageDescription>";
            for (std::size_t i = parts.size(); i-- > 0;)
                element = "<tns1:" + parts[i] + (i + 1 == parts.size() ? " wstop:topic=\"true\">" : ">") + element + "</tns1:" + parts[i] + ">";
            topics += element;
        }
        return { kHttpOk, envelope(std::string("<tev:GetEventPropertiesResponse><tev:TopicNamespaceLocation>http://www.onvif.org/onvif/ver10/topics/topicns.xml"
                                               "</tev:TopicNamespaceLocation><wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet>")
                              + topics + "</wstop:TopicSet><wsnt:TopicExpressionDialect>" + kTopicDialect
                              + "</wsnt:TopicExpressionDialect><tev:MessageContentFilterDialect>http://www.onvif.org/ver10/tev/messageContentFilter/ItemFilter"
                                "</tev:MessageContentFilterDialect></tev:GetEventPropertiesResponse>") };
    }
    if (path == kOnvifEventsPath && operation == "CreatePullPointSubscription") {
        long seconds = granted(lifeSeconds(child(operationNode, "InitialTerminationTime"), cameraUtc), m_state.config);
        int id = 0;
        {
            std::lock_guard lock(m_mutex);
            Expire();
            if (m_pulls.size() >= kMaxSubscriptions)
                return fault("ter:TooManySubscriptions", "Too many subscriptions");
            id = m_next++;
            Pull& pull = m_pulls[id];
            pull.ends = Clock::now() + std::chrono::seconds(seconds);
            // Property events: first the present state of every alarm.
            for (const auto& t : kTopics)
                pull.queue.push_back({ t.topic, t.item, "Initialized", m_alarms[t.kind], cameraUtc });
        }
        log("CreatePullPointSubscription");
        return { kHttpOk, envelope("<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference><wsa:Address>" + base + kOnvifSubscriptionPath
                              + std::to_string(id) + "</wsa:Address></tev:SubscriptionReference><wsnt:CurrentTime>" + utcText(cameraUtc)
                              + "</wsnt:CurrentTime><wsnt:TerminationTime>" + utcText(cameraUtc + seconds)
                              + "</wsnt:TerminationTime></tev:CreatePullPointSubscriptionResponse>") };
    }
    if (path.rfind(kOnvifSubscriptionPath, 0) != 0)
        return { kHttpServerError, envelope("<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>ter:ActionNotSupported"
                                            "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Not supported</env:Text>"
                                            "</env:Reason></env:Fault>") };

    const int id = std::atoi(path.c_str() + std::string(kOnvifSubscriptionPath).size());
    std::unique_lock lock(m_mutex);
    Expire();
    auto it = m_pulls.find(id);
    if (it == m_pulls.end())
        return fault("ter:InvalidArgVal", "No such subscription");
    if (operation == "Renew") {
        long seconds = granted(lifeSeconds(child(operationNode, "TerminationTime"), cameraUtc), m_state.config);
        it->second.ends = Clock::now() + std::chrono::seconds(seconds);
        lock.unlock();
        log("Renew");
        return { kHttpOk, envelope("<wsnt:RenewResponse><wsnt:TerminationTime>" + utcText(cameraUtc + seconds) + "</wsnt:TerminationTime><wsnt:CurrentTime>"
                              + utcText(cameraUtc) + "</wsnt:CurrentTime></wsnt:RenewResponse>") };
    }
    if (operation == "Unsubscribe") {
        m_pulls.erase(it);
        lock.unlock();
        m_arrived.notify_all();
        log("Unsubscribe");
        return { kHttpOk, envelope("<wsnt:UnsubscribeResponse/>") };
    }
    if (operation != "PullMessages")
        return fault("ter:ActionNotSupported", "Not supported");

    long wait = durationSeconds(child(operationNode, "Timeout").child_value());
    if (wait < 0)
        wait = kDefaultPullSeconds;
    wait = std::min<long>(wait, kMaxPullWaitSeconds);
    long limit = std::atol(child(operationNode, "MessageLimit").child_value());
    if (limit <= 0)
        limit = kDefaultMessageLimit;
    limit = std::min<long>(limit, kMostMessageLimit);
    auto until = Clock::now() + std::chrono::seconds(wait);
    // Waits for messages, the timeout, the camera's stop, or the subscription's end.
    while (true) {
        it = m_pulls.find(id);
        if (it == m_pulls.end() || m_state.stopping.load())
            return fault("ter:InvalidArgVal", "No such subscription");
        if (!it->second.queue.empty() || Clock::now() >= until)
            break;
        m_arrived.wait_for(lock, std::chrono::milliseconds(kPullSliceMs));
    }
    Pull& pull = it->second;
    std::string messages;
    for (long n = 0; n < limit && !pull.queue.empty(); ++n) {
        const Message& m = pull.queue.front();
        const Topic* topic = nullptr;
        for (const auto& t : kTopics)
            if (m.topic == t.topic)
                topic = &t;
        messages += std::string("<wsnt:NotificationMessage><wsnt:Topic Dialect=\"") + kTopicDialect + "\">" + m.topic
            + "</wsnt:Topic><wsnt:Message><tt:Message UtcTime=\"" + utcText(m.utc) + "\" PropertyOperation=\"" + m.operation + "\"><tt:Source>"
            + (topic ? topic->source : "") + "</tt:Source><tt:Data><tt:SimpleItem Name=\"" + m.item + "\" Value=\"" + (m.state ? "true" : "false")
            + "\"/></tt:Data></tt:Message></wsnt:Message></wsnt:NotificationMessage>";
        pull.queue.pop_front();
    }
    std::string times = Times(pull);
    lock.unlock();
    return { kHttpOk, envelope("<tev:PullMessagesResponse>" + times + messages + "</tev:PullMessagesResponse>") };
}

}

// Recordings stored on a standard camera: the search and replay services'
// requests and answers, and a recording played as a media channel through
// the library's own RTSP client with ONVIF's replay headers: its H.264
// pictures, and its sound where that is G.711 (delivered as 16-bit PCM, as
// our camera's recordings carry it).

#include "kznet/OnvifReplay.h"

#include "kznet/Library.h"
#include "kznet/Protocol.h"
#include "kznet/Rtsp.h"
#include "kznet/TextParts.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <tuple>

namespace kz {

namespace onvif {

namespace {

using text::child;
using text::localName;

constexpr const char* kSearchAction = "http://www.onvif.org/ver10/search/wsdl/";
constexpr const char* kReplayAction = "http://www.onvif.org/ver10/replay/wsdl/";
constexpr const char* kFindRecordingsBody =
    "<tse:FindRecordings xmlns:tse=\"http://www.onvif.org/ver10/search/wsdl\"><tse:Scope/><tse:MaxMatches>64</tse:MaxMatches>"
    "<tse:KeepAliveTime>PT10S</tse:KeepAliveTime></tse:FindRecordings>";
constexpr const char* kGetResultsBody =
    "<tse:GetRecordingSearchResults xmlns:tse=\"http://www.onvif.org/ver10/search/wsdl\"><tse:SearchToken>{Token}</tse:SearchToken>"
    "<tse:MinResults>1</tse:MinResults><tse:MaxResults>64</tse:MaxResults><tse:WaitTime>PT1S</tse:WaitTime></tse:GetRecordingSearchResults>";
constexpr const char* kEndSearchBody =
    "<tse:EndSearch xmlns:tse=\"http://www.onvif.org/ver10/search/wsdl\"><tse:SearchToken>{Token}</tse:SearchToken></tse:EndSearch>";
constexpr const char* kGetReplayUriBody =
    "<trp:GetReplayUri xmlns:trp=\"http://www.onvif.org/ver10/replay/wsdl\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"><trp:StreamSetup>"
    "<tt:Stream>RTP-Unicast</tt:Stream><tt:Transport><tt:Protocol>RTSP</tt:Protocol></tt:Transport></trp:StreamSetup>"
    "<trp:RecordingToken>{Token}</trp:RecordingToken></trp:GetReplayUri>";
constexpr int kSearchTimeoutMs = 6000;
constexpr int kHexBase = 16;

std::string value(const pugi::xml_node& node)
{
    return std::string(text::trim(node.child_value()).substr(0, kMaxAnswerText));
}

bool tokenByte(unsigned char c)
{
    return c > ' ' && c < 0x7F && c != '/' && c != '%' && c != '?' && c != '&';
}

std::string utcText(std::time_t t)
{
    return UtcText(t);
}

}

bool ParseUtc(const std::string& text, std::time_t& utc)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, consumed = 0;
    double second = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%lf%n", &year, &month, &day, &hour, &minute, &second, &consumed) != 6)
        return false;
    if (static_cast<std::size_t>(consumed) + 1 != text.size() || text.back() != 'Z')
        return false;
    constexpr int kFirstYear = 1970, kMonths = 12, kDays = 31, kLastHour = 23, kLastMinute = 59;
    constexpr double kSecondsLimit = 61; // a leap second included
    if (year < kFirstYear || month < 1 || month > kMonths || day < 1 || day > kDays || hour > kLastHour || minute > kLastMinute || second < 0
        || second >= kSecondsLimit)
        return false;
    std::tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = static_cast<int>(second);
    utc = timegm(&parts);
    return true;
}

SoapStatus ReadSearchToken(const char* data, std::size_t n, std::string& token)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    token = value(child(child(bodyNode, "FindRecordingsResponse"), "SearchToken"));
    return token.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

SoapStatus ReadRecordingResults(const char* data, std::size_t n, std::vector<RecordingInfo>& out, bool& completed)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    pugi::xml_node list = child(child(bodyNode, "GetRecordingSearchResultsResponse"), "ResultList");
    if (!list)
        return SoapStatus::Malformed;
    completed = value(child(list, "SearchState")) == "Completed";
    for (pugi::xml_node node = list.first_child(); node && out.size() < kMaxRecordings; node = node.next_sibling()) {
        if (node.type() != pugi::node_element || localName(node) != "RecordingInformation")
            continue;
        RecordingInfo info;
        info.token = value(child(node, "RecordingToken"));
        if (info.token.empty() || !ParseUtc(value(child(node, "EarliestRecording")), info.earliest)
            || !ParseUtc(value(child(node, "LatestRecording")), info.latest) || info.latest <= info.earliest)
            continue;
        if (std::none_of(out.begin(), out.end(), [&](const RecordingInfo& r) { return r.token == info.token; }))
            out.push_back(std::move(info));
    }
    return SoapStatus::Ok;
}

SoapStatus ReadReplayUri(const char* data, std::size_t n, std::string& uri)
{
    pugi::xml_document document;
    pugi::xml_node bodyNode;
    if (SoapStatus status = OpenAnswer(document, data, n, bodyNode); status != SoapStatus::Ok)
        return status;
    uri = value(child(child(bodyNode, "GetReplayUriResponse"), "Uri"));
    return uri.empty() ? SoapStatus::Malformed : SoapStatus::Ok;
}

std::string RecordingPath(const std::string& token, std::time_t start)
{
    std::string path = kRecordingPathPrefix;
    for (unsigned char c : token) {
        if (tokenByte(c)) {
            path += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            path += escaped;
        }
    }
    return start ? path + "/" + utcText(start) : path;
}

bool ParseRecordingPath(const std::string& path, std::string& token, std::time_t& start)
{
    const std::size_t prefix = std::strlen(kRecordingPathPrefix);
    if (path.compare(0, prefix, kRecordingPathPrefix) != 0)
        return false;
    std::string rest = path.substr(prefix);
    std::size_t slash = rest.find('/');
    std::string encoded = rest.substr(0, slash);
    start = 0;
    if (slash != std::string::npos && !ParseUtc(rest.substr(slash + 1), start))
        return false;
    token.clear();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size() && std::isxdigit(static_cast<unsigned char>(encoded[i + 1]))
            && std::isxdigit(static_cast<unsigned char>(encoded[i + 2]))) {
            token += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, kHexBase));
            i += 2;
        } else if (tokenByte(static_cast<unsigned char>(encoded[i]))) {
            token += encoded[i];
        } else {
            return false;
        }
    }
    return !token.empty();
}

Search FindRecordings(const Session& session, std::vector<RecordingInfo>& out, Clock::time_point deadline, const std::atomic<bool>* cancel)
{
    Session::Services services = session.ListServices(deadline, cancel);
    if (services.search.host.empty())
        return Search::Unsupported;
    auto outcome = [](SoapStatus status) { return status == SoapStatus::NotAuthorized ? Search::Refused : Search::Failed; };
    std::string answer, token;
    SoapStatus status = session.Send(services.search, std::string(kSearchAction) + "FindRecordings", kFindRecordingsBody, answer, deadline, cancel);
    if (status == SoapStatus::Ok)
        status = ReadSearchToken(answer.data(), answer.size(), token);
    if (status != SoapStatus::Ok)
        return outcome(status);
    out.clear();
    bool completed = false;
    for (int round = 0; round < kMaxSearchRounds && !completed && status == SoapStatus::Ok; ++round) {
        status = session.Send(services.search, std::string(kSearchAction) + "GetRecordingSearchResults",
            FillTemplate(kGetResultsBody, { { "Token", token } }), answer, deadline, cancel);
        if (status == SoapStatus::Ok)
            status = ReadRecordingResults(answer.data(), answer.size(), out, completed);
    }
    if (!completed)
        session.Send(services.search, std::string(kSearchAction) + "EndSearch", FillTemplate(kEndSearchBody, { { "Token", token } }), answer,
            deadline, cancel);
    return status == SoapStatus::Ok ? Search::Ok : outcome(status);
}

SoapStatus GetReplayUri(const Session& session, const std::string& token, std::string& uri, Clock::time_point deadline,
    const std::atomic<bool>* cancel)
{
    Session::Services services = session.ListServices(deadline, cancel);
    if (services.replay.host.empty())
        return SoapStatus::Fault;
    std::string answer, given;
    SoapStatus status = session.Send(services.replay, std::string(kReplayAction) + "GetReplayUri",
        FillTemplate(kGetReplayUriBody, { { "Token", token } }), answer, deadline, cancel);
    if (status == SoapStatus::Ok)
        status = ReadReplayUri(answer.data(), answer.size(), given);
    if (status != SoapStatus::Ok)
        return status;
    // As the stream's address: the camera's own name for itself may not
    // reach it from here, and an address without a port has the live one's.
    ServiceAddress live, address;
    const int port = SplitRtspAddress(session.StreamUri(), live) ? live.port : kDefaultRtspPort;
    if (!SplitRtspAddress(WithRtspPort(given, port), address))
        return SoapStatus::Malformed;
    uri = "rtsp://" + session.Host() + ":" + std::to_string(address.port) + address.path;
    return SoapStatus::Ok;
}

bool RelayRecordingCgi(const Session& session, const std::string& command, int& result, std::string& fields, const std::atomic<bool>* cancel)
{
    if (command != kCgiGetRecordList)
        return false;
    std::vector<RecordingInfo> recordings;
    switch (FindRecordings(session, recordings, Clock::now() + std::chrono::milliseconds(kSearchTimeoutMs), cancel)) {
    case Search::Ok: result = cgi::kResultOk; break;
    case Search::Unsupported: result = cgi::kResultUnsupported; return true;
    case Search::Refused: result = cgi::kResultBadAccount; return true;
    case Search::Failed: result = cgi::kResultFailed; return true;
    }
    auto element = [](const std::string& name, const std::string& text) {
        std::string escaped;
        for (char c : text)
            escaped += c == '<' ? std::string("&lt;") : c == '&' ? std::string("&amp;") : std::string(1, c);
        return "<" + name + ">" + escaped + "</" + name + ">";
    };
    fields = element("count", std::to_string(recordings.size()));
    for (std::size_t i = 0; i < recordings.size(); ++i) {
        const auto& r = recordings[i];
        const std::string n = std::to_string(i);
        fields += element("path_" + n, RecordingPath(r.token, 0)) + element("start_" + n, utcText(r.earliest)) + element("end_" + n, utcText(r.latest));
    }
    return true;
}

}

namespace {

constexpr int kAnswerTimeoutMs = 4000;
constexpr int kConnectTimeoutMs = 2000;
constexpr int kSliceMs = 100;
constexpr int kRtspOk = 200;
constexpr int kRtspInvalidRange = 457;
constexpr int kInterleavedVideo = 0;
constexpr int kInterleavedSound = 2;
constexpr const char* kInterleavedParam = "interleaved=";
constexpr std::size_t kRtcpTypeAt = 1; // an RTCP packet's type follows its first byte
constexpr int kKeepAliveS = 20;
// The stream has ended when nothing came for this long near the end.
constexpr int kEndQuietMs = 600;
// Nothing for this long in the middle of a recording is a stall.
constexpr int kStallMs = 1500;
constexpr std::uint8_t kRtcpBye = 203;
constexpr int kBufferingSteps[] = { 0, 50, 100 };
constexpr std::uint64_t kNsPerSecond = 1000000000;
// Sent with every request of a replay: a camera that cannot replay must
// refuse rather than stream live video instead.
constexpr const char* kReplayRequire = "Require: onvif-replay\r\n";
// The camera paces the recording at its own speed, so that a pause stops
// the flow at the camera.
constexpr const char* kRateControl = "Rate-Control: yes\r\n";

class ReplayMedia : public Channel, public std::enable_shared_from_this<ReplayMedia> {
public:
    ReplayMedia(std::string path, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request, KzStatusCallback status,
        KzFrameCallback frame, void* user)
        : m_path(std::move(path))
        , m_session(std::move(session))
        , m_request(request)
        , m_id(static_cast<std::int16_t>(request.tag & kTagIdMask))
        , m_status(status)
        , m_frame(frame)
        , m_user(user)
    {
    }

    bool Start()
    {
        auto self = shared_from_this();
        m_thread = sys::Thread::Start("kz_replay", [self] { self->Run(); });
        return m_thread != nullptr;
    }

    int Control(const wire::MediaControl& control) override
    {
        if (m_closing.load())
            return -1;
        if (control.op == wire::MediaOp::Pause || control.op == wire::MediaOp::Resume || control.op == wire::MediaOp::Seek) {
            std::lock_guard lock(m_controlMutex);
            m_controls.push_back(control);
        }
        return 0;
    }

    int Talk(const char*, int) override { return -1; }

    void Close() override
    {
        m_closing = true;
        m_gate.Close();
        StopWorker(m_thread);
    }

private:
    void report(int type, int result, int value)
    {
        if (m_status)
            m_gate.Deliver([&] { m_status(type, &result, m_user, value); });
    }
    void playback(int event, int value) { report(kStatusPlayback, event, value); }
    void buffering()
    {
        for (int percent : kBufferingSteps)
            playback(kPbBuffering, percent);
    }
    // After a playback event that ends it (missing, broken), the channel
    // stays open until it is closed, as our camera's does.
    void idle()
    {
        while (!m_closing.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs));
    }

    std::uint32_t elapsedMs() const
    {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(net::Clock::now() - m_opened).count());
    }

    void Run()
    {
        m_opened = net::Clock::now();
        std::string token;
        std::time_t start = 0;
        auto deadline = [] { return onvif::Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs); };
        std::vector<onvif::RecordingInfo> recordings;
        const onvif::RecordingInfo* recording = nullptr;
        if (onvif::ParseRecordingPath(m_path, token, start)
            && onvif::FindRecordings(*m_session, recordings, deadline(), &m_closing) == onvif::Search::Ok) {
            for (const auto& r : recordings)
                if (r.token == token)
                    recording = &r;
        }
        if (!recording || (start != 0 && (start < recording->earliest || start >= recording->latest))) {
            playback(kPbRecordMissing, 0); // no such recording, or not at that time
            idle();
            return;
        }
        m_earliest = recording->earliest;
        m_length = static_cast<int>(recording->latest - recording->earliest);
        std::string url;
        if (onvif::GetReplayUri(*m_session, token, url, deadline(), &m_closing) != onvif::SoapStatus::Ok) {
            playback(kPbRecordBroken, 0);
            idle();
            return;
        }
        int reason = kLostClosed;
        switch (play(url, start ? static_cast<double>(start - m_earliest) : 0.0, reason)) {
        case Outcome::Played:
            report(kStatusLinkLost, reason, m_id);
            return;
        case Outcome::OutOfRange:
            playback(kPbRecordMissing, 0);
            break;
        case Outcome::Refused:
            playback(kPbRecordBroken, 0);
            break;
        case Outcome::Unreachable:
            report(kStatusLinkLost, kLostUnreachable, m_id);
            return;
        }
        idle();
    }

    enum class Outcome { Played, OutOfRange, Refused, Unreachable };

    // PLAY from `at` seconds into the recording; the answer's status.
    int playFrom(rtsp::Client& client, const std::string& aggregate, double at)
    {
        rtsp::Response answer;
        const std::string headers = "Range: " + rtsp::ClockRange(static_cast<double>(m_earliest) + at) + "\r\n" + kRateControl;
        if (!client.Request("PLAY", aggregate, headers, answer, net::Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs)))
            return -1;
        if (answer.status == kRtspOk) {
            m_base = at;
            m_haveFirst = false;
        }
        return answer.status;
    }

    Outcome play(const std::string& url, double at, int& reason)
    {
        rtsp::Client client;
        switch (client.Connect(url, m_request.user, m_request.password, kConnectTimeoutMs)) {
        case rtsp::Client::Result::Ok: break;
        case rtsp::Client::Result::Unreachable: return Outcome::Unreachable;
        default: return Outcome::Refused;
        }
        client.SetCommonHeaders(kReplayRequire);
        auto answerBy = [] { return net::Clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs); };
        rtsp::Response answer;
        rtsp::Description description;
        if (!client.Request("DESCRIBE", url, "Accept: application/sdp\r\n", answer, answerBy()) || answer.status != kRtspOk
            || !rtsp::ParseSdp(answer.body, description))
            return Outcome::Refused;
        const rtsp::Track* video = nullptr;
        const rtsp::Track* sound = nullptr;
        for (const auto& track : description.tracks) {
            if (!video && track.media == "video" && track.encoding == "H264" && track.clockRate == rtsp::kVideoClockRate)
                video = &track;
            else if (!sound && track.media == "audio" && !track.sendOnly && rtsp::IsG711Track(track))
                sound = &track;
        }
        if (!video)
            return Outcome::Refused; // the library's own client plays H.264 recordings
        std::string base = answer.Header("content-base");
        if (base.empty())
            base = url;
        // One SETUP a played track, interleaved on the connection; the
        // camera's answer names the channels.
        int videoChannel = -1, soundChannel = -1;
        for (auto [track, asked, channel] : { std::tuple { video, kInterleavedVideo, &videoChannel }, std::tuple { sound, kInterleavedSound, &soundChannel } }) {
            if (!track)
                continue;
            const std::string transport = "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(asked) + "-" + std::to_string(asked + 1) + "\r\n";
            if (!client.Request("SETUP", rtsp::ControlUrl(base, track->control), transport, answer, answerBy()) || answer.status != kRtspOk)
                return Outcome::Refused;
            if (client.SessionId().empty()) {
                std::string session = answer.Header("session");
                client.SessionId() = session.substr(0, session.find(';'));
            }
            std::string given = answer.Header("transport");
            std::size_t interleaved = given.find(kInterleavedParam);
            *channel = interleaved == std::string::npos ? asked : std::atoi(given.c_str() + interleaved + std::strlen(kInterleavedParam));
        }
        const std::string aggregate = rtsp::ControlUrl(base, description.control);
        const int status = playFrom(client, aggregate, at);
        if (status != kRtspOk) {
            client.Send("TEARDOWN", aggregate, "");
            return status == kRtspInvalidRange ? Outcome::OutOfRange : Outcome::Refused;
        }
        buffering();
        playback(kPbLength, m_length);
        playback(kPbPlaying, static_cast<int>(at));

        rtsp::H264Assembler assembler;
        assembler.SetParameterSets(video->parameterSets);
        std::vector<std::uint8_t> pcm;
        bool paused = false, ended = false, stallAsked = false;
        int lastSecond = -1;
        const auto timeout = std::chrono::milliseconds(LinkTimeoutMs());
        auto lastData = net::Clock::now();
        auto nextKeepAlive = lastData + std::chrono::seconds(kKeepAliveS);
        while (!m_closing.load()) {
            // The page's pause, resume and seek, in order.
            std::deque<wire::MediaControl> controls;
            {
                std::lock_guard lock(m_controlMutex);
                controls.swap(m_controls);
            }
            for (const auto& control : controls) {
                if (control.op == wire::MediaOp::Pause && !paused && !ended) {
                    if (!client.Request("PAUSE", aggregate, "", answer, answerBy()))
                        return Outcome::Played;
                    paused = true;
                    playback(kPbPaused, static_cast<int>(m_position));
                } else if (control.op == wire::MediaOp::Resume && paused) {
                    if (playFrom(client, aggregate, m_position) < 0)
                        return Outcome::Played;
                    paused = false;
                    assembler = rtsp::H264Assembler();
                    assembler.SetParameterSets(video->parameterSets);
                    playback(kPbResumed, static_cast<int>(m_position));
                } else if (control.op == wire::MediaOp::Seek) {
                    const double to = std::max(0.0, control.position);
                    if (to >= m_length) {
                        if (!ended)
                            playback(kPbEnd, m_length);
                        ended = true;
                        continue;
                    }
                    if (playFrom(client, aggregate, to) < 0)
                        return Outcome::Played;
                    m_position = to;
                    ended = paused = false;
                    assembler = rtsp::H264Assembler();
                    assembler.SetParameterSets(video->parameterSets);
                    buffering();
                    playback(kPbSeeked, static_cast<int>(to));
                }
                lastData = net::Clock::now();
            }

            int channel = -1;
            const std::uint8_t* data = nullptr;
            std::size_t size = 0;
            int got = client.NextPacket(channel, data, size, net::Clock::now() + std::chrono::milliseconds(kSliceMs));
            if (got < 0)
                break;
            auto now = net::Clock::now();
            rtsp::RtpPacket packet;
            if (got > 0 && channel == videoChannel + 1 && size > kRtcpTypeAt && data[kRtcpTypeAt] == kRtcpBye && !ended && !paused) {
                ended = true;
                // The last picture's time is short of the end by a frame;
                // our camera's last position is the length itself.
                if (lastSecond != static_cast<int>(m_length))
                    playback(kPbPosition, static_cast<int>(m_length));
                playback(kPbEnd, m_length);
            } else if (got > 0 && channel == videoChannel && !ended && rtsp::ParseRtp(data, size, packet) && packet.payloadType == video->payloadType) {
                lastData = now;
                stallAsked = false;
                if (assembler.Push(packet)) {
                    if (!m_haveFirst) {
                        m_haveFirst = true;
                        m_firstTimestamp = assembler.UnitTimestamp();
                    }
                    const std::uint32_t ticks = assembler.UnitTimestamp() - m_firstTimestamp;
                    m_position = std::min<double>(m_length, m_base + static_cast<double>(ticks) / rtsp::kVideoClockRate);
                    emitVideo(assembler, static_cast<std::uint64_t>(m_position * kNsPerSecond));
                    if (static_cast<int>(m_position) != lastSecond) {
                        lastSecond = static_cast<int>(m_position);
                        playback(kPbPosition, lastSecond);
                    }
                }
            } else if (got > 0 && channel == soundChannel && !ended && !paused && rtsp::ParseRtp(data, size, packet)
                && packet.payloadType == sound->payloadType && packet.size > 0) {
                rtsp::G711ToPcm(packet.payload, packet.size, sound->encoding == "PCMU", pcm);
                emitSound(pcm);
            }
            // The camera stops sending at the recording's end.
            if (!ended && !paused && now - lastData > std::chrono::milliseconds(kEndQuietMs) && m_position + 1 >= m_length) {
                ended = true;
                // The last picture's time is short of the end by a frame;
                // our camera's last position is the length itself.
                if (lastSecond != static_cast<int>(m_length))
                    playback(kPbPosition, static_cast<int>(m_length));
                playback(kPbEnd, m_length);
            }
            // A camera that stops sending in the middle of a recording is
            // asked once to play on from where the picture stopped.
            if (!ended && !paused && !stallAsked && now - lastData > std::chrono::milliseconds(kStallMs) && m_position + 1 < m_length) {
                stallAsked = true;
                if (playFrom(client, aggregate, m_position) < 0)
                    break;
                assembler = rtsp::H264Assembler();
                assembler.SetParameterSets(video->parameterSets);
            }
            if (!ended && !paused && now - lastData > timeout) {
                reason = kLostTimedOut;
                break;
            }
            if (now >= nextKeepAlive) {
                client.Send("OPTIONS", aggregate, "");
                nextKeepAlive = now + std::chrono::seconds(kKeepAliveS);
            }
        }
        client.Send("TEARDOWN", aggregate, "");
        return Outcome::Played;
    }

    void emitVideo(const rtsp::H264Assembler& assembler, std::uint64_t pts)
    {
        const auto& unit = assembler.Unit();
        if (unit.empty())
            return;
        if (!m_reportedOpen) {
            m_reportedOpen = true;
            report(kStatusOpen, 0, m_id);
        }
        if (m_lastPts != 0 && pts > m_lastPts && m_frameRate <= 0)
            m_frameRate = static_cast<int>((kNsPerSecond + (pts - m_lastPts) / 2) / (pts - m_lastPts));
        m_lastPts = pts;
        FrameRecord record {};
        record.kind = static_cast<std::uint32_t>(kFrameH264);
        record.sequence = m_sequence++;
        record.timestamp = elapsedMs();
        record.passThrough1 = m_frames++;
        record.passThrough2 = static_cast<std::uint32_t>(pts / (kNsPerSecond / 1000));
        record.frameRate = m_frameRate;
        record.size = static_cast<std::int32_t>(unit.size());
        record.keyFrame = assembler.UnitIsKey() ? 1 : 0;
        record.payload = unit.data();
        if (m_frame)
            m_gate.Deliver([&] { m_frame(kFrameH264, &record, m_user, m_id); });
    }

    void emitSound(const std::vector<std::uint8_t>& pcm)
    {
        if (!m_reportedOpen)
            return; // sound plays with the pictures, from the first one
        FrameRecord record {};
        record.kind = static_cast<std::uint32_t>(kFrameAudio);
        record.sequence = m_sequence++;
        record.timestamp = elapsedMs();
        record.size = static_cast<std::int32_t>(pcm.size());
        record.payload = pcm.data();
        if (m_frame)
            m_gate.Deliver([&] { m_frame(kFrameAudio, &record, m_user, m_id); });
    }

    const std::string m_path;
    const std::shared_ptr<onvif::Session> m_session;
    const wire::OpenRequest m_request;
    const int m_id;
    const KzStatusCallback m_status;
    const KzFrameCallback m_frame;
    void* const m_user;

    std::atomic<bool> m_closing { false };
    DeliveryGate m_gate;
    sys::ThreadHandle m_thread;

    std::mutex m_controlMutex; // guards m_controls
    std::deque<wire::MediaControl> m_controls;

    // the worker's own
    net::Clock::time_point m_opened;
    std::time_t m_earliest = 0;
    int m_length = 0;        // seconds
    double m_base = 0;       // where the last PLAY started, seconds into the recording
    double m_position = 0;   // of the last picture
    bool m_haveFirst = false;
    std::uint32_t m_firstTimestamp = 0;
    bool m_reportedOpen = false;
    std::uint32_t m_sequence = 0, m_frames = 0;
    std::uint64_t m_lastPts = 0;
    int m_frameRate = 0;
};

}

bool IsRecordingPath(const std::string& address)
{
    return address.rfind(onvif::kRecordingPathPrefix, 0) == 0;
}

std::shared_ptr<Channel> StartReplay(const std::string& path, std::shared_ptr<onvif::Session> session, const wire::OpenRequest& request,
    KzStatusCallback status, KzFrameCallback frame, void* user)
{
    auto media = std::make_shared<ReplayMedia>(path, std::move(session), request, status, frame, user);
    return media->Start() ? media : nullptr;
}

}

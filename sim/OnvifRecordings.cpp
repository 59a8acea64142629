#include "sim/OnvifRecordings.h"
#include "sim/HttpStatus.h"

#include "sim/XmlNames.h"

#include <algorithm>

namespace sim {

namespace {

using xml::child;

constexpr const char* kNamespaces = "xmlns:tse=\"http://www.onvif.org/ver10/search/wsdl\" xmlns:trp=\"http://www.onvif.org/ver10/replay/wsdl\""
                                    " xmlns:tt=\"http://www.onvif.org/ver10/schema\"";
constexpr std::size_t kMaxOpenSearches = 16;

std::string utc(std::time_t t)
{
    std::tm parts {};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

OnvifRecordings::Answer invalid(const char* subcode, const char* reason)
{
    return { kHttpBadRequest, std::string("<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>") + subcode
                                  + "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">" + reason + "</env:Text></env:Reason></env:Fault>" };
}

std::string information(const StoredRecording& r)
{
    return "<tt:RecordingInformation><tt:RecordingToken>" + r.token + "</tt:RecordingToken><tt:Source><tt:SourceId>video_source_1</tt:SourceId>"
           "<tt:Name>camera</tt:Name><tt:Location>here</tt:Location><tt:Description>pattern</tt:Description><tt:Address>" + r.recording->path
        + "</tt:Address></tt:Source><tt:EarliestRecording>" + utc(r.start) + "</tt:EarliestRecording><tt:LatestRecording>"
        + utc(r.start + r.recording->seconds) + "</tt:LatestRecording><tt:Content>" + r.recording->path
        + "</tt:Content><tt:Track><tt:TrackToken>video_1</tt:TrackToken><tt:TrackType>Video</tt:TrackType><tt:Description>video</tt:Description>"
          "<tt:DataFrom>" + utc(r.start) + "</tt:DataFrom><tt:DataTo>" + utc(r.start + r.recording->seconds)
        + "</tt:DataTo></tt:Track><tt:RecordingStatus>Stopped</tt:RecordingStatus></tt:RecordingInformation>";
}

}

std::vector<StoredRecording> StoredRecordings(const CameraConfig& config)
{
    std::vector<StoredRecording> out;
    for (const Recording& r : config.recordings) {
        if (r.broken || r.path.empty())
            continue;
        StoredRecording stored;
        stored.token = "recording_" + std::to_string(out.size() + 1);
        stored.start = kRecordingsStartUtc + static_cast<std::time_t>(out.size()) * kRecordingsSpacing;
        stored.recording = &r;
        out.push_back(stored);
    }
    return out;
}

std::optional<OnvifRecordings::Answer> OnvifRecordings::Handle(const CameraConfig& config, bool search, std::string_view operation,
    const pugi::xml_node& request, const std::string& rtspBase)
{
    const std::string ns = kNamespaces;
    const std::vector<StoredRecording> recordings = StoredRecordings(config);
    if (!search) {
        if (operation == "GetServiceCapabilities")
            return Answer { kHttpOk, "<trp:GetServiceCapabilitiesResponse " + ns
                                         + "><trp:Capabilities ReversePlayback=\"false\" RTP_RTSP_TCP=\"true\"/></trp:GetServiceCapabilitiesResponse>" };
        if (operation != "GetReplayUri")
            return std::nullopt;
        std::string token = child(request, "RecordingToken").child_value();
        for (const auto& r : recordings)
            if (r.token == token)
                return Answer { kHttpOk, "<trp:GetReplayUriResponse " + ns + "><trp:Uri>" + rtspBase + kReplayMountPrefix + r.token + "</trp:Uri></trp:GetReplayUriResponse>" };
        return invalid("ter:InvalidArgVal", "No such recording");
    }
    if (operation == "GetRecordingSummary") {
        std::time_t from = recordings.empty() ? kRecordingsStartUtc : recordings.front().start, until = from;
        for (const auto& r : recordings)
            until = std::max(until, r.start + r.recording->seconds);
        return Answer { kHttpOk, "<tse:GetRecordingSummaryResponse " + ns + "><tse:Summary><tt:DataFrom>" + utc(from) + "</tt:DataFrom><tt:DataUntil>"
                                     + utc(until) + "</tt:DataUntil><tt:NumberRecordings>" + std::to_string(recordings.size())
                                     + "</tt:NumberRecordings></tse:Summary></tse:GetRecordingSummaryResponse>" };
    }
    std::lock_guard lock(m_mutex);
    if (operation == "FindRecordings") {
        if (m_searches.size() >= kMaxOpenSearches)
            m_searches.erase(m_searches.begin());
        m_searches.push_back("search_" + std::to_string(m_next++));
        return Answer { kHttpOk, "<tse:FindRecordingsResponse " + ns + "><tse:SearchToken>" + m_searches.back() + "</tse:SearchToken></tse:FindRecordingsResponse>" };
    }
    const std::string token = child(request, "SearchToken").child_value();
    auto open = std::find(m_searches.begin(), m_searches.end(), token);
    if (operation == "GetRecordingSearchResults") {
        if (open == m_searches.end())
            return invalid("ter:InvalidArgVal", "No such search");
        std::string body = "<tse:GetRecordingSearchResultsResponse " + ns + "><tse:ResultList><tt:SearchState>Completed</tt:SearchState>";
        for (const auto& r : recordings)
            body += information(r);
        return Answer { kHttpOk, body + "</tse:ResultList></tse:GetRecordingSearchResultsResponse>" };
    }
    if (operation == "EndSearch") {
        if (open == m_searches.end())
            return invalid("ter:InvalidArgVal", "No such search");
        m_searches.erase(open);
        return Answer { kHttpOk, "<tse:EndSearchResponse " + ns + "><tse:Endpoint>" + utc(kRecordingsStartUtc) + "</tse:Endpoint></tse:EndSearchResponse>" };
    }
    return std::nullopt;
}

}

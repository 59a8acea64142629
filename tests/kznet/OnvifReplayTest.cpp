// Recordings on a standard camera: a page's recording path carries any
// token and start time there and back, what is not such a path is refused,
// a search answer keeps only recordings it can play, and the replay's
// clock range is written to the millisecond.

#include "kznet/OnvifReplay.h"
#include "kznet/Rtsp.h"

#include <gtest/gtest.h>

using namespace kz::onvif;

TEST(kznetOnvifReplay, PathsSearchAnswersAndClockRanges)
{
    constexpr std::time_t kStart = 1767225602; // 2026-01-01T00:00:02Z
    for (const std::string token : { "recording_1", "a/b %c?&d", "Ünï" }) {
        const std::string path = RecordingPath(token, kStart);
        EXPECT_EQ(path.find_first_of(" ?&", 1), std::string::npos) << path;
        std::string back;
        std::time_t start = 0;
        ASSERT_TRUE(ParseRecordingPath(path, back, start)) << path;
        EXPECT_EQ(back, token);
        EXPECT_EQ(start, kStart);
    }
    EXPECT_EQ(RecordingPath("r1", 0), "/onvif/recording/r1");
    for (const char* path : { "/record/clip1.avi", "/onvif/recording/", "/onvif/recording/r1/yesterday", "/onvif/recording/a b",
             "/onvif/recording/r1/2026-01-01T00:00:02", "/onvif/recording/r1/2026-13-01T00:00:02Z" }) {
        std::string token;
        std::time_t start = 0;
        EXPECT_FALSE(ParseRecordingPath(path, token, start)) << path;
    }

    auto info = [](const char* token, const char* from, const char* to) {
        return std::string("<t:RecordingInformation><t:RecordingToken>") + token + "</t:RecordingToken><t:EarliestRecording>" + from
            + "</t:EarliestRecording><t:LatestRecording>" + to + "</t:LatestRecording></t:RecordingInformation>";
    };
    const std::string answer = "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope' xmlns:s='http://www.onvif.org/ver10/search/wsdl' "
                               "xmlns:t='http://www.onvif.org/ver10/schema'><e:Body><s:GetRecordingSearchResultsResponse><s:ResultList>"
                               "<t:SearchState>Completed</t:SearchState>"
        + info("r1", "2026-01-01T00:00:00Z", "2026-01-01T00:00:05.5Z") + info("ends-first", "2026-01-01T00:00:05Z", "2026-01-01T00:00:00Z")
        + info("no-time", "", "2026-01-01T00:00:05Z") + info("", "2026-01-01T00:00:00Z", "2026-01-01T00:00:05Z")
        + info("r1", "2026-02-01T00:00:00Z", "2026-02-01T00:00:05Z") + "</s:ResultList></s:GetRecordingSearchResultsResponse></e:Body></e:Envelope>";
    std::vector<RecordingInfo> found;
    bool completed = false;
    ASSERT_EQ(ReadRecordingResults(answer.data(), answer.size(), found, completed), SoapStatus::Ok);
    EXPECT_TRUE(completed);
    ASSERT_EQ(found.size(), 1u) << "one playable recording, once";
    EXPECT_EQ(found[0].token, "r1");
    EXPECT_EQ(found[0].latest - found[0].earliest, 5);

    EXPECT_EQ(kz::rtsp::ClockRange(static_cast<double>(kStart) + 0.5), "clock=20260101T000002.500Z-");
}

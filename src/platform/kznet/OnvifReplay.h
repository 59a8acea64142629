#pragma once
// Recordings stored on a standard camera: found with the recording search
// service (FindRecordings, GetRecordingSearchResults, EndSearch), played
// through the replay service's RTSP address (GetReplayUri) by the
// library's own RTSP client with ONVIF's replay headers.
//
// A page names such a recording by a path that PlaybackOpen takes as it
// takes our camera's:
//
//   /onvif/recording/<token>                 from the recording's start
//   /onvif/recording/<token>/<UTC time>      from that time on
//                                            ("2026-01-01T00:00:02Z")
//
// the token percent-encoded where it holds '/', '%' or a space. The relay's
// CGI command getRecordList (road command 13 or HTTP) lists them:
// <count>, then per recording i <path_i>, <start_i> and <end_i> (UTC).
//
// Every reader takes a pointer and a length and never reads past it.

#include "kznet/Onvif.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace kz::onvif {

constexpr const char* kRecordingPathPrefix = "/onvif/recording/";
constexpr const char* kCgiGetRecordList = "getRecordList";
constexpr std::size_t kMaxRecordings = 64; // kept from one search
constexpr int kMaxSearchRounds = 10;       // GetRecordingSearchResults until Completed

struct RecordingInfo {
    std::string token;
    std::time_t earliest = 0; // UTC
    std::time_t latest = 0;
};

// "2026-01-01T00:00:02Z" or with a fraction; false for anything else.
bool ParseUtc(const std::string& text, std::time_t& utc);

SoapStatus ReadSearchToken(const char* data, std::size_t n, std::string& token);
// The recordings of one GetRecordingSearchResults answer (those without a
// token or times left out, at most kMaxRecordings), and whether the search
// is complete.
SoapStatus ReadRecordingResults(const char* data, std::size_t n, std::vector<RecordingInfo>& out, bool& completed);
SoapStatus ReadReplayUri(const char* data, std::size_t n, std::string& uri);

// A recording's path in the form above; ParseRecordingPath gives start 0
// when the path names no time. False for a path that is not of that form.
std::string RecordingPath(const std::string& token, std::time_t start);
bool ParseRecordingPath(const std::string& path, std::string& token, std::time_t& start);

// The camera's recordings: Unsupported when it has no search service.
enum class Search { Ok, Unsupported, Refused, Failed };
Search FindRecordings(const Session& session, std::vector<RecordingInfo>& out, Clock::time_point deadline, const std::atomic<bool>* cancel);
// The RTSP address of a recording (with the login's port filled in).
SoapStatus GetReplayUri(const Session& session, const std::string& token, std::string& uri, Clock::time_point deadline,
    const std::atomic<bool>* cancel);

// getRecordList on a standard camera: false for any other command;
// otherwise the CGI result and the fields that follow it.
bool RelayRecordingCgi(const Session& session, const std::string& command, int& result, std::string& fields, const std::atomic<bool>* cancel);

}

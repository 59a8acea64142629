#include "host/PageRecordings.h"

#include "control/Settings.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

using nlohmann::json;

constexpr const char* kRecordingExtension = ".avi";
constexpr std::size_t kStampDigits = 14; // YYYYMMDDhhmmss after the kind's underscore
constexpr const char* kTimeFormat = "%Y-%m-%d %H:%M:%S";
constexpr std::size_t kTimeTextBytes = 32;
// The main AVI header: "RIFF" size "AVI " "LIST" size "hdrl" "avih" size, then its fields.
constexpr std::size_t kMainHeaderAt = 32;
constexpr std::size_t kMicrosPerFrameAt = kMainHeaderAt;
constexpr std::size_t kTotalFramesAt = kMainHeaderAt + 16;
constexpr std::size_t kHeaderBytes = kTotalFramesAt + 4;
constexpr std::uint64_t kMicrosPerMs = 1000;

std::string realPath(const std::string& path)
{
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return {};
    std::string text = real;
    std::free(real);
    return text;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24); }

// The recording's length from its main header; 0 when it has none.
std::uint64_t lengthMs(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    unsigned char head[kHeaderBytes] = {};
    ssize_t got = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof head) || std::string(reinterpret_cast<char*>(head), 4) != "RIFF" ||
        std::string(reinterpret_cast<char*>(head) + kMainHeaderAt - 8, 4) != "avih")
        return 0;
    return static_cast<std::uint64_t>(le32(head + kMicrosPerFrameAt)) * le32(head + kTotalFramesAt) / kMicrosPerMs;
}

// When the recording began: the time in its name, else when it was last written.
std::string timeOf(const std::string& name, std::time_t modified)
{
    const std::size_t underscore = name.find('_');
    const std::string stem = name.substr(0, name.size() - std::string(kRecordingExtension).size());
    std::tm when {};
    if (underscore != std::string::npos && stem.size() >= underscore + 1 + kStampDigits &&
        std::all_of(stem.begin() + static_cast<long>(underscore) + 1, stem.begin() + static_cast<long>(underscore + 1 + kStampDigits), [](char c) { return c >= '0' && c <= '9'; })) {
        const std::string d = stem.substr(underscore + 1, kStampDigits);
        return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" + d.substr(10, 2) + ":" + d.substr(12, 2);
    }
    localtime_r(&modified, &when);
    char text[kTimeTextBytes] = {};
    std::strftime(text, sizeof text, kTimeFormat, &when);
    return text;
}

// A recording: a regular file (not a link) named *.avi whose real path lies under `root`.
bool isRecording(const std::string& realRoot, const std::string& real, struct stat& info)
{
    return !realRoot.empty() && real.compare(0, realRoot.size() + 1, realRoot + "/") == 0 && endsWith(real, kRecordingExtension) &&
        ::lstat(real.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}

void PageRecordings::Recorded(const std::string& address)
{
    if (!address.empty())
        m_addresses.insert(address);
}

std::uint64_t PageRecordings::idOf(const std::string& realPath)
{
    auto it = std::find(m_paths.begin(), m_paths.end(), realPath);
    if (it != m_paths.end())
        return static_cast<std::uint64_t>(it - m_paths.begin()) + 1;
    m_paths.push_back(realPath);
    return m_paths.size();
}

json PageRecordings::List()
{
    const std::string root = realPath(control::ReadRecordFolder());
    json list = json::array();
    std::set<std::string> seen;
    for (const auto& address : m_addresses) {
        const std::string folder = realPath(control::ReadRecordFolder() + "/" + address);
        if (folder.empty() || !seen.insert(folder).second)
            continue;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            continue;
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            const std::string real = folder + "/" + name;
            struct stat info {};
            if (name.empty() || name[0] == '.' || !isRecording(root, real, info))
                continue;
            list.push_back(json { { "id", idOf(real) }, { "name", name }, { "camera", address }, { "time", timeOf(name, info.st_mtime) },
                { "ms", lengthMs(real) }, { "bytes", static_cast<std::uint64_t>(info.st_size) } });
        }
        ::closedir(dir);
    }
    std::sort(list.begin(), list.end(), [](const json& a, const json& b) { return a["time"].get<std::string>() > b["time"].get<std::string>(); });
    return list;
}

std::optional<std::string> PageRecordings::PathOf(std::uint64_t id) const
{
    if (id == 0 || id > m_paths.size())
        return std::nullopt;
    const std::string& path = m_paths[id - 1];
    struct stat info {};
    if (realPath(path) != path || !isRecording(realPath(control::ReadRecordFolder()), path, info))
        return std::nullopt;
    return path;
}

}

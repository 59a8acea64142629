#pragma once
// The recordings a browser page may see: the files under the control's
// record folder, in the folders of the cameras this page's controls
// recorded from (a control records only from a camera that let it in).
// The page knows a recording by a number this page gave it, never by a
// path: the path is looked up here and checked again before it is served.
//
// Threads: the page's thread only.

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace host {

class PageRecordings {
public:
    // A control of the page started recording from the camera at `address`.
    void Recorded(const std::string& address);
    // [{"id", "name", "time": "YYYY-MM-DD hh:mm:ss", "ms": length, "bytes"}...], newest first.
    nlohmann::json List();
    // The real path of recording `id`, when it is still a recording under the record folder.
    std::optional<std::string> PathOf(std::uint64_t id) const;

private:
    std::uint64_t idOf(const std::string& realPath);

    std::set<std::string> m_addresses;
    std::vector<std::string> m_paths; // id - 1 -> real path
};

}

#pragma once
// What the controls of a browser page save through a chooser (a snapshot
// window's "Save") becomes a download in the browser: the worker answers
// every save chooser with a file of a folder of its own, and hands what
// the control wrote there to the page, then deletes it. Choosers of member
// calls (a record folder, a file to send) are cancelled: in the browser,
// choosers are the browser's, and nothing opens on the server's display.
//
// Threads: the page's thread only.

#include <optional>
#include <string>

namespace host {

class PageDownloads {
public:
    struct File {
        std::string name; // as the person sees it: "snapshot-YYYYMMDD-HHMMSS.jpg"
        std::string bytes;
    };

    PageDownloads();
    ~PageDownloads();
    PageDownloads(const PageDownloads&) = delete;
    PageDownloads& operator=(const PageDownloads&) = delete;

    // The next save chooser answers with a file of the folder.
    void Arm();
    // The next chooser (of a member call) is cancelled.
    void Cancel();
    // What a control saved since the last call, taken from the folder.
    std::optional<File> Take();

private:
    std::string m_folder; // empty when none could be made: choosers are cancelled
    std::string m_armed; // the path the next save chooser answers
    unsigned m_count = 0;
};

}

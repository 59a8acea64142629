#include "host/PageDownloads.h"

#include "ui/Dialogs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

constexpr const char* kFolderPattern = "/tiravex-downloads-XXXXXX";
constexpr const char* kDefaultTemp = "/tmp";
constexpr const char* kSavedName = "/saved-";
constexpr const char* kExtension = ".jpg";
constexpr const char* kDownloadStem = "snapshot-";
constexpr const char* kDownloadTime = "%Y%m%d-%H%M%S";
constexpr std::size_t kTimeTextBytes = 32;
// A control's file larger than this is not handed to the page.
constexpr off_t kLargestDownload = off_t { 32 } << 20;

bool readWhole(const std::string& path, std::string& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kLargestDownload;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    return ok;
}

}

PageDownloads::PageDownloads()
{
    const char* temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : kDefaultTemp) + kFolderPattern;
    if (::mkdtemp(pattern.data()))
        m_folder = pattern;
}

PageDownloads::~PageDownloads()
{
    if (!m_armed.empty())
        ::unlink(m_armed.c_str());
    if (!m_folder.empty())
        ::rmdir(m_folder.c_str());
}

void PageDownloads::Arm()
{
    if (m_folder.empty()) {
        Cancel();
        return;
    }
    if (m_armed.empty())
        m_armed = m_folder + kSavedName + std::to_string(++m_count) + kExtension;
    ui::SetNextChooserAnswer(m_armed);
}

void PageDownloads::Cancel() { ui::SetNextChooserAnswer(std::nullopt); }

std::optional<PageDownloads::File> PageDownloads::Take()
{
    if (m_armed.empty() || ::access(m_armed.c_str(), F_OK) != 0)
        return std::nullopt;
    File file;
    const bool ok = readWhole(m_armed, file.bytes);
    ::unlink(m_armed.c_str());
    m_armed.clear();
    if (!ok)
        return std::nullopt;
    std::time_t now = std::time(nullptr);
    std::tm local {};
    char stamp[kTimeTextBytes] = {};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, kDownloadTime, &local);
    file.name = std::string(kDownloadStem) + stamp + kExtension;
    return file;
}

}

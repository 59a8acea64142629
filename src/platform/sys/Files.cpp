#include "sys/Files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace sys {

namespace {

// New folders: the owner reads, writes and enters them; others read and enter.
constexpr mode_t kFolderMode = 0755;

std::mutex g_queryMutex;
DiskFreeQuery g_query; // guarded by g_queryMutex

bool isFolder(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::uint64_t> fileSystemFree(const std::string& path)
{
    // The nearest existing folder answers for a path not made yet.
    std::string at = path.empty() ? "." : path;
    struct statvfs fs {};
    while (::statvfs(at.c_str(), &fs) != 0) {
        if (at == "/" || at == ".")
            return std::nullopt;
        std::size_t slash = at.find_last_of('/');
        at = slash == std::string::npos ? "." : slash == 0 ? "/" : at.substr(0, slash);
    }
    return static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize);
}

}

bool MakeDirTree(const std::string& path)
{
    if (path.empty())
        return false;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (!isFolder(prefix) && ::mkdir(prefix.c_str(), kFolderMode) != 0 && errno != EEXIST)
            return false;
    }
    if (!isFolder(path) && ::mkdir(path.c_str(), kFolderMode) != 0 && errno != EEXIST)
        return false;
    return isFolder(path);
}

std::optional<std::uint64_t> DiskFreeBytes(const std::string& path)
{
    DiskFreeQuery query;
    {
        std::lock_guard lock(g_queryMutex);
        query = g_query;
    }
    return query ? query(path) : fileSystemFree(path);
}

void SetDiskFreeQuery(DiskFreeQuery query)
{
    std::lock_guard lock(g_queryMutex);
    g_query = std::move(query);
}

}

namespace sys {

bool CreateNewFile(const std::string& path)
{
    constexpr mode_t kFileMode = 0644;
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, kFileMode);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

}

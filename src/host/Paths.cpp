#include "host/Paths.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

bool exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// "a/b/../c" is "a/c": a data folder reported without the program's folder
// climbing out of it.
std::string parentOf(const std::string& folder)
{
    const std::size_t slash = folder.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : folder.substr(0, slash);
}

}

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    path[n] = '\0';
    return parentOf(path);
}

std::string DataFolder()
{
    std::string folder = ProgramFolder();
    if (folder.empty())
        return {};
    std::string relative = TIRAVEX_DATA_FROM_BIN;
    while (relative.rfind("../", 0) == 0) {
        folder = parentOf(folder);
        relative.erase(0, 3);
    }
    return folder == "/" ? "/" + relative : folder + "/" + relative;
}

std::string DefaultWebRoot()
{
    const std::string data = DataFolder();
    return data.empty() ? std::string() : data + "/pages/web";
}

std::string ResolvePageScript(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos || exists(name))
        return name;
    const std::string data = DataFolder();
    if (data.empty())
        return name;
    const std::string installed = data + "/pages/" + name;
    return exists(installed) ? installed : name;
}

}

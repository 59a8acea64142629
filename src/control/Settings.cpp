#include "control/Settings.h"

#include "sys/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace control {

namespace {

constexpr int kValidAlarmTimes[] = { 10, 20, 30, 40, 50, 60 };
// The writability probe: a name of our own, made unique and created
// exclusively, so no file of the user's is ever opened or deleted.
constexpr const char* kProbeFile = ".tiravex-write-probe-XXXXXX";

std::string home()
{
    const char* h = std::getenv("HOME");
    return h && *h ? h : "/tmp";
}

std::string filePath(const char* name) { return SettingsFolder() + "/" + name; }

bool isAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// The first line of a file, at most `limit` bytes; false when it cannot be read.
bool readFirstLine(const std::string& path, std::size_t limit, std::string& out)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::string text(limit, '\0');
    std::size_t n = std::fread(text.data(), 1, limit, f);
    std::fclose(f);
    text.resize(n);
    std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos)
        text.resize(end);
    out = text;
    return true;
}

bool writeWhole(const std::string& path, const std::string& text)
{
    std::FILE* f = std::fopen(path.c_str(), "wb+");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool isValidAlarmTime(int value)
{
    for (int v : kValidAlarmTimes)
        if (v == value)
            return true;
    return false;
}

// The settings folder, with every missing parent (a fresh account has no
// ~/.config yet), when neither it nor the file exists.
bool ensureSettingsFolder(const char* file)
{
    std::string folder = SettingsFolder();
    if (exists(filePath(file)) || exists(folder))
        return true;
    return sys::MakeDirTree(folder);
}

}

std::string SettingsFolder()
{
    if (const char* dir = std::getenv("TIRAVEX_SETTINGS_DIR"); dir && *dir)
        return dir;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else
        config = home() + "/.config";
    return config + "/" + kRecordFolderName;
}

std::string DefaultRecordFolder() { return home() + "/" + kRecordFolderName; }

std::string ReadRecordFolder()
{
    std::string text;
    if (!readFirstLine(filePath(kRecordFolderFile), kRecordFolderReadBytes, text) || !isAbsolute(text))
        return DefaultRecordFolder();
    return text;
}

std::string ReadAlarmRecordTimeText()
{
    std::string text;
    if (!readFirstLine(filePath(kAlarmRecordTimeFile), kAlarmTimeReadBytes, text) || text.empty())
        return std::to_string(kDefaultAlarmRecordTime);
    return isValidAlarmTime(std::atoi(text.c_str())) ? text : "0";
}

int ReadAlarmRecordTime()
{
    std::string text;
    if (!readFirstLine(filePath(kAlarmRecordTimeFile), kAlarmTimeReadBytes, text))
        return kDefaultAlarmRecordTime;
    int value = std::atoi(text.c_str());
    return isValidAlarmTime(value) ? value : kDefaultAlarmRecordTime;
}

SettingResult WriteRecordFolder(const std::string& path)
{
    if (path.empty())
        return SettingResult::Unchanged;
    if (!isAbsolute(path))
        return SettingResult::Failed;
    ensureSettingsFolder(kRecordFolderFile);
    if (!sys::MakeDirTree(path))
        return SettingResult::Failed;
    std::string probe = path + "/" + kProbeFile;
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return SettingResult::Failed;
    ::close(fd);
    ::unlink(probe.c_str());
    return writeWhole(filePath(kRecordFolderFile), path) ? SettingResult::Stored : SettingResult::Failed;
}

std::string ExistingFolderPath(const std::string& path)
{
    if (!isAbsolute(path))
        return {};
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string canonical = resolved;
    std::free(resolved);
    struct stat st {};
    if (::stat(canonical.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !isAbsolute(canonical))
        return {};
    return canonical;
}

SettingResult WriteAlarmRecordTime(const std::string& text)
{
    if (!ensureSettingsFolder(kAlarmRecordTimeFile))
        return SettingResult::Failed;
    return writeWhole(filePath(kAlarmRecordTimeFile), text) ? SettingResult::Stored : SettingResult::Failed;
}

}

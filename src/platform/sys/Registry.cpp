#include "sys/Registry.h"

#include "sys/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

namespace sys {

namespace {

constexpr char kSeparator = '\\';
constexpr const char* kHeader = "; Tiravex registration store\n";

// `equals`: also '=', as a value's name needs it.
std::string escape(const std::string& text, bool equals)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (equals && c == '=')
            out += "\\=";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

// True when `key` lies below `parent` (or is it, with `orSelf`).
bool isBelow(const std::string& key, const std::string& parent, bool orSelf)
{
    if (key == parent)
        return orSelf;
    return key.size() > parent.size() && key.compare(0, parent.size(), parent) == 0 && key[parent.size()] == kSeparator;
}

int writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}

std::string RegistryPath()
{
    if (const char* explicitPath = std::getenv("TIRAVEX_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        base = "/tmp";
    return base + "/tiravex/registry";
}

int RegistryStore::Load()
{
    int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            m_keys.clear();
            return 0;
        }
        return errno;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Parse(text) ? 0 : EINVAL;
}

int RegistryStore::Save() const
{
    std::string::size_type slash = m_path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirTree(m_path.substr(0, slash)))
        return errno ? errno : EACCES;
    std::string temp = m_path + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = writeAll(fd, Text());
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), m_path.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
}

void RegistryStore::CreateKey(const std::string& key) { m_keys[key]; }

void RegistryStore::SetValue(const std::string& key, const std::string& name, const std::string& value) { m_keys[key][name] = value; }

bool RegistryStore::DeleteTree(const std::string& key)
{
    bool found = false;
    for (auto it = m_keys.begin(); it != m_keys.end();) {
        if (isBelow(it->first, key, true)) {
            it = m_keys.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

bool RegistryStore::HasKey(const std::string& key) const
{
    for (const auto& [name, values] : m_keys)
        if (isBelow(name, key, true))
            return true;
    return false;
}

std::optional<std::string> RegistryStore::Value(const std::string& key, const std::string& name) const
{
    auto k = m_keys.find(key);
    if (k == m_keys.end())
        return std::nullopt;
    auto v = k->second.find(name);
    if (v == k->second.end())
        return std::nullopt;
    return v->second;
}

std::vector<std::string> RegistryStore::SubKeys(const std::string& key) const
{
    std::vector<std::string> out;
    for (const auto& [name, values] : m_keys) {
        if (!isBelow(name, key, false))
            continue;
        std::string child = name.substr(key.size() + 1);
        child = child.substr(0, child.find(kSeparator));
        if (out.empty() || out.back() != child)
            out.push_back(child);
    }
    return out;
}

std::string RegistryStore::Text() const
{
    std::string out = kHeader;
    for (const auto& [key, values] : m_keys) {
        out += "\n[" + key + "]\n";
        for (const auto& [name, value] : values)
            out += escape(name, true) + "=" + escape(value, false) + "\n";
    }
    return out;
}

bool RegistryStore::Parse(const std::string& text)
{
    std::map<std::string, Values> keys;
    std::istringstream in(text);
    std::string line;
    Values* current = nullptr;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = &keys[line.substr(1, line.size() - 2)];
            continue;
        }
        // The first '=' that no backslash escapes ends the name.
        std::size_t equals = std::string::npos;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\')
                ++i;
            else if (line[i] == '=') {
                equals = i;
                break;
            }
        }
        if (!current || equals == std::string::npos)
            return false;
        (*current)[unescape(line.substr(0, equals))] = unescape(line.substr(equals + 1));
    }
    m_keys = std::move(keys);
    return true;
}

}

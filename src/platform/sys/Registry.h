#pragma once
// The registration store: the keys and named values that make the control
// known to the system, kept as a readable text file. A key is a path of
// names joined by '\' ("CLSID\{...}\InprocServer32"); it may have values or
// none. The default value is named "@".
//
//   [CLSID\{FE4F5263-...}]
//   @=Tiravex Control
//
// Keys are listed in order, each as a bracketed line followed by its values
// (name=value, with '\' and line breaks written as \\ and \n); lines
// starting with ';' are comments. A save writes a new file beside the store
// and renames it over the store, so a reader sees the old store or the new
// one, never a part.
//
// Threads: a store object is used by one thread at a time; two processes
// that update the same file at once may lose one update.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sys {

// $TIRAVEX_REGISTRY, else ${XDG_CONFIG_HOME:-~/.config}/tiravex/registry.
std::string RegistryPath();

// The default value's name.
inline constexpr const char* kDefaultValueName = "@";

class RegistryStore {
public:
    using Values = std::map<std::string, std::string>;

    explicit RegistryStore(std::string path) : m_path(std::move(path)) {}

    const std::string& Path() const { return m_path; }

    // Reads the file; a missing file is an empty store. 0, or the errno of
    // the failure (EINVAL for a line that is neither key, value nor comment).
    int Load();
    // Writes the store (making its folder when missing); 0 or an errno.
    int Save() const;

    // Makes the key (its parents are not needed).
    void CreateKey(const std::string& key);
    void SetValue(const std::string& key, const std::string& name, const std::string& value);
    // Removes the key and every key below it; false when there was none.
    bool DeleteTree(const std::string& key);

    bool HasKey(const std::string& key) const;
    std::optional<std::string> Value(const std::string& key, const std::string& name) const;
    // The keys directly below `key`, by name.
    std::vector<std::string> SubKeys(const std::string& key) const;

    // The file's text.
    std::string Text() const;
    // Replaces the contents with the parsed text; false on a bad line.
    bool Parse(const std::string& text);

private:
    std::string m_path;
    std::map<std::string, Values> m_keys;
};

}

#pragma once
// Files and folders: making a folder with every missing parent, and the
// free space of the file system that holds a path.
//
// Threads: any. The free-space query may be replaced (tests give exact
// figures); replacing it is for the start of a test, not while others ask.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace sys {

// Creates `path` as a new empty file; false when it exists already (or
// cannot be made). Two threads or processes asking for one name at once:
// exactly one gets it.
bool CreateNewFile(const std::string& path);

// Makes every missing folder of `path` (the last one included); true when
// the whole tree exists afterwards as folders.
bool MakeDirTree(const std::string& path);

// The bytes this user may still write on the file system that holds `path`
// (the path itself, or its nearest existing parent); none when it cannot
// be asked.
std::optional<std::uint64_t> DiskFreeBytes(const std::string& path);

using DiskFreeQuery = std::function<std::optional<std::uint64_t>(const std::string& path)>;
// Replaces the query DiskFreeBytes makes; an empty function restores the
// file system's own answer.
void SetDiskFreeQuery(DiskFreeQuery query);

}

#pragma once
// The two settings the control keeps on disk for every page and instance of
// the machine: the local record folder and the alarm record time, each a
// one-line file in the settings folder. Files are opened, used and closed
// within one call; the last writer wins.

#include <string>

namespace control {

constexpr const char* kRecordFolderFile = "kzIPCamCofing.ini";
constexpr const char* kAlarmRecordTimeFile = "kzIPCamAlarmRecordTime.ini";
constexpr const char* kRecordFolderName = "IPCamRecord";
constexpr int kDefaultAlarmRecordTime = 10;
constexpr std::size_t kRecordFolderReadBytes = 259;
constexpr std::size_t kAlarmTimeReadBytes = 99;

// $TIRAVEX_SETTINGS_DIR, else ${XDG_CONFIG_HOME:-~/.config}/IPCamRecord.
std::string SettingsFolder();
// ~/IPCamRecord.
std::string DefaultRecordFolder();

// The record folder: the file's first line, or the default when missing,
// empty or not an absolute path (a relative one would land in whatever
// folder the browser happens to run in).
std::string ReadRecordFolder();
// The alarm record time as the property shows it: the file's text when it
// holds a valid value, "10" when missing or empty, otherwise "0".
std::string ReadAlarmRecordTimeText();
// The alarm record time as recording uses it: 10 for anything not valid.
int ReadAlarmRecordTime();

enum class SettingResult { Unchanged, Stored, Failed };

// Creates the folder tree of `path`, probes it with a test file and stores
// it. Unchanged for an empty path; Failed, creating nothing, for a path that
// is not absolute; Failed when the folder cannot be made or written (the
// file keeps its old value).
SettingResult WriteRecordFolder(const std::string& path);

// `path` as an absolute path without "." or ".." parts or links, when it
// names an existing folder; "" otherwise. What the file manager is given:
// it never starts with "-", so no program takes it for an option.
std::string ExistingFolderPath(const std::string& path);
// Stores the text as it is; Failed when the file cannot be written.
SettingResult WriteAlarmRecordTime(const std::string& text);

}

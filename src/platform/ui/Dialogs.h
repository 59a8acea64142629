#pragma once
// The system's choosers and message boxes. A page host or a test presets
// the answer of the next chooser; without one, zenity asks the user when a
// display is there, and otherwise the chooser is cancelled. Message boxes
// are recorded (and printed when a display is there) and return at once.

#include <optional>
#include <string>

namespace ui {

// The answer of the next chooser: a path, or std::nullopt to cancel it.
void SetNextChooserAnswer(std::optional<std::string> answer);

// A folder, or "" when cancelled.
std::string ChooseFolder();
// An existing file to open, or "" when cancelled.
std::string ChooseOpenFile();
// A file name to save to, or "" when cancelled.
std::string ChooseSaveFile(const std::string& suggestedName);

struct MessageBoxRecord {
    std::string caption;
    std::string text;
    std::string button;
};
void ShowMessageBox(const MessageBoxRecord& box);
std::optional<MessageBoxRecord> LastMessageBox();

}

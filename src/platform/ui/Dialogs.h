#pragma once
// The system's choosers and message boxes. A page host or a test presets
// the answer of the next chooser; without one, zenity asks the user when a
// display is there, and otherwise the chooser is cancelled. Message boxes
// are recorded (and printed when a display is there) and return at once.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ui {

// A modal loop: runs the calling thread's messages (posted, sent, timers,
// paints) until `done` holds, with no time limit. False when WM_QUIT came
// first; it is posted again for the outer loop.
bool RunModalLoop(const std::function<bool()>& done);
// How many modal loops (dialogs, menus) run on the calling thread now, one
// inside the other. A host that answers script calls from elsewhere sees
// by it that a call is waiting for a person.
int ModalLoopDepth();

// Dialog answers: the button that ended a modal dialog.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// The answer of the next modal dialog (IDOK, IDCANCEL): the dialog is not
// shown and ends with it. For page hosts and tests that have nobody at the
// screen.
void SetNextDialogAnswer(int answer);
// Takes the preset answer, if there is one.
std::optional<int> TakeNextDialogAnswer();

// Whether a person is at the screen to answer modal dialogs (the window
// presenter says so; tests that answer with injected input too). Without a
// person and without a preset answer a modal dialog ends at once with
// IDCANCEL, as an unanswerable menu is dismissed.
void SetDialogsAnswerable(bool answerable);
bool DialogsAnswerable();

// The answer of the next chooser: a path, or std::nullopt to cancel it.
void SetNextChooserAnswer(std::optional<std::string> answer);

// A folder, or "" when cancelled.
std::string ChooseFolder();
// An existing file to open, or "" when cancelled.
std::string ChooseOpenFile();
// A kind of file a chooser offers: its name and its pattern ("jpg", "*.jpg").
struct FileFilter {
    std::string name;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};
// What a save chooser offers: a suggested name and the kinds of file, the
// first chosen at the start.
struct SaveChooser {
    std::string suggestedName;
    std::vector<FileFilter> filters;
    bool operator==(const SaveChooser&) const = default;
};
// A file name to save to, or "" when cancelled. The chooser does not ask
// about an existing file: the caller knows the final name (AskQuestion).
std::string ChooseSaveFile(const SaveChooser& chooser);
// The last save chooser asked for (shown, answered in advance or
// cancelled), for checks.
std::optional<SaveChooser> LastSaveChooser();

// What a dialog showed (or would have shown), for checks.
struct MessageBoxRecord {
    std::string caption;
    std::string text;
    std::string button;
};
// Records the box as the last one.
void ShowMessageBox(const MessageBoxRecord& box);
std::optional<MessageBoxRecord> LastMessageBox();

// A question with two answers (`button` names the one that agrees): true
// when the person agrees. A preset answer of the next dialog
// (SetNextDialogAnswer: IDOK agrees) wins and nothing is shown; otherwise
// zenity asks when a person is at the screen (DialogsAnswerable) and it is
// there; with nobody to ask the answer is no. Recorded as the last message
// box.
bool AskQuestion(const MessageBoxRecord& question);

}

#include "ui/Dialogs.h"

#include "ui/WindowInternal.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/wait.h>
#include <utility>

namespace ui {

namespace {

struct DialogState {
    std::mutex mutex;
    bool preset = false;
    std::optional<std::string> answer;
    std::optional<MessageBoxRecord> lastBox;
    std::optional<SaveChooser> lastSaveChooser;
    std::optional<int> nextDialogAnswer;
    bool answerable = false;
};

DialogState& dialogs()
{
    static DialogState* s = new DialogState;
    return *s;
}

bool takePreset(std::optional<std::string>& out)
{
    std::lock_guard lock(dialogs().mutex);
    if (!dialogs().preset)
        return false;
    dialogs().preset = false;
    out = std::move(dialogs().answer);
    return true;
}

bool zenityThere() { return std::getenv("DISPLAY") && std::system("command -v zenity > /dev/null 2>&1") == 0; }

// Runs zenity's file chooser with the given arguments when a display is there.
std::string askZenity(const std::string& arguments)
{
    if (!zenityThere())
        return {};
    std::string command = "zenity --file-selection " + arguments + " 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string out;
    std::array<char, 512> buffer {};
    while (std::fgets(buffer.data(), static_cast<int>(buffer.size()), pipe))
        out += buffer.data();
    ::pclose(pipe);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string choose(const std::string& zenityArguments)
{
    std::optional<std::string> preset;
    if (takePreset(preset))
        return preset.value_or("");
    return askZenity(zenityArguments);
}

// Single quotes for the shell.
std::string quoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}

void SetNextChooserAnswer(std::optional<std::string> answer)
{
    std::lock_guard lock(dialogs().mutex);
    dialogs().preset = true;
    dialogs().answer = std::move(answer);
}

bool RunModalLoop(const std::function<bool()>& done) { return detail::RunModalLoop(done); }

void SetNextDialogAnswer(int answer)
{
    std::lock_guard lock(dialogs().mutex);
    dialogs().nextDialogAnswer = answer;
}

std::optional<int> TakeNextDialogAnswer()
{
    std::lock_guard lock(dialogs().mutex);
    return std::exchange(dialogs().nextDialogAnswer, std::nullopt);
}

void SetDialogsAnswerable(bool answerable)
{
    std::lock_guard lock(dialogs().mutex);
    dialogs().answerable = answerable;
}

bool DialogsAnswerable()
{
    std::lock_guard lock(dialogs().mutex);
    return dialogs().answerable;
}

std::string ChooseFolder() { return choose("--directory"); }
std::string ChooseOpenFile() { return choose(""); }
std::string ChooseSaveFile(const SaveChooser& chooser)
{
    {
        std::lock_guard lock(dialogs().mutex);
        dialogs().lastSaveChooser = chooser;
    }
    std::string arguments = "--save --filename=" + quoted(chooser.suggestedName);
    for (const FileFilter& filter : chooser.filters)
        arguments += " --file-filter=" + quoted(filter.name + " | " + filter.pattern);
    return choose(arguments);
}

std::optional<SaveChooser> LastSaveChooser()
{
    std::lock_guard lock(dialogs().mutex);
    return dialogs().lastSaveChooser;
}

bool AskQuestion(const MessageBoxRecord& question)
{
    ShowMessageBox(question);
    if (std::optional<int> answer = TakeNextDialogAnswer())
        return *answer == IDOK;
    if (!DialogsAnswerable() || !zenityThere())
        return false;
    std::string command = "zenity --question --no-markup --title=" + quoted(question.caption) + " --text=" + quoted(question.text) + " --ok-label=" + quoted(question.button)
        + " > /dev/null 2>&1";
    int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ShowMessageBox(const MessageBoxRecord& box)
{
    std::lock_guard lock(dialogs().mutex);
    dialogs().lastBox = box;
}

std::optional<MessageBoxRecord> LastMessageBox()
{
    std::lock_guard lock(dialogs().mutex);
    return dialogs().lastBox;
}

}

#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quelmar {

// Everything the controller asks of a person. The window answers with modal dialogs; tests with scripted answers.
// Called on the main thread only.
class Dialogs {
public:
    Dialogs() = default;
    Dialogs(const Dialogs&) = delete;
    Dialogs& operator=(const Dialogs&) = delete;
    virtual ~Dialogs() = default;

    // A modal question with the action button first and "取消" second; true only for the action button.
    virtual bool confirm(const std::string& title, const std::string& message, const std::string& button) = 0;
    // One existing file with this extension (without the dot); none when the person cancels.
    virtual std::optional<std::filesystem::path> chooseFileToOpen(const std::string& extension) = 0;
    // Where to save, proposing this file name; none when the person cancels.
    virtual std::optional<std::filesystem::path> chooseSaveLocation(const std::string& proposedName) = 0;
    // Ends the application normally, as quitting from its menu does.
    virtual void quitApplication() = 0;
};

} // namespace quelmar

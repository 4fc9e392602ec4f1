#pragma once

#include "controller/Dialogs.h"

#include <QPointer>
#include <QWidget>

class QMessageBox;

namespace quelmar {

// The controller's questions as Qt's modal dialogs, over the window once it exists.
class QtDialogs final : public Dialogs {
public:
    void setWindow(QWidget* window) { window_ = window; }

    bool confirm(const std::string& title, const std::string& message, const std::string& button) override;
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string& extension) override;
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string& proposedName) override;
    // Quits as the menu does: the window's quit guard still applies.
    void quitApplication() override;

private:
    QPointer<QWidget> window_;
};

// Gives an alert's texts room, so that a short Chinese message is not wrapped into a narrow column.
void widen(QMessageBox& box);

} // namespace quelmar

#include "views/QtDialogs.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace quelmar {

void widen(QMessageBox& box) {
    // The box lays itself out anew at times (its first informative text, its icon), so the room goes on the labels,
    // which stay: a short message on one line, a long one wrapped at a comfortable width.
    for (auto* label : box.findChildren<QLabel*>()) {
        if (label->objectName() == QLatin1String("qt_msgbox_label") ||
            label->objectName() == QLatin1String("qt_msgbox_informativelabel")) {
            const int text = label->fontMetrics().horizontalAdvance(label->text()) + 8;
            label->setMinimumWidth(std::clamp(text, 380, 520));
        }
    }
}

bool QtDialogs::confirm(const std::string& title, const std::string& message, const std::string& button) {
    QMessageBox box(window_);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(title));
    box.setInformativeText(QString::fromStdString(message));
    auto* action = box.addButton(QString::fromStdString(button), QMessageBox::AcceptRole);
    auto* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(action);
    box.setEscapeButton(cancel);
    widen(box);
    box.exec();
    return box.clickedButton() == action;
}

std::optional<std::filesystem::path> QtDialogs::chooseFileToOpen(const std::string& extension) {
    const auto filter =
        QStringLiteral("%1 (*.%2)").arg(QString::fromStdString(extension).toUpper(), QString::fromStdString(extension));
    const auto file = QFileDialog::getOpenFileName(window_, QString(), QDir::homePath(), filter);
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> QtDialogs::chooseSaveLocation(const std::string& proposedName) {
    const auto file =
        QFileDialog::getSaveFileName(window_, QString(), QDir::home().filePath(QString::fromStdString(proposedName)));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return std::filesystem::path(file.toStdString());
}

void QtDialogs::quitApplication() {
    QApplication::quit();
}

} // namespace quelmar

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace quelmar {

class AppModel;

// Choosing or downloading an APP image, and the three steps of an upgrade.
class FirmwarePage final : public QWidget {
public:
    explicit FirmwarePage(AppModel& model, QWidget* parent = nullptr);

private:
    void showState();

    AppModel& model_;
    QWidget* imageBox_;
    QLabel* name_;
    QLabel* size_;
    QPushButton* download_;
    QPushButton* enterBootloader_;
    QPushButton* flash_;
    QPushButton* runApp_;
};

} // namespace quelmar

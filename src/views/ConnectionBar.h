#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace quelmar {

class AppModel;
class DeviceListModel;

// Above every page: the board, the connection status and versions; disconnect, or choose a board and connect.
class ConnectionBar final : public QWidget {
public:
    explicit ConnectionBar(AppModel& model, QWidget* parent = nullptr);

private:
    void showConnection();
    void showControls();
    void showSelection();

    AppModel& model_;
    QLabel* product_;
    QLabel* detail_;
    QLabel* versions_;
    QLabel* problem_;
    QPushButton* disconnect_;
    QWidget* picker_;
    QComboBox* devices_;
    DeviceListModel* deviceList_;
    QPushButton* connect_;
};

} // namespace quelmar

#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace quelmar {

class AppModel;
namespace Icons {
class IconView;
}

// The client's edition and version, its update check and install, and the project's source page.
class UpdatesPage final : public QWidget {
public:
    // The project's public source page, behind the "Quelmar 开源项目" link.
    static constexpr const char* sourceAddress = "https://code.quelmar.net/quelmar/quelmar-client";

    explicit UpdatesPage(AppModel& model, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void showState();
    void showLink();

    AppModel& model_;
    Icons::IconView* statusIcon_;
    QLabel* status_;
    QLabel* notes_;
    QPushButton* check_;
    QPushButton* install_;
    QLabel* notice_;
    QPushButton* link_;
};

} // namespace quelmar

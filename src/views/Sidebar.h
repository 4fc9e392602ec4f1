#pragma once

#include "views/Display.h"

#include <optional>

#include <QWidget>

class QLabel;
class QListWidget;
class QToolButton;

namespace quelmar {

class AppModel;
namespace Icons {
class IconView;
}

// The left column: the update button with its badge, the title, the page list, the connection indicator and the
// version.
class Sidebar final : public QWidget {
    Q_OBJECT

public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

    // The selected page; none when the list has no selection.
    std::optional<Display::Page> page() const;
    void setPage(std::optional<Display::Page> page);

signals:
    void pageChanged();

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showUpdate();
    void showConnection();

    AppModel& model_;
    QToolButton* updateButton_;
    QLabel* badge_;
    QListWidget* pages_;
    Icons::IconView* indicatorDot_;
    QLabel* indicator_;
};

} // namespace quelmar

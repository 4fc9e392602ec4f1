#pragma once

#include <QWidget>

class QListView;

namespace quelmar {

class AppModel;

// The log under the pages: export, clear, and the lines with their time of day, newest in view.
class LogPane final : public QWidget {
public:
    explicit LogPane(AppModel& model, QWidget* parent = nullptr);

private:
    void scrollToNewest();
    void copySelection();

    AppModel& model_;
    QListView* list_;
};

} // namespace quelmar

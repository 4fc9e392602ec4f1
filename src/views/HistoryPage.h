#pragma once

#include <memory>

#include <QWidget>

class QButtonGroup;
class QLabel;
class QPushButton;
class QTreeView;

namespace quelmar {

class AppModel;
class HistoryChart;
class HistoryEventTable;
class HistoryModel;

// The recorded history of the board: a chosen span as a chart, the events in it, and its export as CSV. Follows the
// clock while it is on screen.
class HistoryPage final : public QWidget {
    Q_OBJECT

public:
    explicit HistoryPage(AppModel& model, QWidget* parent = nullptr);
    ~HistoryPage() override;

    // None when the controller records no history.
    HistoryModel* history() const { return history_.get(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showHistory();
    void showSpan();

    std::unique_ptr<HistoryModel> history_;
    QButtonGroup* spans_;
    QPushButton* export_;
    HistoryChart* chart_;
    QLabel* note_;
    HistoryEventTable* events_;
    QTreeView* eventList_;
    QLabel* noEvents_;
};

} // namespace quelmar

#pragma once

#include "core/Snapshot.h"

#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quelmar {

class AppModel;
class Panel;

// The live telemetry: summary panel, three measurement cards, status line, and the battery parameter form.
class MonitorPage final : public QWidget {
public:
    explicit MonitorPage(AppModel& model, QWidget* parent = nullptr);

private:
    // One row of a measurement card and where its value comes from.
    struct Metric {
        QLabel* value;
        QString card;
        QString row;
        std::function<std::optional<double>(const Snapshot&)> field;
        QString unit;
        int precision;
    };

    Panel* card(const QString& title, const QString& symbol);
    void addMetric(Panel* card, const QString& label, std::function<std::optional<double>(const Snapshot&)> field,
                   const QString& unit, int precision);
    QWidget* parameterForm();
    void showSnapshot();
    void showForm();

    AppModel& model_;
    QLabel* charge_;
    QLabel* powerSource_;
    QLabel* runtime_;
    std::vector<Metric> metrics_;
    QLabel* status_;
    QWidget* form_;
    QLineEdit* capacity_;
    QLineEdit* resistance_;
    QComboBox* nominal_;
    QPushButton* write_;
    QLabel* hint_;
};

} // namespace quelmar

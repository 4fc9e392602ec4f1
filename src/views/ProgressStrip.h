#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace quelmar {

class AppModel;

// A small spinning indicator; it only animates while it is shown.
class Spinner final : public QWidget {
public:
    explicit Spinner(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    int timer_ = 0;
    int step_ = 0;
};

// Shown only while a workflow runs: a bar with the progress text for the long ones, else the workflow's name with
// a spinner.
class ProgressStrip final : public QWidget {
public:
    explicit ProgressStrip(AppModel& model, QWidget* parent = nullptr);

private:
    void showProgress();

    AppModel& model_;
    Spinner* spinner_;
    QLabel* caption_;
    QProgressBar* bar_;
};

} // namespace quelmar

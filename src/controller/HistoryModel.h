#pragma once

#include "history/HistoryStore.h"
#include "system/SerialQueue.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <QObject>
#include <QString>
#include <QTimer>
#include <qcoro/qcorotask.h>

namespace quelmar {

class AppModel;

// What the history page shows: one span of a board's history (the connected board, else the one recorded last),
// read from the history file on a thread of its own so that the window never waits for the disk. While the page is
// shown it is read again once a second, from its last point on.
class HistoryModel final : public QObject {
    Q_OBJECT

public:
    HistoryModel(AppModel& app, std::filesystem::path file,
                 std::chrono::milliseconds liveInterval = std::chrono::seconds(1), QObject* parent = nullptr);
    ~HistoryModel() override;
    HistoryModel(const HistoryModel&) = delete;
    HistoryModel& operator=(const HistoryModel&) = delete;

    RecentSpan span() const { return span_; }
    // Reads the new span at once; what was shown stays until it has been read.
    void setSpan(RecentSpan span);
    bool active() const { return active_; }
    // While active (the page is on screen) the span follows the clock.
    void setActive(bool active);

    // The span last read, from and to both included, and what it holds.
    const HistorySpan& shown() const { return shown_; }
    RecentSpan shownSpan() const { return shownSpan_; }
    HistoryTime shownFrom() const { return shownTo_ - lengthOf(shownSpan_); }
    HistoryTime shownTo() const { return shownTo_; }
    // How many reads have been applied (tests wait for the next).
    std::uint64_t reads() const { return reads_; }
    // Why the file cannot be read, while it cannot.
    const std::optional<QString>& problem() const { return problem_; }

    // Asks where to save the shown span as CSV and writes it there (on the reading thread); a failure is reported
    // as the window reports a failed workflow.
    QCoro::Task<> exportCSV();

signals:
    void shownChanged();
    void spanChanged();
    void problemChanged();

private:
    struct Request {
        std::optional<HistoryBoard> board; // none: the board recorded last
        RecentSpan span;
        HistoryTime now;
        std::chrono::seconds bucket;         // of what is shown
        std::optional<HistoryTime> tailFrom; // read only from here on, keeping what is shown before it
    };
    struct Result {
        HistorySpan data;
        std::optional<HistoryTime> tailFrom;
    };

    // Reads unless a read is running; forced, once more after it when one is.
    void refresh(bool force);
    QCoro::Task<> readLoop();
    Request nextRequest() const;
    // On the reading thread.
    Result perform(const Request& request);
    HistoryStore& store();
    void apply(Result result, const Request& request);
    void setProblem(std::optional<QString> problem);

    AppModel& app_;
    const std::filesystem::path file_;
    RecentSpan span_ = RecentSpan::lastHour;
    bool active_ = false;
    bool reading_ = false;
    bool again_ = false;
    std::uint64_t generation_ = 0; // a span chosen since a read began makes its result stale
    HistorySpan shown_;
    RecentSpan shownSpan_ = RecentSpan::lastHour;
    HistoryTime shownTo_{};
    std::uint64_t reads_ = 0;
    std::optional<QString> problem_;
    QTimer live_;

    std::unique_ptr<HistoryStore> store_; // only touched on queue_
    SerialQueue queue_;                   // last: destroyed first, finishing the reads that use the store
};

} // namespace quelmar

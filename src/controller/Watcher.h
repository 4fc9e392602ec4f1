#pragma once

#include "core/PowerEvents.h"
#include "core/ShutdownRule.h"
#include "core/Snapshot.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QObject>
#include <QPointer>

#include <sys/types.h>

class QSocketNotifier;

namespace quelmar {

class AppModel;
class UPSServer;

// What the headless monitor does besides following the board.
struct WatchSetup {
    using Print = std::function<void(const std::string&)>;

    // One JSON object per line for every sample and event, instead of a line of text per event.
    bool json = false;
    // The low-battery action; none only watches.
    std::optional<ShutdownThresholds> shutdown;
    std::string shutdownCommand = "systemctl poweroff"; // run by /bin/sh -c
    // The action is logged, never run, and the endpoint never announces a forced shutdown.
    bool dryRun = false;
    // Where each line goes, without its line feed: events and samples, and notes for the person watching.
    Print print;
    Print note;
    std::string upsName = "quelmar"; // as the endpoint serves it
    std::function<std::chrono::system_clock::time_point()> clock = [] { return std::chrono::system_clock::now(); };
};

// The headless monitor over a read-only controller: prints its power events (in JSON also its samples) with their
// UTC time, runs the low-battery action once, and hands the endpoint the board's state after every sample, stale
// while no board is connected. Main thread only.
class Watcher final : public QObject {
    Q_OBJECT

public:
    Watcher(AppModel& model, WatchSetup setup, UPSServer* server = nullptr, QObject* parent = nullptr);
    ~Watcher() override;
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    // Says where the endpoint listens, then starts the controller.
    void start();
    // Ends the controller's poll loop; finished() follows once it has ended.
    void stop();
    // Whether the low-battery action has run (or, with dryRun, would have).
    bool shutdownStarted() const { return rule_ && rule_->fired(); }

signals:
    void finished();

private:
    void sampled(const Snapshot& sample);
    void raised(PowerEvent event);
    void devicesSeen();
    void startShutdown(const std::string& reason);
    void commandEnded();
    void publish();
    // One event line, as text or as JSON.
    void event(PowerEvent event, const std::string& detail);
    std::string detailOf(PowerEvent event) const;
    // The time now as the lines give it: to the second in text, to the millisecond in JSON.
    std::string timeText() const;

    AppModel& model_;
    WatchSetup setup_;
    UPSServer* server_;
    std::optional<ShutdownRule> rule_;
    bool forcedShutdown_ = false; // the action has run for real: the endpoint announces FSD
    std::int64_t samples_ = 0;
    std::string boardsNoted_; // the boards last named in a note, so a note is not repeated every second
    pid_t command_ = -1;
    int commandHandle_ = -1; // a pidfd that becomes readable when the command ends
    QSocketNotifier* commandEnd_ = nullptr;
    bool stopping_ = false;
};

} // namespace quelmar

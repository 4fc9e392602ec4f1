#include "controller/Watcher.h"

#include "controller/AppModel.h"
#include "core/JsonRecords.h"
#include "core/UPSError.h"
#include "core/UPSVariables.h"
#include "core/UTCTime.h"
#include "network/UPSServer.h"
#include "system/Processes.h"

#include <algorithm>
#include <cstdio>

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quelmar {

namespace {

// How a wait status reads: "exit status 1", "signal 9".
std::string endOf(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    return "signal " + std::to_string(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string idsOf(const std::vector<DeviceChoice>& devices) {
    std::string text;
    for (const auto& device : devices) {
        text += (text.empty() ? "" : ", ") + device.id + " (" + device.product +
                (device.serial.empty() ? "" : " " + device.serial) + ")";
    }
    return text;
}

} // namespace

Watcher::Watcher(AppModel& model, WatchSetup setup, UPSServer* server, QObject* parent)
    : QObject(parent)
    , model_(model)
    , setup_(std::move(setup))
    , server_(server) {
    if (setup_.shutdown) {
        rule_.emplace(*setup_.shutdown);
    }
    connect(&model_, &AppModel::sampleTaken, this, &Watcher::sampled);
    connect(&model_, &AppModel::powerEventRaised, this, &Watcher::raised);
    connect(&model_, &AppModel::connectedChanged, this, &Watcher::publish);
    connect(&model_, &AppModel::devicesChanged, this, &Watcher::devicesSeen);
    connect(&model_, &AppModel::accessDeniedChanged, this, [this] {
        if (model_.accessDenied()) {
            setup_.note("cannot open the board: access denied (the udev rule gives it to the plugdev group and the "
                        "user at the seat; see \"Access (udev)\" in the README)");
        }
    });
}

Watcher::~Watcher() {
    if (commandHandle_ >= 0) {
        ::close(commandHandle_);
    }
}

void Watcher::start() {
    if (server_) {
        for (const auto& address : server_->addresses()) {
            if (setup_.json) {
                setup_.print(JsonRecords::line({{"type", "listening"},
                                                {"address", address.text()},
                                                {"ups", setup_.upsName},
                                                {"time", timeText()}}));
            } else {
                setup_.print(timeText() + " serving UPS " + setup_.upsName + " on " + address.text());
            }
        }
    }
    model_.start();
}

void Watcher::stop() {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    if (!model_.polling()) {
        QTimer::singleShot(0, this, &Watcher::finished);
        return;
    }
    // The loop ends at its next turn, at most a pause and one pass later.
    connect(&model_, &AppModel::pollingEnded, this, &Watcher::finished);
    model_.stopPolling();
}

std::string Watcher::timeText() const {
    return utcText(setup_.clock(), setup_.json);
}

// ---- samples and events

void Watcher::sampled(const Snapshot& sample) {
    samples_ += 1;
    if (setup_.json) {
        auto record = JsonRecords::sample(samples_, sample);
        record["time"] = timeText();
        setup_.print(JsonRecords::line(record));
    }
    if (rule_) {
        if (const auto reason = rule_->sample(sample)) {
            startShutdown(*reason);
        }
    }
    publish();
}

void Watcher::raised(PowerEvent e) {
    if (e == PowerEvent::lost && rule_) {
        rule_->lost();
    }
    event(e, detailOf(e));
}

std::string Watcher::detailOf(PowerEvent e) const {
    const auto& board = model_.connected();
    const auto& sample = model_.snapshot();
    switch (e) {
    case PowerEvent::connected:
    case PowerEvent::lost: {
        if (!board) {
            return {};
        }
        std::string text =
            board->product + " (" + (board->serial.empty() ? "" : "serial " + board->serial + ", ") + "id " + board->id;
        if (e == PowerEvent::connected && model_.info()) {
            text += ", firmware " + model_.info()->software;
        }
        return text + ")";
    }
    case PowerEvent::mainsLost:
    case PowerEvent::mainsRestored:
    case PowerEvent::batteryLow:
    case PowerEvent::shutdownImminent: {
        if (!sample) {
            return {};
        }
        std::string text;
        if (sample->capacity) {
            text = "charge " + std::to_string(*sample->capacity) + " %";
        }
        if (sample->runtime) {
            text += (text.empty() ? "" : ", ") + ("runtime " + std::to_string(*sample->runtime) + " s");
        }
        return text;
    }
    case PowerEvent::shutdownStarted:
        break;
    }
    return {};
}

void Watcher::event(PowerEvent e, const std::string& detail) {
    if (setup_.json) {
        auto record = JsonRecords::event(e, detail.empty() ? std::nullopt : std::optional(detail));
        record["time"] = timeText();
        setup_.print(JsonRecords::line(record));
    } else {
        setup_.print(timeText() + " " + eventText(e) + (detail.empty() ? "" : ": " + detail));
    }
}

void Watcher::devicesSeen() {
    const auto& devices = model_.devices();
    const auto selected = model_.selectedID().toStdString();
    const bool chosenHere = std::any_of(devices.begin(), devices.end(),
                                        [&selected](const DeviceChoice& device) { return device.id == selected; });
    std::string note;
    if (!model_.connected() && devices.size() > 1 && !chosenHere) {
        note = "several boards are attached; follow one with --board ID: " + idsOf(devices);
    }
    if (note != boardsNoted_ && !note.empty()) {
        setup_.note(note);
    }
    boardsNoted_ = note;
}

// ---- the low-battery action

void Watcher::startShutdown(const std::string& reason) {
    const auto& command = setup_.shutdownCommand;
    if (setup_.dryRun) {
        event(PowerEvent::shutdownStarted, reason + "; dry run, not running: " + command);
        return;
    }
    event(PowerEvent::shutdownStarted, reason + "; running: " + command);
    forcedShutdown_ = true;
    try {
        // Its output goes to standard error, so that standard output stays the monitor's lines.
        Processes::FileActions actions;
        actions.open(STDIN_FILENO, "/dev/null", O_RDONLY).duplicate(STDERR_FILENO, STDOUT_FILENO);
        command_ = Processes::spawn("/bin/sh", {"-c", command}, actions);
    } catch (const std::exception& error) {
        setup_.note("the shutdown command could not be started: " + messageOf(error));
        return;
    }
    commandHandle_ = static_cast<int>(::syscall(SYS_pidfd_open, command_, 0));
    if (commandHandle_ >= 0) {
        commandEnd_ = new QSocketNotifier(commandHandle_, QSocketNotifier::Read, this);
        connect(commandEnd_, &QSocketNotifier::activated, this, &Watcher::commandEnded);
    }
}

void Watcher::commandEnded() {
    commandEnd_->setEnabled(false);
    int status = 0;
    if (::waitpid(command_, &status, WNOHANG) == command_ && status != 0) {
        setup_.note("the shutdown command failed: " + endOf(status));
    }
}

// ---- the endpoint

void Watcher::publish() {
    if (!server_) {
        return;
    }
    const auto& board = model_.connected();
    const auto& sample = model_.snapshot();
    if (!board || board->bootloader || !sample) {
        server_->publish(UPSState{});
        return;
    }
    server_->publish(
        UPSState::of({board->product, board->serial, model_.info()}, *sample, forcedShutdown_, model_.version()));
}

} // namespace quelmar

#pragma once

#include "controller/DeviceChoice.h"
#include "controller/MainThread.h"
#include "device/HIDSession.h"
#include "system/SerialQueue.h"

#include <chrono>
#include <string>
#include <utility>

#include <QObject>

namespace quelmar {

inline DeviceChoice choiceOf(const USBDevice& device) {
    return {device.id, device.product, device.serial, device.bootloader};
}

// The one thread that touches the board: runs jobs one at a time, in the order they were submitted, each with
// the application's only HIDSession. A job is submitted when run() is called; awaiting its Pending suspends the
// calling coroutine until it resumes on the Qt main thread with the job's value, or its exception rethrown
// unchanged (MainThread::OwnerGone instead when the worker's owner was destroyed meanwhile).
class USBWorker {
public:
    explicit USBWorker(HIDPlatform& platform, QObject* owner = nullptr,
                       std::chrono::milliseconds replyDeadline = HIDSession::defaultReplyDeadline);
    // Runs every job submitted so far, then stops.
    ~USBWorker() = default;
    USBWorker(const USBWorker&) = delete;
    USBWorker& operator=(const USBWorker&) = delete;

    template <typename Job>
    auto run(Job job) {
        return MainThread::onQueue(owner_, queue_, [this, job = std::move(job)]() mutable { return job(session_); });
    }

    // Opens the board with this id and reads its identity and, in APP mode, its battery configuration.
    MainThread::Pending<Connection> connect(std::string id);

    HIDPlatform& platform() const { return platform_; }

private:
    HIDPlatform& platform_;
    HIDSession session_; // only touched inside jobs
    QObject* const owner_;
    SerialQueue queue_; // last: destroyed first, finishing the jobs that use the session
};

} // namespace quelmar

#pragma once

#include "controller/DeviceChoice.h"
#include "controller/MainThread.h"
#include "device/HIDSession.h"

#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include <QObject>

namespace quelmar {

// The one thread that touches the board: runs jobs one at a time, in the order they were submitted, each with
// the application's only HIDSession. Awaiting a job suspends the calling coroutine; it resumes on the Qt main
// thread with the job's value, or its exception rethrown unchanged (MainThread::OwnerGone instead when the
// worker's owner was destroyed meanwhile).
class USBWorker {
public:
    template <typename T>
    class Call;

    explicit USBWorker(HIDPlatform& platform, QObject* owner = nullptr,
                       std::chrono::milliseconds replyDeadline = HIDSession::defaultReplyDeadline);
    // Runs every job submitted so far, then stops.
    ~USBWorker();
    USBWorker(const USBWorker&) = delete;
    USBWorker& operator=(const USBWorker&) = delete;

    // The job is submitted when the result is awaited.
    template <typename Job>
    auto run(Job job) {
        using T = std::invoke_result_t<Job&, HIDSession&>;
        return Call<T>(*this, std::function<T(HIDSession&)>(std::move(job)));
    }

    // Opens the board with this id and reads its identity and, in APP mode, its battery configuration.
    Call<Connection> connect(std::string id);

    HIDPlatform& platform() const { return platform_; }

private:
    void submit(std::function<void()> work);
    void loop();

    HIDPlatform& platform_;
    HIDSession session_; // only touched inside jobs
    QObject* const owner_;

    std::mutex mutex_; // guards jobs_ and stopping_
    std::condition_variable jobsChanged_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything above exists
};

template <typename T>
class USBWorker::Call {
public:
    Call(USBWorker& worker, std::function<T(HIDSession&)> job)
        : worker_(&worker)
        , owner_(worker.owner_)
        , guarded_(worker.owner_ != nullptr)
        , job_(std::move(job))
        , result_(std::make_shared<Result>()) {}

    bool await_ready() const noexcept { return false; }

    void await_suspend(std::coroutine_handle<> awaiting) {
        worker_->submit([job = std::move(job_), result = result_, awaiting, worker = worker_] {
            try {
                if constexpr (std::is_void_v<T>) {
                    job(worker->session_);
                } else {
                    result->value.emplace(job(worker->session_));
                }
            } catch (...) {
                result->error = std::current_exception();
            }
            MainThread::resume(awaiting);
        });
    }

    T await_resume() {
        MainThread::checkOwner(owner_, guarded_);
        if (result_->error) {
            std::rethrow_exception(result_->error);
        }
        if constexpr (!std::is_void_v<T>) {
            return std::move(*result_->value);
        }
    }

private:
    struct Result {
        std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
        std::exception_ptr error;
    };

    USBWorker* worker_;
    QPointer<QObject> owner_;
    bool guarded_;
    std::function<T(HIDSession&)> job_;
    std::shared_ptr<Result> result_;
};

} // namespace quelmar

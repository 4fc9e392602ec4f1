#pragma once

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>
#include <mutex>

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

// Bringing work that ran on another thread back to a coroutine on the Qt main thread.
//
// Awaitables are built in a statement of their own and then awaited by name: g++ 12 frees the captures of a lambda
// (and other temporaries) made inside a co_await expression twice.
//
// Resumptions are posted to the application object, which outlives every controller, so a coroutine suspended in
// a controller's workflow is always resumed. When its owner (the controller) has been destroyed meanwhile, the
// awaited value is not delivered: OwnerGone is thrown instead, unwinding the coroutine without touching the
// controller again.
namespace quelmar::MainThread {

// Deliberately not a std::exception, so that no workflow's own error handling catches it.
struct OwnerGone {};

inline void resume(std::coroutine_handle<> awaiting) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [awaiting] { awaiting.resume(); }, Qt::QueuedConnection);
}

inline void checkOwner(const QPointer<QObject>& owner, bool guarded) {
    if (guarded && owner.isNull()) {
        throw OwnerGone{};
    }
}

// Lets a coroutine await a notification from another thread. Create and await it on the main thread.
class Completion {
public:
    explicit Completion(QObject* owner = nullptr)
        : owner_(owner)
        , guarded_(owner != nullptr)
        , state_(std::make_shared<State>()) {}

    // To be called once, from any thread.
    std::function<void()> notifier() const {
        return [state = state_] {
            std::lock_guard lock(state->mutex);
            state->done = true;
            if (state->awaiting) {
                resume(state->awaiting);
            }
        };
    }

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> awaiting) {
        std::lock_guard lock(state_->mutex);
        if (state_->done) {
            return false;
        }
        state_->awaiting = awaiting;
        return true;
    }
    void await_resume() const { checkOwner(owner_, guarded_); }

private:
    struct State {
        std::mutex mutex; // guards done and awaiting
        bool done = false;
        std::coroutine_handle<> awaiting;
    };

    QPointer<QObject> owner_;
    bool guarded_;
    std::shared_ptr<State> state_;
};

// Sleeps without blocking the event loop; throws OwnerGone when the owner was destroyed meanwhile.
template <typename Rep, typename Period>
QCoro::Task<> sleep(QPointer<QObject> owner, std::chrono::duration<Rep, Period> duration) {
    co_await QCoro::sleepFor(duration);
    checkOwner(owner, true);
}

} // namespace quelmar::MainThread

#pragma once

#include "system/SerialQueue.h"

#include <chrono>
#include <coroutine>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <qcoro/qcorotask.h>
#include <qcoro/qcorotimer.h>

// Bringing work that runs on another thread back to a coroutine on the Qt main thread: the one way back.
//
// Resumptions are posted to the application object, which outlives every controller, so a coroutine suspended in
// a controller's workflow is always resumed. When its owner (the controller) has been destroyed meanwhile, the
// awaited value is not delivered: OwnerGone is thrown instead, unwinding the coroutine without touching the
// controller again.
namespace quelmar::MainThread {

// Deliberately not a std::exception, so that no workflow's own error handling catches it.
struct OwnerGone {};

namespace detail {

// Qt's event queue hands a posted call over under a lock inside Qt Core, which ThreadSanitizer cannot see in Debian's
// uninstrumented build. In a build with it, posting and running take a lock of its own as well, so that the call (made
// whole before the lock is let go) and Qt's queue are seen handed over; other builds need nothing.
#if defined(__SANITIZE_THREAD__)
inline std::mutex handOver;
using Posting = std::lock_guard<std::mutex>;
inline void running() {
    std::lock_guard lock(handOver);
}
#else
struct Posting {
    explicit Posting(int) {}
};
inline int handOver = 0;
inline void running() {}
#endif

} // namespace detail

// Runs work in the context object's thread (the main thread) once its event loop gets there; callable from any thread.
template <typename Work>
void post(QObject* context, Work work) {
    const detail::Posting posting(detail::handOver);
    QMetaObject::invokeMethod(
        context,
        [work = std::move(work)]() mutable {
            detail::running();
            work();
        },
        Qt::QueuedConnection);
}

inline void resume(std::coroutine_handle<> awaiting) {
    post(QCoreApplication::instance(), [awaiting] { awaiting.resume(); });
}

inline void checkOwner(const QPointer<QObject>& owner, bool guarded) {
    if (guarded && owner.isNull()) {
        throw OwnerGone{};
    }
}

// A result that another thread delivers through a future and announces by calling a notifier. The work is started
// when the Pending is made; awaiting it on the main thread suspends until the notifier has run, then gives the
// value or rethrows the work's exception unchanged.
//
// It can only be awaited by name (`auto job = ...; co_await job;`): g++ 12 frees the captures of a lambda made inside
// a co_await expression twice, so an awaitable built inside the expression does not compile.
template <typename T>
class Pending {
public:
    // start is called at once with the notifier and returns the future the notifier announces.
    template <typename Start>
    Pending(QObject* owner, Start&& start)
        : owner_(owner)
        , guarded_(owner != nullptr)
        , state_(std::make_shared<State>()) {
        future_ = std::forward<Start>(start)(notifier());
    }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    auto operator co_await() & { return Awaiter{*this}; }
    void operator co_await() && = delete;

private:
    struct State {
        std::mutex mutex; // guards done and awaiting
        bool done = false;
        std::coroutine_handle<> awaiting;
    };

    struct Awaiter {
        Pending& pending;
        bool await_ready() const {
            std::lock_guard lock(pending.state_->mutex);
            return pending.state_->done;
        }
        bool await_suspend(std::coroutine_handle<> awaiting) {
            std::lock_guard lock(pending.state_->mutex);
            if (pending.state_->done) {
                return false;
            }
            pending.state_->awaiting = awaiting;
            return true;
        }
        T await_resume() {
            checkOwner(pending.owner_, pending.guarded_);
            return pending.future_.get();
        }
    };

    // To be called once, from any thread, when the future is ready.
    std::function<void()> notifier() const {
        return [state = state_] {
            std::lock_guard lock(state->mutex);
            state->done = true;
            if (state->awaiting) {
                resume(state->awaiting);
            }
        };
    }

    QPointer<QObject> owner_;
    bool guarded_;
    std::shared_ptr<State> state_;
    std::future<T> future_;
};

// Runs work on the queue; the value or exception comes back through the Pending.
template <typename Work>
auto onQueue(QObject* owner, SerialQueue& queue, Work work) {
    using T = std::invoke_result_t<Work&>;
    return Pending<T>(owner, [&queue, &work](std::function<void()> finished) {
        auto promise = std::make_shared<std::promise<T>>();
        auto future = promise->get_future();
        queue.submit([promise, finished = std::move(finished), work = std::move(work)]() mutable {
            try {
                if constexpr (std::is_void_v<T>) {
                    work();
                    promise->set_value();
                } else {
                    promise->set_value(work());
                }
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
            finished();
        });
        return future;
    });
}

// Sleeps without blocking the event loop; throws OwnerGone when the owner was destroyed meanwhile.
template <typename Rep, typename Period>
QCoro::Task<> sleep(QPointer<QObject> owner, std::chrono::duration<Rep, Period> duration) {
    co_await QCoro::sleepFor(duration);
    checkOwner(owner, true);
}

} // namespace quelmar::MainThread

#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace quelmar {

// Lets a caller stop a call of the update service from any thread. Copies share one state; a
// cancelled state stays cancelled.
class Cancellation {
public:
    Cancellation();

    void cancel() const;
    bool isCancelled() const;

    // While it lives, cancel() also runs its function (at once when already cancelled). The function
    // runs on the cancelling thread and must not touch this Cancellation.
    class Subscription {
    public:
        Subscription(Subscription&&) noexcept;
        Subscription& operator=(Subscription&&) = delete;
        Subscription(const Subscription&) = delete;
        ~Subscription();

    private:
        friend class Cancellation;
        struct State;
        Subscription(std::shared_ptr<State> state, std::uint64_t id)
            : state_(std::move(state))
            , id_(id) {}
        std::shared_ptr<State> state_;
        std::uint64_t id_;
    };
    [[nodiscard]] Subscription onCancel(std::function<void()> wake) const;

private:
    std::shared_ptr<Subscription::State> state_;
};

} // namespace quelmar

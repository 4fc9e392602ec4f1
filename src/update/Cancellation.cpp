#include "update/Cancellation.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace quelmar {

struct Cancellation::Subscription::State {
    std::atomic<bool> cancelled{false};
    // Held while wake functions run, so that a subscription that has ended is never called.
    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> wakes;
    std::uint64_t nextID = 1;
};

Cancellation::Cancellation()
    : state_(std::make_shared<Subscription::State>()) {}

void Cancellation::cancel() const {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled.exchange(true)) {
        return;
    }
    for (const auto& [id, wake] : state_->wakes) {
        wake();
    }
}

bool Cancellation::isCancelled() const {
    return state_->cancelled.load();
}

Cancellation::Subscription Cancellation::onCancel(std::function<void()> wake) const {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled.load()) {
        wake();
    }
    const auto id = state_->nextID++;
    state_->wakes.emplace_back(id, std::move(wake));
    return Subscription(state_, id);
}

Cancellation::Subscription::Subscription(Subscription&& other) noexcept
    : state_(std::move(other.state_))
    , id_(other.id_) {}

Cancellation::Subscription::~Subscription() {
    if (!state_) {
        return;
    }
    std::lock_guard lock(state_->mutex);
    std::erase_if(state_->wakes, [this](const auto& entry) { return entry.first == id_; });
}

} // namespace quelmar

#include "system/SerialQueue.h"

#include <pthread.h>

namespace quelmar {

SerialQueue::SerialQueue(std::string name)
    : name_(std::move(name))
    , thread_([this] { loop(); }) {}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void SerialQueue::submit(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    changed_.notify_one();
}

void SerialQueue::loop() {
    // Linux keeps thread names to 15 characters.
    ::pthread_setname_np(::pthread_self(), name_.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !work_.empty(); });
            if (work_.empty()) {
                return;
            }
            work = std::move(work_.front());
            work_.pop_front();
        }
        work();
    }
}

} // namespace quelmar

#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quelmar {

// One thread that runs the work submitted to it one piece at a time, in submission order. Destroying the queue
// runs everything already submitted, then joins the thread; work must not submit to its own queue's destructor.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // From any thread. Work must not throw.
    void submit(std::function<void()> work);
    // Whether the caller runs on this queue's thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void loop();

    const std::string name_;
    std::mutex mutex_; // guards work_ and stopping_
    std::condition_variable changed_;
    std::deque<std::function<void()>> work_;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything above exists
};

} // namespace quelmar

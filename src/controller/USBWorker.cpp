#include "controller/USBWorker.h"

#include "core/Report.h"
#include "core/UPSError.h"

#include <pthread.h>

namespace quelmar {

USBWorker::USBWorker(HIDPlatform& platform, QObject* owner, std::chrono::milliseconds replyDeadline)
    : platform_(platform)
    , session_(platform, replyDeadline)
    , owner_(owner)
    , thread_([this] { loop(); }) {}

USBWorker::~USBWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    jobsChanged_.notify_all();
    thread_.join();
}

void USBWorker::submit(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(work));
    }
    jobsChanged_.notify_one();
}

void USBWorker::loop() {
    ::pthread_setname_np(::pthread_self(), "net.quelmar.usb");
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(mutex_);
            jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            work = std::move(jobs_.front());
            jobs_.pop_front();
        }
        work();
    }
}

USBWorker::Call<Connection> USBWorker::connect(std::string id) {
    return run([id = std::move(id)](HIDSession& session) {
        session.connect(id);
        if (!session.device()) {
            throw UPSError("连接失败");
        }
        Connection connection{DeviceChoice::from(*session.device()), session.info(), std::nullopt};
        if (!connection.device.bootloader) {
            try {
                connection.config.emplace(session.get(Reports::config, ReportType::feature, false));
            } catch (const std::exception&) {
                // A configuration that cannot be read or is out of range leaves the form disabled, nothing more.
            }
        }
        return connection;
    });
}

} // namespace quelmar

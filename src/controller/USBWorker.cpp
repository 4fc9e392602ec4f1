#include "controller/USBWorker.h"

#include "core/Report.h"
#include "core/UPSError.h"

namespace quelmar {

USBWorker::USBWorker(HIDPlatform& platform, QObject* owner, std::chrono::milliseconds replyDeadline)
    : platform_(platform)
    , session_(platform, replyDeadline)
    , owner_(owner)
    , queue_("net.quelmar.usb") {}

MainThread::Pending<Connection> USBWorker::connect(std::string id) {
    return run([id = std::move(id)](HIDSession& session) {
        session.connect(id);
        if (!session.device()) {
            throw UPSError("连接失败");
        }
        Connection connection{choiceOf(*session.device()), session.info(), std::nullopt};
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

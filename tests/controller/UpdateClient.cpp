// The old client of the end-to-end update test: checks the feed, says yes to every question, hands over to the
// installer helper (a real client executable) and ends when asked to quit, as the window would.
// Arguments: FEED_URL CA_FILE PUBLIC_KEY TARGET HELPER. Exit status 0 once it was asked to quit.
#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "device/emulator/EmulatedPlatform.h"

#include <cstdio>

#include <QCoreApplication>
#include <QTimer>

using namespace quelmar;

namespace {

struct Yes final : Dialogs {
    bool confirm(const std::string&, const std::string&, const std::string&) override { return true; }
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string&) override { return std::nullopt; }
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string&) override { return std::nullopt; }
    void quitApplication() override { QCoreApplication::quit(); }
};

QCoro::Task<> update(AppModel& model) {
    auto check = model.checkUpdates(true);
    co_await check;
    auto updating = model.updateClicked();
    co_await updating;
    if (model.errorMessage()) {
        std::fprintf(stderr, "%s\n", model.errorMessage()->toUtf8().constData());
        QCoreApplication::exit(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 6) {
        return 2;
    }
    EmulatedPlatform platform({});
    Yes dialogs;
    AppModel::Setup setup;
    setup.platform = &platform;
    setup.dialogs = &dialogs;
    setup.updates.feedURL = argv[1];
    setup.updates.caFile = argv[2];
    setup.updates.publicKey = argv[3];
    setup.version = "2.0.1";
    setup.installTarget = [target = std::filesystem::path(argv[4])] { return target; };
    setup.launchInstaller = [helper = std::filesystem::path(argv[5])](const StagedUpdate& staged) {
        NativeInstaller::launchWith(staged, helper);
    };
    AppModel model(std::move(setup));
    QTimer::singleShot(0, [&model] { update(model); });
    return application.exec();
}

#include "cli/Modes.h"
#include "cli/Output.h"
#include "cli/WatchArguments.h"
#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "controller/QuitSignals.h"
#include "controller/Watcher.h"
#include "core/JsonRecords.h"
#include "core/UPSError.h"
#include "device/choice/SystemHID.h"
#include "history/HistoryFile.h"
#include "install/AppMetadata.h"
#include "network/UPSServer.h"
#include "network/UsersFile.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>

#include <QCoreApplication>

namespace quelmar::Modes {

namespace {

// Nobody to ask: every question is answered no, nothing is chosen.
class HeadlessDialogs final : public Dialogs {
public:
    explicit HeadlessDialogs(std::function<void()> quit)
        : quit_(std::move(quit)) {}

    bool confirm(const std::string&, const std::string&, const std::string&) override { return false; }
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string&) override { return std::nullopt; }
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string&) override { return std::nullopt; }
    void quitApplication() override { quit_(); }

private:
    std::function<void()> quit_;
};

void note(const std::string& text) {
    std::fprintf(stderr, "quelmar: %s\n", text.c_str());
}

} // namespace

int watch(const std::vector<std::string>& arguments) {
    bool json = false;
    const auto failure = [&json](const std::string& message) {
        Output::line(json ? JsonRecords::line(JsonRecords::message("error", message)) : "ERROR: " + message);
        return 1;
    };
    WatchArguments options;
    try {
        json = std::find(arguments.begin(), arguments.end(), "--json") != arguments.end();
        options = WatchArguments::parse(arguments);
    } catch (const std::invalid_argument& error) {
        return failure(std::string(error.what()) + "; quelmar --help lists the options");
    }

    HIDPlatform* platform = nullptr;
    std::unique_ptr<UPSServer> server;
    try {
        platform = &systemHID();
        if (!options.listen.empty()) {
            UPSServerOptions serving;
            serving.listen = options.listen;
            serving.endpoint.upsName = options.upsName;
            serving.endpoint.version = "Quelmar " + AppMetadata::version();
            if (options.users) {
                serving.endpoint.users = UsersFile::read(*options.users);
            }
            server = std::make_unique<UPSServer>(std::move(serving));
        }
    } catch (const std::exception& error) {
        return failure(messageOf(error));
    }

    // Qt keeps argc and argv for the application's whole life.
    std::vector<std::string> storage = arguments;
    std::vector<char*> argv;
    for (auto& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    int argc = static_cast<int>(storage.size());
    QCoreApplication application(argc, argv.data());

    std::unique_ptr<Watcher> watcher;
    HeadlessDialogs dialogs([&watcher] { watcher->stop(); });
    AppModel::Setup setup;
    setup.platform = platform;
    setup.dialogs = &dialogs;
    setup.arguments = arguments;
    setup.readOnly = true;
    setup.board = options.board;
    if (options.history) {
        setup.history = HistoryFile::defaultPath();
    }
    AppModel model(std::move(setup));

    WatchSetup watching;
    watching.json = options.json;
    watching.shutdown = options.shutdown;
    watching.shutdownCommand = options.shutdownCommand;
    watching.dryRun = options.dryRun;
    watching.print = Output::line;
    watching.note = note;
    watching.upsName = options.upsName;
    watcher = std::make_unique<Watcher>(model, std::move(watching), server.get());
    QObject::connect(watcher.get(), &Watcher::finished, &application, &QCoreApplication::quit);
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &model, &AppModel::quitWhenSafe);

    watcher->start();
    const int status = QCoreApplication::exec();
    watcher.reset();
    return status;
}

} // namespace quelmar::Modes

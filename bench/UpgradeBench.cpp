// A full firmware upgrade through the controller, as a person does it: enter the bootloader, flash a full-area
// image, wait for the board back in APP mode. The emulated board takes 1 ms per transfer and 0.5 s per restart;
// the controller runs with its production waits. Prints each run and how it compares with the device-bound time
// (1,476 awaited exchanges × 2 transfers, plus the two restarts).
#include "HexText.h"
#include "controller/AppModel.h"
#include "controller/AppModelSetup.h"
#include "controller/Dialogs.h"
#include "core/FirmwareImage.h"
#include "device/emulator/EmulatedPlatform.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

using namespace quelmar;

namespace {

struct Yes final : Dialogs {
    std::filesystem::path file;
    bool confirm(const std::string&, const std::string&, const std::string&) override { return true; }
    std::optional<std::filesystem::path> chooseFileToOpen(const std::string&) override { return file; }
    std::optional<std::filesystem::path> chooseSaveLocation(const std::string&) override { return std::nullopt; }
    void quitApplication() override {}
};

void finish(QCoro::Task<> task) {
    QEventLoop loop;
    task.then([&loop] { loop.quit(); });
    loop.exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir directory;
    Yes dialogs;
    dialogs.file = std::filesystem::path(directory.path().toStdString()) / "full.hex";
    const auto size = static_cast<std::size_t>(FirmwareImage::limit - FirmwareImage::start);
    std::ofstream(dialogs.file) << test::intelHex(static_cast<std::uint32_t>(FirmwareImage::start),
                                                  test::patternBytes(size));

    auto board = BoardDescription::standard();
    board.moving = false;
    board.faults.delayMilliseconds = 1;
    EmulatedPlatform platform({board});
    AppModel::Setup setup;
    setup.platform = &platform;
    setup.dialogs = &dialogs;
    setup.updates.directory = dialogs.file.parent_path();
    AppModel model(std::move(setup));
    finish(model.poll());
    model.chooseFirmware();

    constexpr double deviceBound = 1476 * 2 * 0.001 + 2 * 0.5;
    for (int run = 1; run <= 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        finish(model.enterBootloader());
        const auto inBootloader = std::chrono::steady_clock::now();
        finish(model.flash());
        const auto back = std::chrono::steady_clock::now();
        if (!model.connected() || model.connected()->bootloader || model.errorMessage()) {
            std::fprintf(stderr, "upgrade failed: %s\n", model.errorMessage().value_or("not back").toUtf8().data());
            return 1;
        }
        const double total = std::chrono::duration<double>(back - start).count();
        std::printf(
            "run %d: enter bootloader %.3f s, flash and back %.3f s, total %.3f s = %.3f x device-bound %.3f s\n", run,
            std::chrono::duration<double>(inBootloader - start).count(),
            std::chrono::duration<double>(back - inBootloader).count(), total, total / deviceBound, deviceBound);
    }
    return 0;
}

// An hour's worth of poll passes against boards that are unplugged, replugged and switched between modes at random,
// with workflows started among them: nothing gets stuck, the log stays bounded, memory stays flat.
#include "ControllerFixture.h"

#include <atomic>
#include <fstream>
#include <random>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;

namespace {

// The emulated boards, counting the passes of the poll loop (each lists the boards once).
class CountingPlatform final : public HIDPlatform {
public:
    explicit CountingPlatform(EmulatedPlatform& boards)
        : boards_(boards) {}
    std::vector<HIDInterface> enumerate(std::uint16_t vendorID) override {
        ++listings;
        return boards_.enumerate(vendorID);
    }
    HIDOpenResult open(const HIDInterface& interface) override { return boards_.open(interface); }
    std::atomic<int> listings = 0;

private:
    EmulatedPlatform& boards_;
};

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

} // namespace

TEST_F(ControllerTest, SoakOfAnHourOfPassesWithBoardsComingAndGoing) {
    std::vector<BoardDescription> boards;
    for (int i = 0; i < 3; ++i) {
        auto board = testBoard(0x01100000 + i * 0x100000, "QM" + std::to_string(i + 1));
        board.restartMilliseconds = 5 + 10 * i;
        boards.push_back(board);
    }
    platform = std::make_unique<EmulatedPlatform>(boards);
    CountingPlatform counting(*platform);
    AppModel::Setup setup;
    setup.timing.pollPause = 1ms;
    makeOn(counting, std::move(setup));
    std::size_t mostLines = 0;
    QObject::connect(&model->logs(), &QAbstractItemModel::rowsInserted,
                     [&] { mostLines = std::max(mostLines, model->logs().lines().size()); });
    model->start();

    std::mt19937 random(20261209);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    long startKiB = 0;
    std::map<std::string, int> done;
    while (counting.listings < 3600) {
        QTest::qWait(1 + pick(4));
        if (startKiB == 0 && counting.listings >= 600) {
            startKiB = residentKiB(); // once every path has run a few times
        }
        const auto board = static_cast<std::size_t>(pick(3));
        switch (pick(12)) {
        case 0:
            restart(board, BoardMode::app);
            ++done["replugged"];
            break;
        case 1:
            restart(board, BoardMode::bootloader);
            ++done["came back in bootloader mode"];
            break;
        case 2:
            model->setSelectedID(
                QString::fromStdString(idOf(0x01100000 + static_cast<std::int64_t>(board) * 0x100000)));
            model->connect();
            ++done["connect"];
            break;
        case 3:
            model->enterBootloader();
            model->runApp();
            ++done["mode switch"];
            break;
        case 4:
            model->setCapacity(QString::number(500 + pick(19500)));
            model->writeConfig();
            ++done["battery write"];
            break;
        default:
            break;
        }
    }
    model->stopPolling();
    ASSERT_TRUE(waitUntil([&] { return !model->polling() && !model->operation(); }, 20000))
        << "stuck in " << model->operation().value_or("").toStdString();
    const auto endKiB = residentKiB();
    std::printf("soak: %d passes, %zu log lines at most, resident %ld KiB after 600 passes, %ld KiB at the end\n",
                counting.listings.load(), mostLines, startKiB, endKiB);
    for (const auto& [what, count] : done) {
        std::printf("  %s: %d\n", what.c_str(), count);
    }
    EXPECT_LE(mostLines, 300u);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(endKiB - startKiB, 4096) << "memory grows";
#endif
}

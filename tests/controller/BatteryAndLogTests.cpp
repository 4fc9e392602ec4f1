#include "ControllerFixture.h"
#include "HexFixtures.h"

#include <fstream>
#include <sstream>

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::IsEmpty;

namespace {

const std::string connectedLine = "Quelmar DC UPS · 已连接 · 固件 1.0.8";

class BatteryWrite : public ControllerTest {
protected:
    void connect(BoardDescription board = testBoard()) {
        make({std::move(board)});
        run(model->poll());
        ASSERT_TRUE(model->canConfigure());
    }
    StoredConfig stored() {
        return platform->withBoard(0, [](EmulatedBoard& board) { return board.storedConfig(); });
    }
};

std::string contents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST_F(BatteryWrite, ConfirmsWithTheTextAsTypedAndAcceptsOnlyWhatReadsBack) {
    connect();
    model->setCapacity("3000");
    model->setResistance("1e3");
    model->setNominal(1);
    dialogs.answers = {false};
    run(model->writeConfig());
    EXPECT_EQ(stored(), (StoredConfig{2600, 45000, 2})) << "declined: nothing is sent";
    EXPECT_THAT(logTexts(), ElementsAre(connectedLine));

    run(model->writeConfig());
    EXPECT_EQ(stored(), (StoredConfig{3000, 1000000, 1}));
    EXPECT_THAT(
        dialogs.confirmations,
        ElementsAre(std::tuple("写入电池参数？", "容量 3000 mAh，内阻 1e3 mΩ。写入后将读取设备确认。", "写入"),
                    std::tuple("写入电池参数？", "容量 3000 mAh，内阻 1e3 mΩ。写入后将读取设备确认。", "写入")));
    EXPECT_THAT(logTexts(), ElementsAre(connectedLine, "电池参数写入及读回验证通过"));
    EXPECT_FALSE(model->errorMessage());
    EXPECT_FALSE(model->operation());
}

TEST_F(BatteryWrite, RefusesInvalidInputAndReportsAReadBackThatDiffers) {
    auto altering = testBoard();
    altering.faults.readBackResistance = 46000;
    connect(altering);
    model->setResistance("0.9995"); // the parsing rules themselves are the form's own tests
    run(model->writeConfig());
    EXPECT_EQ(model->errorMessage(), QString("请输入有效的电池容量和内阻"));
    EXPECT_THAT(dialogs.confirmations, IsEmpty());

    model->setResistance("45");
    run(model->writeConfig());
    EXPECT_EQ(model->errorMessage(), QString("参数写入后读回不一致，请重新读取"));
    EXPECT_EQ(model->capacity(), "2600") << "the form keeps what was typed";
    EXPECT_EQ(model->resistance(), "45");
    EXPECT_THAT(logTexts(),
                ElementsAre(connectedLine, "请输入有效的电池容量和内阻", "参数写入后读回不一致，请重新读取"));
}

TEST_F(BatteryWrite, IsClosedDuringAnyWorkflow) {
    connect();
    model->setCapacity("3000");
    auto disconnecting = model->disconnect();
    EXPECT_FALSE(model->canConfigure()) << "any workflow closes the form";
    run(model->writeConfig());
    EXPECT_THAT(dialogs.confirmations, IsEmpty());
    run(std::move(disconnecting));
}

TEST_F(ControllerTest, TheLogKeepsTheNewest300AndExportsThemAsUTCLines) {
    make({});
    for (int i = 1; i <= 301; ++i) {
        model->log(QString::number(i));
    }
    EXPECT_EQ(model->logs().lines().size(), 300u);
    EXPECT_EQ(model->logs().lines().front().text, "2");
    EXPECT_EQ(model->logs().rowCount(), 300);

    model->clearLogs();
    dialogs.saveLocation = home / "log.txt";
    model->exportLogs();
    EXPECT_EQ(contents(home / "log.txt"), "");
    now += 3723s + 999ms;
    model->log("第一行\n第二行");
    now += 1s;
    model->log("end");
    model->exportLogs();
    EXPECT_EQ(contents(home / "log.txt"), "2026-12-08T01:02:03Z 第一行\n第二行\n2026-12-08T01:02:04Z end");

    dialogs.saveLocation.reset();
    model->exportLogs();
    EXPECT_THAT(dialogs.asked, ElementsAre("save Quelmar-log.txt", "save Quelmar-log.txt", "save Quelmar-log.txt"));
    EXPECT_EQ(model->logs().lines().size(), 2u) << "a cancelled export says nothing";

    dialogs.saveLocation = home / "missing" / "log.txt";
    model->exportLogs();
    ASSERT_TRUE(model->errorMessage());
    EXPECT_EQ(model->logs().lines().back().text, *model->errorMessage());
}

TEST_F(ControllerTest, AFailedExportNamesTheChosenFileAndAReplacedFileKeepsItsMode) {
    make({});
    model->log("line");
    // A name whose temporary sibling cannot exist: the write fails where the temporary file is made.
    const auto chosen = home / (std::string(250, 'q') + ".txt");
    dialogs.saveLocation = chosen;
    model->exportLogs();
    EXPECT_EQ(model->errorMessage(), QString::fromStdString(chosen.string() + ": File name too long"));

    const auto readOnly = home / "kept.txt";
    writeFile(readOnly, "old");
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    dialogs.saveLocation = readOnly;
    model->exportLogs();
    EXPECT_EQ(contents(readOnly).substr(21, 5), "line\n");
    EXPECT_EQ(std::filesystem::status(readOnly).permissions(), std::filesystem::perms::owner_read);
}

#include "ControllerFixture.h"
#include "HexFixtures.h"
#include "core/SignedUpdates.h"

#include <gmock/gmock.h>

using namespace quelmar;
using namespace quelmar::test;
using testing::ElementsAre;
using testing::IsEmpty;
namespace fs = std::filesystem;

namespace {

class FirmwareDownload : public ControllerTest {
protected:
    // Offers bytes as firmware 1.0.9 for the default board, served at path.
    void offer(const std::vector<std::uint8_t>& bytes, const std::string& path = "/files/fw.hex") {
        const auto text = intelHex(0x08003000, bytes);
        server.addFile("fw.hex", text);
        auto package = firmwarePackage("1.0.9");
        package["url"] = server.url(path);
        package["size"] = text.size();
        package["sha256"] = SignedUpdates::hash(bytesOf(text));
        server.addFile("feed.json", signedEnvelopeOf(feedOf({package})));
    }
    std::vector<fs::path> leftInUpdates() const {
        std::vector<fs::path> files;
        if (fs::exists(home / "updates")) {
            for (const auto& entry : fs::directory_iterator(home / "updates")) {
                files.push_back(entry.path().filename());
            }
        }
        return files;
    }

    HttpsServer server;
};

} // namespace

TEST_F(FirmwareDownload, ValidatesTheSignedImageWhichCanThenBeFlashed) {
    const auto bytes = patternBytes(2000);
    offer(bytes);
    makeWithFeed({testBoard()}, server);
    run(model->poll());
    run(model->checkUpdates(false));
    ASSERT_TRUE(model->firmwarePackage());

    std::vector<double> fractions;
    QObject::connect(model.get(), &AppModel::progressChanged, [&] { fractions.push_back(model->progress()); });
    run(model->downloadFirmware());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(model->firmwareName(), "Quelmar DC UPS APP 1.0.9");
    EXPECT_EQ(model->firmwareBytes(), 2000);
    EXPECT_EQ(model->imageDeviceID(), idOf());
    EXPECT_EQ(model->progressText(), "正在下载已签名的固件");
    EXPECT_EQ(fractions.back(), 1.0);
    EXPECT_EQ(logTexts().back(), "固件下载、签名清单及 HEX 验证通过；请进入 Bootloader 后确认烧录");
    EXPECT_THAT(leftInUpdates(), IsEmpty()) << "the downloaded file is deleted";
    EXPECT_EQ(mode(0), BoardMode::app) << "downloading never flashes";

    run(model->enterBootloader());
    run(model->flash());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(storedImage(0), Bytes(bytes.begin(), bytes.end()));
}

TEST_F(FirmwareDownload, EndsWhenTheBoardIsReplacedMeanwhile) {
    offer(patternBytes(44928), "/slow/fw.hex?delay=40"); // eight pieces, 40 ms apart
    makeWithFeed({testBoard(), testBoard(0x01200000, "QM2")}, server);
    model->setSelectedID(QString::fromStdString(idOf()));
    run(model->poll());
    run(model->checkUpdates(false));
    dialogs.fileToOpen = home / "app.hex";
    writeFile(home / "app.hex", intelHex(0x08003000, patternBytes(10)));
    model->chooseFirmware();

    auto downloading = model->downloadFirmware();
    unplug(0);
    run(std::move(downloading));
    EXPECT_EQ(model->errorMessage(), QString("设备已变化，请重新下载适用固件"));
    EXPECT_EQ(model->firmwareName(), "app.hex") << "the earlier image stays";
    EXPECT_EQ(model->firmwareBytes(), 10);
    EXPECT_THAT(leftInUpdates(), IsEmpty());
    EXPECT_FALSE(model->operation());
}

#include "views/FirmwarePage.h"

#include "controller/AppModel.h"
#include "views/Display.h"
#include "views/Icons.h"
#include "views/Panel.h"
#include "views/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelmar {

FirmwarePage::FirmwarePage(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(14);

    auto* title = new QLabel(QStringLiteral("升级 Quelmar 设备固件"));
    title->setFont(Theme::font(Theme::Style::headline));
    page->addWidget(title);
    page->addWidget(Theme::label(QStringLiteral("选择适用于当前板子的 APP HEX 文件。烧录过程会先写入，再读回校验并写入 "
                                                "CRC。请保持 USB 连接。"),
                                 Theme::Style::body, Theme::Tone::secondary));

    auto* box = new Panel(QStringLiteral("APP 固件"));
    imageBox_ = box;
    box->body()->setSpacing(12);
    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(8);
    nameRow->addWidget(new Icons::IconView(Icons::symbol(QStringLiteral("doc.badge.gearshape")), 20));
    name_ = new QLabel;
    name_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    name_->setWordWrap(true);
    nameRow->addWidget(name_, 1);
    box->body()->addLayout(nameRow);
    size_ = Theme::label(QString(), Theme::Style::caption, Theme::Tone::secondary);
    box->body()->addWidget(size_);
    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(10);
    auto* choose = new QPushButton(QStringLiteral("选择 HEX 文件…"));
    download_ = new QPushButton;
    fileRow->addWidget(choose);
    fileRow->addWidget(download_);
    fileRow->addStretch();
    box->body()->addLayout(fileRow);
    page->addWidget(box);

    auto* steps = new QHBoxLayout;
    steps->setSpacing(12);
    enterBootloader_ = new QPushButton(QStringLiteral("进入 Bootloader"));
    flash_ = new QPushButton(QStringLiteral("开始烧录"));
    Theme::setProminent(flash_);
    runApp_ = new QPushButton(QStringLiteral("返回 APP"));
    for (auto* button : {enterBootloader_, flash_, runApp_}) {
        steps->addWidget(button);
    }
    steps->addStretch();
    page->addLayout(steps);
    page->addWidget(Theme::label(QStringLiteral("在线固件按型号、硬件版本和软件版本匹配。下载不会自动烧录。"),
                                 Theme::Style::caption, Theme::Tone::secondary));

    QObject::connect(choose, &QPushButton::clicked, this, [this] { model_.chooseFirmware(); });
    QObject::connect(download_, &QPushButton::clicked, this, [this] { model_.downloadFirmware(); });
    QObject::connect(enterBootloader_, &QPushButton::clicked, this, [this] { model_.enterBootloader(); });
    QObject::connect(flash_, &QPushButton::clicked, this, [this] { model_.flash(); });
    QObject::connect(runApp_, &QPushButton::clicked, this, [this] { model_.runApp(); });
    for (const auto signal : {&AppModel::operationChanged, &AppModel::connectedChanged, &AppModel::firmwareNameChanged,
                              &AppModel::firmwareBytesChanged, &AppModel::firmwarePackageChanged}) {
        QObject::connect(&model_, signal, this, &FirmwarePage::showState);
    }
    showState();
}

void FirmwarePage::showState() {
    const bool busy = model_.operation().has_value();
    const auto& connected = model_.connected();
    imageBox_->setEnabled(!busy);
    name_->setText(model_.firmwareName());
    const auto size = Display::firmwareSize(model_.firmwareBytes());
    size_->setText(size.value_or(QString()));
    size_->setVisible(size.has_value());
    const auto& package = model_.firmwarePackage();
    download_->setVisible(package.has_value());
    if (package) {
        download_->setText(Display::downloadFirmwareButton(*package));
    }
    enterBootloader_->setEnabled(!busy && connected && !connected->bootloader);
    flash_->setEnabled(!busy && connected && connected->bootloader && model_.firmwareBytes() != 0);
    runApp_->setEnabled(!busy && connected && connected->bootloader);
}

} // namespace quelmar

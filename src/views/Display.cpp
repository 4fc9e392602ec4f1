#include "views/Display.h"

#include "controller/Operations.h"

#include <QStringList>

namespace quelmar::Display {

namespace {

const QString dash = QStringLiteral("—");

// Title and symbol of each page, in the order of Page.
struct PageText {
    const char* title;
    const char* symbol;
};
constexpr PageText pageTexts[] = {
    {"实时监控", "waveform.path.ecg"},
    {"固件升级", "cpu"},
    {"更新与关于", "arrow.triangle.2.circlepath"},
    {"历史记录", "clock.arrow.circlepath"},
};

} // namespace

QString title(Page page) {
    return QString::fromUtf8(pageTexts[static_cast<int>(page)].title);
}

QString title(std::optional<Page> page) {
    return title(page.value_or(Page::monitor));
}

QString symbol(Page page) {
    return QString::fromUtf8(pageTexts[static_cast<int>(page)].symbol);
}

QString powerSource(const std::optional<Snapshot>& snapshot, const std::optional<DeviceChoice>& connected) {
    if (!snapshot) {
        return connected && connected->bootloader ? QStringLiteral("固件升级模式") : QStringLiteral("等待设备");
    }
    if (snapshot->status & 0x2) {
        return QStringLiteral("充电中");
    }
    if (snapshot->status & 0x4) {
        return QStringLiteral("电池供电");
    }
    if (snapshot->status & 0x1) {
        return QStringLiteral("市电供电");
    }
    return QStringLiteral("电源状态待确认");
}

QString runtime(const std::optional<Snapshot>& snapshot) {
    if (!snapshot || !snapshot->runtime) {
        return QStringLiteral("预计续航 —");
    }
    const auto seconds = *snapshot->runtime;
    return QStringLiteral("预计续航 %1 小时 %2 分钟").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString charge(const std::optional<Snapshot>& snapshot) {
    if (!snapshot || !snapshot->capacity) {
        return dash;
    }
    return QString::number(*snapshot->capacity) + QLatin1Char('%');
}

QString metric(std::optional<double> value, const QString& unit, int precision) {
    if (!value) {
        return dash;
    }
    return QString::asprintf("%.*f", precision, *value) + QLatin1Char(' ') + unit;
}

std::optional<double> product(std::optional<double> a, std::optional<double> b) {
    if (!a || !b) {
        return std::nullopt;
    }
    return *a * *b;
}

std::optional<StatusLine> statusLine(const std::optional<Snapshot>& snapshot) {
    if (!snapshot) {
        return std::nullopt;
    }
    QStringList labels;
    for (const auto& label : snapshot->statuses()) {
        labels << QString::fromStdString(label);
    }
    return StatusLine{labels.isEmpty() ? QStringLiteral("暂无状态标记") : labels.join(QStringLiteral(" · ")),
                      (snapshot->status & 0x180) != 0};
}

QString productTitle(const std::optional<DeviceChoice>& connected) {
    return connected ? QString::fromStdString(connected->product) : QStringLiteral("Quelmar");
}

QString connectionDetail(const QString& connectionText, const std::optional<DeviceChoice>& connected,
                         const std::optional<QString>& operation) {
    const bool switching = operation == Operations::enteringBootloader || operation == Operations::flashing ||
                           operation == Operations::returningToApp;
    if (!connected && switching) {
        return QStringLiteral("正在查找设备");
    }
    if (connected && !connected->serial.empty()) {
        return connectionText + QStringLiteral(" · ") + QString::fromStdString(connected->serial);
    }
    return connectionText;
}

QString accessHint() {
    return QStringLiteral("系统拒绝了对该 USB 设备的访问（权限不足），并非被其他客户端占用。"
                          "请安装 udev 规则后重新插拔设备：\n"
                          "sudo cmake --install build --prefix /usr\n"
                          "sudo udevadm control --reload && sudo udevadm trigger --subsystem-match=hidraw");
}

QString metricName(const QString& card, const QString& row, const QString& value) {
    return card + QStringLiteral(" ") + row + QStringLiteral("：") + value;
}

std::optional<QString> versions(const std::optional<DeviceInfo>& info) {
    if (!info) {
        return std::nullopt;
    }
    return QStringLiteral("HW ") + QString::fromStdString(info->hardware) + QStringLiteral(" · FW ") +
           QString::fromStdString(info->software);
}

QString deviceRow(const DeviceChoice& device) {
    return QString::fromStdString(device.product) + QLatin1Char(' ') + QString::fromStdString(device.serial);
}

QString connectionIndicator(const std::optional<DeviceChoice>& connected) {
    if (!connected) {
        return QStringLiteral("未连接设备");
    }
    return connected->bootloader ? QStringLiteral("Bootloader") : QStringLiteral("USB 已连接");
}

QString updateButtonToolTip(const std::optional<UpdatePackage>& update) {
    return update ? QStringLiteral("更新客户端至 ") + QString::fromStdString(update->version)
                  : QStringLiteral("检查客户端更新");
}

QString updateButtonName(const std::optional<UpdatePackage>& update) {
    return update ? QStringLiteral("发现客户端更新") : QStringLiteral("检查客户端更新");
}

QString edition(const std::string& version) {
    return QStringLiteral("原生版 ") + QString::fromStdString(version);
}

bool showsProgressBar(const std::optional<QString>& operation) {
    return operation == Operations::flashing || operation == Operations::downloadingFirmware ||
           operation == Operations::downloadingClient;
}

std::optional<QString> firmwareSize(qint64 bytes) {
    if (bytes < 1) {
        return std::nullopt;
    }
    return QString::number(bytes) + QStringLiteral(" 字节 · HEX 地址和校验和已验证");
}

QString downloadFirmwareButton(const UpdatePackage& package) {
    return QStringLiteral("下载官方固件 ") + QString::fromStdString(package.version);
}

QString platformEdition(const std::string& version) {
    return edition(version) + QStringLiteral(" · Qt / hidapi");
}

QString checkButton(bool checking) {
    return checking ? QStringLiteral("正在检查…") : QStringLiteral("检查更新");
}

QString updateSymbol(const std::optional<UpdatePackage>& update) {
    return update ? QStringLiteral("arrow.down.circle.fill") : QStringLiteral("checkmark.shield");
}

} // namespace quelmar::Display

#pragma once

#include <QString>

// The names AppModel::operation takes while a workflow runs; the window shows them and picks its progress
// indicator by them.
namespace quelmar::Operations {

inline const QString connecting = QStringLiteral("连接设备");
inline const QString disconnecting = QStringLiteral("断开设备");
inline const QString writingParameters = QStringLiteral("写入参数");
inline const QString enteringBootloader = QStringLiteral("进入 Bootloader");
inline const QString flashing = QStringLiteral("固件升级");
inline const QString returningToApp = QStringLiteral("返回 APP");
inline const QString downloadingFirmware = QStringLiteral("下载固件");
inline const QString downloadingClient = QStringLiteral("下载客户端");

} // namespace quelmar::Operations

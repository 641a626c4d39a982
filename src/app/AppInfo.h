#pragma once

#include <QString>

// Names and numbers the whole program shows.
namespace AppInfo {
inline const QString Title = QStringLiteral("Quillmoor Firmware Updater");
inline constexpr double Version = 1.01;
} // namespace AppInfo

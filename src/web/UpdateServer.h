#pragma once

#include <QString>

// Where the updater finds its version file and firmware package.
namespace UpdateServer {

inline const QString VersionFilePath = QStringLiteral("/~plinth-works/QLM/Firmware.dat");
inline const QString PackagePath = QStringLiteral("/~plinth-works/QLM/QLMUpdate.zip");

// The server's base address without a trailing '/': QLM_UPDATE_SERVER when set,
// otherwise the built-in default.
QString BaseUrl();

QString VersionFileUrl();
QString PackageUrl();

} // namespace UpdateServer

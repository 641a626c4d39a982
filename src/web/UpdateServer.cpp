#include "web/UpdateServer.h"

#include <QtGlobal>

namespace UpdateServer {

namespace {
const QString DefaultBaseUrl = QStringLiteral("http://updates.quillmoor.example");
} // namespace

QString BaseUrl() {
    QString url = qEnvironmentVariable("QLM_UPDATE_SERVER").trimmed();
    // A trailing '/' would double the one the paths start with.
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url.isEmpty() ? DefaultBaseUrl : url;
}

QString VersionFileUrl() {
    return BaseUrl() + VersionFilePath;
}
QString PackageUrl() {
    return BaseUrl() + PackagePath;
}

} // namespace UpdateServer

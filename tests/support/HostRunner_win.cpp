#include "support/HostRunner_win.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpSocket>

#include <windows.h>

QJsonObject AskHostRunner(const QJsonObject& request) {
    const QString address = qEnvironmentVariable("QLM_HOST_RUNNER");
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    QTcpSocket socket;
    socket.connectToHost(address.left(colon), address.mid(colon + 1).toUShort());
    if (colon < 0 || !socket.waitForConnected(5000))
        return {{"error", QStringLiteral("no host runner at '%1'").arg(address)}};
    QJsonObject asked = request;
    asked.insert(QStringLiteral("token"), qEnvironmentVariable("QLM_HOST_RUNNER_TOKEN"));
    socket.write(QJsonDocument(asked).toJson(QJsonDocument::Compact) + '\n');
    QByteArray answer;
    while (!answer.endsWith('\n')) {
        if (!socket.waitForReadyRead(150000))
            return {{"error", QStringLiteral("the host runner did not answer")}};
        answer += socket.readAll();
    }
    return QJsonDocument::fromJson(answer).object();
}

QString HostPath(const QString& text) {
    static const QRegularExpression windowsPath(QStringLiteral("^[A-Za-z]:[\\\\/]"));
    if (!text.contains(windowsPath))
        return text;
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return text; // not under Wine
    char* unixPath = toUnix(reinterpret_cast<const wchar_t*>(text.utf16()));
    if (!unixPath)
        return text;
    const QString result = QString::fromLocal8Bit(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

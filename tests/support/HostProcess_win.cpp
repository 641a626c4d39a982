#include "support/HostProcess.h"
#include "support/HostRunner_win.h"

#include <QJsonArray>

int RunHostProgram(const QString& program, const QStringList& args, const QString& workDir,
                   QByteArray* errorOutput) {
    QJsonArray hostArgs;
    for (const QString& arg : args)
        hostArgs.append(HostPath(arg));
    const QJsonObject answer = AskHostRunner(
        {{"op", "run"}, {"program", program}, {"args", hostArgs}, {"cwd", HostPath(workDir)}});
    if (errorOutput)
        *errorOutput = answer.contains("error")
                           ? answer.value("error").toString().toUtf8()
                           : QByteArray::fromBase64(answer.value("stderr").toString().toLatin1());
    return answer.contains("exit") ? answer.value("exit").toInt() : -1;
}

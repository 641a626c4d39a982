#include "support/HostProcess.h"

#include <QProcess>

int RunHostProgram(const QString& program, const QStringList& args, const QString& workDir,
                   QByteArray* errorOutput) {
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (errorOutput)
        *errorOutput = process.readAllStandardError();
    return process.exitCode();
}

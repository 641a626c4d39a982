#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>

#ifndef QLM_CLAIM_HOLDER_NAME
#error QLM_CLAIM_HOLDER_NAME must name the claim holder program
#endif

// A claim on a port held by another process (port_claim_holder), as another program's
// update holds it.
class ClaimHolder {
public:
    ClaimHolder() = default;
    ~ClaimHolder() { Kill(); }
    ClaimHolder(const ClaimHolder&) = delete;
    ClaimHolder& operator=(const ClaimHolder&) = delete;

    // Starts the holder on port; what it said: "claimed", "in use", "unheld", or empty when
    // it did not run.
    QString Start(const QString& port) {
        // Beside the test programs' folders.
        process_.setProgram(QCoreApplication::applicationDirPath() +
                            QStringLiteral("/../" QLM_CLAIM_HOLDER_NAME));
        process_.setArguments({port});
        process_.start();
        if (!process_.waitForStarted(30000))
            return {};
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(30000))
                return {};
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    // Ends the holder as a crash would (SIGKILL, TerminateProcess): it releases nothing.
    void Kill() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.kill();
        process_.waitForFinished(30000);
    }
    // Lets the holder end by itself, releasing its claim on the way out.
    void Finish() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(30000))
            Kill();
    }

private:
    QProcess process_;
};

#pragma once

#include "support/Pump.h"

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for tests: the test holds the master, the component opens the slave
// by its path. The master is non-blocking.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int Master() const { return master_; }
    QString SlavePath() const { return slavePath_; }

    void Write(const QByteArray& bytes);
    // Reads what arrives within timeoutMs, returning as soon as want bytes are there.
    QByteArray Read(int want, int timeoutMs);
    // Closes the master: the slave side hangs up.
    void HangUp();

    // The slave's line rate as the master sees it.
    int LineRate() const;

private:
    int master_ = -1;
    QString slavePath_;
};

// Process CPU time in milliseconds, all threads.
double ProcessCpuMs();
// Number of threads of this process.
int ThreadCount();

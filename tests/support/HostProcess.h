#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs one of the host's tools that tests make fixtures with (zip, python3, openssl) in
// workDir and returns its exit code, -1 when it could not run. Under Wine the tool runs on
// the host through the test run's host runner, with Windows paths among the arguments
// turned into the host's.
int RunHostProgram(const QString& program, const QStringList& args, const QString& workDir = {},
                   QByteArray* errorOutput = nullptr);

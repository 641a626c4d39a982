#pragma once

#include <QJsonObject>
#include <QString>

// The test run's host runner (QLM_HOST_RUNNER, 127.0.0.1:port), which runs Linux programs for
// a Windows test program under Wine: one request, one answer, with the run's token
// (QLM_HOST_RUNNER_TOKEN). An unreachable runner gives an answer with "error" set.
QJsonObject AskHostRunner(const QJsonObject& request);

// The host's path of a Windows path, as Wine maps it; other text is returned unchanged.
QString HostPath(const QString& text);

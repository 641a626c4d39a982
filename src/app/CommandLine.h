#pragma once

#include <QString>
#include <QStringList>

// What the program was asked to do on its command line.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QStringList files; // a firmware package, or the two images, to load at start
    QString error;     // why the arguments were refused (Action::Error)

    // Reads the arguments after the program name. Options come before files; "--" ends them.
    static CommandLine Parse(const QStringList& arguments);

    // The texts printed for --help and --version.
    static QString Usage(const QString& program);
    static QString VersionText(const QString& program);
};

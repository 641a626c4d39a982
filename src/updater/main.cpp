#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "app/ParentConsole.h"
#include "app/QlmApplication.h"
#include "updater/TFQLXUpdate.h"

#include <QFileInfo>

#include <cstdio>

namespace {
const QString ProgramName = QStringLiteral("quillmoor-updater");

void Print(FILE* stream, const QString& text) {
    ParentConsole::Attach();
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// Prints what an answering command line asks for; true when the program ends there.
bool Answered(const CommandLine& line, int& status) {
    switch (line.action) {
    case CommandLine::Action::Help:
        Print(stdout, CommandLine::Usage(ProgramName));
        status = 0;
        return true;
    case CommandLine::Action::Version:
        Print(stdout, CommandLine::VersionText(ProgramName));
        status = 0;
        return true;
    case CommandLine::Action::Error:
        Print(stderr, ProgramName + QStringLiteral(": ") + line.error + QStringLiteral("\n\n") +
                          CommandLine::Usage(ProgramName));
        status = 2;
        return true;
    case CommandLine::Action::Run:
        break;
    }
    return false;
}
} // namespace

int main(int argc, char** argv) {
    int status = 0;
    // --help and --version answer before the application exists, so they work without a
    // display; anything else waits until the application has taken out its own options.
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = CommandLine::Parse(raw);
    if (early.action != CommandLine::Action::Error && Answered(early, status))
        return status;
    QlmApplication app(argc, argv);
    QlmApplication::setApplicationName(AppInfo::Title);
    // Lets a desktop match the window to the installed menu entry and its icon.
    QlmApplication::setDesktopFileName(AppInfo::DesktopId);
    const CommandLine line = CommandLine::Parse(QlmApplication::arguments().mid(1));
    if (Answered(line, status))
        return status;
    TFQLXUpdate window;
    if (!line.files.isEmpty()) {
        QStringList paths;
        for (const QString& file : line.files)
            paths << QFileInfo(file).absoluteFilePath();
        window.OpenAtStart(paths);
    }
    window.show();
    return QlmApplication::exec();
}

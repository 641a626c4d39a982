#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "app/QlmApplication.h"
#include "cli/Console.h"
#include "cli/FlashCommandLine.h"
#include "cli/FlashProgram.h"
#include "cli/ProgressPrinter.h"

#include <cstdio>
#include <optional>

namespace {
const QString ProgramName = QStringLiteral("quillmoor-flash");

void Print(FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
}

// The program's own lines are its whole output; Qt's warnings about its surroundings
// (no runtime folder, no display) would only break the lines that programs read.
void OnlyCriticalMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        Print(stderr, ProgramName + QStringLiteral(": ") + message + QLatin1Char('\n'));
}
} // namespace

int main(int argc, char** argv) {
    QHash<QString, QByteArray> rawNames;
    FlashCommandLine line = FlashCommandLine::Parse(ProgramArguments(argc, argv, rawNames));
    for (const QString& file : std::as_const(line.files))
        if (rawNames.contains(file))
            line.rawFiles.insert(file, rawNames.value(file));
    switch (line.action) {
    case FlashCommandLine::Action::Help:
        Print(stdout, FlashCommandLine::Usage(ProgramName));
        return FlashProgram::AllUpdated;
    case FlashCommandLine::Action::Version:
        Print(stdout, CommandLine::VersionText(ProgramName));
        return FlashProgram::AllUpdated;
    case FlashCommandLine::Action::Error:
        Print(stderr, ProgramName + QStringLiteral(": ") + line.error +
                          QStringLiteral("\nTry '%1 --help' for more.\n").arg(ProgramName));
        return FlashProgram::BadCommandLine;
    default:
        break;
    }
    PrepareConsole();
    qInstallMessageHandler(OnlyCriticalMessages);
    std::optional<StrayRuntimeFolder> runtime(std::in_place);
    QlmApplication app(argc, argv);
    runtime.reset();
    QlmApplication::setApplicationName(AppInfo::Title);
    const auto style = line.json            ? ProgressPrinter::Style::Json
                       : IsTerminal(stdout) ? ProgressPrinter::Style::Terminal
                                            : ProgressPrinter::Style::Lines;
    ProgressPrinter printer(style, line.quiet, stdout, stderr);
    // NO_COLOR set to anything is the user's standing wish for plain text.
    printer.SetColour(style == ProgressPrinter::Style::Terminal &&
                      qEnvironmentVariableIsEmpty("NO_COLOR"));
    printer.SetColumns([] { return TerminalColumns(stdout); });
    FlashProgram program(line, printer);
    const BreakWatch breaks(&program, [&program] { program.Stop(); });
    return program.Run();
}

#include "app/CommandLine.h"

#include "app/AppInfo.h"

#include <QLocale>

namespace {
bool EndsWith(const QString& path, const char* suffix) {
    return path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
}
} // namespace

CommandLine CommandLine::Parse(const QStringList& arguments) {
    CommandLine line;
    bool options = true;
    for (const QString& argument : arguments) {
        if (options && argument == QLatin1String("--")) {
            options = false;
        } else if (options && (argument == QLatin1String("--help") || argument == "-h")) {
            line.action = Action::Help;
            return line;
        } else if (options && argument == QLatin1String("--version")) {
            line.action = Action::Version;
            return line;
        } else if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            line.action = Action::Error;
            line.error = QStringLiteral("unknown option %1").arg(argument);
            return line;
        } else {
            line.files << argument;
        }
    }
    const bool package = line.files.size() == 1 && EndsWith(line.files[0], ".zip");
    const bool images = line.files.size() == 2 && EndsWith(line.files[0], ".bin") &&
                        EndsWith(line.files[1], ".bin");
    if (!line.files.isEmpty() && !package && !images) {
        line.action = Action::Error;
        line.error = QStringLiteral("give one firmware package (.zip) or the two images (.bin)");
    }
    return line;
}

QString CommandLine::Usage(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [FILE...]\n"
               "Brings the firmware of a Quillmoor GPS device up to date.\n"
               "\n"
               "Without FILE the firmware is downloaded from the update server. FILE is a\n"
               "firmware package (QLMUpdate.zip, or any .zip), or the two images (OS.bin\n"
               "EXT.bin); the web update then does not start by itself.\n"
               "\n"
               "  -h, --help     show this text and exit\n"
               "      --version  show the version and exit\n"
               "\n"
               "Environment:\n"
               "  QLM_UPDATE_SERVER  base address of the update server, without a\n"
               "                     trailing slash\n"
               "  QLM_EXTRA_PORTS    colon-separated device paths listed besides the\n"
               "                     machine's serial ports\n"
               "\n"
               "Ctrl+Alt+Shift+X stops a running update; pressed again, it closes the window.\n")
        .arg(program);
}

QString CommandLine::VersionText(const QString& program) {
    return QStringLiteral("%1 %2\n").arg(program, QLocale::c().toString(AppInfo::Version, 'f', 2));
}

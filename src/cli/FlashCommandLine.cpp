#include "cli/FlashCommandLine.h"

#include "firmware/FirmwareFileLoader.h"

#include <QUrl>

namespace {
FlashCommandLine Refuse(const QString& error) {
    FlashCommandLine line;
    line.action = FlashCommandLine::Action::Error;
    line.error = error;
    return line;
}
} // namespace

FlashCommandLine FlashCommandLine::Parse(const QStringList& arguments) {
    FlashCommandLine line;
    bool list = false;
    bool options = true;
    for (int i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        QString value;
        bool hasValue = false;
        if (options && argument.startsWith(QLatin1String("--")) && argument.contains('=')) {
            value = argument.mid(argument.indexOf('=') + 1);
            argument = argument.left(argument.indexOf('='));
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= arguments.size())
                return false;
            value = arguments[++i];
            return true;
        };
        if (!options || !argument.startsWith('-') || argument.size() == 1) {
            line.files << arguments[i];
        } else if (argument == QLatin1String("--")) {
            options = false;
        } else if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            line.action = Action::Help;
            return line;
        } else if (argument == QLatin1String("--version")) {
            line.action = Action::Version;
            return line;
        } else if (argument == QLatin1String("-p") || argument == QLatin1String("--port")) {
            if (!takeValue() || value.isEmpty())
                return Refuse(QStringLiteral("%1 needs a port name").arg(argument));
            if (!line.ports.contains(value))
                line.ports << value;
        } else if (argument == QLatin1String("--server")) {
            if (!takeValue() || value.isEmpty())
                return Refuse(QStringLiteral("--server needs an address"));
            const QUrl url(value, QUrl::StrictMode);
            if (!url.isValid() ||
                (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
                url.host().isEmpty())
                return Refuse(
                    QStringLiteral("--server needs an http or https address, not %1").arg(value));
            while (value.endsWith('/'))
                value.chop(1);
            line.server = value;
        } else if (hasValue) {
            return Refuse(QStringLiteral("%1 takes no value").arg(argument));
        } else if (argument == QLatin1String("-a") || argument == QLatin1String("--all")) {
            line.all = true;
        } else if (argument == QLatin1String("--list")) {
            list = true;
        } else if (argument == QLatin1String("--json")) {
            line.json = true;
        } else if (argument == QLatin1String("-q") || argument == QLatin1String("--quiet")) {
            line.quiet = true;
        } else {
            return Refuse(QStringLiteral("unknown option %1").arg(argument));
        }
    }
    if (line.all && !line.ports.isEmpty())
        return Refuse(QStringLiteral("--all and --port exclude each other"));
    if (list) {
        if (line.all || !line.ports.isEmpty() || !line.files.isEmpty() || !line.server.isEmpty())
            return Refuse(QStringLiteral("--list takes no port, file or server"));
        line.action = Action::List;
        return line;
    }
    if (!line.files.isEmpty() && !FirmwareFileLoader::IsFirmwareSelection(line.files))
        return Refuse(QStringLiteral("give one firmware package (.zip) or the two images (.bin)"));
    if (!line.files.isEmpty() && !line.server.isEmpty())
        return Refuse(QStringLiteral("--server is for updates without a firmware file"));
    return line;
}

QString FlashCommandLine::Usage(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [OPTIONS] [PACKAGE.zip | OS.bin EXT.bin]\n"
               "Brings the firmware of Quillmoor GPS devices up to date, several at once.\n"
               "\n"
               "  -p, --port PORT   update the device on PORT (may be given more than once)\n"
               "  -a, --all         update every device that answers, on every port, all at "
               "once\n"
               "      --server URL  with no file given: fetch the version file and package "
               "from URL\n"
               "                    (default: the built-in server or QLM_UPDATE_SERVER)\n"
               "      --list        list the ports, say on which a device answers, and exit\n"
               "      --json        one JSON object per line on stdout, for programs\n"
               "  -q, --quiet       only errors and the summary\n"
               "  -h, --help        show this text and exit\n"
               "      --version     show the version and exit\n"
               "\n"
               "Without --port or --all the ports are searched and the first device found is\n"
               "updated. Without a file the firmware is downloaded from the update server.\n"
               "\n"
               "Exit status: 0 every device updated; 1 a device failed or was stopped;\n"
               "2 bad command line; 3 no device found; 4 no usable firmware.\n"
               "\n"
               "Environment:\n"
               "  QLM_UPDATE_SERVER  base address of the update server, without a\n"
               "                     trailing slash\n"
               "  QLM_EXTRA_PORTS    colon-separated device paths listed besides the\n"
               "                     machine's serial ports\n")
        .arg(program);
}

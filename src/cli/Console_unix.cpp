#include "cli/Console.h"

#include "app/SignalWatcher.h"

#include <QDir>
#include <QtGlobal>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
QStringList RuntimeFolders() {
    return QDir::temp().entryList({QStringLiteral("runtime-*")}, QDir::Dirs | QDir::Hidden);
}
} // namespace

void PrepareConsole() {
    // The widgets the components make (never shown) need a platform, but not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A reader that went away or a full file ends the output, not the program: a device cut
    // off mid-image would stay in its boot loader. Writes fail instead, and the printer stops.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// Also with XDG_RUNTIME_DIR set: Qt passes over one that is not the user's own.
StrayRuntimeFolder::StrayRuntimeFolder() : before_(RuntimeFolders()) {}

StrayRuntimeFolder::~StrayRuntimeFolder() {
    for (const QString& name : RuntimeFolders())
        if (!before_.contains(name))
            QDir::temp().rmdir(name); // only when empty: never anything put there since
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

int TerminalColumns(FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

BreakWatch::BreakWatch(QObject* context, std::function<void()> onBreak)
    : watcher_(new SignalWatcher) {
    QObject::connect(static_cast<SignalWatcher*>(watcher_), &SignalWatcher::TerminationRequested,
                     context, [onBreak = std::move(onBreak)] { onBreak(); });
}

BreakWatch::~BreakWatch() {
    delete watcher_; // the signals' default handling again
}

namespace {
// The longest prefix of bytes (1 to 4) that is one character of UTF-8, or 0.
int CharacterLength(const QByteArray& bytes, qsizetype at) {
    for (int length = 1; length <= 4 && at + length <= bytes.size(); ++length) {
        const QByteArray part = bytes.mid(at, length);
        if (QString::fromUtf8(part).toUtf8() == part)
            return length;
    }
    return 0;
}
} // namespace

QStringList ProgramArguments(int argc, char** argv, QHash<QString, QByteArray>& rawNames) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        const QByteArray raw(argv[i]);
        QString text = QString::fromUtf8(raw);
        if (text.toUtf8() != raw) {
            text.clear();
            for (qsizetype at = 0; at < raw.size();) {
                const int length = CharacterLength(raw, at);
                if (length > 0) {
                    text += QString::fromUtf8(raw.mid(at, length));
                    at += length;
                } else {
                    text += QString::asprintf("\\x%02X", uchar(raw[at++]));
                }
            }
            rawNames.insert(text, raw);
        }
        arguments << text;
    }
    return arguments;
}

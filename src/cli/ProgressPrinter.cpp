#include "cli/ProgressPrinter.h"

#include "cli/PrintableText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {
const QString Program = QStringLiteral("quillmoor-flash");
// The terminal's lines are drawn at most this often; progress comes with every block.
constexpr int RedrawMs = 200;
// A port name is never shortened below this many columns.
constexpr int MinPortColumns = 12;
// A transfer that has not moved on for this long says so instead of showing its old rate.
constexpr qint64 SilenceShownMs = 3000;
const QString Green = QStringLiteral("\x1b[32m");
const QString Red = QStringLiteral("\x1b[31m");
const QString ColourOff = QStringLiteral("\x1b[0m");
const QString UnconfirmedText = QStringLiteral("the device did not confirm the end of the image");

QJsonValue Printable(const QJsonValue& value) {
    if (value.isString())
        return PrintableText(value.toString());
    if (value.isArray()) {
        QJsonArray array;
        for (const QJsonValue& item : value.toArray())
            array.append(Printable(item));
        return array;
    }
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            it.value() = Printable(it.value());
        return object;
    }
    return value;
}

QString Clock(int seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

ProgressPrinter::ProgressPrinter(Style style, bool quiet, FILE* out, FILE* err)
    : style_(style), quiet_(quiet), out_(out), err_(err) {
    redraw_ = new QTimer(this);
    redraw_->setInterval(RedrawMs);
    connect(redraw_, &QTimer::timeout, this, [this] {
        ShowSilences();
        if (dirty_)
            Redraw();
    });
    clock_.start();
}

void ProgressPrinter::ShowSilences() {
    for (Row& row : rows_) {
        if (!row.transfer)
            continue;
        const int silent = int((clock_.elapsed() - row.heardAtMs) / 1000);
        if (clock_.elapsed() - row.heardAtMs < SilenceShownMs || silent == row.silentShown)
            continue;
        row.silentShown = silent;
        DeviceReport shown = row.last;
        shown.bytesPerSecond = 0;
        shown.secondsLeft = -1;
        // After an image's last block the device restarts before the next one: a wait that
        // is no silence.
        const bool restarting = row.last.total > 0 && row.last.blocks >= row.last.total;
        row.text =
            ProgressText(shown) + (restarting ? QStringLiteral("  restarting")
                                              : QStringLiteral("  no answer for %1 s").arg(silent));
        dirty_ = true;
    }
}

ProgressPrinter::~ProgressPrinter() = default;

QString ProgressPrinter::MonitorText(QString line) {
    line = line.trimmed();
    if (line.endsWith(QLatin1String("[ERROR]")))
        line.chop(7);
    if (line.startsWith(QLatin1String("->")))
        line.remove(0, 2);
    else if (line.startsWith(QLatin1String("- ")) && line.endsWith(QLatin1String(" -")))
        line = line.mid(2, line.size() - 4);
    if (line.startsWith(QLatin1String("[NOTE:")) && line.endsWith(QLatin1Char(']')))
        line = line.mid(6, line.size() - 7);
    return line.trimmed();
}

ProgressPrinter::Row& ProgressPrinter::RowOf(const QString& port) {
    for (Row& row : rows_)
        if (row.port == port)
            return row;
    portWidth_ = qMax(portWidth_, int(PrintableText(port).size()));
    Row row;
    row.port = port;
    rows_.append(row);
    return rows_.last();
}

QString ProgressPrinter::ProgressText(const DeviceReport& r) const {
    QString text = QStringLiteral("%1 %2/%3  %4 %")
                       .arg(r.image, -3)
                       .arg(r.blocks, 3)
                       .arg(r.total, -3)
                       .arg(r.percent, 3);
    if (r.bytesPerSecond > 0)
        text += QStringLiteral("  %1 kB/s").arg(r.bytesPerSecond / 1000.0, 4, 'f', 1);
    if (r.secondsLeft >= 0)
        text += QStringLiteral("  %1 left").arg(Clock(r.secondsLeft));
    return text;
}

void ProgressPrinter::Device(const DeviceReport& r) {
    using Kind = DeviceReport::Kind;
    if (style_ == Style::Json) {
        static const char* const names[] = {"found",   "image", "progress", "nak",
                                            "timeout", "done",  "failed",   "warning"};
        QJsonObject event{{QStringLiteral("event"), QLatin1String(names[int(r.kind)])},
                          {QStringLiteral("port"), r.port}};
        if (r.kind != Kind::Found) {
            event[QStringLiteral("image")] = r.image;
            event[QStringLiteral("blocks")] = r.blocks;
            event[QStringLiteral("total")] = r.total;
            event[QStringLiteral("percent")] = r.percent;
        }
        if (r.kind == Kind::Progress) {
            // Every whole percent is enough for a program.
            Row& row = RowOf(r.port);
            if (row.tenth == r.percent)
                return;
            row.tenth = r.percent;
            event[QStringLiteral("bytes_per_second")] = qRound(r.bytesPerSecond);
            event[QStringLiteral("seconds_left")] = r.secondsLeft;
        }
        if (r.kind == Kind::Done)
            event[QStringLiteral("confirmed")] = r.confirmed;
        if (r.kind == Kind::Unconfirmed)
            event[QStringLiteral("reason")] = UnconfirmedText;
        if (r.kind == Kind::Failed) {
            event[QStringLiteral("reason")] =
                r.aborted ? QStringLiteral("aborted") : MonitorText(r.reason);
            event[QStringLiteral("aborted")] = r.aborted;
        }
        WriteJson(event);
        return;
    }
    Row& row = RowOf(r.port);
    switch (r.kind) {
    case Kind::Found:
        row.text = QStringLiteral("found");
        break;
    case Kind::ImageStart:
    case Kind::Progress:
        row.text = ProgressText(r);
        row.last = r;
        row.transfer = true;
        row.heardAtMs = clock_.elapsed();
        row.silentShown = 0;
        break;
    case Kind::Nak:
        if (style_ == Style::Lines && !quiet_)
            Line(QStringLiteral("%1  NAK at %2 block %3")
                     .arg(r.port.leftJustified(portWidth_), r.image)
                     .arg(r.blocks + 1));
        if (style_ != Style::Terminal || !row.transfer)
            return;
        // The device answers, but refuses: no silence, and no rate worth showing.
        row.heardAtMs = clock_.elapsed();
        row.silentShown = 0;
        row.last.bytesPerSecond = 0;
        row.last.secondsLeft = -1;
        row.text = ProgressText(row.last) + QStringLiteral("  NAK");
        break;
    case Kind::Timeout:
        return; // the failure that follows says it
    case Kind::Unconfirmed:
        if (style_ == Style::Lines && !quiet_)
            Line(QStringLiteral("%1  %2 image: %3")
                     .arg(r.port.leftJustified(portWidth_), r.image, UnconfirmedText));
        return;
    case Kind::Done:
        row.text = r.confirmed ? QStringLiteral("done  100 %")
                               : QStringLiteral("done  100 %  unconfirmed");
        row.outcome = Outcome::Done;
        row.transfer = false;
        break;
    case Kind::Failed:
        row.text = r.aborted ? QStringLiteral("aborted")
                             : QStringLiteral("failed: ") + MonitorText(r.reason);
        // Where the transfer stopped stays in view: "OS 99/480 failed: TIMEOUT".
        if (row.transfer)
            row.text = QStringLiteral("%1 %2/%3 ")
                           .arg(row.last.image)
                           .arg(row.last.blocks)
                           .arg(row.last.total) +
                       row.text;
        row.transfer = false;
        row.outcome = Outcome::Failed;
        break;
    }
    if (quiet_)
        return;
    if (style_ == Style::Terminal) {
        dirty_ = true;
        // Running while the devices work, so that one falling silent is shown.
        if (!redraw_->isActive())
            redraw_->start();
        if (r.kind != Kind::Progress)
            Redraw();
        return;
    }
    // Lines: at each tenth of the way and at every change of state.
    const int tenth = r.percent / 10;
    if (r.kind == Kind::Progress && tenth == row.tenth)
        return;
    if (r.kind == Kind::Progress || r.kind == Kind::ImageStart)
        row.tenth = tenth;
    Line(QStringLiteral("%1  %2").arg(r.port.leftJustified(portWidth_), row.text));
}

void ProgressPrinter::Error(const QString& subject, const QString& text) {
    EraseRows();
    Put(err_, subject.isEmpty() ? QStringLiteral("%1: %2\n").arg(Program, PrintableText(text))
                                : QStringLiteral("%1: %2: %3\n")
                                      .arg(Program, PrintableText(subject), PrintableText(text)));
    if (style_ == Style::Terminal && !quiet_ && !rows_.isEmpty())
        Redraw();
}

void ProgressPrinter::Note(const QString& text) {
    if (quiet_ || style_ == Style::Json)
        return;
    Line(text);
}

void ProgressPrinter::Download(qint64 received, qint64 total) {
    const int percent = total > 0 ? int(received * 100 / total) : -1;
    if (style_ == Style::Json) {
        const int tenth = percent / 10;
        if (tenth == downloadTenth_)
            return;
        downloadTenth_ = tenth;
        WriteJson({{QStringLiteral("event"), QStringLiteral("download")},
                   {QStringLiteral("bytes"), received},
                   {QStringLiteral("total"), total},
                   {QStringLiteral("percent"), percent}});
        return;
    }
    if (quiet_)
        return;
    QString text = QStringLiteral("download  %1 kB").arg(received / 1024);
    if (total > 0)
        text += QStringLiteral(" of %1 kB  %2 %").arg(total / 1024).arg(percent);
    if (style_ == Style::Terminal) {
        const int columns = columns_ ? columns_() : 0;
        if (columns > 0 && text.size() >= columns)
            text.truncate(columns - 1);
        Put(out_, QStringLiteral("\r\x1b[K") + text);
        downloadShown_ = true;
        return;
    }
    const int tenth = percent / 10;
    if (tenth != downloadTenth_) {
        downloadTenth_ = tenth;
        Line(text);
    }
}

void ProgressPrinter::Event(const QJsonObject& event) {
    if (style_ == Style::Json)
        WriteJson(event);
}

void ProgressPrinter::Summary(const QString& text, const QJsonObject& event) {
    if (style_ == Style::Json) {
        WriteJson(event);
        return;
    }
    Finish();
    rows_.clear(); // the device lines stay above the summary as they are
    Line(text);
}

void ProgressPrinter::Finish() {
    if (style_ == Style::Terminal && !quiet_ && dirty_)
        Redraw();
    redraw_->stop();
    drawn_ = 0;
}

void ProgressPrinter::Line(const QString& text) {
    EraseRows();
    if (downloadShown_) {
        Put(out_, QStringLiteral("\n"));
        downloadShown_ = false;
    }
    Put(out_, PrintableText(text) + QLatin1Char('\n'));
    if (style_ == Style::Terminal && !quiet_ && !rows_.isEmpty())
        Redraw();
}

void ProgressPrinter::EraseRows() {
    if (style_ != Style::Terminal || drawn_ == 0)
        return;
    Put(out_, QStringLiteral("\x1b[%1A\r\x1b[J").arg(drawn_));
    drawn_ = 0;
}

void ProgressPrinter::Redraw() {
    if (style_ != Style::Terminal || quiet_)
        return;
    if (downloadShown_) {
        Put(out_, QStringLiteral("\n"));
        downloadShown_ = false;
    }
    QString text;
    if (drawn_ > 0)
        text += QStringLiteral("\x1b[%1A").arg(drawn_);
    columnsNow_ = columns_ ? columns_() : 0;
    for (const Row& row : rows_) {
        QString shown = Fitted(row.port, row.text);
        if (colour_ && row.outcome != Outcome::Working)
            shown = (row.outcome == Outcome::Done ? Green : Red) + shown + ColourOff;
        text += QStringLiteral("\r\x1b[K") + shown + QLatin1Char('\n');
    }
    Put(out_, text);
    drawn_ = int(rows_.size());
    dirty_ = false;
}

QString ProgressPrinter::Fitted(const QString& port, const QString& text) const {
    QString name = PrintableText(port);
    int nameWidth = portWidth_;
    // The last column stays free: some terminals wrap as soon as it is written.
    const int room = columnsNow_ - 1;
    if (columnsNow_ > 0) {
        // A long port name gives way in the middle, where names differ least.
        const int most = qMax(MinPortColumns, room / 3);
        if (name.size() > most) {
            const int head = (most - 3) / 2;
            name = name.left(head) + QStringLiteral("...") + name.right(most - 3 - head);
        }
        nameWidth = qMin(nameWidth, most);
    }
    QString line = name.leftJustified(nameWidth) + QStringLiteral("  ") + PrintableText(text);
    if (columnsNow_ > 0 && line.size() > room)
        line.truncate(qMax(room, 0));
    return line;
}

void ProgressPrinter::Print(const QString& line) {
    Line(line);
}

void ProgressPrinter::Put(FILE* stream, const QString& text) {
    bool& failed = stream == out_ ? outFailed_ : errFailed_;
    if (failed)
        return;
    if (std::fputs(text.toUtf8().constData(), stream) < 0 || std::fflush(stream) != 0)
        failed = true;
}

void ProgressPrinter::WriteJson(const QJsonObject& object) {
    Put(out_, QString::fromUtf8(
                  QJsonDocument(Printable(object).toObject()).toJson(QJsonDocument::Compact)) +
                  QLatin1Char('\n'));
}

#pragma once

#include "cli/DeviceReport.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdio>
#include <functional>

class QTimer;

// Everything quillmoor-flash prints. On a terminal, one line per device rewritten in place;
// otherwise a line at each tenth of the way; with --json one object per line. Errors go to
// stderr in every style. Lives on the main thread.
class ProgressPrinter : public QObject {
    Q_OBJECT
public:
    enum class Style { Terminal, Lines, Json };

    ProgressPrinter(Style style, bool quiet, FILE* out, FILE* err);
    ~ProgressPrinter() override;

    Style OutputStyle() const { return style_; }
    // Done lines in green and failed ones in red; only the terminal style draws them.
    void SetColour(bool colour) { colour_ = colour; }
    // Where the terminal style learns the terminal's width, asked at every redraw so that a
    // resized terminal is followed; 0 means unknown (nothing is cut).
    void SetColumns(std::function<int()> columns) { columns_ = std::move(columns); }
    bool Quiet() const { return quiet_; }

    void Device(const DeviceReport& report);
    // "quillmoor-flash: subject: text" on stderr.
    void Error(const QString& subject, const QString& text);
    // A line for people: not with --quiet or --json.
    void Note(const QString& text);
    // The package download's progress.
    void Download(qint64 received, qint64 total);
    // A JSON event; nothing in the other styles.
    void Event(const QJsonObject& event);
    // The last words: printed in every style but JSON, where event is printed instead.
    void Summary(const QString& text, const QJsonObject& event);
    // Leaves the device lines as they are, below the cursor.
    void Finish();
    // A line of output as it is, in every style (a listing).
    void Print(const QString& line);

    // A Monitor log text without its arrows, dashes and [ERROR].
    static QString MonitorText(QString line);

private:
    enum class Outcome { Working, Done, Failed };
    struct Row {
        QString port;
        QString text;
        Outcome outcome = Outcome::Working;
        int tenth = -1;
        DeviceReport last;     // the last transfer report, while one runs
        bool transfer = false; // a transfer runs: a device that falls silent is shown so
        qint64 heardAtMs = 0;  // when the device last moved on
        int silentShown = 0;   // the silence shown, in seconds
    };
    Row& RowOf(const QString& port);
    QString ProgressText(const DeviceReport& report) const;
    void Line(const QString& text);
    // Writes to out_ or err_; a stream that failed once (a closed pipe, a full file) is left
    // alone from then on, and the work goes on without it.
    void Put(FILE* stream, const QString& text);
    void Redraw();
    // A rewritten line fitted into the terminal's width: one that wrapped would break the
    // count of lines to go back up over.
    QString Fitted(const QString& port, const QString& text) const;
    void EraseRows();
    void WriteJson(const QJsonObject& object);
    void ShowSilences();

    Style style_;
    bool quiet_;
    bool colour_ = false;
    std::function<int()> columns_;
    int columnsNow_ = 0; // the width of the redraw under way
    FILE* out_;
    FILE* err_;
    bool outFailed_ = false;
    bool errFailed_ = false;
    QList<Row> rows_;
    int drawn_ = 0;
    bool dirty_ = false;
    int portWidth_ = 0;
    QTimer* redraw_ = nullptr;
    QElapsedTimer clock_;
    int downloadTenth_ = -1;
    bool downloadShown_ = false;
};

#include "updater/MonitorLog.h"

#include <QScrollBar>
#include <QTextBlock>

MonitorLog::MonitorLog(QWidget* parent) : QPlainTextEdit(parent) {
    setMaximumBlockCount(MaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUndoRedoEnabled(false); // the undo stack would keep every line ever written
}

void MonitorLog::AppendLine(const QString& line) {
    if (document()->isEmpty() && blockCount() == 1 && document()->firstBlock().text().isEmpty()) {
        // The empty box has one empty line; the first append replaces it.
        setPlainText(line);
    } else {
        appendPlainText(line);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void MonitorLog::ExtendLastLine(const QString& suffix) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(suffix);
}

QStringList MonitorLog::Lines() const {
    if (document()->isEmpty())
        return {};
    return toPlainText().split(QLatin1Char('\n'));
}

QString MonitorLog::LastLine() const {
    return document()->lastBlock().text();
}

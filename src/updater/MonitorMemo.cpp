#include "updater/MonitorMemo.h"

#include <QScrollBar>
#include <QTextBlock>

MonitorMemo::MonitorMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setMaximumBlockCount(MaxLines);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUndoRedoEnabled(false); // the undo stack would keep every line ever written
}

void MonitorMemo::AppendLine(const QString& line) {
    if (document()->isEmpty() && blockCount() == 1 && document()->firstBlock().text().isEmpty()) {
        // The empty box has one empty line; the first append replaces it.
        setPlainText(line);
    } else {
        appendPlainText(line);
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void MonitorMemo::ExtendLastLine(const QString& suffix) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(suffix);
}

QStringList MonitorMemo::Lines() const {
    if (document()->isEmpty())
        return {};
    return toPlainText().split(QLatin1Char('\n'));
}

QString MonitorMemo::LastLine() const {
    return document()->lastBlock().text();
}

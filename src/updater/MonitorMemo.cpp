#include "updater/MonitorMemo.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>

namespace {
// A text box would break a line at a carriage return; the log keeps it inside the line
// (a version text may end in one) and shows it as the control-picture character.
constexpr QChar CarriageReturnSymbol(0x240D);

QString ToDisplay(QString text) {
    text.replace(QLatin1Char('\r'), CarriageReturnSymbol);
    return text;
}

QString FromDisplay(QString text) {
    text.replace(CarriageReturnSymbol, QLatin1Char('\r'));
    return text;
}
} // namespace

MonitorMemo::MonitorMemo(QWidget* parent) : QPlainTextEdit(parent) {
    setMaximumBlockCount(MaxLines);
    // Long lines wrap, as in a text box with a vertical scroll bar only.
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUndoRedoEnabled(false); // the undo stack would keep every line ever written
    setTabChangesFocus(true);
}

void MonitorMemo::AppendLine(const QString& line) {
    if (document()->isEmpty() && blockCount() == 1 && document()->firstBlock().text().isEmpty()) {
        // The empty box has one empty line; the first append replaces it.
        setPlainText(ToDisplay(line));
    } else {
        appendPlainText(ToDisplay(line));
    }
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void MonitorMemo::ExtendLastLine(const QString& suffix) {
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(ToDisplay(suffix));
}

QStringList MonitorMemo::Lines() const {
    if (document()->isEmpty())
        return {};
    return FromDisplay(toPlainText()).split(QLatin1Char('\n'));
}

QString MonitorMemo::LastLine() const {
    return FromDisplay(document()->lastBlock().text());
}

void MonitorMemo::focusInEvent(QFocusEvent* event) {
    QPlainTextEdit::focusInEvent(event);
    // Reached from the keyboard, or given the focus when the update button goes off: the
    // newest lines are what matters, and the caret goes there so that the next key does not
    // scroll back to where it last was. A click places the caret itself; a window that
    // becomes active again keeps it where the user left it.
    const auto reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::OtherFocusReason) {
        moveCursor(QTextCursor::End);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
}

void MonitorMemo::keyPressEvent(QKeyEvent* event) {
    // Tab gets here only when the focus has nowhere else to go (during an update all else
    // is off); it types nothing all the same.
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
        event->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

#pragma once

#include <QPlainTextEdit>

// The Monitor log: a multi-line text box whose lines are appended or whose last line is
// extended. The user may type into it, so "the last line" is whatever the box ends with.
// Tab and Shift+Tab move the focus on, as in the multi-line boxes of any form.
class MonitorMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    // Oldest lines are dropped beyond this, so floods of transfer events cannot grow
    // memory without bound.
    static constexpr int MaxLines = 5000;

    explicit MonitorMemo(QWidget* parent = nullptr);

    void AppendLine(const QString& line);
    void ExtendLastLine(const QString& suffix);
    QStringList Lines() const;
    QString LastLine() const;

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

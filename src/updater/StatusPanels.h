#pragma once

#include <QFrame>

class QLabel;

// The window's status bar: three text panels side by side.
class StatusPanels : public QFrame {
    Q_OBJECT
public:
    static constexpr int Count = 3;

    explicit StatusPanels(QWidget* parent = nullptr);

    void SetText(int index, const QString& text);
    QString Text(int index) const;
    QLabel* Panel(int index) const { return panels_[index]; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* panels_[Count];
};

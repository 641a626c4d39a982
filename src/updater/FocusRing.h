#pragma once

#include <QPointer>
#include <QWidget>

// A ring drawn around whichever control of the window has the keyboard focus, so a user of
// the keyboard sees where it is: the style's own marks are faint on the buttons and missing
// on the port selector. It draws just outside the control and takes no clicks.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    explicit FocusRing(QWidget* window);

    // The control the ring is around; null while it is hidden.
    QWidget* Target() const { return target_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void Follow(QWidget* focused);
    void Place();

    QPointer<QWidget> target_;
};

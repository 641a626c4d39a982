#pragma once

#include <QImage>
#include <QList>
#include <QTimer>
#include <QWidget>

// The transfer dialog's looping picture: a sheet of paper flying from a globe at the left
// into an open yellow folder at the right, on a transparent backdrop.
class TTransferAnimation : public QWidget {
    Q_OBJECT
public:
    static constexpr int FrameWidth = 272;
    static constexpr int FrameHeight = 60;
    static constexpr int FrameCount = 31;
    static constexpr int FramesPerSecond = 15;

    explicit TTransferAnimation(QWidget* parent = nullptr);

    // The pictures, drawn once per program run.
    static const QList<QImage>& Frames();

    void Play();
    void Stop();
    bool Playing() const { return timer.isActive(); }
    int CurrentFrame() const { return frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NextFrame();

    QTimer timer;
    int frame = 0;
};

#pragma once

#include <QColor>
#include <QWidget>

// A panel painted with a vertical two-colour gradient; the window's form sets the colours.
class GradientPanel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor topColor MEMBER top_)
    Q_PROPERTY(QColor bottomColor MEMBER bottom_)
public:
    explicit GradientPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor top_ = Qt::white;
    QColor bottom_ = Qt::white;
};

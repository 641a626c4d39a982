#include "updater/GradientPanel.h"

#include <QLinearGradient>
#include <QPainter>

GradientPanel::GradientPanel(QWidget* parent) : QWidget(parent) {}

void GradientPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, top_);
    gradient.setColorAt(1, bottom_);
    painter.fillRect(rect(), gradient);
}

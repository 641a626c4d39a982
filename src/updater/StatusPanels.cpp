#include "updater/StatusPanels.h"

#include <QLabel>

namespace {
constexpr int Widths[StatusPanels::Count] = {80, 400, 274};
}

StatusPanels::StatusPanels(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("StatusBar"));
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral(
        "#StatusBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e9eef5, "
        "stop:1 #cdd6e3); border-top: 1px solid #a9b5c6; }"
        "#StatusBar QLabel { color: #1d2633; padding: 0 4px; border-right: 1px solid #a9b5c6; }"));
    int left = 0;
    for (int i = 0; i < Count; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panels_[i]->setGeometry(left, 0, Widths[i], 19);
        panels_[i]->setMinimumHeight(19);
        panels_[i]->setAlignment(Qt::AlignVCenter | (i == 2 ? Qt::AlignRight : Qt::AlignLeft));
        left += Widths[i];
    }
}

void StatusPanels::resizeEvent(QResizeEvent*) {
    // The last panel reaches to the right edge, as a status bar's last part does, so its
    // right-aligned text stays in sight.
    QLabel* last = panels_[Count - 1];
    last->setGeometry(last->x(), 0, std::max(0, width() - last->x()), height());
}

void StatusPanels::SetText(int index, const QString& text) {
    panels_[index]->setText(text);
}

QString StatusPanels::Text(int index) const {
    return panels_[index]->text();
}

#include "gui/Gauge.h"

#include <QPainter>
#include <algorithm>

namespace sonoprog::gui {

Gauge::Gauge(QWidget* parent) : QWidget(parent) { setMinimumHeight(18); }

void Gauge::setProgress(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == progress_) return;
    progress_ = percent;
    update();
}

void Gauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect().adjusted(0, 0, -1, -1);
    p.fillRect(r, Qt::white);
    const int filled = r.width() * progress_ / 100;
    p.fillRect(QRect(r.left(), r.top(), filled, r.height()), QColor(166, 202, 240));
    p.setPen(Qt::gray);
    p.drawRect(r);
    p.setPen(Qt::black);
    p.drawText(r, Qt::AlignCenter, QStringLiteral("%1%").arg(progress_));
}

}  // namespace sonoprog::gui

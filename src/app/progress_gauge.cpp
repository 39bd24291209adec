#include "app/progress_gauge.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace globeforge {

namespace {
const QColor kForeColor(0, 0, 255);
}

ProgressGauge::ProgressGauge(QWidget* parent) : QWidget(parent) {
    // No background of its own: the window shows through.
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void ProgressGauge::SetKind(Kind kind) {
    if (kind == kind_) return;
    kind_ = kind;
    update();
}

void ProgressGauge::SetProgress(int percent) {
    percent = std::clamp(percent, 0, 100);
    if (percent == progress_) return;
    progress_ = percent;
    update();
}

ProgressGauge::Kind ProgressGauge::KindForCount(int count) {
    switch (((count % 4) + 4) % 4) {
        case 0:
            return Kind::HorizontalBar;
        case 1:
            return Kind::Needle;
        case 2:
            return Kind::Pie;
        default:
            return Kind::VerticalBar;
    }
}

void ProgressGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 1, -1, -1);
    const double fraction = progress_ / 100.0;

    switch (kind_) {
        case Kind::Text:
            break;
        case Kind::HorizontalBar:
            p.fillRect(QRectF(area.left(), area.top(), area.width() * fraction, area.height()),
                       kForeColor);
            break;
        case Kind::VerticalBar: {
            const double h = area.height() * fraction;
            p.fillRect(QRectF(area.left(), area.bottom() - h, area.width(), h), kForeColor);
            break;
        }
        case Kind::Pie: {
            const double side = std::min(area.width(), area.height());
            const QRectF circle(area.center().x() - side / 2, area.center().y() - side / 2, side,
                                side);
            p.setPen(QPen(kForeColor, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(circle);
            // Clockwise from twelve o'clock; Qt counts angles counter-clockwise in 1/16 deg.
            p.setBrush(kForeColor);
            p.drawPie(circle, 90 * 16, -static_cast<int>(std::lround(fraction * 360 * 16)));
            break;
        }
        case Kind::Needle: {
            // A half dial standing on the bottom edge; the needle sweeps left to right.
            const double radius = std::min(area.width() / 2, area.height());
            const QPointF hub(area.center().x(), area.bottom());
            const QRectF dial(hub.x() - radius, hub.y() - radius, 2 * radius, 2 * radius);
            p.setPen(QPen(kForeColor, 1));
            p.setBrush(Qt::NoBrush);
            p.drawArc(dial, 0, 180 * 16);
            p.drawLine(QPointF(hub.x() - radius, hub.y()), QPointF(hub.x() + radius, hub.y()));
            const double angle = std::numbers::pi * (1.0 - fraction);
            p.setPen(QPen(kForeColor, 2));
            p.drawLine(hub, QPointF(hub.x() + radius * std::cos(angle),
                                    hub.y() - radius * std::sin(angle)));
            break;
        }
    }

    // The percentage on top, in a colour that stays readable over the filled part.
    p.setPen(kind_ == Kind::Text ? kForeColor : QColor(Qt::black));
    p.drawText(rect(), Qt::AlignCenter, QString::number(progress_) + QLatin1Char('%'));
}

}  // namespace globeforge

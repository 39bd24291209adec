#include "app/color_panel.h"

#include <QPainter>

namespace globeforge {

ColorPanel::ColorPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setLineWidth(1);
}

QColor ColorPanel::Color() const {
    return QColor(static_cast<int>(value_ & 0xFF), static_cast<int>((value_ >> 8) & 0xFF),
                  static_cast<int>((value_ >> 16) & 0xFF));
}

void ColorPanel::SetColor(const QColor& color) {
    SetColorValue(static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
                  (static_cast<uint32_t>(color.blue()) << 16));
}

void ColorPanel::SetColorValue(uint32_t value) {
    if (value == value_) return;
    value_ = value;
    update();
    emit ColorChanged();
}

void ColorPanel::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        p.fillRect(contentsRect(), Color());
    }
    QFrame::paintEvent(event);
}

}  // namespace globeforge

#include "app/color_panel.h"

#include <QPainter>

namespace globeforge {

ColorPanel::ColorPanel(QWidget* parent) : QFrame(parent) {
    setFrameShape(QFrame::Box);
    setLineWidth(1);
}

void ColorPanel::SetColor(const QColor& color) {
    color_ = color;
    update();
}

void ColorPanel::paintEvent(QPaintEvent* event) {
    {
        QPainter p(this);
        p.fillRect(contentsRect(), color_);
    }
    QFrame::paintEvent(event);
}

}  // namespace globeforge

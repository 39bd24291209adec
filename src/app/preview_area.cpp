#include "app/preview_area.h"

#include <QMouseEvent>
#include <QPainter>

namespace globeforge {

PreviewArea::PreviewArea(const QImage* buffer, QWidget* parent) : QWidget(parent), buffer_(buffer) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setCursor(Qt::PointingHandCursor);
}

void PreviewArea::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(rect(), *buffer_);
}

void PreviewArea::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
}

// A click is a left press and release inside the area, as for a button.
void PreviewArea::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPressed = pressed_;
    pressed_ = false;
    if (wasPressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace globeforge

// The 512 x 512 paint area left of the controls: it shows the picture last drawn into the
// window's back buffer and starts a preview render when clicked.
#pragma once

#include <QImage>
#include <QWidget>

namespace globeforge {

class PreviewArea : public QWidget {
    Q_OBJECT
  public:
    // buffer is the window's back buffer; the area repaints itself from it.
    PreviewArea(const QImage* buffer, QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    const QImage* buffer_;
    bool pressed_ = false;
};

}  // namespace globeforge

// A coloured panel that shows one of the render colours (ground, sea, ice, cloud).
#pragma once

#include <QColor>
#include <QFrame>

namespace globeforge {

class ColorPanel : public QFrame {
    Q_OBJECT
  public:
    explicit ColorPanel(QWidget* parent = nullptr);

    QColor Color() const { return color_; }
    void SetColor(const QColor& color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor color_ = Qt::black;
};

}  // namespace globeforge

// A coloured panel that shows one of the render colours (ground, sea, ice, cloud). It keeps
// the colour as a 32-bit colour value 0x00BBGGRR; a value with a non-zero top byte (possible
// in a settings file) shows its low three bytes and is kept whole.
#pragma once

#include <QColor>
#include <QFrame>
#include <cstdint>

namespace globeforge {

class ColorPanel : public QFrame {
    Q_OBJECT
  public:
    explicit ColorPanel(QWidget* parent = nullptr);

    QColor Color() const;
    void SetColor(const QColor& color);
    uint32_t ColorValue() const { return value_; }
    void SetColorValue(uint32_t value);

  signals:
    // The value changed, by the program or the colour dialog.
    void ColorChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    uint32_t value_ = 0;
};

}  // namespace globeforge

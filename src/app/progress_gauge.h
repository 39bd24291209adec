// The gauge beside the message line: the percentage of the current render stage, drawn as
// text, a horizontal or vertical bar, a pie or a needle. The window changes the kind at
// every progress report so the user sees the render advance even within a stage.
#pragma once

#include <QWidget>

namespace globeforge {

class ProgressGauge : public QWidget {
    Q_OBJECT
  public:
    enum class Kind { Text, HorizontalBar, VerticalBar, Pie, Needle };

    explicit ProgressGauge(QWidget* parent = nullptr);

    Kind GaugeKind() const { return kind_; }
    int Progress() const { return progress_; }
    void SetKind(Kind kind);
    // Clamped to 0..100.
    void SetProgress(int percent);

    // The kind shown after `count` progress reports: bar, needle, pie, vertical bar.
    static Kind KindForCount(int count);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Kind kind_ = Kind::Text;
    int progress_ = 0;
};

}  // namespace globeforge

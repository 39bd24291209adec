// The modal dialog in which the user picks the quality of the JPEG maps, from small files
// of low quality to large files of high quality.
#pragma once

#include <QDialog>

class QLabel;
class QScrollBar;

namespace globeforge {

class JPEGQualityForm : public QDialog {
    Q_OBJECT
  public:
    explicit JPEGQualityForm(QWidget* parent = nullptr);

    QScrollBar* Quality() const { return Quality_; }
    QLabel* QualityText() const { return QualityText_; }

  protected:
    // The bar starts at the current quality every time the dialog comes up.
    void showEvent(QShowEvent* event) override;

  private slots:
    void FormActivate();
    void QualityChange(int position);
    void BitBtn1Click();

  private:
    QScrollBar* Quality_;
    QLabel* QualityText_;
};

}  // namespace globeforge

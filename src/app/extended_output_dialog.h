// The modal dialog holding the outputs for 3D work: the precision of PNG bump maps, the name
// of the normal map and the strength of its relief. Its controls are parameters like those of
// the main window (saved in settings files, gathered for a render); the dialog only decides
// whether an edit is kept (OK) or undone (Cancel).
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace globeforge {

class ExtendedOutputDialog : public QDialog {
    Q_OBJECT
  public:
    explicit ExtendedOutputDialog(QWidget* parent = nullptr);

    QRadioButton* HeightDepth8() const { return HeightDepth8_; }
    QRadioButton* HeightDepth16() const { return HeightDepth16_; }
    QLineEdit* NormalName() const { return NormalName_; }
    QPushButton* NormalRef() const { return NormalRef_; }
    QSlider* NormalStrength() const { return NormalStrength_; }

    // Cancel (also Escape and closing the window) puts back what the controls held when the
    // dialog came up.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QRadioButton* HeightDepth8_;
    QRadioButton* HeightDepth16_;
    QLineEdit* NormalName_;
    QPushButton* NormalRef_;
    QSlider* NormalStrength_;

    struct Values {
        bool depth16 = false;
        QString normalName;
        int strength = 0;
    };
    Values opened_;
};

}  // namespace globeforge

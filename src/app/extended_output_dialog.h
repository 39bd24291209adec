// The modal dialog holding the outputs for 3D work: the precision of PNG bump maps, the name
// of the normal map, the strength of its relief and whether maps are also written as cube
// faces. Its controls are parameters like those of
// the main window (saved in settings files, gathered for a render); the dialog only decides
// whether an edit is kept (OK) or undone (Cancel).
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
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
    QCheckBox* CubeMapFaces() const { return CubeMapFaces_; }

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
    QCheckBox* CubeMapFaces_;

    struct Values {
        bool depth16 = false;
        QString normalName;
        int strength = 0;
        bool cubeFaces = false;
    };
    Values opened_;
};

}  // namespace globeforge

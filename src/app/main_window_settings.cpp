// The main window's side of the settings: gathering a render's inputs from the controls,
// settings files and the JPEG quality preference.
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>

#include "app/color_panel.h"
#include "app/jpeg_quality_dialog.h"
#include "app/main_window.h"
#include "image/image_files.h"

namespace globeforge {

namespace {

FloatPixel PanelPixel(const ColorPanel* panel) {
    const QColor c = panel->Color();
    return MakeColor(static_cast<float>(c.red()), static_cast<float>(c.green()),
                     static_cast<float>(c.blue()));
}

uint8_t Mixture(const QRadioButton* add, const QRadioButton* norm) {
    return add->isChecked() ? kMixAdd : norm->isChecked() ? kMixNorm : kMixSub;
}

}  // namespace

void MainWindow::GatherRenderParams(RenderParams& p) const {
    const MainWindowControls& c = ui_;
    p.RandomSeed = c.Seed->text().toInt();
    p.OutputResolutionX = c.ResX->text().toInt();
    p.OutputResolutionY = c.ResY->text().toInt();
    p.OverSampling = c.Ovsmp->value();
    p.LoadHeightmap = c.DeepPartPictureName->text().toStdString();
    p.GroundAutoCreate = c.DeepAutoCreate->isChecked();
    p.GroundColorHigh = PanelPixel(c.DeepColor1);
    p.GroundColorLow = PanelPixel(c.DeepColor2);
    p.GroundContr = c.DeepContr->value();
    p.GroundXWarp = c.DeepSizeX->value();
    p.GroundYWarp = c.DeepSizeY->value();
    p.SeaColorShallow = PanelPixel(c.DeepSeaColor1);
    p.SeaColorDeep = PanelPixel(c.DeepSeaColor2);
    p.CoastLevel = c.DeepSeaThr->value();
    p.IceColor = PanelPixel(c.DeepIceColor);
    p.IceQuantity = c.DeepIceQua->value();
    p.NumberOfCraters = c.NumOfCrater->text().toInt();
    p.CraterBasicRadius = c.RadOfCrater->text().toInt();
    p.CraterHeight = c.CraterHeight->value();
    p.CraterWarp = c.CraterYuragi->value();
    p.CraterNoise = c.CraterNoise->value();
    p.GroundMixtureMode = Mixture(c.DeepAdd, c.DeepNorm);
    p.GroundTransparency = c.DeepTranspare->value();
    p.LoadCloudAlpha = c.SurfacePartPictureName->text().toStdString();
    p.CloudAlphaReverse = c.SurfacePartPictureReverse->isChecked();
    p.CloudAlphaMixtureMode = Mixture(c.AirBmpAdd, c.AirBmpNorm);
    p.CloudAlphaTransparency = c.AirBmpTranspare->value();
    p.CloudAutoCreate = c.AirAutoCreate->isChecked();
    p.CloudDarkColor = PanelPixel(c.AirColor1);
    p.CloudLightColor = PanelPixel(c.AirColor2);
    p.CloudQuantity = c.AirContr->value();
    p.CloudXWarp = c.AirSizeX->value();
    p.CloudYWarp = c.AirSizeY->value();
    p.CloudMixtureMode = Mixture(c.AirAdd, c.AirNorm);
    p.CloudTransparency = c.AirTranspare->value();
    p.OutputTransparencyMode = c.forAlphaBlending->isChecked();
    p.OutputColorMap = c.ColorName->text().trimmed().toStdString();
    p.OutputSpeculerMap = c.SpecularName->text().trimmed().toStdString();
    p.OutputBumpMap = c.BumpName->text().trimmed().toStdString();
    p.OutputCloudColorMap = c.CloudColorName->text().trimmed().toStdString();
    p.OutputCloudBumpMap = c.CloudBumpName->text().trimmed().toStdString();
    p.OutputCloudTransparencyMap = c.CloudTraName->text().trimmed().toStdString();
}

void MainWindow::O1Click() {}
void MainWindow::S1Click() {}
void MainWindow::A1Click() {}

void MainWindow::JPEGJ1Click() {
    jpegQualityForm_->exec();
}

}  // namespace globeforge

#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "app/app_language.h"
#include "app/color_panel.h"
#include "app/extended_output_dialog.h"
#include "app/globe_window.h"
#include "app/jpeg_quality_dialog.h"
#include "app/preview_area.h"
#include "app/preview_image.h"
#include "app/progress_gauge.h"
#include "app/qt_progress.h"
#include "core/version.h"
#include "globe/globe_output.h"
#include "pipeline/render_job.h"

namespace globeforge {

namespace {

const QString kProductTitle = QString::fromUtf8(kProductName);
// Texts of the window's own, translated where they are shown.
const char* const kInitialSettingsName = QT_TRANSLATE_NOOP("globeforge::MainWindow", "新規.ORB");
const char* const kPictureFilter =
    QT_TRANSLATE_NOOP("globeforge::MainWindow", "ﾋﾞｯﾄﾏｯﾌﾟ (*.bmp *.jpg *.jpeg *.png)");
// Maps can also be written as OpenEXR floats, which cannot be read back as pictures.
const char* const kSavePictureFilter =
    QT_TRANSLATE_NOOP("globeforge::MainWindow", "ﾋﾞｯﾄﾏｯﾌﾟ (*.bmp *.jpg *.jpeg *.png *.exr)");
const char* const kSaveErrorText =
    QT_TRANSLATE_NOOP("globeforge::MainWindow", "`画像のセーブエラー発生。致命的かも。");

// The record also holds maps built only for the globe view; the preview offers the requested
// ones.
bool Shown(const RenderParams& params, const MapSlot& slot) {
    return !(params.*slot.name).empty() && (params.*slot.image).has_value();
}

// The preview's buttons in the window's order (the relief before the gloss): the first
// requested map is shown after a render.
const std::pair<QPushButton * MainWindowControls::*, MapKind> kPreviewButtons[] = {
    {&MainWindowControls::PreviewColor, MapKind::Color},
    {&MainWindowControls::PreviewBump, MapKind::Bump},
    {&MainWindowControls::PreviewSpc, MapKind::Specular},
    {&MainWindowControls::PreviewCloudColor, MapKind::CloudColor},
    {&MainWindowControls::PreviewCloudBump, MapKind::CloudBump},
    {&MainWindowControls::PreviewCloudTra, MapKind::CloudTransparency},
    {&MainWindowControls::PreviewNormal, MapKind::Normal}};

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      settingsFileName_(tr(kInitialSettingsName)),
      preferencesFileName_(DefaultPreferencesFileName()) {
    setObjectName(QStringLiteral("ORBGEN_Main_Form"));
    QFont font;
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    font.setPixelSize(12);
    setFont(font);

    previewBuffer_ = QImage(512, 512, QImage::Format_RGB888);
    previewBuffer_.fill(Qt::black);

    BuildControls();
    BuildMenu();
    resize(873, 755);

    ctx_.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    sink_ = new QtProgressSink(previewBuffer_.size(), this);
    connect(sink_, &QtProgressSink::ImageReady, this, &MainWindow::DrawProgressImage,
            Qt::QueuedConnection);
    connect(sink_, &QtProgressSink::MessageReady, this, &MainWindow::SetProgressMessage,
            Qt::QueuedConnection);

    jpegQualityForm_ = new JPEGQualityForm(this);
    ColorDialog1 = new QColorDialog(this);
    ColorDialog1->setObjectName(QStringLiteral("ColorDialog1"));

    ConnectHandlers();
    BuildLiveControls();
    ui_.Timer1->start();
    history_.Reset(CurrentSettingsText());
    savedText_ = history_.Current();
    captionName_ = settingsFileName_;
    UpdateCaption();
}

MainWindow::~MainWindow() {
    StopRender();
    ctx_.SetProgressTargets(nullptr);
    FreeRenderMaps(params_);
}

// ---- Render commands.

void MainWindow::PreviewClick() {
    if (IsRendering()) return;
    ui_.LivePreviewTimer->stop();  // this preview is of the settings it waits for
    StartPreview(true);
}

void MainWindow::StartPreview(bool showStages) {
    previewedText_ = CurrentSettingsText();
    ui_.Go->setEnabled(false);
    FreeRenderMaps(params_);
    GatherRenderParams(params_);
    params_.BuildGlobeMaps = true;
    params_.OutputResolutionX = ui_.Preview->width() / 4;
    params_.OutputResolutionY = ui_.Preview->height() / 4;
    params_.OverSampling = 1;
    // Without names every map is built; the hyphens also keep the clouds out of the ground.
    if (std::all_of(kMapSlots.begin(), kMapSlots.end(),
                    [this](const MapSlot& slot) { return (params_.*slot.name).empty(); })) {
        for (const MapSlot& slot : kMapSlots)
            (params_.*slot.name).assign(1, '-');  // not = "-": a GCC 12 -Wrestrict false alarm
    }
    StartRender(false, showStages);
}

void MainWindow::GoClick() {
    if (IsRendering()) return;
    ui_.LivePreviewTimer->stop();
    previewedText_.clear();  // the preview area will show this render's maps
    ui_.Go->setEnabled(false);
    FreeRenderMaps(params_);
    GatherRenderParams(params_);
    params_.BuildGlobeMaps = true;
    StartRender(true);
}

void MainWindow::RenderAbortClick() {
    ui_.LivePreviewTimer->stop();
    previewPending_ = false;
    if (IsRendering()) CancelRender();
}

// The driver clears the flag once at its start, so it is raised again until the worker is done.
void MainWindow::CancelRender() {
    ctx_.AbortRequested = true;
    abortTimer_->start();
}

void MainWindow::StartRender(bool fullRender, bool showStages) {
    // Refuse further commands at once, before the worker gets to set the flag itself.
    busy_ = true;
    fullRender_ = fullRender;
    ctx_.Rendering = true;
    ui_.ExportGltf1->setEnabled(false);  // the maps are about to be replaced
    sink_->SetShowImages(showStages);
    ctx_.SetProgressTargets(sink_);
    workerDone_ = false;
    emit renderStarted();
    worker_ = std::thread([this, fullRender] {
        RenderOutcome outcome;
        RenderJob job;
        // Writing maps can take a while at large sizes: keep it off the window's thread.
        job.saveMaps = fullRender;
        job.encodeEarly = false;
        job.picturesAfterFailedSave = true;
        // The globe's pyramids take a moment at large sizes: build them here, not on the
        // window's thread.
        job.pictures = [&outcome](RenderParams& params, RenderContext& ctx, std::string&,
                                  std::string&) {
            const GlobeMaps maps = GlobeMapsOf(params);
            if (maps.color) outcome.globe = GlobeScene::Prepare(maps, ctx);
            return true;
        };
        const RenderJobResult result = RunRenderJob(params_, ctx_, job);
        outcome.completed = result.rendered;
        outcome.failure = result.failure;
        outcome.saveFailed = result.saveFailed;
        outcome.failedName = result.failedName;
        outcome.saveReason = result.reason;
        workerDone_ = true;
        QMetaObject::invokeMethod(
            this, [this, outcome] { RenderEnded(outcome); }, Qt::QueuedConnection);
    });
}

void MainWindow::RenderEnded(const RenderOutcome& outcome) {
    if (worker_.joinable()) worker_.join();
    abortTimer_->stop();
    if (closing_) return;  // the window is going away: no dialogs, nothing to show
    if (previewPending_) {
        // Its maps are of older settings: the newer preview replaces them at once.
        previewPending_ = false;
        busy_ = false;
        StartPreview(false);
        return;
    }
    if (!outcome.completed && !fullRender_) previewedText_.clear();
    if (!outcome.failure.empty()) ShowErrorReport(QString::fromStdString(outcome.failure));
    if (outcome.saveFailed) {
        QApplication::beep();
        QMessageBox box(QMessageBox::Warning, kProductTitle, tr(kSaveErrorText), QMessageBox::Ok,
                        this);
        box.setDetailedText(QString::fromStdString(outcome.failedName + ": " + outcome.saveReason));
        box.exec();
    }
    UpdatePreviewButtons();
    ui_.Go->setEnabled(true);
    ui_.ExportGltf1->setEnabled(outcome.completed && params_.ColorMapImage.has_value());
    ShowFirstMap();
    if (outcome.globe) {
        globeScene_ = outcome.globe;
        globeSettings_ = params_.SettingsText;
        if (globeForm_) globeForm_->SetScene(globeScene_, globeSettings_);
    }
    busy_ = false;
    emit renderFinished(outcome.completed);
}

// Waits for a running render to end; the abort flag is raised again until the worker is
// done, since the driver clears it once at its start.
void MainWindow::StopRender() {
    if (!worker_.joinable()) return;
    while (!workerDone_) {
        ctx_.AbortRequested = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    worker_.join();
}

void MainWindow::Timer1Timer() {
    ui_.Progress->SetKind(ProgressGauge::KindForCount(ctx_.ProgressCount));
    ui_.Progress->SetProgress(ctx_.ProgressPercent);
}

// ---- Progress display.

void MainWindow::DrawProgressImage(const QImage& picture) {
    QPainter p(&previewBuffer_);
    p.drawImage(QRect(QPoint(0, 0), previewBuffer_.size()), picture);
    ui_.Preview->update();
}

// The stages report their Japanese messages; the window shows them in its own language.
void MainWindow::SetProgressMessage(const QString& text) {
    const std::string message = text.toStdString();
    ui_.progress_msg->setText(
        QString::fromStdString(std::string(LocalizedStageMessage(message, ActiveLanguage()))));
}

void MainWindow::ShowMapInPreview(const FloatImage* image) {
    if (!image) return;
    DrawProgressImage(FloatImageToQImage(*image, previewBuffer_.width(), previewBuffer_.height()));
}

void MainWindow::ShowFirstMap() {
    for (const auto& [button, kind] : kPreviewButtons) {
        if (Shown(params_, SlotOf(kind))) {
            ShowMapInPreview(params_.*SlotOf(kind).image);
            return;
        }
    }
}

void MainWindow::UpdatePreviewButtons() {
    for (const auto& [button, kind] : kPreviewButtons) {
        (ui_.*button)->setVisible(Shown(params_, SlotOf(kind)));
    }
}

// The record belongs to the worker while a render runs, so the buttons wait for its end.
void MainWindow::PreviewColorClick() {
    if (!IsRendering()) ShowMapInPreview(params_.ColorMapImage);
}
void MainWindow::PreviewBumpClick() {
    if (!IsRendering()) ShowMapInPreview(params_.BumpMapImage);
}
void MainWindow::PreviewSpcClick() {
    if (!IsRendering()) ShowMapInPreview(params_.SpecularMapImage);
}
void MainWindow::PreviewCloudColorClick() {
    if (!IsRendering()) ShowMapInPreview(params_.CloudColorMapImage);
}
void MainWindow::PreviewCloudBumpClick() {
    if (!IsRendering()) ShowMapInPreview(params_.CloudBumpMapImage);
}
void MainWindow::PreviewCloudTraClick() {
    if (!IsRendering()) ShowMapInPreview(params_.CloudTransparencyMapImage);
}
void MainWindow::PreviewNormalClick() {
    if (!IsRendering()) ShowMapInPreview(params_.NormalMapImage);
}

// ---- Output names, caption.

void MainWindow::UpdateGoEnabled() {
    const MainWindowControls& c = ui_;
    ui_.Go->setEnabled(!c.ColorName->text().isEmpty() || !c.BumpName->text().isEmpty() ||
                       !c.SpecularName->text().isEmpty() || !c.CloudColorName->text().isEmpty() ||
                       !c.CloudBumpName->text().isEmpty() || !c.CloudTraName->text().isEmpty() ||
                       !c.NormalName->text().isEmpty());
}

void MainWindow::BumpNameChange() {
    UpdateGoEnabled();
}

void MainWindow::UpdateCaption() {
    setWindowTitle(kProductTitle + QStringLiteral(" ") + QString::fromUtf8(kVersionText) +
                   QStringLiteral(" - ") + captionName_ +
                   (IsModified() ? QStringLiteral("*") : QString()));
}

// ---- Picture and colour dialogs.

void MainWindow::PickPictureToOpen(QLineEdit* field) {
    if (!OpenPictureDialog1) {
        OpenPictureDialog1 = new QFileDialog(this);
        OpenPictureDialog1->setObjectName(QStringLiteral("OpenPictureDialog1"));
        OpenPictureDialog1->setAcceptMode(QFileDialog::AcceptOpen);
        OpenPictureDialog1->setFileMode(QFileDialog::ExistingFile);
        OpenPictureDialog1->setNameFilter(tr(kPictureFilter));
        OpenPictureDialog1->setDefaultSuffix(QStringLiteral("bmp"));
    }
    if (OpenPictureDialog1->exec() == QDialog::Accepted &&
        !OpenPictureDialog1->selectedFiles().isEmpty())
        field->setText(OpenPictureDialog1->selectedFiles().first());
}

void MainWindow::PickPictureToSave(QLineEdit* field) {
    if (!SavePictureDialog1) {
        SavePictureDialog1 = new QFileDialog(this);
        SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
        SavePictureDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SavePictureDialog1->setFileMode(QFileDialog::AnyFile);
        SavePictureDialog1->setNameFilter(tr(kSavePictureFilter));
        SavePictureDialog1->setDefaultSuffix(QStringLiteral("bmp"));
    }
    if (SavePictureDialog1->exec() == QDialog::Accepted &&
        !SavePictureDialog1->selectedFiles().isEmpty()) {
        field->setText(SavePictureDialog1->selectedFiles().first());
        UpdateGoEnabled();
    }
}

void MainWindow::DeepPartPictureRefClick() {
    PickPictureToOpen(ui_.DeepPartPictureName);
}
void MainWindow::SurFacePartPictureRefClick() {
    PickPictureToOpen(ui_.SurfacePartPictureName);
}
void MainWindow::ColorRefClick() {
    PickPictureToSave(ui_.ColorName);
}
void MainWindow::BumpRefClick() {
    PickPictureToSave(ui_.BumpName);
}
void MainWindow::SpecularRefClick() {
    PickPictureToSave(ui_.SpecularName);
}
void MainWindow::CloudColorRefClick() {
    PickPictureToSave(ui_.CloudColorName);
}
void MainWindow::CloudBumpRefClick() {
    PickPictureToSave(ui_.CloudBumpName);
}
void MainWindow::CloudTraRefClick() {
    PickPictureToSave(ui_.CloudTraName);
}
void MainWindow::NormalRefClick() {
    PickPictureToSave(ui_.NormalName);
}

// The dialog opens with the colour last chosen in it, not with the panel's.
void MainWindow::PickPanelColor(ColorPanel* panel) {
    ColorDialog1->setCurrentColor(lastDialogColor_);
    if (ColorDialog1->exec() != QDialog::Accepted) return;
    lastDialogColor_ = ColorDialog1->selectedColor();
    panel->SetColor(lastDialogColor_);
}

void MainWindow::SetDeepColor1Click() {
    PickPanelColor(ui_.DeepColor1);
}
void MainWindow::SetDeepColor2Click() {
    PickPanelColor(ui_.DeepColor2);
}
void MainWindow::SerDeepSeaColor1Click() {
    PickPanelColor(ui_.DeepSeaColor1);
}
void MainWindow::SetDeepSeaColor2Click() {
    PickPanelColor(ui_.DeepSeaColor2);
}
void MainWindow::SetDeepIceColorClick() {
    PickPanelColor(ui_.DeepIceColor);
}
void MainWindow::SetAirColor1Click() {
    PickPanelColor(ui_.AirColor1);
}
void MainWindow::SetAirColor2Click() {
    PickPanelColor(ui_.AirColor2);
}

// ---- Globe view.

// A window of its own, made on first use; it stays open beside the main window.
void MainWindow::GlobeView1Click() {
    if (!globeForm_) {
        globeForm_ = new GlobeWindow(this);
        globeForm_->SetScene(globeScene_, globeSettings_);
    }
    globeForm_->show();
    globeForm_->raise();
    globeForm_->activateWindow();
}

// ---- Window life.

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    UpdateCaption();
    ReadPreferences();
    ReadLivePreferences();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing_ && !ConfirmDiscardChanges()) {
        event->ignore();
        return;
    }
    closing_ = true;
    StopRender();
    event->accept();
}

void MainWindow::Exit1Click() {
    close();
}

void MainWindow::ShowErrorReport(const QString& text) {
    QMessageBox box(QMessageBox::Critical, kProductTitle, text, QMessageBox::Ok, this);
    box.exec();
}

}  // namespace globeforge

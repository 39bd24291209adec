// The main window: the render parameters as controls, the output file names, the 512 x 512
// preview that doubles as the live progress display, and the commands preview, full
// render, abort, settings files, JPEG quality and the outputs for 3D work. It owns the one render
// record; a render runs on a worker thread while the window stays responsive, and the window
// installs the results when the worker hands them back. Every change of a setting is an undo
// step and, with live preview on, starts a preview once the changes pause.
#pragma once

#include <QColor>
#include <QImage>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "app/undo_history.h"
#include "core/language.h"
#include "core/progress.h"
#include "core/render_params.h"
#include "globe/globe.h"
#include "settings/settings_model.h"

class QAction;
class QCheckBox;
class QColorDialog;
class QFileDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTimer;

namespace globeforge {

class ColorPanel;
class ExtendedOutputDialog;
class GlobeWindow;
class JPEGQualityForm;
class PreviewArea;
class ProgressGauge;
class QtProgressSink;
class RecentFilesMenu;

// Every control of the window, under the name it is known by (also its objectName).
struct MainWindowControls {
    // Bottom row.
    QLineEdit* Seed = nullptr;
    QPushButton* NewSeed = nullptr;  // draws another seed and previews it (Ctrl+R)
    QSpinBox* Ovsmp = nullptr;
    QLineEdit* ResX = nullptr;
    QLineEdit* ResY = nullptr;
    QPushButton* Go = nullptr;
    QPushButton* RenderAbort = nullptr;

    // Ground input and generation.
    QLineEdit* DeepPartPictureName = nullptr;
    QPushButton* DeepPartPictureRef = nullptr;
    QCheckBox* DeepAutoCreate = nullptr;
    ColorPanel* DeepColor1 = nullptr;
    ColorPanel* DeepColor2 = nullptr;
    QPushButton* SetDeepColor1 = nullptr;
    QPushButton* SetDeepColor2 = nullptr;
    QSlider* DeepContr = nullptr;
    QSlider* DeepSizeX = nullptr;
    QSlider* DeepSizeY = nullptr;
    ColorPanel* DeepSeaColor1 = nullptr;
    ColorPanel* DeepSeaColor2 = nullptr;
    QPushButton* SerDeepSeaColor1 = nullptr;
    QPushButton* SetDeepSeaColor2 = nullptr;
    QSlider* DeepSeaThr = nullptr;
    ColorPanel* DeepIceColor = nullptr;
    QPushButton* SetDeepIceColor = nullptr;
    QSlider* DeepIceQua = nullptr;
    QLineEdit* NumOfCrater = nullptr;
    QLineEdit* RadOfCrater = nullptr;
    QSlider* CraterHeight = nullptr;
    QSlider* CraterYuragi = nullptr;
    QSlider* CraterNoise = nullptr;
    QRadioButton* DeepAdd = nullptr;
    QRadioButton* DeepNorm = nullptr;
    QRadioButton* DeepSub = nullptr;
    QSlider* DeepTranspare = nullptr;

    // Cloud input and generation.
    QLineEdit* SurfacePartPictureName = nullptr;
    QPushButton* SurFacePartPictureRef = nullptr;
    QCheckBox* SurfacePartPictureReverse = nullptr;
    QRadioButton* AirBmpAdd = nullptr;
    QRadioButton* AirBmpNorm = nullptr;
    QRadioButton* AirBmpSub = nullptr;
    QSlider* AirBmpTranspare = nullptr;
    QCheckBox* AirAutoCreate = nullptr;
    ColorPanel* AirColor1 = nullptr;
    ColorPanel* AirColor2 = nullptr;
    QPushButton* SetAirColor1 = nullptr;
    QPushButton* SetAirColor2 = nullptr;
    QSlider* AirContr = nullptr;
    QSlider* AirSizeX = nullptr;
    QSlider* AirSizeY = nullptr;
    QRadioButton* AirAdd = nullptr;
    QRadioButton* AirNorm = nullptr;
    QRadioButton* AirSub = nullptr;
    QSlider* AirTranspare = nullptr;

    // Outputs.
    QLineEdit* ColorName = nullptr;
    QLineEdit* BumpName = nullptr;
    QLineEdit* SpecularName = nullptr;
    QLineEdit* CloudColorName = nullptr;
    QLineEdit* CloudBumpName = nullptr;
    QLineEdit* CloudTraName = nullptr;
    QPushButton* ColorRef = nullptr;
    QPushButton* BumpRef = nullptr;
    QPushButton* SpecularRef = nullptr;
    QPushButton* CloudColorRef = nullptr;
    QPushButton* CloudBumpRef = nullptr;
    QPushButton* CloudTraRef = nullptr;
    QRadioButton* forTranspareMappinng = nullptr;
    QRadioButton* forAlphaBlending = nullptr;

    // Outputs for 3D work, in their own dialog (a child of the window).
    ExtendedOutputDialog* ExtendedOutputForm = nullptr;
    QRadioButton* HeightDepth8 = nullptr;
    QRadioButton* HeightDepth16 = nullptr;
    QLineEdit* NormalName = nullptr;
    QPushButton* NormalRef = nullptr;
    QSlider* NormalStrength = nullptr;
    QCheckBox* CubeMapFaces = nullptr;

    // Preview and progress.
    PreviewArea* Preview = nullptr;
    QPushButton* PreviewColor = nullptr;
    QPushButton* PreviewBump = nullptr;
    QPushButton* PreviewSpc = nullptr;
    QPushButton* PreviewCloudColor = nullptr;
    QPushButton* PreviewCloudBump = nullptr;
    QPushButton* PreviewCloudTra = nullptr;
    QPushButton* PreviewNormal = nullptr;
    QLabel* progress_msg = nullptr;
    ProgressGauge* Progress = nullptr;
    QTimer* Timer1 = nullptr;
    // Waits for the changes to pause before a live preview starts.
    QTimer* LivePreviewTimer = nullptr;

    // Menu.
    QAction* O1 = nullptr;
    QAction* S1 = nullptr;
    QAction* A1 = nullptr;
    // The planet of the last preview or render as a glTF file; enabled once one has maps.
    QAction* ExportGltf1 = nullptr;
    QMenu* RecentFiles1 = nullptr;  // the settings files last opened or saved
    QAction* Exit1 = nullptr;
    QAction* JPEGJ1 = nullptr;
    QAction* ExtendedOutput1 = nullptr;
    // "Language / 言語": auto, Japanese, English (a choice for the next start).
    QAction* LanguageAuto = nullptr;
    QAction* LanguageJapanese = nullptr;
    QAction* LanguageEnglish = nullptr;
    QAction* GlobeView1 = nullptr;
    QAction* LivePreview1 = nullptr;  // checked: every change starts a preview
    QAction* Undo1 = nullptr;
    QAction* Redo1 = nullptr;
};

// The preferences file of this program: beside it when that file exists and can be
// written, else in the user's configuration folder.
QString DefaultPreferencesFileName();

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    // Stops a running render (abort, then wait for the worker) before anything is freed.
    ~MainWindow() override;

    const MainWindowControls& Controls() const { return ui_; }
    // The record of the last render; only meaningful while no render runs.
    const RenderParams& Params() const { return params_; }
    RenderContext& Context() { return ctx_; }
    // True from the start of a preview or full render until its results are installed.
    bool IsRendering() const { return busy_ || ctx_.Rendering; }
    const QImage& PreviewBuffer() const { return previewBuffer_; }
    QString SettingsFileName() const { return settingsFileName_; }
    JPEGQualityForm* JpegQualityForm() const { return jpegQualityForm_; }
    QtProgressSink* ProgressSinkObject() const { return sink_; }
    // The globe view, once the view menu has opened it.
    GlobeWindow* GlobeForm() const { return globeForm_; }

    // Where the JPEG quality and the language choice are kept between runs (read when the window is
    // first shown).
    void SetPreferencesFileName(const QString& path) { preferencesFileName_ = path; }
    QString PreferencesFileName() const { return preferencesFileName_; }

    // The file menu's commands once a name is chosen. Open takes the name as the current
    // one even when the load fails; a failure is reported in a message box and leaves the
    // caption as it was. False on failure.
    bool OpenSettingsFile(const QString& fileName);
    bool SaveSettingsFile(const QString& fileName);
    bool SaveSettingsFileAs(const QString& fileName);
    // The file menu's glTF export once a name is chosen: the maps of the last preview or
    // render with the default export options; a failure is reported in a message box.
    bool ExportGltfFile(const QString& fileName);

    // The controls as a settings model, and a model shown in the controls (one undo step).
    SettingsModel ModelFromControls() const;
    void ApplyModelToControls(const SettingsModel& model);

    // The settings differ from the file last loaded or saved (from the defaults before that).
    bool IsModified() const;
    // The settings files of the file menu's recent list, the newest first.
    QStringList RecentFiles() const;

  signals:
    void renderStarted();
    // After the results are installed (buttons, preview, any save-error message).
    void renderFinished(bool completed);

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private slots:
    void PreviewClick();
    void GoClick();
    void RenderAbortClick();
    void Timer1Timer();
    void UpdateGoEnabled();
    void UpdateCaption();
    void BumpNameChange();
    void ShowMapInPreview(const FloatImage* image);
    void ShowFirstMap();
    void UpdatePreviewButtons();

    void PreviewColorClick();
    void PreviewBumpClick();
    void PreviewSpcClick();
    void PreviewCloudColorClick();
    void PreviewCloudBumpClick();
    void PreviewCloudTraClick();
    void PreviewNormalClick();

    void DeepPartPictureRefClick();
    void SurFacePartPictureRefClick();
    void ColorRefClick();
    void BumpRefClick();
    void SpecularRefClick();
    void CloudColorRefClick();
    void CloudBumpRefClick();
    void CloudTraRefClick();
    void NormalRefClick();

    void SetDeepColor1Click();
    void SetDeepColor2Click();
    void SerDeepSeaColor1Click();
    void SetDeepSeaColor2Click();
    void SetDeepIceColorClick();
    void SetAirColor1Click();
    void SetAirColor2Click();

    void O1Click();
    void S1Click();
    void A1Click();
    void ExportGltf1Click();
    void Exit1Click();
    void JPEGJ1Click();
    void ExtendedOutput1Click();
    void LanguageClick(LanguageChoice choice);
    void GlobeView1Click();
    void LivePreview1Toggled(bool on);
    void Undo1Click();
    void Redo1Click();
    void NewSeedClick();
    void LivePreviewTimeout();

    // Progress from the render thread, delivered through the event queue.
    void DrawProgressImage(const QImage& picture);
    void SetProgressMessage(const QString& text);

  private:
    struct RenderOutcome {
        bool completed = false;   // RenderPlanet ran to the end
        std::string failure;      // why the render could not run, if it did not
        bool saveFailed = false;  // a full render could not write a map
        std::string failedName;
        std::string saveReason;
        std::optional<GlobeScene> globe;  // the maps prepared for the globe view
    };

    // Construction, in main_window_layout.cpp.
    void BuildControls();
    void BuildMenu();
    void ConnectHandlers();
    // The live instrument's menus, tooltips and change watching, in main_window_live.cpp.
    void BuildLiveControls();
    void ReadLivePreferences();

    template <class Widget>
    Widget* Control(std::string_view name) const;
    void ReadPreferences();
    void ShowMapInPreview(const std::optional<FloatImage>& image) {
        ShowMapInPreview(image ? &*image : nullptr);
    }
    void GatherRenderParams(RenderParams& params) const;
    // A live preview shows only its result, so the picture goes from one state straight to
    // the next (and the stages skip the pictures only a display would read).
    void StartPreview(bool showStages);
    // A preview of the current settings, now or as soon as a running preview has stopped.
    void PreviewNow();
    void StartRender(bool fullRender, bool showStages = true);
    // Asks the running render to stop and keeps asking until its worker is done.
    void CancelRender();
    void RenderEnded(const RenderOutcome& outcome);
    void StopRender();
    void PickPictureToOpen(QLineEdit* field);
    void PickPictureToSave(QLineEdit* field);
    void PickPanelColor(ColorPanel* panel);
    void ShowErrorReport(const QString& text);

    // A setting changed (source: the control, or the window for a whole model).
    void ParameterChanged(QObject* source);
    void ScheduleLivePreview();
    std::string CurrentSettingsText() const;
    // Shows a step of the undo history.
    void ShowSettingsText(const std::string& text);
    void UpdateUndoActions();
    // The current settings file was loaded or saved: it names the caption, its settings are
    // the unmodified ones and it heads the recent files.
    void SettingsFileTaken();
    // With unsaved changes, asks whether to save them first; false when the user cancels
    // (or the save fails).
    bool ConfirmDiscardChanges();
    void OpenAfterAsking(const QString& fileName);

    MainWindowControls ui_;
    RenderParams params_;
    RenderContext ctx_;
    QImage previewBuffer_;
    QtProgressSink* sink_ = nullptr;
    JPEGQualityForm* jpegQualityForm_ = nullptr;
    GlobeWindow* globeForm_ = nullptr;
    // The globe of the last render that ran to its end, and the settings it was made from.
    std::optional<GlobeScene> globeScene_;
    std::string globeSettings_;
    QColorDialog* ColorDialog1 = nullptr;
    QFileDialog* OpenPictureDialog1 = nullptr;
    QFileDialog* SavePictureDialog1 = nullptr;
    QFileDialog* ExportGltfDialog1 = nullptr;
    QFileDialog* DataOpen = nullptr;
    QFileDialog* DataSave = nullptr;
    QColor lastDialogColor_ = Qt::black;

    QString settingsFileName_;
    QString captionName_;    // the file the caption names: the last one loaded or saved
    std::string savedText_;  // the settings of that file
    UndoHistory history_;
    RecentFilesMenu* recentFiles_ = nullptr;
    int applying_ = 0;  // controls are being set from a model: no step per control
    std::string versionText_{kProgramVersion};  // of the last settings file loaded
    QString preferencesFileName_;
    bool shownOnce_ = false;
    bool closing_ = false;

    std::thread worker_;
    std::atomic<bool> workerDone_{true};
    bool busy_ = false;
    bool fullRender_ = false;  // the render running (or last run) is a full one
    // A preview of newer settings waits for the running one to stop.
    bool previewPending_ = false;
    // The settings of the preview running or shown, so an unchanged state is not drawn again.
    std::string previewedText_;
    QTimer* abortTimer_ = nullptr;
};

}  // namespace globeforge

// The main window's side of the settings: the controls as a settings model and back,
// settings files and the glTF export through the file menu, the JPEG quality preference and
// the dialog of the outputs for 3D work.
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStringList>
#include <optional>

#include "app/app_language.h"
#include "app/color_panel.h"
#include "app/extended_output_dialog.h"
#include "app/jpeg_quality_dialog.h"
#include "app/main_window.h"
#include "core/jpeg_quality.h"
#include "gltf/gltf_export.h"
#include "image/image_files.h"
#include "settings/gather_render_params.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"

namespace globeforge {

namespace {

const char* const kSettingsFilter =
    QT_TRANSLATE_NOOP("globeforge::MainWindow", "オルブゲンデータファイル (*.ORB)");

QString Name(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

std::string ToStd(const QString& text) {
    return text.toUtf8().toStdString();
}

// The open or save dialog of settings files, made on first use and kept in dialog.
QFileDialog* SettingsFileDialog(QFileDialog*& dialog, QWidget* parent, const char* name,
                                QFileDialog::AcceptMode acceptMode,
                                QFileDialog::FileMode fileMode) {
    if (!dialog) {
        dialog = new QFileDialog(parent);
        dialog->setObjectName(QString::fromLatin1(name));
        dialog->setAcceptMode(acceptMode);
        dialog->setFileMode(fileMode);
        dialog->setNameFilter(MainWindow::tr(kSettingsFilter));
        dialog->setDefaultSuffix(QStringLiteral("ORB"));
    }
    return dialog;
}

// Shows a settings file dialog at the current file; the file chosen, if one was.
std::optional<QString> AskSettingsFile(QFileDialog* dialog, const QString& current) {
    dialog->selectFile(current);
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        return dialog->selectedFiles().first();
    return std::nullopt;
}

}  // namespace

// The controls are found by the names the settings table gives, so the table stays the one
// list of what a settings file holds. The extended output dialog is a child of the window, so
// its controls are found the same way.
template <class Widget>
Widget* MainWindow::Control(std::string_view name) const {
    return findChild<Widget*>(Name(name));
}

SettingsModel MainWindow::ModelFromControls() const {
    SettingsModel model;
    model.VersionText = versionText_;
    for (const SettingInfo& info : SettingsTable()) {
        switch (info.kind) {
            case SettingKind::Version:
                break;
            case SettingKind::Text:
                *SettingValue<std::string>(model, info) =
                    ToStd(Control<QLineEdit>(info.controls[0])->text());
                break;
            case SettingKind::Bool:
                *SettingValue<bool>(model, info) =
                    Control<QCheckBox>(info.controls[0])->isChecked();
                break;
            case SettingKind::Color:
                *SettingValue<PanelColor>(model, info) =
                    Control<ColorPanel>(info.controls[0])->ColorValue();
                break;
            case SettingKind::TrackBar:
                SettingValue<TrackBar>(model, info)
                    ->SetPosition(Control<QSlider>(info.controls[0])->value());
                break;
            case SettingKind::Spin:
                SettingValue<TrackBar>(model, info)
                    ->SetPosition(Control<QSpinBox>(info.controls[0])->value());
                break;
            case SettingKind::Mixture: {
                MixtureButton& button = *SettingValue<MixtureButton>(model, info);
                if (Control<QRadioButton>(info.controls[0])->isChecked())
                    button = MixtureButton::Add;
                else if (Control<QRadioButton>(info.controls[1])->isChecked())
                    button = MixtureButton::Norm;
                else
                    button = MixtureButton::Sub;
                break;
            }
            // Two-button groups: the second button stands for true.
            case SettingKind::TransparencyMode:
            case SettingKind::HeightDepth:
                *SettingValue<bool>(model, info) =
                    Control<QRadioButton>(info.controls[1])->isChecked();
                break;
        }
    }
    return model;
}

// Setting a text field fires its change handler, so the full-render button follows the
// output names of a loaded file. The controls' own change reports wait: the whole model is
// one step.
void MainWindow::ApplyModelToControls(const SettingsModel& model) {
    ++applying_;
    versionText_ = model.VersionText;
    for (const SettingInfo& info : SettingsTable()) {
        switch (info.kind) {
            case SettingKind::Version:
                break;
            case SettingKind::Text:
                Control<QLineEdit>(info.controls[0])
                    ->setText(QString::fromStdString(*SettingValue<std::string>(model, info)));
                break;
            case SettingKind::Bool:
                Control<QCheckBox>(info.controls[0])->setChecked(*SettingValue<bool>(model, info));
                break;
            case SettingKind::Color:
                Control<ColorPanel>(info.controls[0])
                    ->SetColorValue(*SettingValue<PanelColor>(model, info));
                break;
            case SettingKind::TrackBar:
                Control<QSlider>(info.controls[0])
                    ->setValue(SettingValue<TrackBar>(model, info)->Position());
                break;
            case SettingKind::Spin:
                Control<QSpinBox>(info.controls[0])
                    ->setValue(SettingValue<TrackBar>(model, info)->Position());
                break;
            case SettingKind::Mixture: {
                const MixtureButton button = *SettingValue<MixtureButton>(model, info);
                const size_t index = button == MixtureButton::Add    ? 0
                                     : button == MixtureButton::Norm ? 1
                                                                     : 2;
                Control<QRadioButton>(info.controls[index])->setChecked(true);
                break;
            }
            case SettingKind::TransparencyMode:
            case SettingKind::HeightDepth:
                Control<QRadioButton>(info.controls[*SettingValue<bool>(model, info) ? 1 : 0])
                    ->setChecked(true);
                break;
        }
    }
    --applying_;
    ParameterChanged(this);
}

void MainWindow::GatherRenderParams(RenderParams& params) const {
    globeforge::GatherRenderParams(ModelFromControls(), params);
}

// ---- Settings files.

bool MainWindow::OpenSettingsFile(const QString& fileName) {
    // The name is taken first: after a failed load the next save still goes to this file.
    settingsFileName_ = fileName;
    SettingsModel model = ModelFromControls();
    const SettingsResult result = LoadSettings(model, ToStd(fileName));
    // The lines before a bad one stay applied; a file that could not be read changed nothing.
    ApplyModelToControls(model);
    if (!result.ok) {
        ShowErrorReport(QString::fromStdString(result.message));
        return false;
    }
    SettingsFileTaken();
    UpdateCaption();
    // The file loaded leniently; what it had to change is said once, all in one box.
    if (!result.warnings.empty()) {
        QStringList lines;
        for (const std::string& warning : result.warnings) lines << QString::fromStdString(warning);
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kProductName),
                        lines.join(QLatin1Char('\n')), QMessageBox::Ok, this);
        box.exec();
    }
    return true;
}

bool MainWindow::SaveSettingsFile(const QString& fileName) {
    const SettingsResult result = SaveSettings(ModelFromControls(), ToStd(fileName));
    if (!result.ok) ShowErrorReport(QString::fromStdString(result.message));
    // A copy saved elsewhere leaves the current file's changes unsaved.
    if (result.ok && fileName == settingsFileName_) {
        SettingsFileTaken();
        UpdateCaption();
    }
    return result.ok;
}

bool MainWindow::SaveSettingsFileAs(const QString& fileName) {
    settingsFileName_ = fileName;
    if (!SaveSettingsFile(fileName)) return false;
    UpdateCaption();
    return true;
}

void MainWindow::O1Click() {
    if (!ConfirmDiscardChanges()) return;
    QFileDialog* dialog = SettingsFileDialog(DataOpen, this, "DataOpen", QFileDialog::AcceptOpen,
                                             QFileDialog::ExistingFile);
    if (const std::optional<QString> file = AskSettingsFile(dialog, settingsFileName_))
        OpenSettingsFile(*file);
}

// Saves under the current name without asking, also the initial one (a relative name, so
// the file lands in the current folder).
void MainWindow::S1Click() {
    SaveSettingsFile(settingsFileName_);
}

void MainWindow::A1Click() {
    QFileDialog* dialog = SettingsFileDialog(DataSave, this, "DataSave", QFileDialog::AcceptSave,
                                             QFileDialog::AnyFile);
    if (const std::optional<QString> file = AskSettingsFile(dialog, settingsFileName_))
        SaveSettingsFileAs(*file);
}

// ---- The planet as a glTF file.

void MainWindow::ExportGltf1Click() {
    if (IsRendering() || !ui_.ExportGltf1->isEnabled()) return;
    if (!ExportGltfDialog1) {
        ExportGltfDialog1 = new QFileDialog(this);
        ExportGltfDialog1->setObjectName(QStringLiteral("ExportGltfDialog1"));
        ExportGltfDialog1->setAcceptMode(QFileDialog::AcceptSave);
        ExportGltfDialog1->setFileMode(QFileDialog::AnyFile);
        ExportGltfDialog1->setNameFilter(QStringLiteral("glTF (*.glb *.gltf)"));
        ExportGltfDialog1->setDefaultSuffix(QStringLiteral("glb"));
    }
    if (ExportGltfDialog1->exec() == QDialog::Accepted &&
        !ExportGltfDialog1->selectedFiles().isEmpty()) {
        ExportGltfFile(ExportGltfDialog1->selectedFiles().first());
    }
}

bool MainWindow::ExportGltfFile(const QString& fileName) {
    GltfOptions options;
    options.threads = ctx_.threads;
    std::string error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool written = ExportGltf(params_, ToStd(fileName), options, &error);
    QApplication::restoreOverrideCursor();
    if (!written) ShowErrorReport(QString::fromStdString(error));
    return written;
}

// ---- JPEG quality preference.

void MainWindow::ReadPreferences() {
    SetJpegQuality(ReadJpegQualityPreference(ToStd(preferencesFileName_)));
    switch (ReadLanguagePreference(ToStd(preferencesFileName_))) {
        case LanguageChoice::Auto:
            ui_.LanguageAuto->setChecked(true);
            break;
        case LanguageChoice::Japanese:
            ui_.LanguageJapanese->setChecked(true);
            break;
        case LanguageChoice::English:
            ui_.LanguageEnglish->setChecked(true);
            break;
    }
}

// Written after OK and Cancel alike, so the file exists after the first use of the dialog.
void MainWindow::JPEGJ1Click() {
    jpegQualityForm_->exec();
    const SettingsResult result =
        WriteJpegQualityPreference(ToStd(preferencesFileName_), GetJpegQuality());
    if (!result.ok) ShowErrorReport(QString::fromStdString(result.message));
}

// The dialog's controls are parameters like the window's: OK simply leaves them edited, and
// Cancel puts back what they held (the dialog does that itself).
void MainWindow::ExtendedOutput1Click() {
    ui_.ExtendedOutputForm->exec();
}

// The texts are set as the widgets are made, so a new language shows from the next start.
void MainWindow::LanguageClick(LanguageChoice choice) {
    const SettingsResult result = WriteLanguagePreference(ToStd(preferencesFileName_), choice);
    if (!result.ok) {
        ShowErrorReport(QString::fromStdString(result.message));
        return;
    }
    if (ResolveLanguage(choice) != ActiveLanguage()) {
        QMessageBox box(QMessageBox::Information, windowTitle(), LanguageRestartNotice(),
                        QMessageBox::Ok, this);
        box.exec();
    }
}

QString DefaultPreferencesFileName() {
    return QString::fromStdString(PreferencesFilePath(CurrentProgramPath()));
}

}  // namespace globeforge

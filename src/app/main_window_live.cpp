// The window as a live instrument: every change of a setting is an undo step and, with live
// preview on, starts a preview once the changes pause; a new seed in one click; the recent
// settings files; files dropped on the window.
#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTimer>
#include <limits>

#include "app/main_window.h"
#include "app/parameter_watch.h"
#include "app/recent_files.h"
#include "core/version.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"

namespace globeforge {

namespace {

// Long enough for a slider drag or a burst of keys to count as one change, short enough to
// feel immediate.
constexpr int kLivePreviewPauseMs = 150;

const QStringList kSettingsSuffixes = {QStringLiteral("ORB")};

std::string ToStd(const QString& text) {
    return text.toUtf8().toStdString();
}

// The buttons under the preview and the maps they show.
const std::pair<QPushButton * MainWindowControls::*, const char*> kPreviewButtonTips[] = {
    {&MainWindowControls::PreviewColor,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "地表の色マップ")},
    {&MainWindowControls::PreviewBump,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "地表のバンプマップ")},
    {&MainWindowControls::PreviewSpc,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "海面のスペキュラーマップ")},
    {&MainWindowControls::PreviewCloudColor,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "雲の色マップ")},
    {&MainWindowControls::PreviewCloudBump,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "雲のバンプマップ")},
    {&MainWindowControls::PreviewCloudTra,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "雲の透明度マップ")},
    {&MainWindowControls::PreviewNormal,
     QT_TRANSLATE_NOOP("globeforge::MainWindow", "法線マップ")}};

}  // namespace

void MainWindow::BuildLiveControls() {
    setAcceptDrops(true);
    for (const auto& [button, tip] : kPreviewButtonTips) (ui_.*button)->setToolTip(tr(tip));
    ui_.NewSeed->setToolTip(tr("乱数のシードを新しく引いてプレビューします (Ctrl+R)"));
    ui_.NewSeed->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(ui_.NewSeed, &QPushButton::clicked, this, &MainWindow::NewSeedClick);

    // File menu: the recent files after the settings commands.
    auto* file = menuBar()->findChild<QMenu*>(QStringLiteral("File1"));
    ui_.RecentFiles1 = new QMenu(tr("最近使った設定ファイル(&R)"), file);
    ui_.RecentFiles1->setObjectName(QStringLiteral("RecentFiles1"));
    file->insertMenu(file->actions().value(file->actions().indexOf(ui_.A1) + 1), ui_.RecentFiles1);
    recentFiles_ = new RecentFilesMenu(ui_.RecentFiles1, this);
    connect(recentFiles_, &RecentFilesMenu::FileChosen, this, &MainWindow::OpenAfterAsking);

    // Edit menu, between the file and view menus.
    auto* view = menuBar()->findChild<QMenu*>(QStringLiteral("View1"));
    auto* edit = new QMenu(tr("編集(&E)"), menuBar());
    edit->setObjectName(QStringLiteral("Edit1"));
    menuBar()->insertMenu(view->menuAction(), edit);
    ui_.Undo1 = edit->addAction(tr("元に戻す"));
    ui_.Undo1->setObjectName(QStringLiteral("Undo1"));
    ui_.Undo1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    ui_.Redo1 = edit->addAction(tr("やり直し"));
    ui_.Redo1->setObjectName(QStringLiteral("Redo1"));
    ui_.Redo1->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(ui_.Undo1, &QAction::triggered, this, &MainWindow::Undo1Click);
    connect(ui_.Redo1, &QAction::triggered, this, &MainWindow::Redo1Click);

    ui_.LivePreview1 = view->addAction(tr("自動プレビュー"));
    ui_.LivePreview1->setObjectName(QStringLiteral("LivePreview1"));
    ui_.LivePreview1->setCheckable(true);
    ui_.LivePreview1->setChecked(true);
    connect(ui_.LivePreview1, &QAction::toggled, this, &MainWindow::LivePreview1Toggled);

    ui_.LivePreviewTimer = new QTimer(this);
    ui_.LivePreviewTimer->setObjectName(QStringLiteral("LivePreviewTimer"));
    ui_.LivePreviewTimer->setSingleShot(true);
    ui_.LivePreviewTimer->setInterval(kLivePreviewPauseMs);
    connect(ui_.LivePreviewTimer, &QTimer::timeout, this, &MainWindow::LivePreviewTimeout);
    abortTimer_ = new QTimer(this);
    abortTimer_->setInterval(2);
    connect(abortTimer_, &QTimer::timeout, this, [this] {
        if (workerDone_)
            abortTimer_->stop();
        else
            ctx_.AbortRequested = true;
    });

    WatchParameters(this, {[this](QObject* source) { ParameterChanged(source); },
                           [this] { ScheduleLivePreview(); }});
    const auto takePicture = [this](QLineEdit* field) {
        return [this, field](const QString& picture) {
            history_.BreakMerge();
            field->setText(picture);
            history_.BreakMerge();
        };
    };
    AcceptPictureDrops(ui_.DeepPartPictureName, takePicture(ui_.DeepPartPictureName));
    AcceptPictureDrops(ui_.SurfacePartPictureName, takePicture(ui_.SurfacePartPictureName));
    UpdateUndoActions();
}

void MainWindow::ReadLivePreferences() {
    const std::string file = ToStd(preferencesFileName_);
    {
        const QSignalBlocker quiet(ui_.LivePreview1);
        ui_.LivePreview1->setChecked(ReadLivePreviewPreference(file));
    }
    QStringList names;
    for (const std::string& name : ReadRecentFilesPreference(file))
        names << QString::fromStdString(name);
    recentFiles_->SetFiles(names);
}

// ---- Changes: undo steps and live previews.

std::string MainWindow::CurrentSettingsText() const {
    return SettingsText(ModelFromControls());
}

bool MainWindow::IsModified() const {
    return CurrentSettingsText() != savedText_;
}

QStringList MainWindow::RecentFiles() const {
    return recentFiles_->Files();
}

void MainWindow::ParameterChanged(QObject* source) {
    if (applying_ > 0) return;
    // Keys typed into one field make one step.
    const auto* edit = qobject_cast<QLineEdit*>(source);
    history_.Record(CurrentSettingsText(), edit && edit->hasFocus() ? source : nullptr);
    UpdateCaption();
    UpdateUndoActions();
    ScheduleLivePreview();
}

// Each change restarts the pause; a full render takes no previews.
void MainWindow::ScheduleLivePreview() {
    if (!ui_.LivePreview1->isChecked() || (IsRendering() && fullRender_)) return;
    ui_.LivePreviewTimer->start();
}

void MainWindow::LivePreviewTimeout() {
    if (!ui_.LivePreview1->isChecked() || closing_) return;
    if (CurrentSettingsText() == previewedText_) return;  // running or shown already
    PreviewNow();
}

// A running preview of older settings makes way; a full render is left alone.
void MainWindow::PreviewNow() {
    ui_.LivePreviewTimer->stop();
    if (!IsRendering()) {
        StartPreview(false);
    } else if (!fullRender_) {
        previewPending_ = true;
        CancelRender();
    }
}

void MainWindow::LivePreview1Toggled(bool on) {
    if (on)
        ScheduleLivePreview();
    else
        ui_.LivePreviewTimer->stop();
    const SettingsResult result = WriteLivePreviewPreference(ToStd(preferencesFileName_), on);
    if (!result.ok) ShowErrorReport(QString::fromStdString(result.message));
}

void MainWindow::UpdateUndoActions() {
    ui_.Undo1->setEnabled(history_.CanUndo());
    ui_.Redo1->setEnabled(history_.CanRedo());
}

void MainWindow::ShowSettingsText(const std::string& text) {
    SettingsModel model = ModelFromControls();
    ApplySettingsText(model, text, {});
    ++applying_;  // a step shown is no new step
    ApplyModelToControls(model);
    --applying_;
    UpdateCaption();
    UpdateUndoActions();
    ScheduleLivePreview();
}

void MainWindow::Undo1Click() {
    if (const std::optional<std::string> text = history_.Undo()) ShowSettingsText(*text);
}

void MainWindow::Redo1Click() {
    if (const std::optional<std::string> text = history_.Redo()) ShowSettingsText(*text);
}

// A step of its own, previewed at once rather than after the pause.
void MainWindow::NewSeedClick() {
    const quint32 seed = QRandomGenerator::global()->bounded(
        1u, static_cast<quint32>(std::numeric_limits<int32_t>::max()));
    history_.BreakMerge();
    ui_.Seed->setText(QString::number(seed));
    history_.BreakMerge();
    PreviewNow();
}

// ---- Settings files.

void MainWindow::SettingsFileTaken() {
    captionName_ = settingsFileName_;
    savedText_ = CurrentSettingsText();
    // The list is a convenience: a preferences file that cannot be written costs only it.
    if (recentFiles_->Add(settingsFileName_)) {
        std::vector<std::string> names;
        for (const QString& name : recentFiles_->Files()) names.push_back(ToStd(name));
        WriteRecentFilesPreference(ToStd(preferencesFileName_), names);
    }
}

bool MainWindow::ConfirmDiscardChanges() {
    if (!IsModified()) return true;
    QMessageBox box(
        QMessageBox::Question, QString::fromUtf8(kProductName),
        tr("設定の変更を %1 に保存しますか？").arg(QFileInfo(settingsFileName_).fileName()),
        QMessageBox::NoButton, this);
    QPushButton* save = box.addButton(tr("保存する"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(tr("保存しない"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(tr("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) return SaveSettingsFile(settingsFileName_);
    return box.clickedButton() == discard;
}

void MainWindow::OpenAfterAsking(const QString& fileName) {
    if (ConfirmDiscardChanges()) OpenSettingsFile(fileName);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData(), kSettingsSuffixes).isEmpty()) event->acceptProposedAction();
}

// Opened once the drop is over, so a question about unsaved changes does not hold up the
// program the file came from.
void MainWindow::dropEvent(QDropEvent* event) {
    const QString file = DroppedFile(event->mimeData(), kSettingsSuffixes);
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    QTimer::singleShot(0, this, [this, file] { OpenAfterAsking(file); });
}

}  // namespace globeforge

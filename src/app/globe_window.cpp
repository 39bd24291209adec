#include "app/globe_window.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <thread>

#include "globe/globe_output.h"

namespace globeforge {

namespace {

// A frame that keeps up with the mouse. When a full-size frame takes longer, a drag draws
// fewer pixels (the time goes with their number) and the full size follows on release.
constexpr double kFluidFrameMs = 30.0;
constexpr double kSmallestDraft = 0.125;
constexpr double kMinZoom = 0.2;
constexpr double kMaxZoom = 8.0;

QImage ToQImage(const GlobeImage& image) {
    QImage picture(image.width, image.height, QImage::Format_RGBA8888);
    for (int32_t y = 0; y < image.height; ++y) {
        std::copy_n(image.rgba.data() + static_cast<size_t>(y) * image.width * 4,
                    static_cast<size_t>(image.width) * 4, picture.scanLine(y));
    }
    return picture;
}

}  // namespace

// ---- The picture.

GlobeView::GlobeView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("GlobeView"));
    setMinimumSize(128, 128);
    setCursor(Qt::OpenHandCursor);
    // Every core for the drawing; the bytes are the same for any count.
    ctx_.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void GlobeView::SetScene(std::optional<GlobeScene> scene) {
    scene_ = std::move(scene);
    Invalidate();
}

void GlobeView::SetCloudsHidden(bool hidden) {
    cloudsHidden_ = hidden;
    Invalidate();
}

GlobeOptions GlobeView::FullOptions() const {
    GlobeOptions options;
    options.width = std::max(1, width());
    options.height = std::max(1, height());
    options.clouds = !cloudsHidden_;
    return options;
}

void GlobeView::Invalidate() {
    dirty_ = true;
    update();
}

const QImage& GlobeView::Picture() {
    if (dirty_) Draw();
    return picture_;
}

void GlobeView::Draw() {
    dirty_ = false;
    GlobeOptions options = FullOptions();
    if (!scene_) {
        picture_ = QImage(options.width, options.height, QImage::Format_RGBA8888);
        picture_.fill(Qt::black);
        return;
    }
    draft_ = dragging_ && lastDrawMs_ > kFluidFrameMs;
    if (draft_) {
        const double scale = std::max(kSmallestDraft, std::sqrt(kFluidFrameMs / lastDrawMs_));
        options.width = std::max(1, static_cast<int32_t>(options.width * scale));
        options.height = std::max(1, static_cast<int32_t>(options.height * scale));
    }
    QElapsedTimer clock;
    clock.start();
    std::optional<GlobeImage> image = RenderGlobe(*scene_, camera_, sun_, options, ctx_);
    if (!draft_) lastDrawMs_ = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (image) {
        picture_ = ToQImage(*image);
    } else {
        picture_ = QImage(options.width, options.height, QImage::Format_RGBA8888);
        picture_.fill(Qt::black);
    }
}

void GlobeView::paintEvent(QPaintEvent*) {
    const QImage& picture = Picture();
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, draft_);
    painter.drawImage(rect(), picture);
}

void GlobeView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Invalidate();
}

void GlobeView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragging_ = true;
    lastPos_ = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
}

void GlobeView::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    const QPoint pos = event->position().toPoint();
    const QPoint delta = pos - lastPos_;
    lastPos_ = pos;
    if (delta.isNull()) return;
    // Dragging across the planet's disc turns it by half a turn, whatever the zoom.
    const double disc = camera_.zoom * std::max(1, std::min(width(), height()));
    const double degreesPerPixel = 180.0 / disc;
    if (event->modifiers() & Qt::ShiftModifier) {
        sun_.azimuth = std::remainder(sun_.azimuth + delta.x() * degreesPerPixel, 360.0);
        sun_.elevation = std::clamp(sun_.elevation - delta.y() * degreesPerPixel, -90.0, 90.0);
    } else {
        // The surface follows the hand: dragging right brings the west into view.
        camera_.longitude = std::remainder(camera_.longitude - delta.x() * degreesPerPixel, 360.0);
        camera_.latitude = std::clamp(camera_.latitude + delta.y() * degreesPerPixel, -90.0, 90.0);
    }
    Invalidate();
}

void GlobeView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
    if (draft_) Invalidate();
}

void GlobeView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    camera_.zoom = std::clamp(camera_.zoom * std::pow(1.15, steps), kMinZoom, kMaxZoom);
    Invalidate();
    event->accept();
}

// ---- The window.

GlobeWindow::GlobeWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("GlobeForm"));
    setWindowTitle(tr("地球儀ビュー"));

    view_ = new GlobeView(this);
    view_->setMinimumSize(256, 256);
    hideClouds_ = new QCheckBox(tr("雲を隠す"), this);
    hideClouds_->setObjectName(QStringLiteral("GlobeHideClouds"));
    save_ = new QPushButton(tr("PNGで保存..."), this);
    save_->setObjectName(QStringLiteral("GlobeSave"));
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("GlobeHint"));

    connect(hideClouds_, &QCheckBox::toggled, view_, &GlobeView::SetCloudsHidden);
    connect(save_, &QPushButton::clicked, this, &GlobeWindow::SaveClick);

    auto* row = new QHBoxLayout;
    row->addWidget(hint_, 1);
    row->addWidget(hideClouds_);
    row->addWidget(save_);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->addWidget(view_, 1);
    page->addLayout(row);

    resize(520, 560);
    UpdateHint();
}

void GlobeWindow::SetScene(std::optional<GlobeScene> scene, const std::string& settingsText) {
    settingsText_ = settingsText;
    view_->SetScene(std::move(scene));
    UpdateHint();
}

void GlobeWindow::UpdateHint() {
    const bool shown = view_->HasScene();
    hint_->setText(shown ? tr("ドラッグで回転、ホイールで拡大縮小、Shift+ドラッグで太陽を移動")
                         : tr("プレビューか本作画のあとに地球儀が表示されます。"));
    save_->setEnabled(shown);
    hideClouds_->setEnabled(shown);
}

bool GlobeWindow::SaveViewAs(const QString& fileName) {
    std::string error = "no render to show yet";
    const GlobeScene* scene = view_->Scene();
    if (scene && WriteGlobePng(*scene, view_->Camera(), view_->Sun(), view_->FullOptions(),
                               settingsText_, fileName.toStdString(), view_->Context(), &error))
        return true;
    QMessageBox::warning(this, windowTitle(),
                         tr("地球儀の画像を保存できませんでした。") + QStringLiteral("\n") +
                             QString::fromStdString(error));
    return false;
}

void GlobeWindow::SaveClick() {
    QString name = QFileDialog::getSaveFileName(this, tr("地球儀の画像を保存"),
                                                QStringLiteral("globe.png"), tr("PNG画像 (*.png)"));
    if (name.isEmpty()) return;
    if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".png");
    SaveViewAs(name);
}

}  // namespace globeforge

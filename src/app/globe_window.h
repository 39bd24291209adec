// The globe view: a separate, non-modal window that shows the planet of the last preview or
// full render as a lit globe. Dragging turns the planet, the wheel zooms, dragging with Shift
// moves the sun; a check box hides the clouds and a button saves the view as a PNG file. The
// globe is drawn on the window's thread from a scene prepared once per render, so turning
// costs only the drawing.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <optional>
#include <string>

#include "core/progress.h"
#include "globe/globe.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace globeforge {

// The picture itself: draws the globe at its own size and turns it with the mouse.
class GlobeView : public QWidget {
    Q_OBJECT
  public:
    explicit GlobeView(QWidget* parent = nullptr);

    // Takes the maps of a new render, keeping the view (direction, zoom, sun) as it is; an
    // empty scene shows black.
    void SetScene(std::optional<GlobeScene> scene);
    bool HasScene() const { return scene_.has_value(); }
    void SetCloudsHidden(bool hidden);

    // The picture as it is now shown, drawn first if anything changed.
    const QImage& Picture();

    const GlobeCamera& Camera() const { return camera_; }
    const GlobeSun& Sun() const { return sun_; }
    // What a saved view is drawn with: the widget's size at full quality.
    GlobeOptions FullOptions() const;
    const GlobeScene* Scene() const { return scene_ ? &*scene_ : nullptr; }
    RenderContext& Context() { return ctx_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    void Invalidate();
    void Draw();

    std::optional<GlobeScene> scene_;
    GlobeCamera camera_;
    GlobeSun sun_;
    bool cloudsHidden_ = false;
    RenderContext ctx_;

    QImage picture_;
    bool dirty_ = true;
    bool dragging_ = false;
    bool draft_ = false;       // the picture was drawn smaller while dragging
    double lastDrawMs_ = 0.0;  // how long the last full-size picture took
    QPoint lastPos_;
};

class GlobeWindow : public QWidget {
    Q_OBJECT
  public:
    explicit GlobeWindow(QWidget* parent = nullptr);

    // The maps of the last render (empty before the first) and the settings they came from,
    // which a saved picture carries.
    void SetScene(std::optional<GlobeScene> scene, const std::string& settingsText);

    GlobeView* View() const { return view_; }
    QCheckBox* HideClouds() const { return hideClouds_; }
    QPushButton* SaveButton() const { return save_; }

    // Writes the view, at the view's size, as a PNG file (replaced only once complete). On
    // failure a message box says why; false then.
    bool SaveViewAs(const QString& fileName);

  private slots:
    void SaveClick();

  private:
    void UpdateHint();

    GlobeView* view_;
    QCheckBox* hideClouds_;
    QPushButton* save_;
    QLabel* hint_;
    std::string settingsText_;
};

}  // namespace globeforge

// Carries a render's progress from its worker thread to the window: the intermediate image
// as a small picture and the message line, both delivered through queued signals so the
// window thread never waits for the render and the render never touches a widget.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <functional>

#include "core/progress.h"

namespace globeforge {

class QtProgressSink final : public QObject, public ProgressSink {
    Q_OBJECT
  public:
    // Pictures are sampled down to at most imageLimit (the preview's size).
    explicit QtProgressSink(QSize imageLimit, QObject* parent = nullptr);

    // Called on the render thread.
    void DrawProgressImage(const FloatImage& image) override;
    bool ShowsImages() const override { return showImages_; }
    void SetMessage(std::string_view message) override;
    // The window runs its own event loop; the worker only calls the optional hook.
    void ProcessPendingEvents() override;

    // Runs on the render thread at every event point of a render; lets tests act at a
    // moment when the render is known to be inside its stages. Set only while idle.
    void SetEventHook(std::function<void()> hook) { eventHook_ = std::move(hook); }

    // Whether the stages' pictures are wanted (the render then skips making them when not).
    // Set only while idle.
    void SetShowImages(bool show) { showImages_ = show; }

  signals:
    void ImageReady(const QImage& image);
    void MessageReady(const QString& text);

  private:
    QSize imageLimit_;
    std::function<void()> eventHook_;
    bool showImages_ = true;
};

}  // namespace globeforge

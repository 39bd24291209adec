#include "app/qt_progress.h"

#include "app/preview_image.h"

namespace globeforge {

QtProgressSink::QtProgressSink(QSize imageLimit, QObject* parent)
    : QObject(parent), imageLimit_(imageLimit) {}

void QtProgressSink::DrawProgressImage(const FloatImage& image) {
    if (!showImages_) return;
    QImage picture = FloatImageToQImage(image, imageLimit_.width(), imageLimit_.height());
    if (!picture.isNull()) emit ImageReady(picture);
}

void QtProgressSink::SetMessage(std::string_view message) {
    emit MessageReady(QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size())));
}

void QtProgressSink::ProcessPendingEvents() {
    if (eventHook_) eventHook_();
}

}  // namespace globeforge

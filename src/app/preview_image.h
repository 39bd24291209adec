// Turns float images into the 24-bit pictures the window shows: the preview while a render
// runs and the built maps afterwards.
#pragma once

#include <QImage>

#include "image/float_image.h"

namespace globeforge {

// The image as an RGB888 picture (channels clamped and rounded as for a bitmap) of at most maxWidth
// x maxHeight pixels. A larger image is sampled down (nearest pixel), which is all a stretch into
// the preview would show of it, and keeps the conversion cheap whatever the map size. A null
// picture for an empty image.
QImage FloatImageToQImage(const FloatImage& image, int maxWidth, int maxHeight);

}  // namespace globeforge

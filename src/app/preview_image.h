// Turns float images into the 24-bit pictures the window shows: the preview while a render
// runs and the built maps afterwards.
#pragma once

#include <QImage>
#include <cstdint>

#include "image/float_image.h"

namespace globeforge {

// One channel as a byte: above 255 gives 255, below 0 or NaN gives 0, anything else is
// rounded half to even.
uint8_t ChannelToByte(float value);

// The image as an RGB888 picture of at most maxWidth x maxHeight pixels. A larger image is
// sampled down (nearest pixel), which is all a stretch into the preview would show of it,
// and keeps the conversion cheap whatever the map size. A null picture for an empty image.
QImage FloatImageToQImage(const FloatImage& image, int maxWidth, int maxHeight);

}  // namespace globeforge

// Arbitrary bytes as a picture file on disk, loaded by name as the render loads its
// heightmap and cloud picture. The first byte picks the name's extension, so a file whose
// content does not match its name is tried too. A failed load leaves the image alone; a
// loaded image is opaque and can be saved and loaded again unchanged.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "image/image_files.h"

using namespace globeforge;

using fuzz::ScratchFolder;
using fuzz::WriteFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kExtensions[] = {".bmp", ".jpg", ".png", ".JPEG", ""};
    const std::string name = ScratchFolder() + "/in" + kExtensions[data[0] % 5];
    FUZZ_CHECK(WriteFile(name, data + 1, size - 1));

    std::optional<FloatImage> image = NewFilledImage(1, 1, FloatPixel{1, 2, 3, 4});
    FUZZ_CHECK(image);
    std::string error;
    const bool loaded = LoadImageFile(*image, name, &error);
    std::remove(name.c_str());
    if (!loaded) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(image->Width == 1 && image->Height == 1);
        FUZZ_CHECK((GetPixel(*image, 0, 0, Wrap::Off) == FloatPixel{1, 2, 3, 4}));
        return 0;
    }
    FUZZ_CHECK(image->Width > 0 && image->Height > 0);
    for (int32_t y = 0; y < image->Height; ++y) {
        for (int32_t x = 0; x < image->Width; ++x)
            FUZZ_CHECK(GetPixel(*image, x, y, Wrap::Off).A == 255);
    }
    if (image->PixelCount() > fuzz::kMaxRoundTripPixels) return 0;

    const std::string copy = ScratchFolder() + "/copy.png";
    FUZZ_CHECK(SaveImageFile(*image, copy, &error));
    std::optional<FloatImage> again = NewImage(1, 1);
    FUZZ_CHECK(again && LoadImageFile(*again, copy, &error));
    std::remove(copy.c_str());
    FUZZ_CHECK(again->Width == image->Width && again->Height == image->Height);
    for (int32_t y = 0; y < image->Height; ++y) {
        for (int32_t x = 0; x < image->Width; ++x) {
            FUZZ_CHECK(GetPixel(*again, x, y, Wrap::Off) == GetPixel(*image, x, y, Wrap::Off));
        }
    }
    return 0;
}

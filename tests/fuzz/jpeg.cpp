// Arbitrary bytes as a JPEG file: refused with a reason and the bitmap left alone, or a
// whole picture that can be written again and read back at the same size.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "image/jpeg_file.h"

using namespace globeforge;
using namespace globeforge::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap24 bitmap = SentinelBitmap();
    std::string error;
    if (!DecodeJpeg({data, size}, bitmap, &error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(SameBitmap(bitmap, SentinelBitmap()));
        return 0;
    }
    FUZZ_CHECK(WellFormed(bitmap));
    FUZZ_CHECK(bitmap.Width <= 65535 && bitmap.Height <= 65535);
    if (PixelCount(bitmap) > kMaxRoundTripPixels) return 0;
    std::vector<uint8_t> file;
    FUZZ_CHECK(EncodeJpeg(bitmap, 75, file));
    Bitmap24 again;
    FUZZ_CHECK(DecodeJpeg(file, again));
    FUZZ_CHECK(again.Width == bitmap.Width && again.Height == bitmap.Height);
    return 0;
}

// Arbitrary bytes as a PNG file: refused with a reason and the bitmap left alone, or a
// whole picture that survives a lossless write and read.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "image/png_file.h"

using namespace globeforge;
using namespace globeforge::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap24 bitmap = SentinelBitmap();
    std::string error;
    if (!DecodePng({data, size}, bitmap, &error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(SameBitmap(bitmap, SentinelBitmap()));
        return 0;
    }
    FUZZ_CHECK(WellFormed(bitmap));
    FUZZ_CHECK(bitmap.Width <= 65535 && bitmap.Height <= 65535);
    if (PixelCount(bitmap) > kMaxRoundTripPixels) return 0;
    std::vector<uint8_t> file;
    PngWriteOptions fast;
    fast.CompressionLevel = 1;
    FUZZ_CHECK(EncodePng(bitmap, file, fast));
    Bitmap24 again;
    FUZZ_CHECK(DecodePng(file, again));
    FUZZ_CHECK(SameBitmap(again, bitmap));
    return 0;
}

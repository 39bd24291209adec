// Arbitrary bytes as a BMP file: the reader refuses them with a reason and leaves the
// bitmap alone, or yields a whole picture that the writer and reader carry unchanged.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "image/bmp_file.h"

using namespace globeforge;
using namespace globeforge::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap24 bitmap = SentinelBitmap();
    std::string error;
    if (!DecodeBmp({data, size}, bitmap, &error)) {
        FUZZ_CHECK(!error.empty());
        FUZZ_CHECK(SameBitmap(bitmap, SentinelBitmap()));
        return 0;
    }
    FUZZ_CHECK(WellFormed(bitmap));
    FUZZ_CHECK(bitmap.Width <= kMaxBmpSide && bitmap.Height <= kMaxBmpSide);
    if (PixelCount(bitmap) > kMaxRoundTripPixels) return 0;
    std::vector<uint8_t> file;
    FUZZ_CHECK(EncodeBmp(bitmap, file));
    Bitmap24 again;
    FUZZ_CHECK(DecodeBmp(file, again));
    FUZZ_CHECK(SameBitmap(again, bitmap));
    return 0;
}

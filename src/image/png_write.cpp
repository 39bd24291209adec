#include <png.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap24.h"
#include "image/png_file.h"
#include "image/png_filters.h"
#include "image/png_libpng.h"
#include "image/png_write_job.h"

namespace globeforge {

namespace png_detail {

bool RunEncode(PngSession& session, const EncodeJob& job) {
    return RunLibpng(session, [&](png_structp png, png_infop info) {
        png_set_IHDR(png, info, job.width, job.height, job.bitDepth, job.colorType,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png, job.compressionLevel);
        if (job.textCount > 0) png_set_text(png, info, job.texts, job.textCount);
        png_write_info(png, info);
        if (job.headOnly) return true;
        if (job.bgr) png_set_bgr(png);
        // 8-bit colour rows after the first get libpng's own adaptive choice of filter from
        // AdaptiveFilter, and libpng filters them that way alone. The first row is left to
        // libpng, which sets up its buffers for every filter there; an image one pixel wide or
        // high has fewer filters to choose from.
        const bool choose = job.bitDepth == 8 && job.colorType == PNG_COLOR_TYPE_RGB &&
                            job.width > 1 && job.height > 1;
        static constexpr int kFilterFlags[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP,
                                                PNG_FILTER_AVG, PNG_FILTER_PAETH};
        const size_t rowBytes = static_cast<size_t>(job.width) * 3;
        for (uint32_t y = 0; y < job.height; ++y) {
            if (job.cancel && job.cancel->load(std::memory_order_relaxed)) {
                SetMessage(session, "cancelled");
                return false;
            }
            const uint8_t* row;
            const uint8_t* above;
            if (job.image) {
                // The two rows take turns in the caller's buffer of two rows.
                uint8_t* into = job.row + (y % 2) * job.stride;
                ImageRowToBgr(*job.image, static_cast<int32_t>(y), into);
                row = into;
                above = job.row + ((y + 1) % 2) * job.stride;
            } else {
                row = job.pixels + y * job.stride;
                above = row - job.stride;
            }
            if (choose && y > 0) {
                png_set_filter(png, PNG_FILTER_TYPE_BASE,
                               kFilterFlags[AdaptiveFilter(row, above, rowBytes)]);
            }
            png_write_row(png, row);
        }
        png_write_end(png, nullptr);
        return true;
    });
}

}  // namespace png_detail

namespace {

using namespace png_detail;

// libpng's view of the texts; the strings stay owned by texts.
std::vector<png_text> LibpngTexts(const MetadataTexts& texts) {
    std::vector<png_text> entries(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        png_text& e = entries[i];
        e.compression = PNG_ITXT_COMPRESSION_NONE;
        // libpng copies the strings and never writes through these pointers.
        e.key = const_cast<char*>(texts[i].key.c_str());
        e.text = const_cast<char*>(texts[i].value.c_str());
        e.lang = const_cast<char*>("");
        e.lang_key = const_cast<char*>("");
    }
    return entries;
}

bool CheckOptions(const PngWriteOptions& options, std::string* error) {
    if (options.CompressionLevel < 0 || options.CompressionLevel > 9) {
        return Fail(error, "PNG compression level out of range");
    }
    for (const MetadataText& text : options.Texts) {
        if (text.key.empty() || text.key.size() > 79) return Fail(error, "PNG text key too long");
        // A NUL would cut the text short.
        if (text.value.find('\0') != std::string::npos) return Fail(error, "PNG text holds NUL");
    }
    return true;
}

bool Encode(EncodeJob& job, const PngWriteOptions& options, std::vector<uint8_t>& out,
            std::string* error) {
    std::vector<png_text> entries = LibpngTexts(options.Texts);
    job.texts = entries.data();
    job.textCount = static_cast<int>(entries.size());
    job.compressionLevel = options.CompressionLevel;
    job.cancel = options.Cancel;
    std::vector<uint8_t> bytes;
    PngSession session;
    session.output = &bytes;
    // Small images gain nothing from threads (and libpng narrows the window for them).
    constexpr uint64_t kThreadedFrom = uint64_t{1} << 16;
    const uint64_t data = (uint64_t{job.width} * 3 + 1) * job.height;
    const bool threaded = !options.ThroughLibpng && job.bitDepth == 8 &&
                          job.colorType == PNG_COLOR_TYPE_RGB && job.width > 1 && job.height > 1 &&
                          data >= kThreadedFrom && data < (uint64_t{1} << 31);
    if (job.cancel && job.cancel->load(std::memory_order_relaxed)) return Fail(error, "cancelled");
    if (!(threaded ? EncodeThreaded(session, job, options.Threads) : RunEncode(session, job))) {
        return Fail(error, session.message);
    }
    out = std::move(bytes);
    return true;
}

}  // namespace

bool EncodePng(const Bitmap24& bitmap, std::vector<uint8_t>& out, const PngWriteOptions& options,
               std::string* error) {
    if (bitmap.Width <= 0 || bitmap.Height <= 0) return Fail(error, "image has no pixels");
    if (!CheckOptions(options, error)) return false;
    EncodeJob job;
    job.width = static_cast<uint32_t>(bitmap.Width);
    job.height = static_cast<uint32_t>(bitmap.Height);
    job.bgr = true;
    job.pixels = bitmap.Bytes.data();
    job.stride = bitmap.Stride();
    return Encode(job, options, out, error);
}

bool EncodePng(const FloatImage& image, std::vector<uint8_t>& out, const PngWriteOptions& options,
               std::string* error) {
    if (image.Width <= 0 || image.Height <= 0) return Fail(error, "image has no pixels");
    if (!CheckOptions(options, error)) return false;
    // Two rows: the one written and the one above it, for the choice of filter.
    std::vector<uint8_t> row;
    if (!ResizeRow(row, static_cast<size_t>(image.Width) * 6)) return Fail(error, "out of memory");
    EncodeJob job;
    job.width = static_cast<uint32_t>(image.Width);
    job.height = static_cast<uint32_t>(image.Height);
    job.bgr = true;
    job.image = &image;
    job.row = row.data();
    job.stride = row.size() / 2;
    return Encode(job, options, out, error);
}

bool EncodePngRgba(const uint8_t* rgba, int32_t width, int32_t height, std::vector<uint8_t>& out,
                   const PngWriteOptions& options, std::string* error) {
    if (width <= 0 || height <= 0 || !rgba) return Fail(error, "image has no pixels");
    if (!CheckOptions(options, error)) return false;
    EncodeJob job;
    job.width = static_cast<uint32_t>(width);
    job.height = static_cast<uint32_t>(height);
    job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    job.pixels = rgba;
    job.stride = static_cast<size_t>(width) * 4;
    return Encode(job, options, out, error);
}

bool EncodePngGray16(const Gray16Raster& raster, std::vector<uint8_t>& out,
                     const PngWriteOptions& options, std::string* error) {
    if (raster.Width <= 0 || raster.Height <= 0) return Fail(error, "image has no pixels");
    const size_t count = static_cast<size_t>(raster.Width) * static_cast<size_t>(raster.Height);
    if (raster.Samples.size() != count) return Fail(error, "sample count does not match the size");
    if (!CheckOptions(options, error)) return false;
    // PNG stores 16-bit samples most significant byte first.
    std::vector<uint8_t> bigEndian(count * 2);
    for (size_t i = 0; i < count; ++i) {
        bigEndian[2 * i] = static_cast<uint8_t>(raster.Samples[i] >> 8);
        bigEndian[2 * i + 1] = static_cast<uint8_t>(raster.Samples[i] & 0xFF);
    }
    EncodeJob job;
    job.width = static_cast<uint32_t>(raster.Width);
    job.height = static_cast<uint32_t>(raster.Height);
    job.bitDepth = 16;
    job.colorType = PNG_COLOR_TYPE_GRAY;
    job.pixels = bigEndian.data();
    job.stride = static_cast<size_t>(raster.Width) * 2;
    return Encode(job, options, out, error);
}

}  // namespace globeforge

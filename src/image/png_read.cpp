#include <png.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "image/png_file.h"
#include "image/png_libpng.h"

namespace globeforge {

namespace {

using namespace png_detail;

// Deflate cannot expand data by more than about 1032:1, so a file of n bytes cannot hold
// more than this many times n bytes of raw image data.
constexpr uint64_t kMaxInflateRatio = 1040;

// The rows of the result and libpng's pointers to them; false when memory cannot be had.
bool PrepareRows(Bitmap24& bitmap, std::vector<png_bytep>& rows, uint32_t width, uint32_t height) {
    if (!SetBitmapSize(bitmap, static_cast<int32_t>(width), static_cast<int32_t>(height))) {
        return false;
    }
    try {
        rows.resize(height);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t y = 0; y < height; ++y) rows[y] = bitmap.Row(static_cast<int32_t>(y));
    return true;
}

// A header may claim more image data than the file could inflate to; such a file is refused
// before any row memory is taken.
void RefuseImpossibleSize(png_structp png, png_infop info, const PngSession& session) {
    const uint32_t width = png_get_image_width(png, info);
    const uint32_t height = png_get_image_height(png, info);
    const uint64_t rawRow =
        (uint64_t{width} * png_get_channels(png, info) * png_get_bit_depth(png, info) + 7) / 8;
    if (uint64_t{height} * (rawRow + 1) > kMaxInflateRatio * session.input.size()) {
        png_error(png, "image data larger than the file can hold");
    }
}

// Asks libpng for 8-bit blue, green, red whatever the file holds.
void RequestBgr8(png_structp png, png_infop info) {
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (bitDepth == 16) png_set_scale_16(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
}

// Decodes into decoded, through rows.
bool RunDecode(PngSession& session, Bitmap24& decoded, std::vector<png_bytep>& rows) {
    return RunLibpng(session, [&](png_structp png, png_infop info) {
        // Text, profile and other metadata chunks are never used, and libpng would allocate their
        // claimed length (up to 2 GB, whatever the file holds) before reading them: skip them.
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
        png_read_info(png, info);
        const uint32_t width = png_get_image_width(png, info);
        const uint32_t height = png_get_image_height(png, info);
        RefuseImpossibleSize(png, info, session);
        RequestBgr8(png, info);
        if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
            png_get_rowbytes(png, info) != uint64_t{width} * 3) {
            png_error(png, "unsupported layout");
        }
        if (!PictureFitsInMemory(width, height)) {
            png_error(png, "picture needs more memory than this machine has");
        }
        if (!PrepareRows(decoded, rows, width, height)) png_error(png, "out of memory");
        png_read_image(png, rows.data());
        // The chunks after the image data are not needed, so a damaged tail does not matter.
        return true;
    });
}

// Stores a copy of libpng's text entries; false when memory cannot be had.
bool CollectTexts(const png_text* entries, int count, MetadataTexts& texts) noexcept {
    try {
        for (int i = 0; i < count; ++i) {
            const png_text& t = entries[i];
            // iTXt entries give their length in itxt_length, the others in text_length.
            const size_t length =
                t.compression >= PNG_ITXT_COMPRESSION_NONE ? t.itxt_length : t.text_length;
            texts.push_back({t.key, std::string(t.text ? t.text : "", t.text ? length : 0)});
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The texts of the file. Text chunks may follow the image data, so the rows are read (into
// one scratch row) to reach them.
bool RunReadTexts(PngSession& session, MetadataTexts& texts, std::vector<uint8_t>& row) {
    return RunLibpng(session, [&](png_structp png, png_infop info) {
        png_read_info(png, info);
        RefuseImpossibleSize(png, info, session);
        const uint32_t height = png_get_image_height(png, info);
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (!ResizeRow(row, png_get_rowbytes(png, info))) png_error(png, "out of memory");
        for (int pass = 0; pass < passes; ++pass) {
            for (uint32_t y = 0; y < height; ++y) png_read_row(png, row.data(), nullptr);
        }
        png_read_end(png, info);
        png_textp entries = nullptr;
        const int count = png_get_text(png, info, &entries, nullptr);
        if (!CollectTexts(entries, count, texts)) png_error(png, "out of memory");
        return true;
    });
}

// libpng allocates a text chunk's stated length before reading it, so a few bytes could claim
// gigabytes; every chunk up to IEND must lie within the file.
bool ChunksFitTheFile(std::span<const uint8_t> bytes) {
    size_t pos = 8;
    while (bytes.size() - pos >= 12) {
        const uint32_t length = (uint32_t{bytes[pos]} << 24) | (uint32_t{bytes[pos + 1]} << 16) |
                                (uint32_t{bytes[pos + 2]} << 8) | bytes[pos + 3];
        const bool end = std::memcmp(bytes.data() + pos + 4, "IEND", 4) == 0;
        if (length > bytes.size() - pos - 12) return false;
        if (end) return true;
        pos += size_t{length} + 12;
    }
    return true;  // a truncated file is for libpng to report
}

bool IsPng(std::span<const uint8_t> bytes) {
    return bytes.size() >= 8 && png_sig_cmp(bytes.data(), 0, 8) == 0;
}

// One libpng read of bytes by run; result changes only on success. The scratch run fills
// lives here, outside the frame libpng's error handling jumps back into.
template <typename Result, typename Scratch>
bool ReadPng(std::span<const uint8_t> bytes, Result& result, std::string* error,
             bool (*run)(PngSession&, Result&, Scratch&)) {
    PngSession session;
    session.input = bytes;
    Result read;
    Scratch scratch;
    if (!run(session, read, scratch)) return Fail(error, session.message);
    result = std::move(read);
    return true;
}

}  // namespace

bool ReadPngTexts(std::span<const uint8_t> bytes, MetadataTexts& texts, std::string* error) {
    if (!IsPng(bytes)) return Fail(error, "not a PNG file");
    if (!ChunksFitTheFile(bytes)) return Fail(error, "a PNG chunk is longer than the file");
    return ReadPng(bytes, texts, error, RunReadTexts);
}

bool DecodePng(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error) {
    if (!IsPng(bytes)) return Fail(error, "not a PNG file");
    return ReadPng(bytes, bitmap, error, RunDecode);
}

}  // namespace globeforge

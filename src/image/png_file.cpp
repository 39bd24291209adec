#include "image/png_file.h"

#include <png.h>
#include <zlib.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "image/png_deflate.h"

namespace globeforge {

namespace {

// Deflate cannot expand data by more than about 1032:1, so a file of n bytes cannot hold
// more than this many times n bytes of raw image data.
constexpr uint64_t kMaxInflateRatio = 1040;

// libpng's error and I/O callbacks share this record with the calling function.
struct PngSession {
    std::jmp_buf jump;
    char message[256];
    std::span<const uint8_t> input;
    size_t position = 0;
    std::vector<uint8_t>* output = nullptr;
};

PngSession& SessionOf(png_structp png) {
    return *static_cast<PngSession*>(png_get_error_ptr(png));
}

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
    PngSession& session = SessionOf(png);
    std::snprintf(session.message, sizeof session.message, "PNG: %s", message);
    std::longjmp(session.jump, 1);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, png_size_t length) {
    PngSession& session = *static_cast<PngSession*>(png_get_io_ptr(png));
    if (length > session.input.size() - session.position) png_error(png, "file is truncated");
    std::memcpy(data, session.input.data() + session.position, length);
    session.position += length;
}

bool Append(std::vector<uint8_t>& out, const uint8_t* data, size_t length) {
    try {
        out.insert(out.end(), data, data + length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void WriteFn(png_structp png, png_bytep data, png_size_t length) {
    PngSession& session = *static_cast<PngSession*>(png_get_io_ptr(png));
    if (!Append(*session.output, data, length)) png_error(png, "out of memory");
}

void FlushFn(png_structp) {}

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

// libpng's read structures for session, limited to 65535 pixels a side and 8 MB a chunk;
// false, with the message given, when memory cannot be had. None of these calls can raise a
// libpng error, so the caller's setjmp may follow them.
bool OpenReader(PngSession& session, png_structp& png, png_infop& info) {
    png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session, ErrorFn, WarningFn);
    info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(session.message, sizeof session.message, "out of memory");
        return false;
    }
    png_set_read_fn(png, &session, ReadFn);
    png_set_user_limits(png, 65535, 65535);
    png_set_chunk_malloc_max(png, 8 << 20);
    return true;
}

// Holds the setjmp: no object with a destructor may live in this frame, since the error
// handler jumps back into it past libpng's frames.
bool RunDecode(PngSession& session, Bitmap24& decoded, std::vector<png_bytep>& rows) {
    png_structp png;
    png_infop info;
    if (!OpenReader(session, png, info)) return false;
    if (setjmp(session.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
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
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// PNG's Paeth predictor from the bytes left (a), above (b) and above left (c).
int Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// libpng's adaptive filter choice for one row of 8-bit colour (3 bytes a pixel), worked
// out in one pass instead of five: the first of None, Sub, Up, Average and Paeth whose
// filtered bytes, each read as a signed byte's magnitude, have the least sum. prev is the
// row above. The sums do not depend on the order of the channels within a pixel.
int AdaptiveFilter(const uint8_t* row, const uint8_t* prev, size_t n) {
    constexpr size_t kBpp = 3;
    const auto magnitude = [](int d) {
        const unsigned v = static_cast<unsigned>(d) & 0xffu;
        return v < 128 ? v : 256 - v;
    };
    uint64_t sums[5] = {0, 0, 0, 0, 0};
    // The first pixel has no left neighbour: Sub keeps it, Average and Paeth take the byte
    // above alone (halved for Average).
    size_t i = 0;
    for (; i < kBpp && i < n; ++i) {
        sums[0] += magnitude(row[i]);
        sums[1] += magnitude(row[i]);
        sums[2] += magnitude(row[i] - prev[i]);
        sums[3] += magnitude(row[i] - (prev[i] >> 1));
        sums[4] += magnitude(row[i] - prev[i]);
    }
#ifdef __SSE2__
    // Sixteen bytes at a time; a byte's magnitude is the lesser of it and its negation.
    const __m128i zero = _mm_setzero_si128();
    const auto sumOf = [&](__m128i d) {
        const __m128i m = _mm_min_epu8(d, _mm_sub_epi8(zero, d));
        const __m128i halves = _mm_sad_epu8(m, zero);
        return static_cast<uint64_t>(_mm_cvtsi128_si32(halves)) +
               static_cast<uint64_t>(_mm_extract_epi16(halves, 4));
    };
    // Paeth's predictor on eight bytes widened to 16 bits.
    const auto paeth8 = [](__m128i a, __m128i b, __m128i c) {
        const auto abs16 = [](__m128i x) {
            return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
        };
        const __m128i pa = abs16(_mm_sub_epi16(b, c));
        const __m128i pb = abs16(_mm_sub_epi16(a, c));
        const __m128i pc = abs16(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
        // a where pa <= pb and pa <= pc; else b where pb <= pc; else c.
        const __m128i takeA = _mm_andnot_si128(
            _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)), _mm_set1_epi16(-1));
        const __m128i takeB = _mm_andnot_si128(_mm_cmpgt_epi16(pb, pc), _mm_set1_epi16(-1));
        const __m128i bc = _mm_or_si128(_mm_and_si128(takeB, b), _mm_andnot_si128(takeB, c));
        return _mm_or_si128(_mm_and_si128(takeA, a), _mm_andnot_si128(takeA, bc));
    };
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i - kBpp));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i - kBpp));
        sums[0] += sumOf(x);
        sums[1] += sumOf(_mm_sub_epi8(x, a));
        sums[2] += sumOf(_mm_sub_epi8(x, b));
        // The floor of the mean: the rounded-up mean less the odd bit.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
        sums[3] += sumOf(_mm_sub_epi8(x, mean));
        const __m128i lo = paeth8(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                                  _mm_unpacklo_epi8(c, zero));
        const __m128i hi = paeth8(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                                  _mm_unpackhi_epi8(c, zero));
        sums[4] += sumOf(_mm_sub_epi8(x, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < n; ++i) {
        const int a = row[i - kBpp], b = prev[i], c = prev[i - kBpp];
        sums[0] += magnitude(row[i]);
        sums[1] += magnitude(row[i] - a);
        sums[2] += magnitude(row[i] - b);
        sums[3] += magnitude(row[i] - ((a + b) >> 1));
        sums[4] += magnitude(row[i] - Paeth(a, b, c));
    }
    int best = 0;
    for (int f = 1; f < 5; ++f) {
        if (sums[f] < sums[best]) best = f;
    }
    return best;
}

// What one encoding writes: rows already in the byte order libpng takes, and the text
// chunks in libpng's form.
struct EncodeJob {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool bgr = false;  // 8-bit colour rows stored blue, green, red
    const uint8_t* pixels = nullptr;
    size_t stride = 0;
    // Instead of pixels: fills one row (stride bytes) of the image into row, which the
    // caller allocates before the encoding, so that a longjmp never skips its release.
    const FloatImage* image = nullptr;
    uint8_t* row = nullptr;
    png_text* texts = nullptr;
    int textCount = 0;
    int compressionLevel = 6;
    const std::atomic<bool>* cancel = nullptr;
    // Only the chunks before the image data (signature, header, texts).
    bool headOnly = false;
};

// Holds the setjmp; see RunDecode.
bool RunEncode(PngSession& session, const EncodeJob& job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &session, ErrorFn, WarningFn);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(session.message, sizeof session.message, "out of memory");
        return false;
    }
    if (setjmp(session.jump)) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &session, WriteFn, FlushFn);
    png_set_IHDR(png, info, job.width, job.height, job.bitDepth, job.colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, job.compressionLevel);
    if (job.textCount > 0) png_set_text(png, info, job.texts, job.textCount);
    png_write_info(png, info);
    if (job.headOnly) {
        png_destroy_write_struct(&png, &info);
        return true;
    }
    if (job.bgr) png_set_bgr(png);
    // 8-bit colour rows after the first get libpng's own adaptive choice of filter from
    // AdaptiveFilter, and libpng filters them that way alone. The first row is left to
    // libpng, which sets up its buffers for every filter there; an image one pixel wide or
    // high has fewer filters to choose from.
    const bool choose =
        job.bitDepth == 8 && job.colorType == PNG_COLOR_TYPE_RGB && job.width > 1 && job.height > 1;
    static constexpr int kFilterFlags[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP,
                                            PNG_FILTER_AVG, PNG_FILTER_PAETH};
    const size_t rowBytes = static_cast<size_t>(job.width) * 3;
    for (uint32_t y = 0; y < job.height; ++y) {
        if (job.cancel && job.cancel->load(std::memory_order_relaxed)) {
            png_destroy_write_struct(&png, &info);
            std::snprintf(session.message, sizeof session.message, "cancelled");
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
    png_destroy_write_struct(&png, &info);
    return true;
}

// One row of 8-bit colour in red, green, blue order.
void RgbRow(const EncodeJob& job, uint32_t y, uint8_t* into) {
    const size_t n = static_cast<size_t>(job.width) * 3;
    if (job.image) {
        ImageRowToBgr(*job.image, static_cast<int32_t>(y), into);
    } else {
        std::memcpy(into, job.pixels + y * job.stride, n);
    }
    if (job.image || job.bgr) {
        for (size_t i = 0; i < n; i += 3) std::swap(into[i], into[i + 2]);
    }
}

// The row as libpng stores it: the filter type, then the filtered bytes (prev is the row
// above, zeros for the first).
void FilterRow(const uint8_t* row, const uint8_t* prev, size_t n, int filter, uint8_t* out) {
    out[0] = static_cast<uint8_t>(filter);
    ++out;
    // The first pixel has no left neighbour: a and c read as 0.
    const auto apply = [&](auto&& predict) {
        for (size_t i = 0; i < n && i < 3; ++i) {
            out[i] = static_cast<uint8_t>(row[i] - predict(0, prev[i], 0));
        }
        for (size_t i = 3; i < n; ++i) {
            out[i] = static_cast<uint8_t>(row[i] - predict(row[i - 3], prev[i], prev[i - 3]));
        }
    };
    switch (filter) {
        case 1:
            apply([](int a, int, int) { return a; });
            break;
        case 2:
            apply([](int, int b, int) { return b; });
            break;
        case 3:
            apply([](int a, int b, int) { return (a + b) >> 1; });
            break;
        case 4:
            apply(Paeth);
            break;
        default:
            std::memcpy(out, row, n);
            break;
    }
}

// The chunks libpng writes for 8-bit colour at level 6, with the image data compressed on
// several threads: the rows filtered as libpng chooses (AdaptiveFilter, the first row
// against zeros), the stream from DeflateLikeLibpng, cut into chunks of libpng's 8 KB.
bool EncodeThreaded(PngSession& session, const EncodeJob& job, int threads) {
    const size_t rowBytes = static_cast<size_t>(job.width) * 3;
    const size_t line = rowBytes + 1;
    EncodeJob headJob = job;
    headJob.headOnly = true;
    if (!RunEncode(session, headJob)) return false;
    std::vector<uint8_t>& out = *session.output;
    const auto chunk = [&](const char* type, const uint8_t* data, size_t n) {
        const uint8_t head[8] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 8),  static_cast<uint8_t>(n),
                                 static_cast<uint8_t>(type[0]), static_cast<uint8_t>(type[1]),
                                 static_cast<uint8_t>(type[2]), static_cast<uint8_t>(type[3])};
        uLong crc = crc32(crc32(0L, Z_NULL, 0), head + 4, 4);
        if (n > 0) crc = crc32(crc, data, static_cast<uInt>(n));
        const uint8_t tail[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                                 static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
        return Append(out, head, 8) && (n == 0 || Append(out, data, n)) && Append(out, tail, 4);
    };
    // The filtered rows of a range of the data; each range converts the row above it again.
    const auto source = [&](size_t from, size_t n, uint8_t* into) {
        std::vector<uint8_t> rows(2 * rowBytes + line, 0);
        uint8_t* above = rows.data();
        uint8_t* row = above + rowBytes;
        uint8_t* filtered = row + rowBytes;
        uint32_t y = static_cast<uint32_t>(from / line);
        size_t offset = from % line;
        if (y > 0) RgbRow(job, y - 1, above);
        while (n > 0) {
            RgbRow(job, y, row);
            FilterRow(row, above, rowBytes, AdaptiveFilter(row, above, rowBytes), filtered);
            const size_t k = std::min(n, line - offset);
            std::memcpy(into, filtered + offset, k);
            into += k;
            n -= k;
            offset = 0;
            ++y;
            std::swap(row, above);
        }
    };
    constexpr size_t kChunk = 8192;  // libpng's compression buffer
    std::vector<uint8_t> held;
    bool written = true;
    const auto sink = [&](const uint8_t* bytes, size_t n) {
        while (n > 0 && written) {
            const size_t k = std::min(n, kChunk - held.size());
            held.insert(held.end(), bytes, bytes + k);
            bytes += k;
            n -= k;
            if (held.size() == kChunk) {
                written = chunk("IDAT", held.data(), held.size());
                held.clear();
            }
        }
        return written;
    };
    bool ok;
    try {
        held.reserve(kChunk);
        ok = DeflateLikeLibpng(line * job.height, source, sink, threads, job.cancel);
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        const bool cancelled = job.cancel && job.cancel->load(std::memory_order_relaxed);
        std::snprintf(session.message, sizeof session.message,
                      cancelled ? "cancelled" : "out of memory");
        return false;
    }
    if ((!held.empty() && !chunk("IDAT", held.data(), held.size())) || !chunk("IEND", nullptr, 0)) {
        std::snprintf(session.message, sizeof session.message, "out of memory");
        return false;
    }
    return true;
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

bool ResizeRow(std::vector<uint8_t>& row, size_t size) noexcept {
    try {
        row.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Holds the setjmp; see RunDecode. Text chunks may follow the image data, so the rows are
// read (into one scratch row) to reach them.
bool RunReadTexts(PngSession& session, MetadataTexts& texts, std::vector<uint8_t>& row) {
    png_structp png;
    png_infop info;
    if (!OpenReader(session, png, info)) return false;
    if (setjmp(session.jump)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
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
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool Fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

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
    session.message[0] = '\0';
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

namespace {

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

}  // namespace

bool ReadPngTexts(std::span<const uint8_t> bytes, MetadataTexts& texts, std::string* error) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
        return Fail(error, "not a PNG file");
    }
    if (!ChunksFitTheFile(bytes)) return Fail(error, "a PNG chunk is longer than the file");
    PngSession session;
    session.message[0] = '\0';
    session.input = bytes;
    MetadataTexts found;
    std::vector<uint8_t> row;
    if (!RunReadTexts(session, found, row)) return Fail(error, session.message);
    texts = std::move(found);
    return true;
}

bool DecodePng(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
        return Fail(error, "not a PNG file");
    }
    PngSession session;
    session.message[0] = '\0';
    session.input = bytes;
    Bitmap24 decoded;
    std::vector<png_bytep> rows;
    if (!RunDecode(session, decoded, rows)) return Fail(error, session.message);
    bitmap = std::move(decoded);
    return true;
}

}  // namespace globeforge

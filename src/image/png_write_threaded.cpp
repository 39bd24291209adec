#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "image/bitmap24.h"
#include "image/png_deflate.h"
#include "image/png_filters.h"
#include "image/png_libpng.h"
#include "image/png_write_job.h"

namespace globeforge::png_detail {

namespace {

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

// The n bytes from position from of the image data: each row's filter type and filtered
// bytes. Each range converts the row above it again.
void FilteredRows(const EncodeJob& job, size_t from, size_t n, uint8_t* into) {
    const size_t rowBytes = static_cast<size_t>(job.width) * 3;
    const size_t line = rowBytes + 1;
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
}

// One chunk: length, type, data and CRC; false when memory cannot be had.
bool AppendChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t n) {
    const uint8_t head[8] = {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                             static_cast<uint8_t>(n >> 8),  static_cast<uint8_t>(n),
                             static_cast<uint8_t>(type[0]), static_cast<uint8_t>(type[1]),
                             static_cast<uint8_t>(type[2]), static_cast<uint8_t>(type[3])};
    uLong crc = crc32(crc32(0L, Z_NULL, 0), head + 4, 4);
    if (n > 0) crc = crc32(crc, data, static_cast<uInt>(n));
    const uint8_t tail[4] = {static_cast<uint8_t>(crc >> 24), static_cast<uint8_t>(crc >> 16),
                             static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
    return Append(out, head, 8) && (n == 0 || Append(out, data, n)) && Append(out, tail, 4);
}

}  // namespace

// The chunks libpng writes for 8-bit colour at level 6, with the image data compressed on
// several threads: the rows filtered as libpng chooses (AdaptiveFilter, the first row
// against zeros), the stream from DeflateLikeLibpng, cut into chunks of libpng's 8 KB.
bool EncodeThreaded(PngSession& session, const EncodeJob& job, int threads) {
    const size_t line = static_cast<size_t>(job.width) * 3 + 1;
    EncodeJob headJob = job;
    headJob.headOnly = true;
    if (!RunEncode(session, headJob)) return false;
    std::vector<uint8_t>& out = *session.output;
    const auto source = [&](size_t from, size_t n, uint8_t* into) {
        FilteredRows(job, from, n, into);
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
                written = AppendChunk(out, "IDAT", held.data(), held.size());
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
        SetMessage(session, cancelled ? "cancelled" : "out of memory");
        return false;
    }
    if ((!held.empty() && !AppendChunk(out, "IDAT", held.data(), held.size())) ||
        !AppendChunk(out, "IEND", nullptr, 0)) {
        SetMessage(session, "out of memory");
        return false;
    }
    return true;
}

}  // namespace globeforge::png_detail

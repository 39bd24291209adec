// The compressed image data of a PNG file, worked out on several threads with the very bytes
// libpng's zlib writes. Map files are compared byte for byte between versions and thread
// counts, so the stream must be zlib's own: zlib 1.2's deflate at level 6 with the filtered
// strategy, a 32 KB window and memory level 8 (libpng's settings for filtered image data),
// fed in any pieces and finished in one call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace globeforge {

// Fills into with the n bytes of the data that start at position from; called for
// disjoint ranges, possibly on several threads at once, in no set order.
using DeflateSource = std::function<void(size_t from, size_t n, uint8_t* into)>;
// Takes the stream in order, piece by piece, on the calling thread; false gives up.
using DeflateSink = std::function<bool(const uint8_t* bytes, size_t n)>;

// Writes to sink the zlib stream (RFC 1950: header, deflate blocks, Adler-32) of size
// bytes (at most 2 GB) taken from source. The parse is split into pieces that start afresh
// and join the true parse where their states first agree, and the blocks are coded side
// by side, on up to `threads` threads; only a window of the data is held at a time. False
// when cancel becomes true, the sink gives up, the source throws or memory runs out.
bool DeflateLikeLibpng(size_t size, const DeflateSource& source, const DeflateSink& sink,
                       int threads, const std::atomic<bool>* cancel = nullptr);

}  // namespace globeforge

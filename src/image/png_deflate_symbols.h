// What the parts of the zlib-exact deflate encoder share: zlib's window and match limits at
// level 6, and the symbols the parse hands to the block coder.
#pragma once

#include <cstddef>
#include <cstdint>

namespace globeforge::png_detail {

// zlib's window and matcher.
constexpr size_t kWindow = 32768;
constexpr size_t kWindowMask = kWindow - 1;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
constexpr size_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr size_t kMaxDistance = kWindow - kMinLookahead;

// A symbol of the parse: a literal byte (distance 0), or a match of length lc + 3.
inline uint32_t LiteralSymbol(uint8_t c) {
    return uint32_t{c} << 16;
}
inline uint32_t MatchSymbol(size_t distance, uint32_t length) {
    return static_cast<uint32_t>(distance) | ((length - kMinMatch) << 16);
}
inline uint32_t DistanceOf(uint32_t s) {
    return s & 0xffffu;
}
inline uint32_t LcOf(uint32_t s) {
    return s >> 16;
}
inline size_t Covered(uint32_t s) {
    return DistanceOf(s) ? LcOf(s) + kMinMatch : 1;
}

}  // namespace globeforge::png_detail

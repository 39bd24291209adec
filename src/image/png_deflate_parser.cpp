#include "image/png_deflate_parser.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>

namespace globeforge::png_detail {

namespace {

constexpr uint32_t kHashMask = 32767;  // memory level 8: 15 hash bits
// Level 6.
constexpr uint32_t kGoodMatch = 8;
constexpr uint32_t kMaxLazy = 16;
constexpr uint32_t kNiceMatch = 128;
constexpr uint32_t kMaxChain = 128;
// The filtered strategy drops matches this short.
constexpr uint32_t kFilteredShortest = 6;

uint32_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint32_t most) {
    for (uint32_t n = 0; n < most; n += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (const uint64_t d = x ^ y; d != 0) {
            return std::min(most, n + static_cast<uint32_t>(__builtin_ctzll(d) >> 3));
        }
    }
    return most;
}

}  // namespace

Parser::Parser()
    : head_(kHashMask + 1),
      count_(kHashMask + 1),
      order_(kWindow),
      head6_(kHashMask + 1),
      prev6_(kWindow) {}

void Parser::Start(size_t size, size_t start) {
    size_ = size;
    pos_ = start;
    available_ = false;
    matchLength_ = kMinMatch - 1;
    matchStart_ = 0;
    symbols_.clear();
    for (auto* table : {&head_, &count_, &order_, &head6_, &prev6_}) {
        std::fill(table->begin(), table->end(), uint16_t{0});
    }
    // A multiple of the window, so that offsets and positions share their chain slots;
    // reading as "none", the base itself is out of reach of every position parsed.
    base_ = (start > kWindow ? start - kWindow : 0) & ~kWindowMask;
    for (size_t p = start > kWindow ? start - kWindow : 0; p < start; ++p) {
        if (size - p >= kMinMatch) Insert(p);
    }
}

void Parser::ParseTo(size_t end) {
    while (pos_ < end) Step();
}

void Parser::Step() {
    const size_t s = pos_;
    const size_t lookahead = size_ - s;
    uint32_t hashHead = 0;  // zlib's "none"
    if (lookahead >= kMinMatch) hashHead = Insert(s);
    const uint32_t prevLength = matchLength_;
    const size_t prevMatch = matchStart_;
    matchLength_ = kMinMatch - 1;
    if (hashHead != 0 && prevLength < kMaxLazy && s - base_ - hashHead <= kMaxDistance) {
        matchLength_ = LongestMatch(s, prevLength, lookahead);
        if (matchLength_ < kFilteredShortest) matchLength_ = kMinMatch - 1;
    }
    if (prevLength >= kMinMatch && matchLength_ <= prevLength) {
        symbols_.push_back(MatchSymbol(s - 1 - prevMatch, prevLength));
        const size_t last = std::min(s + prevLength - 2, size_ - kMinMatch);
        for (size_t p = s + 1; p <= last; ++p) Insert(p);
        available_ = false;
        matchLength_ = kMinMatch - 1;
        pos_ = s + prevLength - 1;
        return;
    }
    if (available_) symbols_.push_back(LiteralSymbol(At(s - 1)[0]));
    available_ = true;
    pos_ = s + 1;
}

bool Parser::Finish() {
    if (!available_) return false;
    symbols_.push_back(LiteralSymbol(At(size_ - 1)[0]));
    available_ = false;
    return true;
}

// The chains hold 16-bit offsets from a base that moves up 32 KB at a time, as zlib's
// window slides: half the memory of whole positions, so they stay in cache.
uint32_t Parser::Insert(size_t p) {
    if (p - base_ >= 2 * kWindow) Slide();
    const uint8_t* b = At(p);
    const uint32_t h = ((uint32_t{b[0]} << 10) ^ (uint32_t{b[1]} << 5) ^ b[2]) & kHashMask;
    const uint16_t old = head_[h];
    const size_t slot = p & kWindowMask;
    head_[h] = static_cast<uint16_t>(p - base_);
    order_[slot] = count_[h]++;
    if (size_ - p >= kFilteredShortest) {
        const uint32_t h6 = Hash6(b);
        prev6_[slot] = head6_[h6];
        head6_[h6] = static_cast<uint16_t>(p - base_);
    }
    return old;
}

uint32_t Parser::Hash6(const uint8_t* b) {
    uint64_t v;
    std::memcpy(&v, b, 8);
    return static_cast<uint32_t>(((v << 16) * 0x9E3779B97F4A7C15ull) >> 49);
}

void Parser::Slide() {
    base_ += kWindow;
    for (auto* table : {&head_, &head6_, &prev6_}) {
        uint16_t* v = table->data();
        const size_t n = table->size();
#ifdef __SSE2__
        // Unsigned saturation gives the offset 32 KB lower, or 0 ("none") below it.
        const __m128i window = _mm_set1_epi16(static_cast<short>(kWindow));
        for (size_t i = 0; i < n; i += 8) {
            __m128i* at = reinterpret_cast<__m128i*>(v + i);
            _mm_storeu_si128(at, _mm_subs_epu16(_mm_loadu_si128(at), window));
        }
#else
        for (size_t i = 0; i < n; ++i) {
            v[i] = static_cast<uint16_t>(v[i] >= kWindow ? v[i] - kWindow : 0);
        }
#endif
    }
}

// What zlib's longest_match gives: along the chain of positions with the hash of the
// next three bytes, newest first, at most `chain` of them and none beyond kMaxDistance,
// the first of the longest matches that beat prevLength, the search ending at the
// first as long as `nice`; the result cut to the lookahead. The filtered strategy drops
// any result below kFilteredShortest, and a match that short cannot decide anything
// else (the position it sets is read only after a match of 3 or more), so only the
// positions whose next six bytes hash alike are tried: a second chain, in the same
// order, each position's place in the first chain known from a count per hash.
// Offsets from the base.
uint32_t Parser::LongestMatch(size_t s, uint32_t prevLength, size_t lookahead) {
    if (lookahead < kFilteredShortest) return kMinMatch - 1;
    const uint32_t chain = prevLength >= kGoodMatch ? kMaxChain >> 2 : kMaxChain;
    const uint32_t nice = lookahead < kNiceMatch ? static_cast<uint32_t>(lookahead) : kNiceMatch;
    uint32_t best = prevLength;
    const size_t here = s - base_;
    const uint32_t limit = here > kMaxDistance ? static_cast<uint32_t>(here - kMaxDistance) : 0;
    const uint8_t* window = At(base_);
    const uint8_t* scan = window + here;
    const uint16_t after = order_[s & kWindowMask];
    // zlib tries its chain's first position even at kMaxDistance exactly (the limit),
    // the others only above it.
    for (uint32_t candidate = prev6_[s & kWindowMask]; candidate >= limit && candidate != 0;
         candidate = prev6_[candidate & kWindowMask]) {
        const uint8_t* match = window + candidate;
        // Another three bytes share the hash chain of the first: not in zlib's chain.
        if (match[0] != scan[0] || match[1] != scan[1] || match[2] != scan[2]) continue;
        // Its place among the positions zlib would try (the 16-bit count cannot wrap
        // within the window).
        const uint16_t place = static_cast<uint16_t>(after - 1 - order_[candidate & kWindowMask]);
        if (place >= chain || (candidate == limit && place != 0)) break;
        const uint32_t length = 3 + CommonPrefix(scan + 3, match + 3, kMaxMatch - 3);
        if (length > best) {
            matchStart_ = base_ + candidate;
            best = length;
            if (length >= nice) break;
        }
    }
    return best <= lookahead ? best : static_cast<uint32_t>(lookahead);
}

}  // namespace globeforge::png_detail

#include "image/png_deflate.h"

#include <zlib.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

namespace globeforge {

namespace {

// zlib's window and matcher.
constexpr size_t kWindow = 32768;
constexpr size_t kWindowMask = kWindow - 1;
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMaxMatch = 258;
constexpr size_t kMinLookahead = kMaxMatch + kMinMatch + 1;
constexpr size_t kMaxDistance = kWindow - kMinLookahead;
constexpr uint32_t kHashMask = 32767;  // memory level 8: 15 hash bits
// Level 6.
constexpr uint32_t kGoodMatch = 8;
constexpr uint32_t kMaxLazy = 16;
constexpr uint32_t kNiceMatch = 128;
constexpr uint32_t kMaxChain = 128;
// The filtered strategy drops matches this short.
constexpr uint32_t kFilteredShortest = 6;
// Memory level 8 ends a block at 2^14 - 1 symbols.
constexpr size_t kBlockSymbols = 16383;
// A piece of the parse, and what each thread parses per round.
constexpr size_t kSegment = size_t{1} << 18;

// A symbol of the parse: a literal byte (distance 0), or a match of length lc + 3.
uint32_t LiteralSymbol(uint8_t c) {
    return uint32_t{c} << 16;
}
uint32_t MatchSymbol(size_t distance, uint32_t length) {
    return static_cast<uint32_t>(distance) | ((length - kMinMatch) << 16);
}
uint32_t DistanceOf(uint32_t s) {
    return s & 0xffffu;
}
uint32_t LcOf(uint32_t s) {
    return s >> 16;
}
size_t Covered(uint32_t s) {
    return DistanceOf(s) ? LcOf(s) + kMinMatch : 1;
}

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

// zlib's lazy parse (deflate_slow). Every position is put in the hash chains, whatever the
// parse does, and a match is looked for only within kMaxDistance: so the state after a
// match depends on the position alone, and a parse started afresh at any position, with
// the window before it in its chains, agrees with the true parse from the first position
// after a match that both reach.
class Parser {
  public:
    Parser()
        : head_(kHashMask + 1),
          count_(kHashMask + 1),
          order_(kWindow),
          head6_(kHashMask + 1),
          prev6_(kWindow) {}

    // data holds the bytes from origin on, origin a multiple of the window.
    void Rebase(const uint8_t* data, size_t origin) {
        data_ = data;
        origin_ = origin;
    }

    void Start(size_t size, size_t start) {
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

    // Steps until the position reaches end.
    void ParseTo(size_t end) {
        while (pos_ < end) Step();
    }

    // One turn of the loop at the current position.
    void Step() {
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

    // At the end of the data: the byte still held back.
    bool Finish() {
        if (!available_) return false;
        symbols_.push_back(LiteralSymbol(At(size_ - 1)[0]));
        available_ = false;
        return true;
    }

    size_t Position() const { return pos_; }
    // True right after a match (or at the start): the state is the position's alone.
    bool Settled() const { return !available_; }
    std::vector<uint32_t>& Symbols() { return symbols_; }

  private:
    // The chains hold 16-bit offsets from a base that moves up 32 KB at a time, as zlib's
    // window slides: half the memory of whole positions, so they stay in cache.
    uint32_t Insert(size_t p) {
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

    static uint32_t Hash6(const uint8_t* b) {
        uint64_t v;
        std::memcpy(&v, b, 8);
        return static_cast<uint32_t>(((v << 16) * 0x9E3779B97F4A7C15ull) >> 49);
    }

    void Slide() {
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
    uint32_t LongestMatch(size_t s, uint32_t prevLength, size_t lookahead) {
        if (lookahead < kFilteredShortest) return kMinMatch - 1;
        const uint32_t chain = prevLength >= kGoodMatch ? kMaxChain >> 2 : kMaxChain;
        const uint32_t nice =
            lookahead < kNiceMatch ? static_cast<uint32_t>(lookahead) : kNiceMatch;
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
            const uint16_t place =
                static_cast<uint16_t>(after - 1 - order_[candidate & kWindowMask]);
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

    const uint8_t* At(size_t p) const {
        return data_ + (p - origin_);
    }

    const uint8_t* data_ = nullptr;
    size_t origin_ = 0;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool available_ = false;  // a byte held back while the next position is tried
    uint32_t matchLength_ = kMinMatch - 1;
    size_t matchStart_ = 0;
    size_t base_ = 0;
    std::vector<uint16_t> head_;   // the newest position of each three-byte hash
    std::vector<uint16_t> count_;  // positions put in each chain so far
    std::vector<uint16_t> order_;  // each position's count in its chain
    std::vector<uint16_t> head6_;  // chains by the next six bytes
    std::vector<uint16_t> prev6_;
    std::vector<uint32_t> symbols_;
};

// The deflate alphabets (RFC 1951) and zlib's fixed trees.
constexpr int kLiterals = 256;
constexpr int kLengthCodes = 29;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;
constexpr int kDCodes = 30;
constexpr int kBLCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;
constexpr int kEndBlock = 256;
constexpr int kRep3To6 = 16, kRepZero3To10 = 17, kRepZero11To138 = 18;
constexpr int kExtraLBits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kExtraDBits[kDCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                      6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr int kExtraBLBits[kBLCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
constexpr int kBLOrder[kBLCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

uint32_t Reversed(uint32_t code, int length) {
    uint32_t r = 0;
    for (int i = 0; i < length; ++i, code >>= 1) r = (r << 1) | (code & 1);
    return r;
}

// One tree: frequencies, code lengths, codes (bit-reversed, sent first bit first) and,
// while it is built, each node's parent.
struct Tree {
    std::array<uint32_t, kHeapSize> freq{};
    std::array<uint16_t, kHeapSize> len{};
    std::array<uint16_t, kHeapSize> code{};
    std::array<uint16_t, kHeapSize> dad{};
};

void GenCodes(Tree& tree, int maxCode, const std::array<uint16_t, 16>& blCount) {
    std::array<uint32_t, 16> next{};
    uint32_t code = 0;
    for (int bits = 1; bits <= 15; ++bits) {
        code = (code + blCount[static_cast<size_t>(bits - 1)]) << 1;
        next[static_cast<size_t>(bits)] = code;
    }
    for (int n = 0; n <= maxCode; ++n) {
        const int length = tree.len[static_cast<size_t>(n)];
        if (length == 0) continue;
        tree.code[static_cast<size_t>(n)] =
            static_cast<uint16_t>(Reversed(next[static_cast<size_t>(length)]++, length));
    }
}

struct Tables {
    std::array<uint8_t, 256> lengthCode{};
    std::array<int, kLengthCodes> baseLength{};
    std::array<uint8_t, 512> distCode{};
    std::array<int, kDCodes> baseDist{};
    Tree staticL, staticD;

    Tables() {
        int length = 0, code = 0;
        for (code = 0; code < kLengthCodes - 1; ++code) {
            baseLength[static_cast<size_t>(code)] = length;
            for (int n = 0; n < (1 << kExtraLBits[code]); ++n) {
                lengthCode[static_cast<size_t>(length++)] = static_cast<uint8_t>(code);
            }
        }
        // Length 258 has a code of its own; 255 + 3 would otherwise fall into code 27.
        lengthCode[static_cast<size_t>(length - 1)] = static_cast<uint8_t>(code);
        int dist = 0;
        for (code = 0; code < 16; ++code) {
            baseDist[static_cast<size_t>(code)] = dist;
            for (int n = 0; n < (1 << kExtraDBits[code]); ++n) {
                distCode[static_cast<size_t>(dist++)] = static_cast<uint8_t>(code);
            }
        }
        dist >>= 7;
        for (; code < kDCodes; ++code) {
            baseDist[static_cast<size_t>(code)] = dist << 7;
            for (int n = 0; n < (1 << (kExtraDBits[code] - 7)); ++n) {
                distCode[static_cast<size_t>(256 + dist++)] = static_cast<uint8_t>(code);
            }
        }
        std::array<uint16_t, 16> blCount{};
        for (int n = 0; n <= 287; ++n) {
            const int bits = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
            staticL.len[static_cast<size_t>(n)] = static_cast<uint16_t>(bits);
            ++blCount[static_cast<size_t>(bits)];
        }
        GenCodes(staticL, kLCodes + 1, blCount);
        for (int n = 0; n < kDCodes; ++n) {
            staticD.len[static_cast<size_t>(n)] = 5;
            staticD.code[static_cast<size_t>(n)] = static_cast<uint16_t>(Reversed(n, 5));
        }
    }

    int DCode(uint32_t dist) const {
        return dist < 256 ? distCode[dist] : distCode[256 + (dist >> 7)];
    }
};

const Tables& TablesOf() {
    static const Tables tables;
    return tables;
}

// Bits first bit first, 64 at a time.
class BitWriter {
  public:
    void Put(uint64_t value, unsigned bits) {
        acc_ |= value << used_;
        used_ += bits;
        if (used_ >= 64) {
            words_.push_back(acc_);
            used_ -= 64;
            acc_ = used_ ? value >> (bits - used_) : 0;
        }
    }
    void PutWord(uint64_t word) {
        words_.push_back(acc_ | (word << used_));
        acc_ = used_ ? word >> (64 - used_) : 0;
    }
    void Append(const BitWriter& other) {
        for (const uint64_t w : other.words_) PutWord(w);
        if (other.used_) Put(other.acc_, other.used_);
    }
    // Pads with zero bits to a whole byte.
    void Align() {
        if (used_ % 8) Put(0, 8 - used_ % 8);
    }
    void PutBytes(const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) Put(bytes[i], 8);
    }
    void Clear() {
        words_.clear();
        acc_ = 0;
        used_ = 0;
    }
    // Moves the whole bytes written so far to out, with the last bits when all is true
    // (after Align they make whole bytes).
    void Take(std::vector<uint8_t>& out, bool all) {
        const size_t tail = all ? (used_ + 7) / 8 : 0;
        out.resize(words_.size() * 8 + tail);
        for (size_t i = 0; i < words_.size(); ++i) {
            for (size_t b = 0; b < 8; ++b)
                out[i * 8 + b] = static_cast<uint8_t>(words_[i] >> (8 * b));
        }
        for (size_t b = 0; b < tail; ++b) {
            out[words_.size() * 8 + b] = static_cast<uint8_t>(acc_ >> (8 * b));
        }
        words_.clear();
    }

  private:
    std::vector<uint64_t> words_;
    uint64_t acc_ = 0;
    unsigned used_ = 0;
};

// zlib's trees.c for one block: the Huffman trees with zlib's own tie-breaks and length
// limits, and its choice between a stored, a fixed-tree and a dynamic-tree block.
class BlockCoder {
  public:
    // The block's symbols; storedLength is the data the block covers, and stored whether
    // zlib still has it in its window (else it cannot store the block). A stored block is
    // only marked in the result: its alignment depends on where in the stream it lands.
    bool Code(std::span<const uint32_t> symbols, bool last, size_t storedLength, bool storable,
              BitWriter& out) {
        const Tables& t = TablesOf();
        for (auto* tree : {&l_, &d_, &bl_}) tree->freq.fill(0);
        l_.freq[kEndBlock] = 1;
        optLen_ = staticLen_ = 0;
        for (const uint32_t s : symbols) {
            if (DistanceOf(s) == 0) {
                ++l_.freq[LcOf(s)];
            } else {
                ++l_.freq[t.lengthCode[LcOf(s)] + kLiterals + 1u];
                ++d_.freq[static_cast<size_t>(t.DCode(DistanceOf(s) - 1))];
            }
        }
        const int lMax = BuildTree(l_, &t.staticL, kLCodes, kExtraLBits, kLiterals + 1, 15);
        const int dMax = BuildTree(d_, &t.staticD, kDCodes, kExtraDBits, 0, 15);
        ScanTree(l_, lMax);
        ScanTree(d_, dMax);
        BuildTree(bl_, nullptr, kBLCodes, kExtraBLBits, 0, 7);
        int maxBlIndex = kBLCodes - 1;
        for (; maxBlIndex >= 3; --maxBlIndex) {
            if (bl_.len[static_cast<size_t>(kBLOrder[maxBlIndex])] != 0) break;
        }
        optLen_ += 3 * (static_cast<uint64_t>(maxBlIndex) + 1) + 5 + 5 + 4;
        uint64_t optLenb = (optLen_ + 3 + 7) >> 3;
        const uint64_t staticLenb = (staticLen_ + 3 + 7) >> 3;
        if (staticLenb <= optLenb) optLenb = staticLenb;
        if (storedLength + 4 <= optLenb && storable) return false;
        if (staticLenb == optLenb) {
            out.Put(2u + (last ? 1u : 0u), 3);
            Compress(symbols, t.staticL, t.staticD, out);
        } else {
            out.Put(4u + (last ? 1u : 0u), 3);
            out.Put(static_cast<uint64_t>(lMax + 1 - 257), 5);
            out.Put(static_cast<uint64_t>(dMax), 5);
            out.Put(static_cast<uint64_t>(maxBlIndex + 1 - 4), 4);
            for (int rank = 0; rank <= maxBlIndex; ++rank) {
                out.Put(bl_.len[static_cast<size_t>(kBLOrder[rank])], 3);
            }
            SendTree(l_, lMax, out);
            SendTree(d_, dMax, out);
            Compress(symbols, l_, d_, out);
        }
        return true;
    }

  private:
    bool Smaller(const Tree& tree, int n, int m) const {
        const size_t a = static_cast<size_t>(n), b = static_cast<size_t>(m);
        return tree.freq[a] < tree.freq[b] ||
               (tree.freq[a] == tree.freq[b] && depth_[a] <= depth_[b]);
    }

    void DownHeap(const Tree& tree, int k) {
        const int v = heap_[static_cast<size_t>(k)];
        int j = k << 1;
        while (j <= heapLen_) {
            if (j < heapLen_ &&
                Smaller(tree, heap_[static_cast<size_t>(j + 1)], heap_[static_cast<size_t>(j)])) {
                ++j;
            }
            if (Smaller(tree, v, heap_[static_cast<size_t>(j)])) break;
            heap_[static_cast<size_t>(k)] = heap_[static_cast<size_t>(j)];
            k = j;
            j <<= 1;
        }
        heap_[static_cast<size_t>(k)] = v;
    }

    // build_tree with gen_bitlen and gen_codes; returns the largest code with a frequency.
    int BuildTree(Tree& tree, const Tree* fixed, int elems, const int* extra, int extraBase,
                  int maxLength) {
        heapLen_ = 0;
        heapMax_ = kHeapSize;
        int maxCode = -1;
        for (int n = 0; n < elems; ++n) {
            if (tree.freq[static_cast<size_t>(n)] != 0) {
                heap_[static_cast<size_t>(++heapLen_)] = maxCode = n;
                depth_[static_cast<size_t>(n)] = 0;
            } else {
                tree.len[static_cast<size_t>(n)] = 0;
            }
        }
        // At least two codes of non-zero frequency.
        while (heapLen_ < 2) {
            const int node = heap_[static_cast<size_t>(++heapLen_)] = maxCode < 2 ? ++maxCode : 0;
            tree.freq[static_cast<size_t>(node)] = 1;
            depth_[static_cast<size_t>(node)] = 0;
            --optLen_;
            if (fixed) staticLen_ -= fixed->len[static_cast<size_t>(node)];
        }
        for (int n = heapLen_ / 2; n >= 1; --n) DownHeap(tree, n);
        int node = elems;
        do {
            const int n = heap_[1];
            heap_[1] = heap_[static_cast<size_t>(heapLen_--)];
            DownHeap(tree, 1);
            const int m = heap_[1];
            heap_[static_cast<size_t>(--heapMax_)] = n;
            heap_[static_cast<size_t>(--heapMax_)] = m;
            const size_t un = static_cast<size_t>(n), um = static_cast<size_t>(m);
            tree.freq[static_cast<size_t>(node)] = tree.freq[un] + tree.freq[um];
            depth_[static_cast<size_t>(node)] =
                static_cast<uint8_t>(std::max(depth_[un], depth_[um]) + 1);
            tree.dad[un] = tree.dad[um] = static_cast<uint16_t>(node);
            heap_[1] = node++;
            DownHeap(tree, 1);
        } while (heapLen_ >= 2);
        heap_[static_cast<size_t>(--heapMax_)] = heap_[1];
        GenBitLengths(tree, fixed, maxCode, extra, extraBase, maxLength);
        GenCodes(tree, maxCode, blCount_);
        return maxCode;
    }

    void GenBitLengths(Tree& tree, const Tree* fixed, int maxCode, const int* extra, int extraBase,
                       int maxLength) {
        blCount_.fill(0);
        tree.len[static_cast<size_t>(heap_[static_cast<size_t>(heapMax_)])] = 0;
        int overflow = 0;
        int h = heapMax_ + 1;
        for (; h < kHeapSize; ++h) {
            const size_t n = static_cast<size_t>(heap_[static_cast<size_t>(h)]);
            int bits = tree.len[tree.dad[n]] + 1;
            if (bits > maxLength) bits = maxLength, ++overflow;
            tree.len[n] = static_cast<uint16_t>(bits);
            if (static_cast<int>(n) > maxCode) continue;
            ++blCount_[static_cast<size_t>(bits)];
            const int xbits =
                static_cast<int>(n) >= extraBase ? extra[static_cast<int>(n) - extraBase] : 0;
            const uint64_t f = tree.freq[n];
            optLen_ += f * static_cast<uint64_t>(bits + xbits);
            if (fixed) staticLen_ += f * static_cast<uint64_t>(fixed->len[n] + xbits);
        }
        if (overflow == 0) return;
        do {
            int bits = maxLength - 1;
            while (blCount_[static_cast<size_t>(bits)] == 0) --bits;
            --blCount_[static_cast<size_t>(bits)];
            blCount_[static_cast<size_t>(bits + 1)] += 2;
            --blCount_[static_cast<size_t>(maxLength)];
            overflow -= 2;
        } while (overflow > 0);
        h = kHeapSize;
        for (int bits = maxLength; bits != 0; --bits) {
            int n = blCount_[static_cast<size_t>(bits)];
            while (n != 0) {
                const int m = heap_[static_cast<size_t>(--h)];
                if (m > maxCode) continue;
                const size_t um = static_cast<size_t>(m);
                if (tree.len[um] != bits) {
                    optLen_ += (static_cast<uint64_t>(bits) - tree.len[um]) * tree.freq[um];
                    tree.len[um] = static_cast<uint16_t>(bits);
                }
                --n;
            }
        }
    }

    // The code lengths' run-length coding, counted (scan_tree) or sent (send_tree).
    template <typename Emit>
    void RunLengths(Tree& tree, int maxCode, Emit&& emit) {
        int prevLen = -1;
        int nextLen = tree.len[0];
        int count = 0;
        int maxCount = 7, minCount = 4;
        if (nextLen == 0) maxCount = 138, minCount = 3;
        tree.len[static_cast<size_t>(maxCode + 1)] = 0xffff;  // guard
        for (int n = 0; n <= maxCode; ++n) {
            const int curLen = nextLen;
            nextLen = tree.len[static_cast<size_t>(n + 1)];
            if (++count < maxCount && curLen == nextLen) continue;
            emit(curLen, prevLen, count, minCount);
            count = 0;
            prevLen = curLen;
            if (nextLen == 0) {
                maxCount = 138, minCount = 3;
            } else if (curLen == nextLen) {
                maxCount = 6, minCount = 3;
            } else {
                maxCount = 7, minCount = 4;
            }
        }
    }

    void ScanTree(Tree& tree, int maxCode) {
        RunLengths(tree, maxCode, [&](int curLen, int prevLen, int count, int minCount) {
            if (count < minCount) {
                bl_.freq[static_cast<size_t>(curLen)] += static_cast<uint32_t>(count);
            } else if (curLen != 0) {
                if (curLen != prevLen) ++bl_.freq[static_cast<size_t>(curLen)];
                ++bl_.freq[kRep3To6];
            } else if (count <= 10) {
                ++bl_.freq[kRepZero3To10];
            } else {
                ++bl_.freq[kRepZero11To138];
            }
        });
    }

    void SendTree(Tree& tree, int maxCode, BitWriter& out) {
        const auto send = [&](int code) {
            out.Put(bl_.code[static_cast<size_t>(code)], bl_.len[static_cast<size_t>(code)]);
        };
        RunLengths(tree, maxCode, [&](int curLen, int prevLen, int count, int minCount) {
            if (count < minCount) {
                do send(curLen);
                while (--count != 0);
            } else if (curLen != 0) {
                if (curLen != prevLen) {
                    send(curLen);
                    --count;
                }
                send(kRep3To6);
                out.Put(static_cast<uint64_t>(count - 3), 2);
            } else if (count <= 10) {
                send(kRepZero3To10);
                out.Put(static_cast<uint64_t>(count - 3), 3);
            } else {
                send(kRepZero11To138);
                out.Put(static_cast<uint64_t>(count - 11), 7);
            }
        });
    }

    static void Compress(std::span<const uint32_t> symbols, const Tree& l, const Tree& d,
                         BitWriter& out) {
        const Tables& t = TablesOf();
        for (const uint32_t s : symbols) {
            uint32_t dist = DistanceOf(s);
            const uint32_t lc = LcOf(s);
            if (dist == 0) {
                out.Put(l.code[lc], l.len[lc]);
                continue;
            }
            const size_t code = t.lengthCode[lc];
            out.Put(l.code[code + kLiterals + 1], l.len[code + kLiterals + 1]);
            if (const int extra = kExtraLBits[code]; extra != 0) {
                out.Put(lc - static_cast<uint32_t>(t.baseLength[code]),
                        static_cast<unsigned>(extra));
            }
            --dist;
            const size_t dcode = static_cast<size_t>(t.DCode(dist));
            out.Put(d.code[dcode], d.len[dcode]);
            if (const int extra = kExtraDBits[dcode]; extra != 0) {
                out.Put(dist - static_cast<uint32_t>(t.baseDist[dcode]),
                        static_cast<unsigned>(extra));
            }
        }
        out.Put(l.code[kEndBlock], l.len[kEndBlock]);
    }

    Tree l_, d_, bl_;
    std::array<int, kHeapSize> heap_{};
    std::array<uint8_t, kHeapSize> depth_{};
    std::array<uint16_t, 16> blCount_{};
    int heapLen_ = 0, heapMax_ = 0;
    uint64_t optLen_ = 0, staticLen_ = 0;
};

// How far zlib's window has slid by the loop turn at position s: it slides by 32 KB when
// a turn finds less than kMinLookahead bytes ahead and has passed 64 KB - kMinLookahead in
// the window. A block can be stored only while its data is still in the window.
size_t WindowBase(size_t s, size_t size) {
    size_t slides =
        s >= 2 * kWindow - kMinLookahead + 1 ? (s - (kWindow - kMinLookahead + 1)) / kWindow : 0;
    const size_t next = (slides + 1) * kWindow + kWindow - kMinLookahead;
    if (s == next && size - s < kMinLookahead) ++slides;
    return slides * kWindow;
}

// Threads that take numbered tasks; the calling thread takes part.
class Crew {
  public:
    // Fewer workers when threads cannot be had: the calling thread can do all the work.
    explicit Crew(int workers) {
        try {
            for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
    }
    ~Crew() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Runs task(0 .. count - 1); false when one of them threw (the others still ran).
    bool Run(size_t count, const std::function<void(size_t)>& task) {
        failed_ = false;
        if (threads_.empty() || count <= 1) {
            for (size_t i = 0; i < count; ++i) Attempt(task, i);
            return !failed_;
        }
        {
            std::lock_guard lock(mutex_);
            task_ = &task;
            count_ = count;
            next_ = 0;
            pending_ = count;
            ++generation_;
        }
        wake_.notify_all();
        Take();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
        task_ = nullptr;
        return !failed_;
    }

  private:
    void Attempt(const std::function<void(size_t)>& task, size_t i) {
        try {
            task(i);
        } catch (...) {
            failed_ = true;
        }
    }
    void Take() {
        for (;;) {
            size_t i;
            const std::function<void(size_t)>* task;
            {
                std::lock_guard lock(mutex_);
                if (!task_ || next_ >= count_) return;
                i = next_++;
                task = task_;
            }
            Attempt(*task, i);
            std::lock_guard lock(mutex_);
            if (--pending_ == 0) done_.notify_all();
        }
    }
    void Work() {
        uint64_t seen = 0;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
                if (stopping_) return;
                seen = generation_;
            }
            Take();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(size_t)>* task_ = nullptr;
    size_t count_ = 0, next_ = 0, pending_ = 0;
    uint64_t generation_ = 0;
    bool stopping_ = false;
    std::atomic<bool> failed_{false};
    std::vector<std::thread> threads_;
};

// A run of one parser's symbols in the stream.
struct Piece {
    Parser* parser;
    size_t from, to;
};

// A block to code: its symbols, where its data starts and ends, whether it is the last.
struct Block {
    size_t first = 0, count = 0;
    size_t start = 0, end = 0;
    size_t turn = 0;  // the loop turn that ends it
    bool last = false;
    BitWriter bits;
    bool stored = false;
};

// The data a round reads past its end: a match begun before the end, and the bytes its
// comparisons read beyond it.
constexpr size_t kReadAhead = 2 * kMaxMatch + 16;
// What the matcher reads past a position near the end (eight bytes at a time).
constexpr size_t kPadding = kMaxMatch + 16;

bool Deflate(size_t size, const DeflateSource& source, const DeflateSink& sink, int threads,
             const std::atomic<bool>* cancel) {
    const size_t crewSize = static_cast<size_t>(std::max(threads, 1));
    Crew crew(static_cast<int>(crewSize) - 1);
    std::vector<std::unique_ptr<Parser>> parsers;
    for (size_t i = 0; i < crewSize; ++i) parsers.push_back(std::make_unique<Parser>());
    parsers[0]->Start(size, 0);

    // The data from origin to have: the window behind the round (which the parsers and a
    // stored block may read), the round and what it reads ahead.
    std::vector<uint8_t> data(3 * kWindow + crewSize * kSegment + kReadAhead + kPadding);
    size_t origin = 0, have = 0;

    BitWriter stream;
    stream.Put(0x78, 8);  // deflate, 32 KB window
    stream.Put(0x9c, 8);  // level 6, check bits
    std::vector<uint8_t> bytes;
    uLong adler = adler32(0L, Z_NULL, 0);
    std::vector<uint32_t> pending;  // symbols not yet in a block
    size_t pendingStart = 0;        // the position of pending[0]
    std::vector<Block> blocks;
    bool finalLiteral = false;

    for (size_t roundStart = 0; roundStart < size;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) return false;
        std::vector<size_t> starts, ends;
        for (size_t s = roundStart; s < size && starts.size() < crewSize; s += kSegment) {
            starts.push_back(s);
            ends.push_back(std::min(size, s + kSegment));
        }
        const size_t roundEnd = ends.back();
        // Every parser's base lies at most 64 KB behind the round.
        const size_t keep =
            (roundStart > 2 * kWindow ? roundStart - 2 * kWindow : 0) & ~kWindowMask;
        std::copy(data.begin() + static_cast<ptrdiff_t>(keep - origin),
                  data.begin() + static_cast<ptrdiff_t>(have - origin), data.begin());
        origin = keep;
        const size_t want = std::min(size, roundEnd + kReadAhead);
        std::vector<size_t> cuts;
        for (size_t at = have; at < want; at += kSegment) cuts.push_back(at);
        cuts.push_back(want);
        const bool read = crew.Run(cuts.size() - 1, [&](size_t i) {
            source(cuts[i], cuts[i + 1] - cuts[i], data.data() + (cuts[i] - origin));
        });
        if (!read) return false;
        have = want;
        // The matcher compares past the end, but a candidate that reaches the end is at
        // least as long as the search asks for (it is cut to the lookahead) and ends it, so
        // what lies there never decides a match.
        if (have == size) {
            std::fill(data.begin() + static_cast<ptrdiff_t>(have - origin), data.end(), uint8_t{0});
        }
        for (auto& parser : parsers) parser->Rebase(data.data(), origin);

        std::vector<uLong> sums(starts.size());
        const bool parsed = crew.Run(starts.size(), [&](size_t i) {
            const Bytef* from = data.data() + (starts[i] - origin);
            sums[i] = adler32(1L, from, static_cast<uInt>(ends[i] - starts[i]));
            if (i > 0) parsers[i]->Start(size, starts[i]);
            parsers[i]->ParseTo(ends[i]);
        });
        if (!parsed) return false;
        for (size_t i = 0; i < starts.size(); ++i) {
            adler = adler32_combine(adler, sums[i], static_cast<z_off_t>(ends[i] - starts[i]));
        }
        // Each piece joins the true parse where, right after a match, both stand at the
        // same position; until then the parse that is true goes on alone.
        std::vector<Piece> pieces;
        size_t current = 0, from = 0;
        for (size_t i = 1; i < starts.size(); ++i) {
            Parser& carrier = *parsers[current];
            std::vector<uint32_t>& theirs = parsers[i]->Symbols();
            size_t index = 0, at = starts[i];
            bool joined = false;
            for (;;) {
                if (carrier.Settled() && carrier.Position() >= starts[i]) {
                    while (at < carrier.Position() && index < theirs.size()) {
                        at += Covered(theirs[index++]);
                    }
                    const bool settled = index == 0 || DistanceOf(theirs[index - 1]) != 0;
                    if (at == carrier.Position() && settled && index < theirs.size()) {
                        joined = true;
                        break;
                    }
                }
                if (carrier.Position() >= ends[i]) break;
                carrier.Step();
            }
            if (joined) {
                pieces.push_back({&carrier, from, carrier.Symbols().size()});
                current = i;
                from = index;
            }
        }
        pieces.push_back({parsers[current].get(), from, parsers[current]->Symbols().size()});
        if (roundEnd == size) {
            finalLiteral = parsers[current]->Finish();
            pieces.back().to = parsers[current]->Symbols().size();
        }
        for (const Piece& piece : pieces) {
            const std::vector<uint32_t>& s = piece.parser->Symbols();
            pending.insert(pending.end(), s.begin() + static_cast<ptrdiff_t>(piece.from),
                           s.begin() + static_cast<ptrdiff_t>(piece.to));
        }
        std::swap(parsers[0], parsers[current]);
        parsers[0]->Symbols().clear();

        // The blocks: every kBlockSymbols symbols, except that the byte held back at the
        // end is added without a check, and the rest is the last block.
        blocks.clear();
        size_t taken = 0, at = pendingStart;
        const bool final = roundEnd == size;
        for (;;) {
            const size_t left = pending.size() - taken;
            Block b;
            b.first = taken;
            b.start = at;
            if (left >= kBlockSymbols) {
                b.count = kBlockSymbols;
                b.last = final && finalLiteral && left == kBlockSymbols;
            } else if (final) {
                b.count = left;
                b.last = true;
            } else {
                break;
            }
            size_t lastCovered = 0;
            for (size_t k = taken; k < taken + b.count; ++k) {
                lastCovered = Covered(pending[k]);
                at += lastCovered;
            }
            b.end = at;
            b.turn = b.last ? size : at - lastCovered + 1;
            taken += b.count;
            blocks.push_back(std::move(b));
            if (blocks.back().last) break;
        }
        const bool coded = crew.Run(blocks.size(), [&](size_t k) {
            Block& b = blocks[k];
            // A storable block's data lies within the window kept behind the round.
            const bool storable = b.start >= WindowBase(b.turn, size);
            thread_local BlockCoder coder;
            b.stored = !coder.Code(std::span(pending).subspan(b.first, b.count), b.last,
                                   b.end - b.start, storable, b.bits);
        });
        if (!coded) return false;
        for (Block& b : blocks) {
            if (b.stored) {
                const size_t n = b.end - b.start;
                stream.Put(b.last ? 1u : 0u, 3);
                stream.Align();
                stream.Put(n & 0xffff, 16);
                stream.Put(~n & 0xffff, 16);
                stream.PutBytes(data.data() + (b.start - origin), n);
            } else {
                stream.Append(b.bits);
            }
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(taken));
        pendingStart = at;
        roundStart = roundEnd;
        if (roundStart < size) {
            stream.Take(bytes, false);
            if (!bytes.empty() && !sink(bytes.data(), bytes.size())) return false;
        }
    }
    stream.Align();
    for (int shift = 24; shift >= 0; shift -= 8) stream.Put((adler >> shift) & 0xff, 8);
    stream.Take(bytes, true);
    return sink(bytes.data(), bytes.size());
}

}  // namespace

bool DeflateLikeLibpng(size_t size, const DeflateSource& source, const DeflateSink& sink,
                       int threads, const std::atomic<bool>* cancel) {
    if (size == 0 || size > (size_t{1} << 31)) return false;
    try {
        return Deflate(size, source, sink, threads, cancel);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace globeforge

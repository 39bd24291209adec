#include "image/png_deflate_trees.h"

#include <algorithm>

#include "image/png_deflate_symbols.h"

namespace globeforge::png_detail {

namespace {

// The rest of the alphabets, and zlib's fixed trees.
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

void Compress(std::span<const uint32_t> symbols, const Tree& l, const Tree& d, BitWriter& out) {
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
            out.Put(lc - static_cast<uint32_t>(t.baseLength[code]), static_cast<unsigned>(extra));
        }
        --dist;
        const size_t dcode = static_cast<size_t>(t.DCode(dist));
        out.Put(d.code[dcode], d.len[dcode]);
        if (const int extra = kExtraDBits[dcode]; extra != 0) {
            out.Put(dist - static_cast<uint32_t>(t.baseDist[dcode]), static_cast<unsigned>(extra));
        }
    }
    out.Put(l.code[kEndBlock], l.len[kEndBlock]);
}

}  // namespace

bool BlockCoder::Code(std::span<const uint32_t> symbols, bool last, size_t storedLength,
                      bool storable, BitWriter& out) {
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

bool BlockCoder::Smaller(const Tree& tree, int n, int m) const {
    const size_t a = static_cast<size_t>(n), b = static_cast<size_t>(m);
    return tree.freq[a] < tree.freq[b] || (tree.freq[a] == tree.freq[b] && depth_[a] <= depth_[b]);
}

void BlockCoder::DownHeap(const Tree& tree, int k) {
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

int BlockCoder::BuildTree(Tree& tree, const Tree* fixed, int elems, const int* extra, int extraBase,
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

void BlockCoder::GenBitLengths(Tree& tree, const Tree* fixed, int maxCode, const int* extra,
                               int extraBase, int maxLength) {
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

void BlockCoder::ScanTree(Tree& tree, int maxCode) {
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

void BlockCoder::SendTree(Tree& tree, int maxCode, BitWriter& out) {
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

}  // namespace globeforge::png_detail

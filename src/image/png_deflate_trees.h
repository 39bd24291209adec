// The block writer of the zlib-exact deflate encoder: zlib's Huffman trees and its choice of
// block for a run of the parse's symbols.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/png_deflate_bits.h"

namespace globeforge::png_detail {

// The deflate alphabets (RFC 1951).
constexpr int kLiterals = 256;
constexpr int kLengthCodes = 29;
constexpr int kLCodes = kLiterals + 1 + kLengthCodes;
constexpr int kDCodes = 30;
constexpr int kBLCodes = 19;
constexpr int kHeapSize = 2 * kLCodes + 1;

// One tree: frequencies, code lengths, codes (bit-reversed, sent first bit first) and,
// while it is built, each node's parent.
struct Tree {
    std::array<uint32_t, kHeapSize> freq{};
    std::array<uint16_t, kHeapSize> len{};
    std::array<uint16_t, kHeapSize> code{};
    std::array<uint16_t, kHeapSize> dad{};
};

// zlib's trees.c for one block: the Huffman trees with zlib's own tie-breaks and length
// limits, and its choice between a stored, a fixed-tree and a dynamic-tree block.
class BlockCoder {
  public:
    // The block's symbols; storedLength is the data the block covers, and stored whether
    // zlib still has it in its window (else it cannot store the block). A stored block is
    // only marked in the result: its alignment depends on where in the stream it lands.
    bool Code(std::span<const uint32_t> symbols, bool last, size_t storedLength, bool storable,
              BitWriter& out);

  private:
    bool Smaller(const Tree& tree, int n, int m) const;
    void DownHeap(const Tree& tree, int k);
    // build_tree with gen_bitlen and gen_codes; returns the largest code with a frequency.
    int BuildTree(Tree& tree, const Tree* fixed, int elems, const int* extra, int extraBase,
                  int maxLength);
    void GenBitLengths(Tree& tree, const Tree* fixed, int maxCode, const int* extra, int extraBase,
                       int maxLength);
    // The code lengths' run-length coding, counted (scan_tree) or sent (send_tree).
    void ScanTree(Tree& tree, int maxCode);
    void SendTree(Tree& tree, int maxCode, BitWriter& out);

    Tree l_, d_, bl_;
    std::array<int, kHeapSize> heap_{};
    std::array<uint8_t, kHeapSize> depth_{};
    std::array<uint16_t, 16> blCount_{};
    int heapLen_ = 0, heapMax_ = 0;
    uint64_t optLen_ = 0, staticLen_ = 0;
};

}  // namespace globeforge::png_detail

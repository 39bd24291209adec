// The match finder of the zlib-exact deflate encoder: zlib's lazy parse at level 6.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/png_deflate_symbols.h"

namespace globeforge::png_detail {

// zlib's lazy parse (deflate_slow). Every position is put in the hash chains, whatever the
// parse does, and a match is looked for only within kMaxDistance: so the state after a
// match depends on the position alone, and a parse started afresh at any position, with
// the window before it in its chains, agrees with the true parse from the first position
// after a match that both reach.
class Parser {
  public:
    Parser();

    // data holds the bytes from origin on, origin a multiple of the window.
    void Rebase(const uint8_t* data, size_t origin) {
        data_ = data;
        origin_ = origin;
    }

    void Start(size_t size, size_t start);

    // Steps until the position reaches end.
    void ParseTo(size_t end);

    // One turn of the loop at the current position.
    void Step();

    // At the end of the data: the byte still held back.
    bool Finish();

    size_t Position() const { return pos_; }
    // True right after a match (or at the start): the state is the position's alone.
    bool Settled() const { return !available_; }
    std::vector<uint32_t>& Symbols() { return symbols_; }

  private:
    uint32_t Insert(size_t p);
    static uint32_t Hash6(const uint8_t* b);
    void Slide();
    uint32_t LongestMatch(size_t s, uint32_t prevLength, size_t lookahead);

    const uint8_t* At(size_t p) const { return data_ + (p - origin_); }

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

}  // namespace globeforge::png_detail

// The bit output of the zlib-exact deflate encoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace globeforge::png_detail {

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

}  // namespace globeforge::png_detail

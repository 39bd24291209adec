#include "image/png_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

namespace globeforge {
namespace {

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15, 8, Z_FILTERED), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<uint8_t> Ours(const std::vector<uint8_t>& data, int threads) {
    std::vector<uint8_t> out;
    const bool ok = DeflateLikeLibpng(
        data.size(),
        [&](size_t from, size_t n, uint8_t* into) { std::memcpy(into, data.data() + from, n); },
        [&](const uint8_t* bytes, size_t n) {
            out.insert(out.end(), bytes, bytes + n);
            return true;
        },
        threads);
    EXPECT_TRUE(ok);
    return out;
}

TEST(Deflate, SameStreamAsZlib) {
    std::vector<std::vector<uint8_t>> inputs;
    // A match whose only earlier copy lies exactly at the longest distance zlib reaches
    // (32 KB less 262): zlib tries the newest position of a hash that far back, but no
    // older one.
    for (const size_t distance : {32505u, 32506u, 32507u}) {
        std::vector<uint8_t> d(100 + distance + 200, 0);
        for (size_t i = 0; i < 12; ++i) d[100 + i] = d[100 + distance + i] = uint8_t(1 + i);
        inputs.push_back(d);
    }
    // Noise (stored blocks), runs, rows repeated at a distance, smooth bytes with noise;
    // long enough for several 256 KB pieces, or a single byte.
    std::mt19937 gen(21);
    for (int kind = 0; kind < 4; ++kind) {
        std::vector<uint8_t> d(700000 + gen() % 1000);
        for (size_t i = 0; i < d.size(); ++i) {
            d[i] = kind == 0   ? uint8_t(gen())
                   : kind == 1 ? uint8_t((i / 5000) % 3)
                   : kind == 2 ? (gen() % 50 == 0 || i < 6145 ? uint8_t(gen()) : d[i - 6145])
                               : uint8_t(i / 3000 + gen() % 3);
        }
        inputs.push_back(d);
    }
    inputs.push_back({42});
    for (const std::vector<uint8_t>& input : inputs) {
        const std::vector<uint8_t> expected = Zlib(input);
        for (const int threads : {1, 3}) {
            EXPECT_TRUE(Ours(input, threads) == expected) << input.size() << ", " << threads;
        }
    }
}

}  // namespace
}  // namespace globeforge

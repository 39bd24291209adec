#include "core/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "core/progress.h"

namespace globeforge {
namespace {

TEST(ParallelForBands, FixedBandsEachRowOnceWhateverTheThreads) {
    for (const int64_t rows : {0, 1, 15, 16, 17, 100}) {
        std::set<std::pair<int64_t, int64_t>> expected;
        for (int64_t y = 0; y < rows; y += 16) expected.insert({y, std::min(rows, y + 16)});
        for (const int threads : {1, 2, 3, 8}) {
            RenderContext ctx;
            ctx.threads = threads;
            std::mutex mutex;
            std::set<std::pair<int64_t, int64_t>> bands;
            std::vector<std::atomic<int>> hits(static_cast<size_t>(rows));
            ParallelForBands(ctx, rows, 16, [&](int64_t y0, int64_t y1) {
                for (int64_t y = y0; y < y1; ++y) hits[static_cast<size_t>(y)]++;
                std::lock_guard lock(mutex);
                bands.insert({y0, y1});
            });
            EXPECT_EQ(bands, expected) << rows << " rows, " << threads << " threads";
            for (const auto& h : hits) ASSERT_EQ(h.load(), 1);
        }
    }
}

TEST(ParallelForBands, OneThreadRunsInlineAndErrorsReachTheCaller) {
    RenderContext ctx;
    EXPECT_EQ(ctx.Pool(), nullptr);
    const std::thread::id caller = std::this_thread::get_id();
    ParallelForBands(ctx, 64, 4,
                     [&](int64_t, int64_t) { EXPECT_EQ(std::this_thread::get_id(), caller); });

    ctx.threads = 3;
    ASSERT_NE(ctx.Pool(), nullptr);
    EXPECT_EQ(ctx.Pool()->Workers(), 2);
    EXPECT_THROW(ParallelForBands(ctx, 64, 4,
                                  [](int64_t y0, int64_t) {
                                      if (y0 == 20) throw std::runtime_error("band");
                                  }),
                 std::runtime_error);
    // The pool survives a failed job and is remade when the thread count changes.
    int sum = 0;
    std::mutex mutex;
    ParallelForBands(ctx, 10, 1, [&](int64_t y0, int64_t) {
        std::lock_guard lock(mutex);
        sum += static_cast<int>(y0);
    });
    EXPECT_EQ(sum, 45);
    ctx.threads = 2;
    EXPECT_EQ(ctx.Pool()->Workers(), 1);
    ctx.threads = 0;  // below 1 means the caller alone
    EXPECT_EQ(ctx.Pool(), nullptr);
}

TEST(ParallelRows, ReportsEveryRowInOrderAndStopsOnRequest) {
    for (const int threads : {1, 2, 3, 8}) {
        RenderContext ctx;
        ctx.threads = threads;
        std::vector<std::atomic<bool>> computed(100);
        std::vector<int64_t> reported;
        const bool done = ParallelRows(
            ctx, 100, 16,
            [&](int64_t y0, int64_t y1) {
                for (int64_t y = y0; y < y1; ++y) computed[static_cast<size_t>(y)] = true;
            },
            [&](int64_t y) {
                // A row is reported only once it has been computed, and from the caller.
                EXPECT_TRUE(computed[static_cast<size_t>(y)].load());
                reported.push_back(y);
                return false;
            });
        EXPECT_TRUE(done);
        ASSERT_EQ(reported.size(), 100u);
        for (int64_t y = 0; y < 100; ++y) ASSERT_EQ(reported[static_cast<size_t>(y)], y);

        // Stopping at row 37: no row after it is reported, and with one thread none after
        // it is even computed.
        std::vector<std::atomic<bool>> touched(100);
        reported.clear();
        const bool stopped = ParallelRows(
            ctx, 100, 16,
            [&](int64_t y0, int64_t y1) {
                for (int64_t y = y0; y < y1; ++y) touched[static_cast<size_t>(y)] = true;
            },
            [&](int64_t y) {
                reported.push_back(y);
                return y == 37;
            });
        EXPECT_FALSE(stopped);
        EXPECT_EQ(reported.back(), 37);
        EXPECT_EQ(reported.size(), 38u);
        if (threads == 1) {
            EXPECT_FALSE(touched[38].load());
        }
    }
}

TEST(ParallelRows, AWorkErrorStopsTheLoopAndReachesTheCaller) {
    for (const int threads : {1, 2, 4}) {
        RenderContext ctx;
        ctx.threads = threads;
        int64_t last = -1;
        EXPECT_THROW(ParallelRows(
                         ctx, 200, 8,
                         [](int64_t y0, int64_t) {
                             if (y0 >= 64) throw std::runtime_error("row");
                         },
                         [&](int64_t y) {
                             last = y;
                             return false;
                         }),
                     std::runtime_error);
        EXPECT_LT(last, 64);
    }
}

}  // namespace
}  // namespace globeforge

// Per-pixel work on every core without changing a bit of the result: work is split into
// fixed bands of destination rows whose partition never depends on the thread count, and
// each band computes exactly what the one-thread loop computes for its rows. A render
// context owns one small persistent pool; with one thread everything runs inline.
//
// Only the render's own thread reports progress or lets events run: band functions run on
// pool workers and must not touch the context's progress facility or its generator.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace globeforge {

class RenderContext;

// The band height of row-parallel stages: small enough to balance two to eight threads on
// a preview, large enough that a band is worth a hand-off.
inline constexpr int64_t kBandRows = 16;

// Worker threads that wait for a job. Run offers the same job to every worker and runs the
// caller's part on the calling thread; once that part is done the offer is withdrawn, and
// Run returns when the workers that took the job have finished it. A render posts
// thousands of small jobs in quick succession: waking a sleeping thread costs tens of
// microseconds, so both sides first poll for a short while before they sleep, and on a
// busy machine a worker may not get a core for milliseconds, so the caller never waits
// for a worker that has not started.
class ThreadPool {
  public:
    explicit ThreadPool(int workers);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int Workers() const { return static_cast<int>(threads_.size()); }

    // workerJob runs at most once on each worker (not at all on a worker that comes too
    // late), callerJob once on the calling thread; they may run at the same time, so
    // callerJob must be able to finish the work alone. Neither may throw.
    void Run(const std::function<void()>& workerJob, const std::function<void()>& callerJob);

  private:
    void WorkerLoop();
    void StopWorkers();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    const std::function<void()>* job_ = nullptr;  // published by generation_, null once withdrawn
    std::atomic<uint64_t> generation_{0};
    std::atomic<int> running_{0};  // workers inside the current job
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Calls fn(y0, y1) for the bands [0, bandRows), [bandRows, 2 bandRows), ... of rows, on
// ctx.threads threads, and returns when all are done. fn must only write what belongs to
// its own rows. An exception thrown by fn is passed on to the caller after every band has
// finished or been skipped.
void ParallelForBands(RenderContext& ctx, int64_t rows, int64_t bandRows,
                      const std::function<void(int64_t y0, int64_t y1)>& fn);

// A row loop with per-row progress: work(y0, y1) computes rows in bands as ParallelForBands
// does, and rowDone(y) runs on the calling thread for every row in order, once the row is
// computed; when it returns true the loop stops (no further band is started) and the result
// is false. With one thread the loop is the plain serial one: row y, rowDone(y), row y + 1,
// so nothing past the stopping row is computed. With more threads, rows of bands already
// under way may be computed past it.
bool ParallelRows(RenderContext& ctx, int64_t rows, int64_t bandRows,
                  const std::function<void(int64_t y0, int64_t y1)>& work,
                  const std::function<bool(int64_t y)>& rowDone);

}  // namespace globeforge

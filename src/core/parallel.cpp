#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <memory>

#include "core/progress.h"

namespace globeforge {

namespace {

// How long a waiting thread polls before it sleeps: a little longer than a wake-up takes.
constexpr auto kPollTime = std::chrono::microseconds(200);

// Polls ready() (a relaxed-cost check) until it holds or the poll time is over.
template <typename Ready>
bool PollFor(Ready&& ready) {
    const auto until = std::chrono::steady_clock::now() + kPollTime;
    for (int i = 1;; ++i) {
        if (ready()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (i % 64 == 0 && std::chrono::steady_clock::now() > until) return ready();
    }
}

}  // namespace

ThreadPool::ThreadPool(int workers) {
    threads_.reserve(static_cast<size_t>(std::max(workers, 0)));
    try {
        for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { WorkerLoop(); });
    } catch (...) {
        // A thread that cannot be had (no memory for its stack) fails the pool; the ones
        // already running must be joined first, or their destructors end the program.
        StopWorkers();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    StopWorkers();
}

void ThreadPool::StopWorkers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void ThreadPool::Run(const std::function<void()>& workerJob,
                     const std::function<void()>& callerJob) {
    {
        std::lock_guard lock(mutex_);
        job_ = &workerJob;
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    callerJob();
    {
        // Workers take the job under the lock: after this none can start it.
        std::lock_guard lock(mutex_);
        job_ = nullptr;
    }
    if (PollFor([this] { return running_.load(std::memory_order_acquire) == 0; })) return;
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return running_.load(std::memory_order_acquire) == 0; });
}

void ThreadPool::WorkerLoop() {
    uint64_t seen = 0;
    for (;;) {
        const auto posted = [&] { return generation_.load(std::memory_order_acquire) != seen; };
        const std::function<void()>* job = nullptr;
        {
            if (!PollFor(posted)) {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, posted);
            }
            std::lock_guard lock(mutex_);
            if (stopping_) return;
            seen = generation_.load(std::memory_order_relaxed);
            job = job_;
            if (!job) continue;  // withdrawn before this worker got to it
            running_.fetch_add(1, std::memory_order_relaxed);
        }
        (*job)();
        if (running_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Under the lock, so a caller about to sleep cannot miss the news.
            std::lock_guard lock(mutex_);
            finished_.notify_one();
        }
    }
}

namespace {

int64_t BandCount(int64_t rows, int64_t bandRows) {
    return rows <= 0 ? 0 : (rows + bandRows - 1) / bandRows;
}

// The first exception of any band, passed on once all threads are out of the job.
class FirstError {
  public:
    void Catch() {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::current_exception();
        failed_.store(true, std::memory_order_relaxed);
    }
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }
    void Rethrow() {
        if (error_) std::rethrow_exception(error_);
    }

  private:
    std::mutex mutex_;
    std::exception_ptr error_;
    std::atomic<bool> failed_{false};
};

}  // namespace

void ParallelForBands(RenderContext& ctx, int64_t rows, int64_t bandRows,
                      const std::function<void(int64_t y0, int64_t y1)>& fn) {
    bandRows = std::max<int64_t>(bandRows, 1);
    const int64_t bands = BandCount(rows, bandRows);
    ThreadPool* pool = bands > 1 ? ctx.Pool() : nullptr;
    if (!pool) {
        for (int64_t b = 0; b < bands; ++b) fn(b * bandRows, std::min(rows, (b + 1) * bandRows));
        return;
    }
    std::atomic<int64_t> next{0};
    FirstError error;
    const std::function<void()> job = [&] {
        for (;;) {
            const int64_t b = next.fetch_add(1, std::memory_order_relaxed);
            if (b >= bands || error.Failed()) return;
            try {
                fn(b * bandRows, std::min(rows, (b + 1) * bandRows));
            } catch (...) {
                error.Catch();
            }
        }
    };
    pool->Run(job, job);
    error.Rethrow();
}

bool ParallelRows(RenderContext& ctx, int64_t rows, int64_t bandRows,
                  const std::function<void(int64_t y0, int64_t y1)>& work,
                  const std::function<bool(int64_t y)>& rowDone) {
    ThreadPool* pool = rows > 1 ? ctx.Pool() : nullptr;
    if (!pool) {
        for (int64_t y = 0; y < rows; ++y) {
            work(y, y + 1);
            if (rowDone(y)) return false;
        }
        return true;
    }
    bandRows = std::max<int64_t>(bandRows, 1);
    const int64_t bands = BandCount(rows, bandRows);
    std::atomic<int64_t> next{0};
    std::atomic<bool> stop{false};
    const auto done = std::make_unique<std::atomic<bool>[]>(static_cast<size_t>(bands));
    std::mutex mutex;
    std::condition_variable bandFinished;
    FirstError error;

    // Takes the next band and computes it; false when there is none to take.
    const auto takeBand = [&] {
        if (stop.load(std::memory_order_relaxed)) return false;
        const int64_t b = next.fetch_add(1, std::memory_order_relaxed);
        if (b >= bands) return false;
        try {
            work(b * bandRows, std::min(rows, (b + 1) * bandRows));
        } catch (...) {
            error.Catch();
            stop.store(true, std::memory_order_relaxed);
        }
        {
            std::lock_guard lock(mutex);
            done[b].store(true, std::memory_order_release);
        }
        bandFinished.notify_one();
        return true;
    };
    const std::function<void()> workerJob = [&] {
        while (takeBand()) {
        }
    };
    bool completed = true;
    const std::function<void()> callerJob = [&] {
        // Report finished bands in order; compute one more band whenever the next band to
        // report is not ready yet; sleep when there is nothing left to take.
        for (int64_t reported = 0; reported < bands;) {
            if (error.Failed()) {
                completed = false;
                return;
            }
            if (done[reported].load(std::memory_order_acquire)) {
                // A band that failed is marked done after the failure is recorded.
                if (error.Failed()) {
                    completed = false;
                    return;
                }
                const int64_t end = std::min(rows, (reported + 1) * bandRows);
                for (int64_t y = reported * bandRows; y < end; ++y) {
                    if (rowDone(y)) {
                        stop.store(true, std::memory_order_relaxed);
                        completed = false;
                        return;
                    }
                }
                ++reported;
                continue;
            }
            if (takeBand()) continue;
            std::unique_lock lock(mutex);
            bandFinished.wait(lock, [&] {
                return error.Failed() || done[reported].load(std::memory_order_acquire);
            });
        }
    };
    pool->Run(workerJob, callerJob);
    error.Rethrow();
    return completed;
}

}  // namespace globeforge

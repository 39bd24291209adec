// The threads of the zlib-exact deflate encoder.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace globeforge::png_detail {

// Threads that take numbered tasks; the calling thread takes part.
class Crew {
  public:
    // Fewer workers when threads cannot be had: the calling thread can do all the work.
    explicit Crew(int workers);
    ~Crew();
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Runs task(0 .. count - 1); false when one of them threw (the others still ran).
    bool Run(size_t count, const std::function<void(size_t)>& task);

  private:
    void Attempt(const std::function<void(size_t)>& task, size_t i);
    void Take();
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(size_t)>* task_ = nullptr;
    size_t count_ = 0, next_ = 0, pending_ = 0;
    uint64_t generation_ = 0;
    bool stopping_ = false;
    std::atomic<bool> failed_{false};
    std::vector<std::thread> threads_;
};

}  // namespace globeforge::png_detail

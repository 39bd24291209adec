#include "image/png_deflate_crew.h"

#include <new>
#include <system_error>

namespace globeforge::png_detail {

Crew::Crew(int workers) {
    try {
        for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
}

Crew::~Crew() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

bool Crew::Run(size_t count, const std::function<void(size_t)>& task) {
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

void Crew::Attempt(const std::function<void(size_t)>& task, size_t i) {
    try {
        task(i);
    } catch (...) {
        failed_ = true;
    }
}

void Crew::Take() {
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

void Crew::Work() {
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

}  // namespace globeforge::png_detail

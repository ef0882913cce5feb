#include "tools/arrayhost/workers.h"

#include <algorithm>

namespace arrayhost {

Workers::Workers() : Workers(int(std::max(1u, std::thread::hardware_concurrency()))) {}

Workers::Workers(int threads) {
    for (int i = 0; i < std::max(threads, 1); ++i) threads_.emplace_back([this] { work(); });
}

Workers::~Workers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void Workers::submit(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void Workers::wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && running_ == 0; });
}

void Workers::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;  // stopping, with nothing left to do
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        ++running_;
        lock.unlock();
        job();
        // Whatever the job holds goes before wait() can return.
        job = nullptr;
        lock.lock();
        --running_;
        if (jobs_.empty() && running_ == 0) idle_.notify_all();
    }
}

}  // namespace arrayhost

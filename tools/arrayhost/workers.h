// Threads for the stand-in host's own arithmetic. Every call into the
// plug-in stays on the thread that created the instance, as in the host
// program; only sums of answers already read go to the workers.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace arrayhost {

class Workers {
public:
    // One worker per processor the machine reports (at least one).
    Workers();
    explicit Workers(int threads);
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    int size() const { return int(threads_.size()); }
    void submit(std::function<void()> job);
    // Returns when every job submitted so far has finished.
    void wait();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::function<void()>> jobs_;
    int running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace arrayhost

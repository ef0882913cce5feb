// A progress bar on stderr for sweeps that run longer than a second: nothing
// is drawn before then, and at most ten updates a second after.
#pragma once

#include <chrono>
#include <cstdio>

namespace arrayhost {

class ProgressBar {
public:
    explicit ProgressBar(long total, std::FILE* out = stderr);
    ~ProgressBar();
    void update(long done);
    void finish();

private:
    using Clock = std::chrono::steady_clock;
    void draw(long done, Clock::time_point now);

    long total_;
    std::FILE* out_;
    Clock::time_point start_, lastDraw_;
    bool drawn_ = false, finished_ = false;
};

}  // namespace arrayhost

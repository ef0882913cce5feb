#include "tools/arrayhost/progress.h"

namespace arrayhost {

namespace {
constexpr auto kQuietFor = std::chrono::seconds(1);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 40;
}  // namespace

ProgressBar::ProgressBar(long total, std::FILE* out) : total_(total), out_(out), start_(Clock::now()) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(long done) {
    const auto now = Clock::now();
    if (now - start_ < kQuietFor || (drawn_ && now - lastDraw_ < kRedrawEvery)) return;
    draw(done, now);
}

void ProgressBar::finish() {
    if (finished_) return;
    finished_ = true;
    if (!drawn_) return;
    draw(total_, Clock::now());
    std::fprintf(out_, "\n");
    std::fflush(out_);
}

void ProgressBar::draw(long done, Clock::time_point now) {
    lastDraw_ = now;
    drawn_ = true;
    const double fraction = total_ > 0 ? double(done) / double(total_) : 1.0;
    const int filled = int(fraction * kBarWidth);
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = '\0';
    std::fprintf(out_, "\r[%s] %3d%%  %ld/%ld seats  %.1f s", bar, int(fraction * 100), done, total_, elapsed);
    std::fflush(out_);
}

}  // namespace arrayhost

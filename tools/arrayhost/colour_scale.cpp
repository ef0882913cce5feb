#include "tools/arrayhost/colour_scale.h"

#include <algorithm>
#include <cmath>

namespace arrayhost {

namespace {

struct Stop {
    double at;
    Rgb colour;
};

constexpr Stop kStops[] = {
    {0.00, {40, 30, 100}},  {0.14, {40, 90, 220}},  {0.28, {40, 170, 240}}, {0.42, {40, 210, 160}},
    {0.56, {130, 230, 70}}, {0.70, {240, 220, 40}}, {0.84, {250, 130, 30}}, {1.00, {190, 20, 20}},
};

uint8_t mix(uint8_t a, uint8_t b, double t) { return uint8_t(std::lround(a + (b - a) * t)); }

}  // namespace

ColourScale::ColourScale(double loudestDb, double rangeDb) : rangeDb_(rangeDb) {
    tickStepDb_ = rangeDb <= 15 ? 1.5 : rangeDb <= 36 ? 3.0 : rangeDb <= 72 ? 6.0 : 12.0;
    topDb_ = std::ceil(loudestDb / tickStepDb_ - 1e-9) * tickStepDb_;
}

Rgb ColourScale::operator()(double levelDb) const {
    const double t = std::clamp((levelDb - bottomDb()) / rangeDb_, 0.0, 1.0);
    for (size_t i = 1; i < std::size(kStops); ++i) {
        if (t <= kStops[i].at) {
            const Stop& a = kStops[i - 1];
            const Stop& b = kStops[i];
            const double u = (t - a.at) / (b.at - a.at);
            return {mix(a.colour.r, b.colour.r, u), mix(a.colour.g, b.colour.g, u), mix(a.colour.b, b.colour.b, u)};
        }
    }
    return kStops[std::size(kStops) - 1].colour;
}

std::vector<double> ColourScale::ticks() const {
    std::vector<double> out;
    for (double level = topDb_; level >= bottomDb() - 1e-9; level -= tickStepDb_) out.push_back(level);
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace arrayhost

#include "acoustics/balloon_analysis.h"

#include <algorithm>
#include <cmath>

namespace acoustics {

namespace {
constexpr double kPi = 3.141592653589793;
}

double nodeSolidAngleSr(int polar) {
    const double halfStepDeg = 0.5 * kGridStepDeg;
    const double lowDeg = std::max(0.0, polar * kGridStepDeg - halfStepDeg);
    const double highDeg = std::min(180.0, polar * kGridStepDeg + halfStepDeg);
    const double zoneSr = 2.0 * kPi * (std::cos(lowDeg * kPi / 180.0) - std::cos(highDeg * kPi / 180.0));
    return zoneSr / kMeridianCount;
}

double directivityFactor(const float* bandBlock) {
    // Sum row by row so that an all-zero block divides two identical sums.
    double sphereSr = 0.0;
    double radiated = 0.0;
    for (int polar = 0; polar < kPolarCount; ++polar) {
        const double weightSr = nodeSolidAngleSr(polar);
        for (int meridian = 0; meridian < kMeridianCount; ++meridian) {
            const double level = bandBlock[meridian * kPolarCount + polar];
            sphereSr += weightSr;
            radiated += weightSr * std::pow(10.0, level / 10.0);
        }
    }
    return sphereSr / radiated;
}

BalloonRange balloonRange(const float* balloon) {
    BalloonRange range{balloon[0], balloon[0], 0, 0};
    for (int i = 1; i < kBalloonValueCount; ++i) {
        if (balloon[i] < range.minDb) range = {balloon[i], range.maxDb, i, range.maxIndex};
        if (balloon[i] > range.maxDb) range = {range.minDb, balloon[i], range.minIndex, i};
    }
    return range;
}

}  // namespace acoustics

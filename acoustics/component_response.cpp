#include "acoustics/component_response.h"

#include <cmath>

#include "acoustics/balloon_grid.h"
#include "geometry/fast_atan2.h"
#include "geometry/scalar.h"

namespace acoustics {

namespace {

// Grid coordinates per degree. Multiplying by the single-precision 1/5 keeps
// every whole multiple of 5 degrees exactly on its node.
constexpr float kNodesPerDeg = 1.0f / float(kGridStepDeg);

// Nodes either side of a grid coordinate (not negative) and their weights; a
// coordinate on a node splits its weight evenly between the two equal nodes.
struct Bracket {
    int low, high;
    float weightLow, weightHigh;
};

Bracket bracket(float coordinate) {
    const int low = int(coordinate);  // truncation is the floor here
    const int high = float(low) < coordinate ? low + 1 : low;
    Bracket b{low, high, std::fabs(coordinate - float(high)), std::fabs(coordinate - float(low))};
    if (b.weightLow + b.weightHigh == 0.0f) b.weightLow = b.weightHigh = 0.5f;
    return b;
}

}  // namespace

SeatDirection seatDirection(const geometry::Vector3& v) {
    if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z)) return {0.0f, 0.0f, false};
    // In double: far seats cannot overflow the squares, and the angles round
    // to single precision only once, at the end.
    const double x = v.x, y = v.y, z = v.z;
    const double horizontal = std::sqrt(x * x + z * z);
    // The polar angle from the -y axis (0 for a seat at the cell itself), and
    // the meridian angle about it from +z toward -x.
    const geometry::AnglePair angles = geometry::fastAtan2Pair(horizontal, -y, -x, z);
    const float polarDeg = float(angles.first * geometry::kRadiansToDegrees);
    float meridianDeg = float(angles.second * geometry::kRadiansToDegrees);
    if (meridianDeg < 0.0f) meridianDeg += 360.0f;
    return {geometry::clamp(polarDeg, 0.0f, 180.0f), geometry::clamp(meridianDeg, 0.0f, 360.0f), true};
}

BalloonSample balloonSample(const SeatDirection& direction) {
    const Bracket m = bracket(direction.meridianDeg * kNodesPerDeg);
    const Bracket p = bracket(direction.polarDeg * kNodesPerDeg);
    const int m0 = m.low == kMeridianCount ? 0 : m.low;
    const int m1 = m.high == kMeridianCount ? 0 : m.high;
    return {m0 * kPolarCount + p.low,  m1 * kPolarCount + p.low, m0 * kPolarCount + p.high,
            m1 * kPolarCount + p.high, m.weightLow,              m.weightHigh,
            p.weightLow,               p.weightHigh};
}

float farFieldOffsetDb(float transitionDistanceM) {
    const float effective = transitionDistanceM > kReferenceDistanceM ? transitionDistanceM : kReferenceDistanceM;
    return 10.0f * std::log10(effective);
}

SeatDistance seatDistance(float distanceM) {
    const float loss = distanceM > kReferenceDistanceM ? 10.0f * std::log10(distanceM) : 0.0f;
    return {distanceM, loss};
}

void componentLevels(const SeatDirection& direction, const SeatDistance& seat, const ResponseTables& tables,
                     float* __restrict levelsDb) {
    if (!direction.valid || std::isnan(seat.distanceM)) {
        for (int band = 0; band < kBandCount; ++band) levelsDb[band] = 0.0f;
        return;
    }
    const BalloonSample s = balloonSample(direction);
    const float w00 = s.weightM0 * s.weightP0, w10 = s.weightM1 * s.weightP0;
    const float w01 = s.weightM0 * s.weightP1, w11 = s.weightM1 * s.weightP1;

    // First the four nodes of every band, one fixed stride apart...
    float directional[kBandCount];
    const float* block = tables.balloonDb;
    for (int band = 0; band < kBandCount; ++band, block += kBalloonBandStride) {
        directional[band] = w01 * block[s.offsetM0P1] + w11 * block[s.offsetM1P1] + w00 * block[s.offsetM0P0] +
                            w10 * block[s.offsetM1P0];
    }
    // ...then the rest band by band, free of branches so that it vectorises.
    const float d = seat.distanceM;
    const float t = seat.nearFieldLossDb;
    for (int band = 0; band < kBandCount; ++band) {
        const float farField = 2.0f * t - tables.farFieldOffsetDb[band];
        const float loss = farField > t ? farField : t;
        const float level = directional[band] + tables.onAxisLevelDb[band] + tables.filterGainDb[band] -
                            d * tables.airAbsorptionDbPerM[band] - loss;
        // The floor also catches a NaN from a filter gain the host set to NaN.
        levelsDb[band] = level > 0.0f ? level : 0.0f;
    }
}

}  // namespace acoustics

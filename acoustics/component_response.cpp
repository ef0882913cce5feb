#include "acoustics/component_response.h"

#include <emmintrin.h>

#include <cmath>

#include "acoustics/balloon_grid.h"
#include "geometry/fast_atan2.h"
#include "geometry/scalar.h"

namespace acoustics {

namespace {

// Degrees per grid step. Dividing by it rounds each grid coordinate once,
// and every whole multiple of 5 degrees lands exactly on its node.
constexpr float kDegPerNode = float(kGridStepDeg);

// Two seats at a time, one per lane: the host asks for every cell at each
// seat, and the cells' square roots, divisions and arc tangents are the
// larger part of a call's work. Angles are kept as polar a, polar b,
// meridian a, meridian b in degrees.
struct TwoDirections {
    __m128 degrees;
    int finite;  // bit 0 for seat a, bit 1 for seat b
};

// Directions in each cell's own axes (aim along -y, z up). In double: far
// seats cannot overflow the squares, and the angles round to single
// precision only once, at the end.
inline TwoDirections twoDirections(__m128d x, __m128d y, __m128d z) {
    const __m128d zero = _mm_setzero_pd();
    // v - v is 0 for a finite v and NaN otherwise. A seat that is not finite
    // goes on as the cell's own position, so that the arc tangents see
    // finite numbers.
    const __m128d finite = _mm_and_pd(_mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(x, x), zero), _mm_cmpeq_pd(_mm_sub_pd(y, y), zero)),
                                      _mm_cmpeq_pd(_mm_sub_pd(z, z), zero));
    x = _mm_and_pd(x, finite);
    y = _mm_and_pd(y, finite);
    z = _mm_and_pd(z, finite);
    const __m128d horizontal = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(z, z)));
    // The polar angle from the -y axis (0 for a seat at the cell itself), and
    // the meridian angle about it from +z toward -x.
    const __m128d negate = _mm_set1_pd(-0.0);
    const __m128d polar = geometry::fastAtan2(horizontal, _mm_xor_pd(y, negate));
    const __m128d meridian = geometry::fastAtan2(_mm_xor_pd(x, negate), z);
    const __m128d toDegrees = _mm_set1_pd(geometry::kRadiansToDegrees);
    __m128 degrees =
        _mm_movelh_ps(_mm_cvtpd_ps(_mm_mul_pd(polar, toDegrees)), _mm_cvtpd_ps(_mm_mul_pd(meridian, toDegrees)));
    // Meridians from (-180, 180] to [0, 360), then both held to their ranges.
    const __m128 zero4 = _mm_setzero_ps();
    degrees = _mm_add_ps(degrees, _mm_and_ps(_mm_cmplt_ps(degrees, zero4), _mm_set_ps(360.0f, 360.0f, 0.0f, 0.0f)));
    degrees = _mm_min_ps(_mm_max_ps(degrees, zero4), _mm_set_ps(360.0f, 360.0f, 180.0f, 180.0f));
    return {degrees, _mm_movemask_pd(finite)};
}

constexpr BalloonSample kNoSample = {{0, 0}, {0.0f, 0.0f, 0.0f, 0.0f}, false};

// Each angle's node at or below it, and the weights of that node and the
// next: an angle on a node gives it all the weight. The polar pair stays
// inside the grid, so straight behind reads row 35 with weight 0 and row 36
// with weight 1; meridian 72 folds to 0. Writes `count` (1 or 2) samples.
inline void twoSamples(const TwoDirections& directions, BalloonSample* samples, int count) {
    const __m128 coordinate = _mm_div_ps(directions.degrees, _mm_set1_ps(kDegPerNode));
    __m128i low = _mm_cvttps_epi32(coordinate);  // truncation is the floor here
    const __m128i last = _mm_set_epi32(kMeridianCount, kMeridianCount, kPolarCount - 2, kPolarCount - 2);
    const __m128i beyond = _mm_cmpgt_epi32(low, last);
    low = _mm_or_si128(_mm_andnot_si128(beyond, low), _mm_and_si128(beyond, last));
    const __m128 lowNode = _mm_cvtepi32_ps(low);
    // polar a, polar b, meridian a, meridian b
    const __m128 weightLow = _mm_sub_ps(_mm_add_ps(lowNode, _mm_set1_ps(1.0f)), coordinate);
    const __m128 weightHigh = _mm_sub_ps(coordinate, lowNode);
    // polar low, polar high of a, then of b; meridian low, meridian high of a, then of b
    const __m128 polarWeights = _mm_unpacklo_ps(weightLow, weightHigh);
    const __m128 meridianWeights = _mm_unpackhi_ps(weightLow, weightHigh);
    const __m128 weights[2] = {
        _mm_mul_ps(_mm_shuffle_ps(meridianWeights, meridianWeights, _MM_SHUFFLE(1, 1, 0, 0)),
                   _mm_movelh_ps(polarWeights, polarWeights)),
        _mm_mul_ps(_mm_shuffle_ps(meridianWeights, meridianWeights, _MM_SHUFFLE(3, 3, 2, 2)),
                   _mm_movehl_ps(polarWeights, polarWeights)),
    };
    alignas(16) int32_t nodes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(nodes), low);
    for (int k = 0; k < count; ++k) {
        if ((directions.finite >> k & 1) == 0) {
            samples[k] = kNoSample;
            continue;
        }
        const int p0 = nodes[k];
        const int m0 = nodes[2 + k] == kMeridianCount ? 0 : nodes[2 + k];
        const int m1 = m0 + 1 == kMeridianCount ? 0 : m0 + 1;
        samples[k].offsets[0] = m0 * kPolarCount + p0;
        samples[k].offsets[1] = m1 * kPolarCount + p0;
        _mm_storeu_ps(samples[k].weights, weights[k]);
        samples[k].valid = true;
    }
}

}  // namespace

SeatDirection seatDirection(const geometry::Vector3& v) {
    const TwoDirections directions = twoDirections(_mm_set1_pd(v.x), _mm_set1_pd(v.y), _mm_set1_pd(v.z));
    if ((directions.finite & 1) == 0) return {0.0f, 0.0f, false};
    alignas(16) float degrees[4];
    _mm_store_ps(degrees, directions.degrees);
    return {degrees[0], degrees[2], true};
}

BalloonSample balloonSample(const SeatDirection& direction) {
    BalloonSample sample;
    twoSamples({_mm_set_ps(direction.meridianDeg, direction.meridianDeg, direction.polarDeg, direction.polarDeg),
                direction.valid ? 3 : 0},
               &sample, 1);
    return sample;
}

namespace {

// Two neighbouring floats of an array, widened to double.
inline __m128d twoWide(const float* p) {
    return _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)));
}

}  // namespace

void balloonSamples(const SeatVectors& seats, int count, BalloonSample* samples) {
    for (int k = 0; k < count; k += 2) {
        const TwoDirections directions = twoDirections(twoWide(seats.x + k), twoWide(seats.y + k), twoWide(seats.z + k));
        twoSamples(directions, samples + k, count - k < 2 ? 1 : 2);
    }
}

float farFieldOffsetDb(float transitionDistanceM) {
    const float effective = transitionDistanceM > kReferenceDistanceM ? transitionDistanceM : kReferenceDistanceM;
    return 10.0f * std::log10(effective);
}

SeatDistance seatDistance(float distanceM) {
    const float loss = distanceM > kReferenceDistanceM ? 10.0f * std::log10(distanceM) : 0.0f;
    return {distanceM, loss};
}

void baseLevels(const SeatDistance& seat, const BaseTables& tables, float* __restrict baseDb) {
    // A distance that is not a number makes every band NaN: d times even a
    // zero absorption is NaN.
    const float d = seat.distanceM;
    const float t = seat.nearFieldLossDb;
    for (int band = 0; band < kBandCount; ++band) {
        const float farField = 2.0f * t - tables.farFieldOffsetDb[band];
        const float loss = farField > t ? farField : t;
        baseDb[band] = tables.onAxisLevelDb[band] + tables.filterGainDb[band] - d * tables.airAbsorptionDbPerM[band] - loss;
    }
}

}  // namespace acoustics

#include "acoustics/component_response.h"

#include <emmintrin.h>

#include <cmath>

#include "acoustics/balloon_grid.h"
#include "geometry/fast_atan2.h"

namespace acoustics {

namespace {

// Degrees per grid step. Dividing by it rounds each grid coordinate once,
// and every whole multiple of 5 degrees lands exactly on its node.
constexpr float kDegPerNode = float(kGridStepDeg);

// The seat seen from four cells at a time, one cell per lane: working out a
// new seat for the whole array is mostly square roots, divisions and arc
// tangents, and four lanes share each of those instructions.
struct FourDirections {
    __m128 polarDeg;
    __m128 meridianDeg;
    int finite;  // bit k for lane k
};

// Directions in each cell's own axes (aim along -y, z up).
inline FourDirections fourDirections(__m128 x, __m128 y, __m128 z) {
    const __m128 zero = _mm_setzero_ps();
    // v - v is 0 for a finite v and NaN otherwise. A seat that is not finite
    // goes on as the cell's own position, so that the arc tangents see
    // finite numbers.
    const __m128 finite = _mm_and_ps(_mm_and_ps(_mm_cmpeq_ps(_mm_sub_ps(x, x), zero), _mm_cmpeq_ps(_mm_sub_ps(y, y), zero)),
                                     _mm_cmpeq_ps(_mm_sub_ps(z, z), zero));
    x = _mm_and_ps(x, finite);
    y = _mm_and_ps(y, finite);
    z = _mm_and_ps(z, finite);
    // Scaled by a power of two that brings the largest component into [1, 4)
    // (a subnormal one stays below 2), which leaves the angles and every
    // rounding as they were, so that the squares of far seats cannot overflow
    // nor those of near ones underflow. Only components below 2^-126 of the
    // largest can lose bits, far too few to move an angle.
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 largest =
        _mm_max_ps(_mm_max_ps(_mm_andnot_ps(signBit, x), _mm_andnot_ps(signBit, y)), _mm_andnot_ps(signBit, z));
    // The biased exponent: the sign is clear and the value finite, so 0 to 254.
    const __m128i exponent = _mm_srli_epi32(_mm_castps_si128(largest), 23);
    // The scale 2^(127 - exponent), its biased exponent held at 1 or more (0
    // would make it zero). SSE2 has no 32-bit integer maximum; the 16-bit one
    // gives the same here, as both operands lie in 0 to 254: in each lane the
    // upper halves are zero and the lower halves non-negative.
    const __m128i scaleExponent = _mm_max_epi16(_mm_sub_epi32(_mm_set1_epi32(254), exponent), _mm_set1_epi32(1));
    const __m128 scale = _mm_castsi128_ps(_mm_slli_epi32(scaleExponent, 23));
    x = _mm_mul_ps(x, scale);
    y = _mm_mul_ps(y, scale);
    z = _mm_mul_ps(z, scale);
    const __m128 horizontal = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(x, x), _mm_mul_ps(z, z)));
    // The polar angle from the -y axis (0 for a seat at the cell itself), and
    // the meridian angle about it from +z toward -x, from (-180, 180] to
    // [0, 360); both held to their ranges.
    const __m128 polarDeg = geometry::fastAtan2Degrees(horizontal, _mm_xor_ps(y, signBit));
    __m128 meridianDeg = geometry::fastAtan2Degrees(_mm_xor_ps(x, signBit), z);
    meridianDeg = _mm_add_ps(meridianDeg, _mm_and_ps(_mm_cmplt_ps(meridianDeg, zero), _mm_set1_ps(360.0f)));
    return {_mm_min_ps(_mm_max_ps(polarDeg, zero), _mm_set1_ps(180.0f)),
            _mm_min_ps(_mm_max_ps(meridianDeg, zero), _mm_set1_ps(360.0f)), _mm_movemask_ps(finite)};
}

constexpr BalloonSample kNoSample = {{0, 0}, {0.0f, 0.0f, 0.0f, 0.0f}, false};

// The node at or below a grid coordinate, at most `last`, and the weights of
// it and the next node: a coordinate on a node gives it all the weight.
struct Brackets {
    __m128i low;
    __m128 weightLow, weightHigh;
};

inline Brackets brackets(__m128 degrees, int last) {
    const __m128 coordinate = _mm_div_ps(degrees, _mm_set1_ps(kDegPerNode));
    // The angles are never negative, so truncation is the floor.
    __m128i low = _mm_cvttps_epi32(coordinate);
    const __m128i lastNode = _mm_set1_epi32(last);
    const __m128i beyond = _mm_cmpgt_epi32(low, lastNode);
    low = _mm_or_si128(_mm_andnot_si128(beyond, low), _mm_and_si128(beyond, lastNode));
    const __m128 lowNode = _mm_cvtepi32_ps(low);
    return {low, _mm_sub_ps(_mm_add_ps(lowNode, _mm_set1_ps(1.0f)), coordinate), _mm_sub_ps(coordinate, lowNode)};
}

// m * 37, the offset of meridian row m within a band's block.
inline __m128i rowOffset(__m128i m) {
    static_assert(kPolarCount == 37);
    return _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(m, 5), _mm_slli_epi32(m, 2)), m);
}

// Writes `count` (1 to 4) samples. The polar pair stays inside the grid, so
// straight behind reads polar node 35 with weight 0 and node 36 with weight 1;
// meridian 72 folds to 0.
inline void fourSamples(const FourDirections& directions, BalloonSample* samples, int count) {
    const Brackets p = brackets(directions.polarDeg, kPolarCount - 2);
    const Brackets m = brackets(directions.meridianDeg, kMeridianCount);
    const __m128i meridians = _mm_set1_epi32(kMeridianCount);
    const __m128i m0 = _mm_andnot_si128(_mm_cmpeq_epi32(m.low, meridians), m.low);
    __m128i m1 = _mm_add_epi32(m0, _mm_set1_epi32(1));
    m1 = _mm_andnot_si128(_mm_cmpeq_epi32(m1, meridians), m1);
    alignas(16) int32_t offsets0[4], offsets1[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(offsets0), _mm_add_epi32(rowOffset(m0), p.low));
    _mm_store_si128(reinterpret_cast<__m128i*>(offsets1), _mm_add_epi32(rowOffset(m1), p.low));
    // The four node weights of every lane, then turned to one lane's four.
    __m128 w00 = _mm_mul_ps(m.weightLow, p.weightLow), w01 = _mm_mul_ps(m.weightLow, p.weightHigh);
    __m128 w10 = _mm_mul_ps(m.weightHigh, p.weightLow), w11 = _mm_mul_ps(m.weightHigh, p.weightHigh);
    _MM_TRANSPOSE4_PS(w00, w01, w10, w11);
    const __m128 weights[4] = {w00, w01, w10, w11};
    for (int k = 0; k < count; ++k) {
        if ((directions.finite >> k & 1) == 0) {
            samples[k] = kNoSample;
            continue;
        }
        samples[k].offsets[0] = offsets0[k];
        samples[k].offsets[1] = offsets1[k];
        _mm_storeu_ps(samples[k].weights, weights[k]);
        samples[k].valid = true;
    }
}

}  // namespace

SeatDirection seatDirection(const geometry::Vector3& v) {
    const FourDirections directions = fourDirections(_mm_set1_ps(v.x), _mm_set1_ps(v.y), _mm_set1_ps(v.z));
    if ((directions.finite & 1) == 0) return {0.0f, 0.0f, false};
    return {_mm_cvtss_f32(directions.polarDeg), _mm_cvtss_f32(directions.meridianDeg), true};
}

BalloonSample balloonSample(const SeatDirection& direction) {
    BalloonSample sample;
    fourSamples({_mm_set1_ps(direction.polarDeg), _mm_set1_ps(direction.meridianDeg), direction.valid ? 1 : 0},
                &sample, 1);
    return sample;
}

void balloonSamples(const SeatVectors& seats, int count, BalloonSample* samples) {
    static_assert(models::kCellCapacity % 4 == 0);
    for (int k = 0; k < count; k += 4) {
        const FourDirections directions =
            fourDirections(_mm_load_ps(seats.x + k), _mm_load_ps(seats.y + k), _mm_load_ps(seats.z + k));
        fourSamples(directions, samples + k, count - k < 4 ? count - k : 4);
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

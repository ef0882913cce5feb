// What one cell radiates toward a seat: its directivity balloon read at the
// seat's direction in the cell's own frame, plus its on-axis level and the
// user's filter, less air absorption and the distance law, per band.
//
// The host asks this for every cell at every seat of its maps, so everything
// that does not change from call to call is computed beforehand: absorption
// with the humidity, the far-field offsets with the layout, the seat distance
// and its logarithm with the seat. Per seat, the balloon nodes and weights of
// every cell are found four cells at a time, and the direction-free part of
// the levels once per cabinet kind; a call then only reads its cell's nodes
// and adds.
#pragma once

#include <xmmintrin.h>

#include "acoustics/balloon_grid.h"
#include "acoustics/bands.h"
#include "geometry/vector3.h"

namespace acoustics {

// Direction of a seat seen from a cell, in the cell's own axes (aim along -y,
// z up): polar angle from the axis, 0 to 180 degrees, and meridian angle about
// the axis from +z toward -x, 0 to 360 degrees. Not valid when the seat vector
// is not finite.
struct SeatDirection {
    float polarDeg;
    float meridianDeg;
    bool valid;
};

SeatDirection seatDirection(const geometry::Vector3& seatInCellFrame);

// Where a cell reads its balloon for one seat: the four nodes around the
// seat's direction, as two polar pairs (m0, p0), (m0, p0 + 1) and (m1, p0),
// (m1, p0 + 1) given by the offsets of their first nodes within one band's
// 72 x 37 block (meridian 72 folds to 0), and the bilinear weights of the four
// nodes in that order, each the product of a meridian and a polar weight. A
// seat without a finite direction reads no node and is not valid.
struct BalloonSample {
    int offsets[2];
    float weights[4];
    bool valid;
};

BalloonSample balloonSample(const SeatDirection& direction);

// A seat in the axes of each cell of an array, x, y and z each in an array of
// their own, so that four cells fill one vector. Entries past the cell count
// may hold anything.
struct SeatVectors {
    alignas(16) float x[models::kCellCapacity];
    alignas(16) float y[models::kCellCapacity];
    alignas(16) float z[models::kCellCapacity];
};

// balloonSample(seatDirection(v)) for the first `count` seat vectors, four
// cells at a time, one per SSE lane; faster than one by one, with the same
// results. Only samples[0 .. count - 1] are written.
void balloonSamples(const SeatVectors& seats, int count, BalloonSample* samples);

// The distance law: no loss within 1 m, then 3 dB per doubling of distance up
// to the transition distance X and 6 dB per doubling beyond it, continuous at
// X. A transition distance below 1 m is taken as 1 m, so short arrays and
// single cells fall 6 dB per doubling from the 1 m reference instead of going
// silent. With t = 10 log10 d (0 within 1 m) and x = 10 log10 max(X, 1 m) the
// loss is max(t, 2t - x).
inline constexpr float kReferenceDistanceM = 1.0f;

// x above, kept per band with the layout.
float farFieldOffsetDb(float transitionDistanceM);

// The seat's distance from the array and t above, kept with the seat.
struct SeatDistance {
    float distanceM;
    float nearFieldLossDb;
};
SeatDistance seatDistance(float distanceM);

// Everything the direction-free part of a cell's levels depends on.
struct BaseTables {
    const float* onAxisLevelDb;        // 21, the cell's kind
    const float* filterGainDb;         // 21
    const float* airAbsorptionDbPerM;  // 21; zeros to leave absorption out
    const float* farFieldOffsetDb;     // 21
};

// The part of a cell's levels that does not depend on its direction, per
// band: on-axis level plus filter gain, less air absorption over the seat
// distance and the distance law. The same for every cell of one kind at one
// seat. NaN in every band when the seat distance is not a number.
void baseLevels(const SeatDistance& seat, const BaseTables& tables, float* __restrict baseDb);

namespace detail {

// The polar pairs of two bands, `band` and `band + 1`, on one meridian row.
// A pair is two adjacent floats, p0 and p0 + 1 with p0 at most 35, so one
// 64-bit load takes it (movlps, movhps: no alignment needed).
inline __m128 pairsOfTwoBands(const float* row, int band) {
    const float* pair = row + band * kBalloonBandStride;
    const __m128 low = _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(pair));
    return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(pair + kBalloonBandStride));
}

// The levels of four bands from `first` on. Each band's value is
// (w00 v00 + w10 v10) + (w01 v01 + w11 v11) over its four nodes. The floor,
// level > 0 ? level : 0, also takes a NaN base level to 0: maxps returns its
// second operand, the zero, when either is NaN.
inline void fourBands(int first, const float* row0, const float* row1, __m128 weights0, __m128 weights1,
                      const float* baseDb, float* levelsDb) {
    // Lanes: p0 and p1 of band first, p0 and p1 of band first + 1; then the same for the next two bands.
    const __m128 lower = _mm_add_ps(_mm_mul_ps(weights0, pairsOfTwoBands(row0, first)),
                                    _mm_mul_ps(weights1, pairsOfTwoBands(row1, first)));
    const __m128 upper = _mm_add_ps(_mm_mul_ps(weights0, pairsOfTwoBands(row0, first + 2)),
                                    _mm_mul_ps(weights1, pairsOfTwoBands(row1, first + 2)));
    const __m128 directional = _mm_add_ps(_mm_shuffle_ps(lower, upper, _MM_SHUFFLE(2, 0, 2, 0)),
                                          _mm_shuffle_ps(lower, upper, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128 level = _mm_add_ps(directional, _mm_loadu_ps(baseDb + first));
    _mm_storeu_ps(levelsDb + first, _mm_max_ps(level, _mm_setzero_ps()));
}

// One band alone, in the same operations and order as fourBands.
inline void oneBand(int band, const float* row0, const float* row1, const float* w, const float* baseDb,
                    float* levelsDb) {
    const float* node0 = row0 + band * kBalloonBandStride;
    const float* node1 = row1 + band * kBalloonBandStride;
    const float directional = (w[0] * node0[0] + w[2] * node1[0]) + (w[1] * node0[1] + w[3] * node1[1]);
    const float level = directional + baseDb[band];
    levelsDb[band] = level > 0.0f ? level : 0.0f;
}

}  // namespace detail

// Writes the 21 levels in dB: the balloon (21 blocks of 72 x 37, the cell's
// kind) read at the sample, plus the base levels, each floored at 0 dB. A
// sample that is not valid gives the floor in every band. Inline, with four
// bands at a time: this is the host's innermost loop.
inline void componentLevels(const BalloonSample& sample, const float* balloonDb, const float* baseDb,
                            float* __restrict levelsDb) {
    if (!sample.valid) {
        for (int band = 0; band < kBandCount; ++band) levelsDb[band] = 0.0f;
        return;
    }
    const float* row0 = balloonDb + sample.offsets[0];
    const float* row1 = balloonDb + sample.offsets[1];
    // The weights of row m0 (w00, w01) and of row m1 (w10, w11), each twice.
    const __m128 weights = _mm_loadu_ps(sample.weights);
    const __m128 weights0 = _mm_movelh_ps(weights, weights);
    const __m128 weights1 = _mm_movehl_ps(weights, weights);
    int band = 0;
    for (; band + 4 <= kBandCount; band += 4) {
        detail::fourBands(band, row0, row1, weights0, weights1, baseDb, levelsDb);
    }
    for (; band < kBandCount; ++band) detail::oneBand(band, row0, row1, sample.weights, baseDb, levelsDb);
}

}  // namespace acoustics

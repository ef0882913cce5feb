// What one cell radiates toward a seat: its directivity balloon read at the
// seat's direction in the cell's own frame, plus its on-axis level and the
// user's filter, less air absorption and the distance law, per band.
//
// The host asks this for every cell at every seat of its maps, so everything
// that does not change from call to call is computed beforehand: absorption
// with the humidity, the far-field offsets with the layout, the seat distance
// and its logarithm with the seat, and the balloon nodes and weights once per
// call rather than per band.
#pragma once

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

// The four balloon nodes around a direction and their bilinear weights.
// Offsets are within one band's 72 x 37 block; meridian 72 folds to 0.
struct BalloonSample {
    int offsetM0P0, offsetM1P0, offsetM0P1, offsetM1P1;
    float weightM0, weightM1, weightP0, weightP1;
};

// Only for a valid direction: polar within 0..180, meridian within 0..360.
BalloonSample balloonSample(const SeatDirection& direction);

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

// Everything a cell's levels depend on besides the direction and distance.
struct ResponseTables {
    const float* balloonDb;            // 21 blocks of 72 x 37, the cell's kind
    const float* onAxisLevelDb;        // 21, the cell's kind
    const float* filterGainDb;         // 21
    const float* airAbsorptionDbPerM;  // 21; zeros to leave absorption out
    const float* farFieldOffsetDb;     // 21
};

// Writes the 21 levels in dB, each floored at 0 dB. An invalid direction or
// a seat distance that is not a number gives the floor in every band.
void componentLevels(const SeatDirection& direction, const SeatDistance& seat, const ResponseTables& tables,
                     float* __restrict levelsDb);

}  // namespace acoustics

// Measures taken over a whole directivity balloon: the solid angle each grid
// node stands for, the directivity factor of a band and the value range.
// Used by the data tools and the tests, not at run time.
#pragma once

#include "acoustics/balloon_grid.h"

namespace acoustics {

// Solid angle in steradians of one node of polar row p: the zone from
// 2.5 degrees before to 2.5 degrees after the row (clipped at the poles),
// shared equally by the 72 meridians. The weights of the grid sum to 4 pi.
double nodeSolidAngleSr(int polar);

// Q = 4 pi / (integral of 10^(V/10) over the sphere), from the 72 x 37 block
// of one band. An all-zero block gives exactly 1.
double directivityFactor(const float* bandBlock);

struct BalloonRange {
    float minDb;
    float maxDb;
    int minIndex;  // first position of the minimum in the balloon
    int maxIndex;
};

// Smallest and largest value of a whole balloon (21 bands).
BalloonRange balloonRange(const float* balloon);

}  // namespace acoustics

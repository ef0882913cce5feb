// Placeholder directivity balloons made from a physical model of the cabinet,
// calibrated so that they honour every published value of the product: the
// directivity factor of each band, the quoted balloon nodes, the rear level
// of the top band and the largest and smallest values.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "acoustics/balloon_grid.h"

namespace balloon {

using Balloon = std::vector<float>;  // kBalloonValueCount values, band-meridian-polar

// One quoted node of a balloon. Band is an index 0 to 20.
struct QuotedNode {
    int band;
    int meridianDeg;
    int polarDeg;
    float levelDb;
};

// The model's shape in one band. Horizontal: a constant-directivity horn whose
// coverage widens below the frequency at which the cabinet width stops
// controlling it. Vertical: a line source of the front height, averaged over
// the third-octave band, with a little broad radiation. Rear: diffuse
// radiation around the cabinet, weakest straight behind.
struct BandShape {
    double lineHeightM;      // vertical aperture
    double lineSpill;        // share of broad radiation in the vertical pattern
    double hornWidthU;       // sin^2 of half the horizontal -6 dB angle
    double hornExponent;     // flatness of the horizontal beam top
    double bulgeDb;          // off-axis rise of the horizontal pattern
    double bulgeU;           // sin^2 of half the angle of that rise
    double rearDb;           // level straight behind
    double diffuseRiseDb;    // diffuse level on axis over straight behind
    double shadowExponent;   // how deep the cabinet shadows the beam toward the rear
    double planeCoupling;    // how fast the horizontal pattern fades out of its plane
    double cornerDb;         // extra level between the planes, at 90 degrees off axis
};

struct BalloonRecipe {
    std::string name;
    double cabinetWidthM;
    double frontHeightM;
    double hornHalfAngleDeg;          // half the nominal horizontal coverage
    int upperFromBand;                // from this band on the horn has
    double upperHornHalfAngleDeg;     // this half coverage instead
    double rearAt100HzDb;             // physical guess of the rear level,
    double rearDbPerOctave;           // falling with frequency
    std::array<float, 21> directivityFactor;  // published Q per band
    std::vector<QuotedNode> quotedNodes;
    int peakBand;                     // the band that holds the largest value
    float peakDb;                     // of the balloon, and that value
};

// Calibrated shape of every band, after fitting the recipe.
struct GeneratedBalloon {
    Balloon values;
    std::array<BandShape, 21> shapes;
    std::array<double, 21> pinError;            // left at the quoted nodes, dB
    std::array<bool, 21> directivityBracketed;  // the published Q was reachable
};

GeneratedBalloon generateBalloon(const BalloonRecipe& recipe);

// The four balloons the products ship: KTR (ktr2 and ktr4) and QSA, QSB, QSC.
std::vector<BalloonRecipe> productRecipes();

}  // namespace balloon

// What the stand-in host knows about the 21 bands a plug-in answers in:
// their nominal ISO 266 centres (100 Hz to 10 kHz, band index 0 to 20) and the
// A-weighting of each centre, used for the broadband level.
#pragma once

#include <array>
#include <string>

namespace arrayhost {

inline constexpr int kBandCount = 21;

using BandValues = std::array<double, kBandCount>;

inline constexpr BandValues kBandCentresHz = {
    100,  125,  160,  200,  250,  315,  400,  500,  630,  800,  1000,
    1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000,
};

// A-weighting at the nominal centres, dB, as tabulated in IEC 61672-1.
inline constexpr BandValues kAWeightingDb = {
    -19.1, -16.1, -13.4, -10.9, -8.6, -6.6, -4.8, -3.2, -1.9, -0.8, 0.0,
    0.6,   1.0,   1.2,   1.3,   1.2,  1.0,  0.5,  -0.1, -1.1, -2.5,
};

// Band index of a nominal centre frequency, or -1.
int bandIndexOfHz(double hz);

// "250 Hz", "1 kHz", "3.15 kHz".
std::string bandLabel(int bandIndex);

}  // namespace arrayhost

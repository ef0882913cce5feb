// The 21 third-octave bands, 100 Hz to 10 kHz, at the nominal centre
// frequencies of ISO 266. Band index 0 to 20; the host's band numbers are 1 to 21.
#pragma once

#include "models/model_definition.h"

namespace acoustics {

using models::kBandCount;

inline constexpr float kBandCentresHz[kBandCount] = {
    100.0f,  125.0f,  160.0f,  200.0f,  250.0f,  315.0f,  400.0f,
    500.0f,  630.0f,  800.0f,  1000.0f, 1250.0f, 1600.0f, 2000.0f,
    2500.0f, 3150.0f, 4000.0f, 5000.0f, 6300.0f, 8000.0f, 10000.0f,
};

inline constexpr float bandCentreHz(int bandIndex) { return kBandCentresHz[bandIndex]; }

}  // namespace acoustics

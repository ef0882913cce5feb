// The distance at which an array's near field, falling 3 dB per doubling of
// distance, gives way to the far field, falling 6 dB per doubling:
// X = L^2 f / 700 m, with L the distance from the first cell to the last.
#pragma once

#include "acoustics/bands.h"
#include "models/model_definition.h"

namespace acoustics {

inline constexpr float kTransitionReciprocalF = 0.0014285714f;  // 1/700 in single precision
inline constexpr float kTransitionDivisor = 700.0f;

inline void computeTransitionDistances(float arrayLengthM, const models::ModelDefinition& model,
                                       float (&distancesM)[kBandCount]) {
    for (int band = 0; band < kBandCount; ++band) {
        const float lengthTimesFrequency = arrayLengthM * (kBandCentresHz[band] * arrayLengthM);
        distancesM[band] =
            model.transitionDivision == models::TransitionDivision::DivideBy700
                ? lengthTimesFrequency / kTransitionDivisor
                : lengthTimesFrequency * kTransitionReciprocalF;
    }
}

}  // namespace acoustics

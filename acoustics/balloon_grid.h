// The directivity balloon grid: every 5 degrees of polar angle (0 on axis to
// 180 straight behind) and of meridian angle (0 to 355, 0 up, 90 and 270 in
// the horizontal plane). A balloon is one contiguous f32 array in band,
// meridian, polar order, so one band is a fixed-stride block.
#pragma once

#include <cstddef>

#include "models/model_definition.h"

namespace acoustics {

inline constexpr int kGridStepDeg = 5;
inline constexpr int kMeridianCount = 360 / kGridStepDeg;     // 72
inline constexpr int kPolarCount = 180 / kGridStepDeg + 1;    // 37
inline constexpr int kBalloonBandStride = kMeridianCount * kPolarCount;  // 2664
inline constexpr int kBalloonValueCount = models::kBandCount * kBalloonBandStride;  // 55944
inline constexpr std::size_t kBalloonBytes = kBalloonValueCount * sizeof(float);

inline constexpr int balloonIndex(int band, int meridian, int polar) {
    return band * kBalloonBandStride + meridian * kPolarCount + polar;
}

// The meridian that mirrors this one across the vertical plane.
inline constexpr int mirroredMeridian(int meridian) {
    return (kMeridianCount - meridian) % kMeridianCount;
}

}  // namespace acoustics

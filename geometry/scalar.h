// Scalar helpers shared by the geometry, the dialog rules and the acoustics.
#pragma once

#include <cmath>

namespace geometry {

inline constexpr double kPi = 3.141592653589793;
inline constexpr double kDegreesToRadians = kPi / 180.0;
inline constexpr double kRadiansToDegrees = 180.0 / kPi;

// low if x < low, high if x > high, else x. A NaN is neither and passes through.
inline constexpr float clamp(float x, float low, float high) {
    if (x < low) return low;
    if (x > high) return high;
    return x;
}

// Nearest whole number with halves going up: 2.5 gives 3, -2.5 gives -2.
inline float nearestWholeNumber(float x) {
    const float up = std::ceil(x);
    const float down = std::floor(x);
    return (up - x <= x - down) ? up : down;
}

// Snaps value to the nearest whole number when it lies strictly within
// tolerance of it; otherwise returns value unchanged.
inline float snapToWholeNumber(float value, float tolerance) {
    const float whole = nearestWholeNumber(value);
    if (value - tolerance < whole && whole < value + tolerance) return whole;
    return value;
}

}  // namespace geometry

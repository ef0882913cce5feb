// A single-precision arc tangent for the response's inner loop: no library
// call, within 3e-7 rad (little more than one float step near pi) of the
// exact angle over the whole plane.
#pragma once

namespace geometry {

namespace detail {

inline constexpr float kPiF = 3.14159265358979f;
inline constexpr float kTanEighthPi = 0.414213562373095f;

// atan(t) for |t| <= tan(pi/8), by an odd polynomial.
inline float atanSmall(float t) {
    const float z = t * t;
    return (((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z - 3.33329491539e-1f) *
               z * t +
           t;
}

}  // namespace detail

// The angle of (x, y) in (-pi, pi], as std::atan2(y, x); 0 at the origin.
inline float fastAtan2(float y, float x) {
    const float ax = x < 0.0f ? -x : x;
    const float ay = y < 0.0f ? -y : y;
    const bool steep = ay > ax;
    const float larger = steep ? ay : ax;
    const float smaller = steep ? ax : ay;
    // atan(s / l) in [0, pi/4]; above tan(pi/8) through
    // atan(s / l) = pi/4 + atan((s - l) / (s + l)), one division either way.
    float angle;
    if (smaller > detail::kTanEighthPi * larger) {
        angle = detail::kPiF / 4.0f + detail::atanSmall((smaller - larger) / (smaller + larger));
    } else {
        angle = larger > 0.0f ? detail::atanSmall(smaller / larger) : 0.0f;
    }
    if (steep) angle = detail::kPiF / 2.0f - angle;
    if (x < 0.0f) angle = detail::kPiF - angle;
    return y < 0.0f ? -angle : angle;
}

}  // namespace geometry

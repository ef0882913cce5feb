// An arc tangent for the response's inner loop: no library call, one
// division, and within 1e-13 rad of the exact angle over the whole plane, so
// that the grid coordinates round exactly as those of a library arc tangent.
#pragma once

#include "geometry/scalar.h"

namespace geometry {

namespace detail {

inline constexpr double kTanSixteenthPi = 0.19891236737965800691;
inline constexpr double kTanEighthPi = 0.41421356237309504880;
inline constexpr double kTanThreeSixteenthsPi = 0.66817863791929891999;

// atan(r) for |r| <= tan(pi/16) by its Taylor series up to r^15; the first
// term left out is below r^17 / 17 < 8e-14.
inline double atanReduced(double r) {
    const double z = r * r;
    const double series =
        1.0 - z * (1.0 / 3 - z * (1.0 / 5 - z * (1.0 / 7 - z * (1.0 / 9 - z * (1.0 / 11 - z * (1.0 / 13 - z / 15))))));
    return r * series;
}

}  // namespace detail

// The angle of (x, y) in (-pi, pi], as std::atan2(y, x); 0 at the origin.
inline double fastAtan2(double y, double x) {
    using detail::atanReduced;
    using detail::kTanEighthPi;
    using detail::kTanSixteenthPi;
    using detail::kTanThreeSixteenthsPi;
    const double ax = x < 0.0 ? -x : x;
    const double ay = y < 0.0 ? -y : y;
    const bool steep = ay > ax;
    const double l = steep ? ay : ax;  // the larger
    const double s = steep ? ax : ay;  // the smaller; atan(s / l) lies in [0, pi/4]
    // About the nearest of 0, pi/8 and pi/4:
    // atan(s / l) = c + atan((s - l tan c) / (l + s tan c)), one division each.
    double angle;
    if (s <= kTanSixteenthPi * l) {
        angle = l > 0.0 ? atanReduced(s / l) : 0.0;
    } else if (s <= kTanThreeSixteenthsPi * l) {
        angle = kPi / 8 + atanReduced((s - kTanEighthPi * l) / (l + kTanEighthPi * s));
    } else {
        angle = kPi / 4 + atanReduced((s - l) / (s + l));
    }
    if (steep) angle = kPi / 2 - angle;
    if (x < 0.0) angle = kPi - angle;
    return y < 0.0 ? -angle : angle;
}

}  // namespace geometry

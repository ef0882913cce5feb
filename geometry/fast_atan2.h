// Arc tangents for the response's inner loop: two at once, without a library
// call or a branch, one division for both, and within 1e-10 rad of the exact
// angles, so that the grid coordinates round as those of a library arc
// tangent would.
#pragma once

#include <emmintrin.h>

#include "geometry/scalar.h"

namespace geometry {

namespace detail {

inline constexpr double kTanSixteenthPi = 0.19891236737965800691;
inline constexpr double kTanEighthPi = 0.41421356237309504880;
inline constexpr double kTanThreeSixteenthsPi = 0.66817863791929891999;

inline __m128d select(__m128d mask, __m128d ifSet, __m128d ifClear) {
    return _mm_or_pd(_mm_and_pd(mask, ifSet), _mm_andnot_pd(mask, ifClear));
}

}  // namespace detail

// The angle of (x, y) in (-pi, pi] in each lane, as std::atan2(y, x), and 0
// at the origin. The inputs must be finite.
inline __m128d fastAtan2(__m128d y, __m128d x) {
    using detail::select;
    const __m128d zero = _mm_setzero_pd();
    const __m128d signBit = _mm_set1_pd(-0.0);
    const __m128d ax = _mm_andnot_pd(signBit, x);
    const __m128d ay = _mm_andnot_pd(signBit, y);
    const __m128d larger = _mm_max_pd(ax, ay);
    const __m128d smaller = _mm_min_pd(ax, ay);

    // atan(s / l) in [0, pi/4], taken about the nearest of 0, pi/8 and pi/4:
    // atan(s / l) = c + atan((s - l tan c) / (l + s tan c)).
    const __m128d aboveSixteenth = _mm_cmpgt_pd(smaller, _mm_mul_pd(larger, _mm_set1_pd(detail::kTanSixteenthPi)));
    const __m128d aboveThreeSixteenths =
        _mm_cmpgt_pd(smaller, _mm_mul_pd(larger, _mm_set1_pd(detail::kTanThreeSixteenthsPi)));
    const __m128d tanCentre = select(aboveThreeSixteenths, _mm_set1_pd(1.0),
                                     select(aboveSixteenth, _mm_set1_pd(detail::kTanEighthPi), zero));
    const __m128d centre = select(aboveThreeSixteenths, _mm_set1_pd(kPi / 4),
                                  select(aboveSixteenth, _mm_set1_pd(kPi / 8), zero));
    const __m128d numerator = _mm_sub_pd(smaller, _mm_mul_pd(larger, tanCentre));
    __m128d denominator = _mm_add_pd(larger, _mm_mul_pd(smaller, tanCentre));
    denominator = select(_mm_cmpeq_pd(denominator, zero), _mm_set1_pd(1.0), denominator);  // the origin
    const __m128d r = _mm_div_pd(numerator, denominator);

    // |r| <= tan(pi/16): the Taylor series up to r^11, whose first term left
    // out is below 7e-11, evaluated as (1 + c1 z) + z^2 (c2 + c3 z) + z^4 (c4 + c5 z).
    const __m128d z = _mm_mul_pd(r, r);
    const __m128d z2 = _mm_mul_pd(z, z);
    const __m128d z4 = _mm_mul_pd(z2, z2);
    const __m128d low = _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(_mm_set1_pd(-1.0 / 3), z));
    const __m128d middle = _mm_add_pd(_mm_set1_pd(1.0 / 5), _mm_mul_pd(_mm_set1_pd(-1.0 / 7), z));
    const __m128d high = _mm_add_pd(_mm_set1_pd(1.0 / 9), _mm_mul_pd(_mm_set1_pd(-1.0 / 11), z));
    const __m128d series = _mm_add_pd(low, _mm_add_pd(_mm_mul_pd(z2, middle), _mm_mul_pd(z4, high)));
    __m128d angle = _mm_add_pd(centre, _mm_mul_pd(r, series));

    // Back to the octant, the half plane and the sign of the input.
    angle = select(_mm_cmpgt_pd(ay, ax), _mm_sub_pd(_mm_set1_pd(kPi / 2), angle), angle);
    angle = select(_mm_cmplt_pd(x, zero), _mm_sub_pd(_mm_set1_pd(kPi), angle), angle);
    angle = _mm_xor_pd(angle, _mm_and_pd(_mm_cmplt_pd(y, zero), signBit));
    return angle;
}

struct AnglePair {
    double first, second;
};

// The angles of (x0, y0) and (x1, y1), as fastAtan2 gives them.
inline AnglePair fastAtan2Pair(double y0, double x0, double y1, double x1) {
    const __m128d angle = fastAtan2(_mm_set_pd(y1, y0), _mm_set_pd(x1, x0));
    AnglePair result;
    _mm_storel_pd(&result.first, angle);
    _mm_storeh_pd(&result.second, angle);
    return result;
}

}  // namespace geometry

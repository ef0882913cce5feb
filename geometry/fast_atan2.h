// Arc tangents for the response's pass over a new seat, which finds the seat's
// direction from every cell of the array: four at once in degrees, without a
// library call or a branch.
//
// Each angle is k eighths of pi plus a remainder t, |t| <= pi/16. Choosing k
// needs only comparisons, done on all four lanes in single precision; t and
// the sum, scaled to degrees, are worked in double precision to within 1e-10
// rad, so that every result is the exact angle rounded once to single
// precision, as a library arc tangent in double rounded to float would give
// it, but for the rare angle within 1e-8 degrees of a rounding boundary.
#pragma once

#include <emmintrin.h>

#include "geometry/scalar.h"

namespace geometry {

namespace detail {

inline constexpr float kTanSixteenthPi = 0.19891236737965800691f;
inline constexpr float kTanThreeSixteenthsPi = 0.66817863791929891999f;
inline constexpr double kTanEighthPi = 0.41421356237309504880;
inline constexpr double kDegreesPerEighth = 22.5;

inline __m128 select(__m128 mask, __m128 ifSet, __m128 ifClear) {
    return _mm_or_ps(_mm_and_ps(mask, ifSet), _mm_andnot_ps(mask, ifClear));
}
inline __m128d select(__m128d mask, __m128d ifSet, __m128d ifClear) {
    return _mm_or_pd(_mm_and_pd(mask, ifSet), _mm_andnot_pd(mask, ifClear));
}

// Lanes 0 and 1 (`high` false) or 2 and 3 of a single-precision mask, as a
// double-precision mask.
inline __m128d widenMask(__m128 mask, bool high) {
    return _mm_castps_pd(high ? _mm_unpackhi_ps(mask, mask) : _mm_unpacklo_ps(mask, mask));
}

// Two lanes' remainder t = atan(r), r = (s - l tan c) / (l + s tan c), with
// tan c 0, tan(pi/8) or 1, and the angle k * 22.5 + sign * t * 180 / pi in
// degrees, rounded once to single precision.
inline __m128 twoAngles(__m128d smaller, __m128d larger, __m128d aboveSixteenth, __m128d aboveThreeSixteenths,
                        __m128d eighths, __m128d signOfRemainder) {
    const __m128d zero = _mm_setzero_pd();
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d tanCentre = select(aboveThreeSixteenths, one, _mm_and_pd(aboveSixteenth, _mm_set1_pd(kTanEighthPi)));
    const __m128d numerator = _mm_sub_pd(smaller, _mm_mul_pd(larger, tanCentre));
    __m128d denominator = _mm_add_pd(larger, _mm_mul_pd(smaller, tanCentre));
    denominator = select(_mm_cmpeq_pd(denominator, zero), one, denominator);  // the origin
    const __m128d r = _mm_div_pd(numerator, denominator);
    // |r| <= tan(pi/16): the Taylor series up to r^11, whose first term left
    // out is below 7e-11, as r (1 + z (c1 + z c2) + z^3 (c3 + z c4) + z^5 c5).
    const __m128d z = _mm_mul_pd(r, r);
    const __m128d z3 = _mm_mul_pd(_mm_mul_pd(z, z), z);
    const __m128d low = _mm_add_pd(_mm_set1_pd(-1.0 / 3), _mm_mul_pd(z, _mm_set1_pd(1.0 / 5)));
    const __m128d high = _mm_add_pd(_mm_set1_pd(-1.0 / 7), _mm_mul_pd(z, _mm_set1_pd(1.0 / 9)));
    const __m128d highest = _mm_mul_pd(_mm_mul_pd(z3, z), _mm_set1_pd(-1.0 / 11));
    const __m128d series = _mm_add_pd(_mm_add_pd(_mm_mul_pd(z, low), _mm_mul_pd(z3, high)), _mm_mul_pd(z, highest));
    const __m128d remainder = _mm_xor_pd(_mm_add_pd(r, _mm_mul_pd(r, series)), signOfRemainder);
    const __m128d degrees = _mm_add_pd(_mm_mul_pd(eighths, _mm_set1_pd(kDegreesPerEighth)),
                                       _mm_mul_pd(remainder, _mm_set1_pd(kRadiansToDegrees)));
    return _mm_cvtpd_ps(degrees);
}

}  // namespace detail

// The angle of (x, y) in each lane, in degrees within [-180, 180], as
// std::atan2(y, x) gives it in radians, and 0 at the origin. The inputs must
// be finite.
inline __m128 fastAtan2Degrees(__m128 y, __m128 x) {
    using detail::widenMask;
    const __m128 zero = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 ax = _mm_andnot_ps(signBit, x);
    const __m128 ay = _mm_andnot_ps(signBit, y);
    const __m128 larger = _mm_max_ps(ax, ay);
    const __m128 smaller = _mm_min_ps(ax, ay);

    // atan(s / l) in [0, pi/4], taken about the nearest of 0, pi/8 and pi/4:
    // atan(s / l) = c + atan((s - l tan c) / (l + s tan c)). Which is nearest
    // does not need to be exact, only the remainder. Above 3 pi/16 implies
    // above pi/16.
    const __m128 aboveSixteenth = _mm_cmpgt_ps(smaller, _mm_mul_ps(larger, _mm_set1_ps(detail::kTanSixteenthPi)));
    const __m128 aboveThreeSixteenths =
        _mm_cmpgt_ps(smaller, _mm_mul_ps(larger, _mm_set1_ps(detail::kTanThreeSixteenthsPi)));
    const __m128 centreEighths = _mm_add_ps(_mm_and_ps(aboveSixteenth, one), _mm_and_ps(aboveThreeSixteenths, one));

    // Back to the octant: with the axes swapped the angle is pi/2 minus it,
    // with x negative pi minus it, with both pi/2 plus it; then the sign of y.
    const __m128 swapped = _mm_cmpgt_ps(ay, ax);
    const __m128 negativeX = _mm_cmplt_ps(x, zero);
    const __m128 turnedBack = _mm_xor_ps(swapped, negativeX);
    const __m128 baseEighths =
        detail::select(swapped, _mm_set1_ps(4.0f), _mm_and_ps(negativeX, _mm_set1_ps(8.0f)));
    const __m128 negativeY = _mm_cmplt_ps(y, zero);
    const __m128 eighths =
        _mm_xor_ps(_mm_add_ps(baseEighths, _mm_xor_ps(centreEighths, _mm_and_ps(turnedBack, signBit))),
                   _mm_and_ps(negativeY, signBit));
    const __m128 negate = _mm_xor_ps(turnedBack, negativeY);  // the remainder's sign

    __m128 result[2];
    for (int half = 0; half < 2; ++half) {
        const bool high = half == 1;
        auto widen = [high](__m128 v) { return _mm_cvtps_pd(high ? _mm_movehl_ps(v, v) : v); };
        result[half] = detail::twoAngles(widen(smaller), widen(larger), widenMask(aboveSixteenth, high),
                                         widenMask(aboveThreeSixteenths, high), widen(eighths),
                                         _mm_and_pd(widenMask(negate, high), _mm_set1_pd(-0.0)));
    }
    return _mm_movelh_ps(result[0], result[1]);
}

}  // namespace geometry

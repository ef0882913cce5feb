// Four single-precision numbers in one SSE register, with the arithmetic the
// rotations use, so that one template turns one point or four at a time and
// every lane gets exactly the bits the single point would.
#pragma once

#include <xmmintrin.h>

namespace geometry {

struct FloatLanes {
    __m128 v;

    static FloatLanes of(float a, float b, float c, float d) { return {_mm_set_ps(d, c, b, a)}; }
};

inline FloatLanes operator+(FloatLanes a, FloatLanes b) { return {_mm_add_ps(a.v, b.v)}; }
inline FloatLanes operator-(FloatLanes a, FloatLanes b) { return {_mm_sub_ps(a.v, b.v)}; }
inline FloatLanes operator*(FloatLanes a, FloatLanes b) { return {_mm_mul_ps(a.v, b.v)}; }
// Flips the sign bit, as negating a float does.
inline FloatLanes operator-(FloatLanes a) { return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))}; }

// A point or direction in each lane.
struct Vector3Lanes {
    FloatLanes x, y, z;
};

}  // namespace geometry

// Rotations of the host's frame by EulerAngles, in one of two orders.
//
// An unturned frame aims along (0, -1, 0) with z up. A positive a2 tilts the
// aim toward +z, a positive a1 turns it toward +x. Vectors are rows and the
// elementary matrices act from the right.
#pragma once

#include "geometry/euler_angles.h"
#include "geometry/vector3.h"
#include "models/angle_convention.h"

namespace geometry {

// The conventions are part of each product's definition.
using models::AngleConvention;
using models::DirectionForm;
using models::RotationOrder;

namespace elementary {

// Row vector times an elementary matrix, given the angle's cosine and sine.
// V has members x, y and z of a number type T: float for one point, or lanes
// of several points turned at once; the operations and their order are the
// same either way, so every lane gets the bits a single point would.
// Rz rows: (c, s, 0), (-s, c, 0), (0, 0, 1).
template <typename V, typename T>
inline V timesRz(const V& v, T c, T s) {
    return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}
// Rx rows: (1, 0, 0), (0, c, -s), (0, s, c).
template <typename V, typename T>
inline V timesRx(const V& v, T c, T s) {
    return {v.x, v.y * c + v.z * s, v.z * c - v.y * s};
}
// Ry rows in order Z-X-Y: (c, 0, s), (0, 1, 0), (-s, 0, c).
// Order Y-X-Z uses the transposed matrix, which is the same as negating s.
template <typename V, typename T>
inline V timesRy(const V& v, T c, T s, RotationOrder order) {
    if (order == RotationOrder::YXZ) s = -s;
    return {v.x * c - v.z * s, v.y, v.x * s + v.z * c};
}

}  // namespace elementary

Vector3 rotate(const Vector3& v, const EulerAngles& a, RotationOrder order);

// The exact inverse of rotate, given the cosines and sines of a1, a2 and a3,
// for a V and T as the elementary matrices take them. Negating an angle keeps
// its cosine and negates its sine, so the inverse applies the elementary
// matrices of (-a1, -a2, -a3) in reverse order.
template <typename V, typename T>
inline V inverseRotate(const V& v, const T (&cosines)[3], const T (&sines)[3], RotationOrder order) {
    using namespace elementary;
    if (order == RotationOrder::ZXY) {
        V r = timesRy(v, cosines[2], -sines[2], order);
        r = timesRx(r, cosines[1], -sines[1]);
        return timesRz(r, cosines[0], -sines[0]);
    }
    V r = timesRz(v, cosines[0], -sines[0]);
    r = timesRx(r, cosines[1], -sines[1]);
    return timesRy(r, cosines[2], -sines[2], order);
}

// The exact inverse of rotate with the same angles and order.
inline Vector3 inverseRotate(const Vector3& v, const EulerAngles& a, RotationOrder order) {
    const float cosines[3] = {a.cosine(0), a.cosine(1), a.cosine(2)};
    const float sines[3] = {a.sine(0), a.sine(1), a.sine(2)};
    return inverseRotate(v, cosines, sines, order);
}

inline constexpr Vector3 kUnturnedAim{0.0f, -1.0f, 0.0f};

inline Vector3 aimDirection(const EulerAngles& a, RotationOrder order) {
    return rotate(kUnturnedAim, a, order);
}

// p moved by |length| along the aim of a. A negative length still moves
// forward; callers move backward along the opposite orientation.
Vector3 step(const Vector3& p, const EulerAngles& a, float length, RotationOrder order);

// Angles whose aim points from `from` toward `to`, in the given form.
EulerAngles directionAngles(const Vector3& from, const Vector3& to, DirectionForm form);

// The orientation whose aim is the reverse of a's.
EulerAngles oppositeOrientation(const EulerAngles& a, const AngleConvention& convention);

}  // namespace geometry

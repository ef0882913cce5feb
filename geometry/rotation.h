// Rotations of the host's frame by EulerAngles, in one of two orders.
//
// An unturned frame aims along (0, -1, 0) with z up. A positive a2 tilts the
// aim toward +z, a positive a1 turns it toward +x. Vectors are rows and the
// elementary matrices act from the right.
#pragma once

#include "geometry/euler_angles.h"
#include "geometry/vector3.h"

namespace geometry {

enum class RotationOrder {
    ZXY,  // v * Rz(a1) * Rx(a2) * Ry(a3)
    YXZ,  // v * Ry(a3) * Rx(a2) * Rz(a1), with Ry turning the other way
};

// How direction angles are formed when an orientation is reversed.
enum class DirectionForm {
    Polar,    // (0, polar angle from -y, meridian about y from +z toward -x)
    PanTilt,  // (pan about z from -y, tilt toward +z, 0)
};

// The fixed angle convention of one product.
struct AngleConvention {
    RotationOrder order;
    DirectionForm oppositeForm;
};

Vector3 rotate(const Vector3& v, const EulerAngles& a, RotationOrder order);
// The exact inverse of rotate with the same angles and order.
Vector3 inverseRotate(const Vector3& v, const EulerAngles& a, RotationOrder order);

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

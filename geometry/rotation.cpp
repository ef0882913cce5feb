#include "geometry/rotation.h"

#include <cmath>

namespace geometry {

using namespace elementary;

Vector3 rotate(const Vector3& v, const EulerAngles& a, RotationOrder order) {
    if (order == RotationOrder::ZXY) {
        Vector3 r = timesRz(v, a.cosine(0), a.sine(0));
        r = timesRx(r, a.cosine(1), a.sine(1));
        return timesRy(r, a.cosine(2), a.sine(2), order);
    }
    Vector3 r = timesRy(v, a.cosine(2), a.sine(2), order);
    r = timesRx(r, a.cosine(1), a.sine(1));
    return timesRz(r, a.cosine(0), a.sine(0));
}

Vector3 step(const Vector3& p, const EulerAngles& a, float length, RotationOrder order) {
    return p + rotate({0.0f, -std::fabs(length), 0.0f}, a, order);
}

EulerAngles directionAngles(const Vector3& from, const Vector3& to, DirectionForm form) {
    const double dx = double(to.x) - from.x;
    const double dy = double(to.y) - from.y;
    const double dz = double(to.z) - from.z;
    if (form == DirectionForm::PanTilt) {
        return EulerAngles::fromRadians(float(std::atan2(dx, -dy)),
                                        float(std::atan2(dz, std::sqrt(dx * dx + dy * dy))),
                                        0.0f);
    }
    double meridian = std::atan2(-dx, dz);
    if (meridian < 0.0) meridian += 2.0 * kPi;
    const double horizontal = std::sqrt(dx * dx + dz * dz);
    double polar;
    if (horizontal != 0.0) {
        polar = std::atan(dy / horizontal) + kPi / 2.0;
    } else {
        polar = dy > 0.0 ? kPi : 0.0;
    }
    return EulerAngles::fromRadians(0.0f, float(polar), float(meridian));
}

EulerAngles oppositeOrientation(const EulerAngles& a, const AngleConvention& convention) {
    const Vector3 aim = aimDirection(a, convention.order);
    const Vector3 reversed{-aim.x, -aim.y, -aim.z};
    return directionAngles(Vector3{}, reversed, convention.oppositeForm);
}

}  // namespace geometry

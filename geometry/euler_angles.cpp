#include "geometry/euler_angles.h"

#include <cmath>

namespace geometry {

namespace {

AngleValue fromRadiansValue(float radians) {
    AngleValue a;
    a.radians = radians;
    a.degrees = float(double(radians) * kRadiansToDegrees);
    a.sine = float(std::sin(double(radians)));
    a.cosine = float(std::cos(double(radians)));
    return a;
}

AngleValue fromDegreesValue(float degrees) {
    AngleValue a = fromRadiansValue(float(double(degrees) * kDegreesToRadians));
    a.degrees = degrees;
    return a;
}

// The quarter turns, worked out at their first use and kept. Not at load:
// the loader runs initialisers outside every export, in whatever
// floating-point state the host has. Hosts call from one thread.
struct QuarterTurns {
    EulerAngles pitchUp, pitchDown, turnRight;
};
const QuarterTurns& quarterTurns() {
    static QuarterTurns turns;
    static bool made = false;
    if (!made) {
        turns = {EulerAngles::fromDegrees(0.0f, 90.0f, 0.0f), EulerAngles::fromDegrees(0.0f, -90.0f, 0.0f),
                 EulerAngles::fromDegrees(90.0f, 0.0f, 0.0f)};
        made = true;
    }
    return turns;
}

}  // namespace

void EulerAngles::set(float a1, float a2, float a3, AngleUnit unit) {
    const float values[kCount] = {a1, a2, a3};
    for (int i = 0; i < kCount; ++i) {
        angles_[i] = unit == AngleUnit::Degrees ? fromDegreesValue(values[i])
                                                : fromRadiansValue(values[i]);
    }
}

EulerAngles EulerAngles::plus(const EulerAngles& other) const {
    return fromRadians(radians(0) + other.radians(0), radians(1) + other.radians(1),
                       radians(2) + other.radians(2));
}

EulerAngles EulerAngles::pitchedUp() const { return plus(quarterTurns().pitchUp); }
EulerAngles EulerAngles::pitchedDown() const { return plus(quarterTurns().pitchDown); }
EulerAngles EulerAngles::turnedRight() const { return plus(quarterTurns().turnRight); }

}  // namespace geometry

// Plane helpers for the side view of an array: one angle and a 2-D point.
#pragma once

#include <cmath>

#include "geometry/scalar.h"

namespace geometry {

// One angle holding radians, cosine, degrees and sine together.
class Angle {
public:
    constexpr Angle() = default;
    static Angle fromDegrees(float degrees) {
        Angle a = fromRadians(float(double(degrees) * kDegreesToRadians));
        a.degrees_ = degrees;
        return a;
    }
    static Angle fromRadians(float radians) {
        Angle a;
        a.radians_ = radians;
        a.cosine_ = float(std::cos(double(radians)));
        a.degrees_ = float(double(radians) * kRadiansToDegrees);
        a.sine_ = float(std::sin(double(radians)));
        return a;
    }

    float radians() const { return radians_; }
    float degrees() const { return degrees_; }
    float cosine() const { return cosine_; }
    float sine() const { return sine_; }

    Angle minus(const Angle& other) const { return fromRadians(radians_ - other.radians_); }
    Angle turnedBy90() const { return turnedByDegrees(90.0); }
    Angle turnedBy180() const { return turnedByDegrees(180.0); }
    Angle turnedByMinus90() const { return turnedByDegrees(-90.0); }

private:
    Angle turnedByDegrees(double offset) const {
        return fromRadians(float(radians_ + offset * kDegreesToRadians));
    }

    float radians_ = 0.0f;
    float cosine_ = 1.0f;
    float degrees_ = 0.0f;
    float sine_ = 0.0f;
};

struct Vector2 {
    float x = 0.0f;
    float y = 0.0f;
};

// p moved by r along the direction of alpha.
inline Vector2 polarStep(const Vector2& p, const Angle& alpha, float r) {
    return {p.x + r * alpha.cosine(), p.y + r * alpha.sine()};
}

}  // namespace geometry

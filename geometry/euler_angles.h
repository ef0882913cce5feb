// Orientation as three Euler angles: a1 about z, a2 about x, a3 about y.
// Each angle keeps its radians, degrees, sine and cosine together so that the
// rotations never evaluate a trigonometric function.
#pragma once

#include "geometry/scalar.h"

namespace geometry {

struct AngleValue {
    float radians = 0.0f;
    float degrees = 0.0f;
    float sine = 0.0f;
    float cosine = 1.0f;
};

enum class AngleUnit { Degrees, Radians };

class EulerAngles {
public:
    static constexpr int kCount = 3;

    constexpr EulerAngles() = default;
    EulerAngles(float a1, float a2, float a3, AngleUnit unit) { set(a1, a2, a3, unit); }

    static EulerAngles fromDegrees(float a1, float a2, float a3) {
        return EulerAngles(a1, a2, a3, AngleUnit::Degrees);
    }
    static EulerAngles fromRadians(float a1, float a2, float a3) {
        return EulerAngles(a1, a2, a3, AngleUnit::Radians);
    }

    // Sets all three angles; the other representations follow.
    void set(float a1, float a2, float a3, AngleUnit unit);

    // i is 0, 1 or 2 for a1, a2, a3.
    const AngleValue& operator[](int i) const { return angles_[i]; }
    float degrees(int i) const { return angles_[i].degrees; }
    float radians(int i) const { return angles_[i].radians; }
    float sine(int i) const { return angles_[i].sine; }
    float cosine(int i) const { return angles_[i].cosine; }

    // The same angles set again from their radians, as plus() sets its sums:
    // radians, sines and cosines stay, and the degrees become the radians'
    // own, which may differ in the last bit from degrees the angles were set
    // in. The layout stores every cell's angles in this one form.
    EulerAngles withDegreesFromRadians() const { return fromRadians(radians(0), radians(1), radians(2)); }
    // Component-wise sum of the radians, set in radians.
    EulerAngles plus(const EulerAngles& other) const;

    EulerAngles pitchedUp() const;     // + (0, 90 deg, 0)
    EulerAngles pitchedDown() const;   // + (0, -90 deg, 0)
    EulerAngles turnedRight() const;   // + (90 deg, 0, 0)

private:
    AngleValue angles_[kCount];
};

}  // namespace geometry

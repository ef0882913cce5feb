// Positions and directions in the host's coordinates, metres.
#pragma once

#include <cmath>

namespace geometry {

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    constexpr Vector3() = default;
    constexpr Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    Vector3& operator-=(const Vector3& w) {
        x -= w.x;
        y -= w.y;
        z -= w.z;
        return *this;
    }
    Vector3& operator+=(const Vector3& w) {
        x += w.x;
        y += w.y;
        z += w.z;
        return *this;
    }
    friend Vector3 operator-(Vector3 v, const Vector3& w) { return v -= w; }
    friend Vector3 operator+(Vector3 v, const Vector3& w) { return v += w; }
    friend constexpr bool operator==(const Vector3& a, const Vector3& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    }
};

// Euclidean distance, carried in double and rounded once.
inline float distance(const Vector3& p, const Vector3& q) {
    const double dx = double(p.x) - q.x;
    const double dy = double(p.y) - q.y;
    const double dz = double(p.z) - q.z;
    return float(std::sqrt(dx * dx + dy * dy + dz * dz));
}

}  // namespace geometry

// Homogeneous 4x4 matrices and row vectors: the reference form of the
// rotations, against which the tests check rotation.cpp axis by axis.
#pragma once

#include "geometry/euler_angles.h"
#include "geometry/rotation.h"

namespace geometry {

// Four components numbered 1 to 4, all zero when created.
class Vector4 {
public:
    constexpr Vector4() = default;
    constexpr Vector4(float v1, float v2, float v3, float v4) : v_{v1, v2, v3, v4} {}
    static constexpr Vector4 point(const Vector3& p) { return {p.x, p.y, p.z, 1.0f}; }

    constexpr float get(int component) const { return v_[component - 1]; }
    constexpr void set(int component, float value) { v_[component - 1] = value; }
    constexpr Vector3 xyz() const { return {v_[0], v_[1], v_[2]}; }

private:
    float v_[4] = {0.0f, 0.0f, 0.0f, 0.0f};
};

// Row-major: element (row r, column c), both 1-based, is value (r-1)*4 + (c-1).
class Matrix4 {
public:
    constexpr Matrix4() = default;
    static constexpr Matrix4 identity() {
        Matrix4 m;
        for (int i = 1; i <= 4; ++i) m.set(i, i, 1.0f);
        return m;
    }

    constexpr float get(int row, int column) const { return m_[(row - 1) * 4 + (column - 1)]; }
    constexpr void set(int row, int column, float value) { m_[(row - 1) * 4 + (column - 1)] = value; }

    friend constexpr Matrix4 operator*(const Matrix4& p, const Matrix4& q) {
        Matrix4 r;
        for (int i = 1; i <= 4; ++i) {
            for (int j = 1; j <= 4; ++j) {
                float sum = 0.0f;
                for (int k = 1; k <= 4; ++k) sum += p.get(i, k) * q.get(k, j);
                r.set(i, j, sum);
            }
        }
        return r;
    }

    // Row vector times matrix: r_i = sum_k v_k * M(k, i).
    friend constexpr Vector4 operator*(const Vector4& v, const Matrix4& m) {
        Vector4 r;
        for (int i = 1; i <= 4; ++i) {
            float sum = 0.0f;
            for (int k = 1; k <= 4; ++k) sum += v.get(k) * m.get(k, i);
            r.set(i, sum);
        }
        return r;
    }

private:
    float m_[16] = {};
};

// Elementary rotations from an angle's cosine and sine.
Matrix4 rotationAboutZ(float c, float s);
Matrix4 rotationAboutX(float c, float s);
Matrix4 rotationAboutY(float c, float s, RotationOrder order);

// The whole rotation of `a` as one matrix, composed in the order's sequence.
Matrix4 rotationMatrix(const EulerAngles& a, RotationOrder order);

}  // namespace geometry

#include "tests/unit/matrix4.h"

namespace geometry {

Matrix4 rotationAboutZ(float c, float s) {
    Matrix4 m = Matrix4::identity();
    m.set(1, 1, c);
    m.set(1, 2, s);
    m.set(2, 1, -s);
    m.set(2, 2, c);
    return m;
}

Matrix4 rotationAboutX(float c, float s) {
    Matrix4 m = Matrix4::identity();
    m.set(2, 2, c);
    m.set(2, 3, -s);
    m.set(3, 2, s);
    m.set(3, 3, c);
    return m;
}

Matrix4 rotationAboutY(float c, float s, RotationOrder order) {
    if (order == RotationOrder::YXZ) s = -s;
    Matrix4 m = Matrix4::identity();
    m.set(1, 1, c);
    m.set(1, 3, s);
    m.set(3, 1, -s);
    m.set(3, 3, c);
    return m;
}

Matrix4 rotationMatrix(const EulerAngles& a, RotationOrder order) {
    const Matrix4 rz = rotationAboutZ(a.cosine(0), a.sine(0));
    const Matrix4 rx = rotationAboutX(a.cosine(1), a.sine(1));
    const Matrix4 ry = rotationAboutY(a.cosine(2), a.sine(2), order);
    return order == RotationOrder::ZXY ? rz * rx * ry : ry * rx * rz;
}

}  // namespace geometry

// The fixed angle convention of a product: the order in which its Euler
// angles compose and how it forms direction angles for a reversed
// orientation. The model definitions choose one; the geometry carries it out.
#pragma once

namespace models {

enum class RotationOrder {
    ZXY,  // v * Rz(a1) * Rx(a2) * Ry(a3)
    YXZ,  // v * Ry(a3) * Rx(a2) * Rz(a1), with Ry turning the other way
};

// How direction angles are formed when an orientation is reversed.
enum class DirectionForm {
    Polar,    // (0, polar angle from -y, meridian about y from +z toward -x)
    PanTilt,  // (pan about z from -y, tilt toward +z, 0)
};

struct AngleConvention {
    RotationOrder order;
    DirectionForm oppositeForm;
};

}  // namespace models

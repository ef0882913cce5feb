// Hanging an array: from the array's reference pose and the cells' splays to
// a position and an orientation per cell. Each cell hangs from the one above
// at the front edge of their shared face and tilts down against it by its
// splay; a cell's reference point lies half its depth straight behind the
// middle of its front face.
#pragma once

#include "geometry/euler_angles.h"
#include "geometry/vector3.h"
#include "models/model_definition.h"

namespace geometry {

struct Pose {
    Vector3 position;
    EulerAngles angles;
};

// Writes the poses of cells 1..count into poses[0..count-1] and returns how
// many poses it wrote. splaysDeg[k] is the splay of cell k+1 in degrees.
// Products whose cell 1 takes the array pose write cell 1 even for an empty
// array, so the result is then 1; products whose cell 1 hangs from the
// bumper write nothing for it. count must lie within 0..kCellCapacity.
int layOutCells(const Pose& array, const float* splaysDeg, int count,
                const models::ModelDefinition& model, Pose* poses);

}  // namespace geometry

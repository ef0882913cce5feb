#include "geometry/layout.h"

#include "geometry/rotation.h"

namespace geometry {

namespace {

struct Hinge {
    float halfFrontHeightM;
    float halfDepthM;
    AngleConvention convention;
};

// From a cell's reference point to the pivot below it: forward to the front
// face, then down half the front height.
Vector3 pivotBelow(const Vector3& reference, const EulerAngles& a, const Hinge& hinge) {
    const Vector3 front = step(reference, a, hinge.halfDepthM, hinge.convention.order);
    return step(front, a.pitchedDown(), hinge.halfFrontHeightM, hinge.convention.order);
}

// From the pivot above a cell to its reference point: down half the front
// height, then back half the depth.
Vector3 referenceBelowPivot(const Vector3& pivot, const EulerAngles& a, const Hinge& hinge) {
    const Vector3 frontMiddle = step(pivot, a.pitchedDown(), hinge.halfFrontHeightM, hinge.convention.order);
    return step(frontMiddle, oppositeOrientation(a, hinge.convention), hinge.halfDepthM,
                hinge.convention.order);
}

EulerAngles tiltedBySplay(const EulerAngles& a, float splayDeg) {
    return a.plus(EulerAngles::fromDegrees(0.0f, -splayDeg, 0.0f));
}

}  // namespace

int layOutCells(const Pose& array, const float* splaysDeg, int count,
                const models::ModelDefinition& model, Pose* poses) {
    const Hinge hinge{model.cabinet.frontHeightM / 2.0f, model.cabinet.depthM / 2.0f, model.angles};
    const RotationOrder order = model.angles.order;

    if (model.firstCell == models::FirstCellRule::HangsFromBumper) {
        // The bumper pivot is where cell 1's front top edge would be if it
        // had the array pose; every cell, cell 1 included, tilts by its splay.
        Vector3 pivot = step(array.position, array.angles, hinge.halfDepthM, order);
        pivot = step(pivot, array.angles.pitchedUp(), hinge.halfFrontHeightM, order);
        // Each cell's angles are a sum from plus(), set from radians.
        EulerAngles a = array.angles;
        for (int k = 0; k < count; ++k) {
            a = tiltedBySplay(a, splaysDeg[k]);
            const Vector3 reference = referenceBelowPivot(pivot, a, hinge);
            poses[k] = {reference, a};
            pivot = pivotBelow(reference, a, hinge);
        }
        return count;
    }

    // Cell 1 takes the array pose and its splay is not read. Its angles are
    // set again from their radians, as the sums of the cells below it are, so
    // that the degrees it reports follow from the same radians as its
    // rotation instead of echoing the host's.
    poses[0] = {array.position, array.angles.withDegreesFromRadians()};
    Vector3 p = array.position;
    EulerAngles a = array.angles;
    for (int k = 1; k < count; ++k) {
        const Vector3 pivot = pivotBelow(p, a, hinge);
        a = tiltedBySplay(a, splaysDeg[k]);
        p = referenceBelowPivot(pivot, a, hinge);
        poses[k] = {p, a};
    }
    return count > 0 ? count : 1;
}

}  // namespace geometry

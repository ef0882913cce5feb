// Resampling of directivity measured at scattered directions onto the
// balloon grid: 21 bands, 72 meridians, 37 polar rows.
//
// Directions are unit vectors in the measurement frame: +x the cabinet's
// axis, +y its left (seen from behind the cabinet, looking along the axis),
// +z up. The balloon's polar angle is taken from +x; its meridian angle turns
// from +z toward -y, so meridian 90 is the cabinet's right and 270 its left.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "acoustics/bands.h"
#include "tools/balloon/balloon_model.h"

namespace balloon {

struct Direction {
    double x, y, z;
};

using BandEnergies = std::array<double, acoustics::kBandCount>;  // mean-square pressure per band

// Measured directions farther apart than this leave a hole the grid cannot be
// read from: no circle through three neighbours may have a larger radius.
inline constexpr double kLargestGapDeg = 30.0;
// Levels below this (re on axis) are stored as this, so a zero of the
// measurement does not become minus infinity.
inline constexpr double kLevelFloorDb = -100.0;

// The measurement-frame direction of a grid node.
Direction gridDirection(int meridian, int polar);

// Spherical triangulation of the measured directions (the convex hull of the
// points on the unit sphere, by Qhull), with linear interpolation inside
// each triangle.
// The convex hull of points on the unit sphere by Qhull, as triangles whose
// corners run counter-clockwise seen from outside. Empty when Qhull makes
// none; `error` then says why in Qhull's own terms (its exit code, named,
// and the first line of its message). `missing` counts the points that are
// no corner.
std::vector<std::array<int, 3>> sphereHull(const std::vector<Direction>& points, size_t& missing, std::string& error);

class SphereInterpolator {
public:
    // Empty error() when the directions surround the source closely enough.
    explicit SphereInterpolator(const std::vector<Direction>& directions);
    const std::string& error() const { return error_; }

    // Weights of the three measured directions around d (summing to 1).
    struct Stencil {
        std::array<int, 3> index;
        std::array<double, 3> weight;
    };
    Stencil locate(const Direction& d) const;
    // The same, walking from the triangle `hint` (updated to the one found):
    // fast when successive directions lie close together.
    Stencil locate(const Direction& d, int& hint) const;

private:
    Stencil stencil(int face, const Direction& d) const;

    std::vector<Direction> points_;
    std::vector<std::array<int, 3>> faces_;
    std::vector<std::array<int, 3>> neighbours_;  // across the edge opposite each corner
    std::string error_;
};

// The most directions a measurement may hold: 2^20. A 0.25-degree grid
// (1,037,520 directions, the poles repeated at every azimuth) fits. The
// resampling takes time that grows faster than the count (0.5 s for 65,160
// directions, 3.4 s for 259,920 on two cores), and the importer's reader
// hands over some 360 bytes per direction; more are refused before either.
inline constexpr size_t kMaxDirections = size_t(1) << 20;

struct ResampleResult {
    Balloon balloon;           // dB re on axis
    BandEnergies onAxisEnergy; // interpolated on-axis mean-square pressure per band
    std::string error;         // why the directions cannot be resampled, else empty
};

// Band energies at each direction to the balloon grid: energies are
// interpolated linearly inside the spherical triangles, then taken in dB
// relative to the on-axis value, so the on-axis row is exactly 0 dB and the
// rear row holds one value per band. Directions closer together than about
// 0.001 degree are one direction, their energies averaged.
ResampleResult resampleToGrid(const std::vector<Direction>& directions, const std::vector<BandEnergies>& energies);

// Makes the balloon left-right symmetric by averaging the energy of each
// node with its mirror image across the vertical plane.
void mirrorBalloon(Balloon& balloon);

// The largest level difference between a node and its mirror image, per band.
struct Asymmetry {
    double worstDb = 0.0;
    int meridianDeg = 0;
    int polarDeg = 0;
};
std::array<Asymmetry, acoustics::kBandCount> balloonAsymmetry(const Balloon& balloon);

}  // namespace balloon

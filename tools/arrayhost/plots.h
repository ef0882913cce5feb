// The pictures: a coverage map of the audience plane with a dB colour scale,
// and a side view of the array drawn from the plug-in's cabinet mesh.
#pragma once

#include <string>
#include <vector>

#include "tools/arrayhost/canvas.h"
#include "tools/arrayhost/coverage.h"
#include "tools/arrayhost/session.h"

namespace arrayhost {

inline constexpr int kMapImageWidth = 900, kMapImageHeight = 760;
inline constexpr int kSideImageWidth = 760, kSideImageHeight = 760;
inline constexpr int kProfileImageWidth = 1100, kProfileImageHeight = 700;
inline constexpr Rgb kCabinetInk{25, 55, 120};  // the side view's mesh edges

// A round tick step giving about `ticks` intervals over `span`: 1, 2 or 5 times a power of ten.
double niceStep(double span, int ticks);

struct MapMarker {
    double xM, yM;
    std::string label;
};

struct MapLabels {
    std::string title, subtitle;
    std::string unit;  // "dB" or "dB(A)"
    std::vector<MapMarker> markers;
};

// Where a map's level is not a number: off the colour scale.
inline constexpr Rgb kNotANumberGrey{128, 128, 128};

// The layer as a plan view: x to the right, y up, one colour per level, a
// contour line at every tick of the scale.
Canvas drawCoverageMap(const CoverageMap& map, int layer, double rangeDb, const MapLabels& labels);

// The mesh's vertices projected onto its y-z plane (x dropped; a mirror
// image falls on its original), the front of the cabinets to the right. The
// mesh comes in the array's own frame: the view turns it by the array's tilt
// (its second angle) and lifts it to the array's height, so it stands as hung.
// Each cell's aim, from its reported angles, is drawn as a dashed ray.
Canvas drawSideView(const Mesh& mesh, const std::vector<CellPose>& poses, const Vec3& arrayPositionM,
                    const Vec3& arrayAnglesDeg, const std::string& title);

// One line of a level-against-distance plot. Points with different segment
// numbers are not joined (a gap in the audience, a balcony). A curve with
// `lowDb` and `highDb` is a band instead: the area between them is filled,
// under every line.
struct ProfileCurve {
    std::string label;
    Rgb colour;
    bool dashed = false;
    int thickness = 2;
    std::vector<double> distanceM, levelDb;
    std::vector<int> segment;
    std::vector<double> lowDb, highDb;
};

// Level against the distance on a logarithmic axis, so that a constant slope
// per doubling of distance is a straight line; a legend names the curves.
Canvas drawLevelAgainstDistance(const std::vector<ProfileCurve>& curves, const std::string& title,
                                const std::string& subtitle);

}  // namespace arrayhost

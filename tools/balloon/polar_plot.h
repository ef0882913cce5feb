// Polar diagrams of one band of a balloon as SVG: the horizontal plane
// (meridians 90 and 270) beside the vertical plane (meridians 0 and 180),
// the axis pointing up, levels from 0 dB at the rim to -kPlotRangeDb at the centre.
#pragma once

#include <string>

#include "tools/balloon/balloon_model.h"

namespace balloon {

inline constexpr double kPlotRangeDb = 50.0;
inline constexpr double kPlotRadiusPx = 200.0;

// Radius in pixels at which a level is drawn.
double plotRadiusPx(double levelDb);

std::string polarPlotSvg(const Balloon& balloon, int band, const std::string& title);

}  // namespace balloon

// What a design hands back to the user: the report, the chosen array as a
// scenario file, the curves of the level plot, and the per-band reach.
#pragma once

#include <string>
#include <vector>

#include "tools/arrayhost/design.h"
#include "tools/arrayhost/plots.h"

namespace arrayhost {

// How each row of the report holds (checkRobustness), in the order of the
// report's rows: scenario, uniform, PALC2, chosen. May be empty.
std::string formatDesign(const DesignResult& result, const DesignOptions& options, const Scenario& scenario,
                         const std::vector<Robustness>& robustness = {});

// The scenario text with its `splays` (and `kinds`, and the tilt in
// `array_angles` when the design chose it) replaced by the choice, and the
// setup blob's bytes as a comment.
std::string designedScenarioText(const std::string& text, const Scenario& scenario, const ArrayChoice& choice,
                                 const std::vector<uint8_t>& blob, bool withTilt = false);

// The broadband level and 1, 2, 4 and 8 kHz along the line, for PALC2
// (dashed) and the chosen array (solid), the range of the chosen array's
// broadband level over the perturbations as a band, and the target line
// through the chosen array's mean broadband residual.
std::vector<ProfileCurve> profileCurves(const DesignResult& result, const DesignOptions& options);

// Each band of the design's range designed for by itself: the spread it
// reaches alone is about the least these balloons allow in that band, which
// the joint design can only approach. Leaves the instance holding `result`'s
// choice.
std::string eachBandReport(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                           const DesignOptions& joint, const DesignResult& result);

// The exit status of a design: 0, or 1 when the chosen array itself could not
// be measured (the plug-in refused or answered NaN inside its evaluation).
int designExitStatus(const DesignResult& result);

// Text for a slope in dB per doubling: "0", "-1.5", "-3".
std::string slopeText(double v);

}  // namespace arrayhost

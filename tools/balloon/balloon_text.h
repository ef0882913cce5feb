// The plain-text exchange form of measured balloons, one node per line:
//
//     <kind> <band centre Hz> <meridian deg> <polar deg> <level dB re on axis>
//
// '#' starts a comment; blank lines are ignored. tools/balloon/README.md
// describes the format and the checks.
#pragma once

#include <map>
#include <string>

#include "tools/balloon/balloon_model.h"

namespace balloon {

// The rear node is one direction seen from every meridian; measurements of it
// may differ by this much and are then stored as their mean.
inline constexpr double kRearRowToleranceDb = 0.05;

struct ImportResult {
    std::map<std::string, Balloon> balloons;  // by kind
    std::string error;                        // "file:line: reason", empty when accepted
};

// Reads every kind in the text and checks each strictly: the whole grid of
// every band, finite levels, 0 dB on axis, one rear level per band, band
// centres and angles on the grid, no node twice. fileName names the text in
// messages.
ImportResult importBalloonText(const std::string& text, const std::string& fileName);

// One kind's balloon in the text form; importing it gives the same floats.
std::string exportBalloonText(const std::string& kind, const Balloon& balloon);

}  // namespace balloon

// The text report, section by section.
#pragma once

#include <string>
#include <vector>

#include "tools/arrayhost/coverage.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace arrayhost {

std::string formatDescriptors(const Descriptors& d, const std::string& libraryPath);
std::string formatSetup(const Scenario& s, const std::vector<CellPose>& poses);
// Per-cell levels by band with the three sums, and the A-weighted broadband row.
std::string formatSeat(const SeatResult& seat, double speedOfSoundMPerS);
std::string formatCoverage(const CoverageMap& map, const SweepTiming& timing, CellSum sum);
// "1.23 M/s", "456 k/s".
std::string formatRate(double perSecond);

}  // namespace arrayhost

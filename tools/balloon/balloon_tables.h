// The short per-band tables that go with a balloon: directivity factor, the
// on-axis level at 1 m and the -6 dB coverage angles of the two planes.
#pragma once

#include <array>
#include <string>

#include "acoustics/bands.h"
#include "tools/balloon/balloon_model.h"

namespace balloon {

inline constexpr double kCoverageDropDb = -6.0;
inline constexpr double kReferencePressurePa = 20e-6;
// The smallest directivity factor the tables file can hold (four decimals).
inline constexpr double kSmallestDirectivityFactor = 0.0001;

// Full angle between the two -6 dB points of a plane, the two half-planes
// given as meridians (0 and 180 vertical, 90 and 270 horizontal). Each half
// is read from the axis outward to the first crossing, interpolated linearly
// between the 5-degree nodes; a half that never falls 6 dB counts 180.
double coverageAngleDeg(const Balloon& balloon, int band, int meridianA, int meridianB);
inline double horizontalCoverageDeg(const Balloon& b, int band) { return coverageAngleDeg(b, band, 90, 270); }
inline double verticalCoverageDeg(const Balloon& b, int band) { return coverageAngleDeg(b, band, 0, 180); }

struct BandTables {
    std::array<double, acoustics::kBandCount> directivityFactor{};
    std::array<double, acoustics::kBandCount> onAxisDb{};  // dB re 20 uPa at 1 m; NaN when not known
    std::array<double, acoustics::kBandCount> horizontalCoverageDeg{};
    std::array<double, acoustics::kBandCount> verticalCoverageDeg{};
};

// Q and coverage from the balloon; the on-axis level from the on-axis
// mean-square pressure at 1 m (Pa^2) per band, or NaN where none is given.
BandTables bandTables(const Balloon& balloon, const std::array<double, acoustics::kBandCount>* onAxisPa2AtOneMetre);

// Empty when every Q is a positive finite number and every known on-axis
// level finite, else which band and value are not.
std::string tablesFault(const BandTables& tables);

// The tables as text, one band per line, '#' heading.
std::string bandTablesText(const std::string& kind, const BandTables& tables);

}  // namespace balloon

// What an import can accept but a cabinet's data rarely look like: per band,
// a directivity factor below 1, a direction far louder than the axis, drivers
// that cancel on axis, and pressures of no stated unit. Each warning says
// what to try; `import-sofa --strict` refuses the file on any of them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "acoustics/bands.h"
#include "tools/balloon/balloon_model.h"
#include "tools/balloon/balloon_tables.h"

namespace balloon {

// A direction this far above the axis, in dB, is suspect for a cabinet.
inline constexpr double kLoudestOffAxisDb = 6.0;
// A complex sum on axis this far below the power sum, in dB, is cancellation.
inline constexpr double kCancellationDb = 10.0;

struct ImportFacts {
    const Balloon* balloon = nullptr;    // dB re on axis
    const BandTables* tables = nullptr;
    // On-axis mean-square pressure of the complex sum and of the power sum of
    // the same measurements, when several were summed as pressures.
    const std::array<double, acoustics::kBandCount>* complexOnAxis = nullptr;
    const std::array<double, acoustics::kBandCount>* powerOnAxis = nullptr;
    bool dataHasUnits = true;
    bool scaled = false;  // --pa-per-unit was given
};

// One line per finding, without the file's name.
std::vector<std::string> importWarnings(const ImportFacts& facts);

}  // namespace balloon

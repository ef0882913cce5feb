#include "tools/balloon/import_warnings.h"

#include <cmath>
#include <cstdio>

#include "acoustics/balloon_grid.h"

namespace balloon {

std::vector<std::string> importWarnings(const ImportFacts& facts) {
    using namespace acoustics;
    std::vector<std::string> warnings;
    char text[320];
    if (!facts.dataHasUnits && !facts.scaled)
        warnings.emplace_back(
            "Data.Real has no Units: the pressures are taken as pascal; if they are in another unit, give "
            "--pa-per-unit X");
    for (int band = 0; band < kBandCount; ++band) {
        const double hz = bandCentreHz(band);
        if (facts.complexOnAxis && facts.powerOnAxis) {
            const double dropDb = 10.0 * std::log10((*facts.powerOnAxis)[band] / (*facts.complexOnAxis)[band]);
            if (dropDb > kCancellationDb) {
                std::snprintf(text, sizeof text,
                              "%g Hz: the measurements cancel on axis, their complex sum %.1f dB below their power "
                              "sum; if each is referenced to its own driver's centre, try --sum power or "
                              "--measurement K",
                              hz, dropDb);
                warnings.emplace_back(text);
            }
        }
        if (facts.tables && facts.tables->directivityFactor[band] < 1.0) {
            std::snprintf(text, sizeof text,
                          "%g Hz: Q %.4f is below 1, the axis quieter than the mean over the sphere; check the axis "
                          "(SourceView), or the drivers' sum (--sum power, --measurement K)",
                          hz, facts.tables->directivityFactor[band]);
            warnings.emplace_back(text);
        }
        if (facts.balloon) {
            int loudest = band * kBalloonBandStride;
            for (int i = band * kBalloonBandStride; i < (band + 1) * kBalloonBandStride; ++i)
                if ((*facts.balloon)[i] > (*facts.balloon)[loudest]) loudest = i;
            const double db = (*facts.balloon)[loudest];
            if (db > kLoudestOffAxisDb) {
                const int rest = loudest % kBalloonBandStride;
                std::snprintf(text, sizeof text,
                              "%g Hz: meridian %d, polar %d is %.1f dB above on axis; check the axis (SourceView), "
                              "or take one driver with --measurement K",
                              hz, rest / kPolarCount * kGridStepDeg, rest % kPolarCount * kGridStepDeg, db);
                warnings.emplace_back(text);
            }
        }
    }
    return warnings;
}

}  // namespace balloon

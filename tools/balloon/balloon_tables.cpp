#include "tools/balloon/balloon_tables.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "acoustics/balloon_analysis.h"
#include "acoustics/balloon_grid.h"

namespace balloon {

namespace {

double halfCoverageDeg(const Balloon& balloon, int band, int meridianDeg) {
    using namespace acoustics;
    const int m = meridianDeg / kGridStepDeg;
    for (int p = 1; p < kPolarCount; ++p) {
        const double low = balloon[balloonIndex(band, m, p - 1)];
        const double high = balloon[balloonIndex(band, m, p)];
        if (high <= kCoverageDropDb) {
            const double t = low > kCoverageDropDb ? (low - kCoverageDropDb) / (low - high) : 0.0;
            return (p - 1 + t) * kGridStepDeg;
        }
    }
    return 180.0;
}

}  // namespace

double coverageAngleDeg(const Balloon& balloon, int band, int meridianA, int meridianB) {
    return halfCoverageDeg(balloon, band, meridianA) + halfCoverageDeg(balloon, band, meridianB);
}

BandTables bandTables(const Balloon& balloon, const std::array<double, acoustics::kBandCount>* onAxisPa2AtOneMetre) {
    BandTables t;
    for (int band = 0; band < acoustics::kBandCount; ++band) {
        t.directivityFactor[band] = acoustics::directivityFactor(balloon.data() + band * acoustics::kBalloonBandStride);
        t.onAxisDb[band] = onAxisPa2AtOneMetre
                               ? 10.0 * std::log10((*onAxisPa2AtOneMetre)[band] /
                                                   (kReferencePressurePa * kReferencePressurePa))
                               : std::numeric_limits<double>::quiet_NaN();
        t.horizontalCoverageDeg[band] = horizontalCoverageDeg(balloon, band);
        t.verticalCoverageDeg[band] = verticalCoverageDeg(balloon, band);
    }
    return t;
}

std::string tablesFault(const BandTables& t) {
    char text[160];
    for (int band = 0; band < acoustics::kBandCount; ++band) {
        const double q = t.directivityFactor[band], level = t.onAxisDb[band];
        // The tables hold Q to four decimals; one that would read 0.0000
        // is refused here rather than by the build.
        if (!std::isfinite(q) || !(q >= kSmallestDirectivityFactor)) {
            std::snprintf(text, sizeof text, "Q at %g Hz is %g; a directivity factor must be a finite number of at least %g",
                          acoustics::bandCentreHz(band), q, kSmallestDirectivityFactor);
            return text;
        }
        if (std::isinf(level)) {
            std::snprintf(text, sizeof text, "the on-axis level at %g Hz is %g dB; it must be finite",
                          acoustics::bandCentreHz(band), level);
            return text;
        }
    }
    return {};
}

std::string bandTablesText(const std::string& kind, const BandTables& t) {
    std::string text = "# " + kind +
                       ": band_Hz  on_axis_dB_SPL_at_1m  Q  horizontal_-6dB_deg  vertical_-6dB_deg\n";
    char line[128];
    for (int band = 0; band < acoustics::kBandCount; ++band) {
        std::snprintf(line, sizeof line, "%-5g  %8.3f  %8.4f  %6.1f  %6.1f\n", acoustics::bandCentreHz(band),
                      t.onAxisDb[band], t.directivityFactor[band], t.horizontalCoverageDeg[band],
                      t.verticalCoverageDeg[band]);
        text += line;
    }
    return text;
}

}  // namespace balloon

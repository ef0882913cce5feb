#include "tools/arrayhost/direct_sum.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace arrayhost {

BandValues directCoherentSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode) {
    BandValues out{};
    for (int band = 0; band < kBandCount; ++band) {
        std::vector<double> hz;
        if (mode == CoherentMode::CentreOnly) {
            hz.push_back(kBandCentresHz[band]);
        } else {
            // Eight frequencies evenly across the base-ten band edges around
            // 1000 10^((i-10)/10) Hz, at the middles of equal slices.
            const double mid = 1000 * std::pow(10.0, (band - 10) / 10.0);
            const double lo = mid * std::pow(10.0, -0.05), hi = mid * std::pow(10.0, 0.05);
            for (int k = 0; k < kBandAverageFrequencies; ++k) {
                hz.push_back(lo + (hi - lo) * (k + 0.5) / kBandAverageFrequencies);
            }
        }
        double energy = 0;
        for (double f : hz) {
            std::complex<double> sum;
            for (int c = 0; c < count; ++c) {
                const double phase = cells[c].phasesDeg[size_t(band)] * std::numbers::pi / 180 -
                                     2 * std::numbers::pi * f * cells[c].pathM / speedOfSoundMPerS;
                sum += std::pow(10.0, cells[c].levelsDb[size_t(band)] / 20.0) * std::polar(1.0, phase);
            }
            energy += std::norm(sum);
        }
        out[size_t(band)] = powerToDb(energy / double(hz.size()));
    }
    return out;
}

}  // namespace arrayhost

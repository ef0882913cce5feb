#include "tools/arrayhost/direct_sum.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace arrayhost {

namespace {

BandValues directSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode,
                     const InterfaceLaw* law) {
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
                double levelDb = cells[c].levelsDb[size_t(band)], spreading = 1;
                if (law != nullptr) {
                    if (levelDb <= 0) continue;  // floored by the plug-in: silent
                    const double d = cells[c].arrayDistanceM, r = cells[c].pathM;
                    const double alpha = law->airAbsorptionDbPerM[size_t(band)];
                    levelDb += interfaceLossDb(d, law->farFieldOffsetDb[size_t(band)]) + alpha * d - alpha * r;
                    spreading = 1 / std::max(r, kNearestPathM);
                }
                sum += std::pow(10.0, levelDb / 20.0) * spreading * std::polar(1.0, phase);
            }
            energy += std::norm(sum);
        }
        out[size_t(band)] = powerToDb(energy / double(hz.size()));
    }
    return out;
}

}  // namespace

BandValues directCoherentSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode) {
    return directSum(cells, count, speedOfSoundMPerS, mode, nullptr);
}

BandValues directPointSourceSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode,
                                const InterfaceLaw& law) {
    return directSum(cells, count, speedOfSoundMPerS, mode, &law);
}

}  // namespace arrayhost

#include "tools/arrayhost/summation.h"

#include <cmath>

namespace arrayhost {

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr double kRadiansPerDegree = kPi / 180.0;
// exp(level * k) is 10^(level / 10) or 10^(level / 20), and faster than pow.
constexpr double kPowerPerDb = 0.23025850929940458;      // ln(10) / 10
constexpr double kAmplitudePerDb = 0.11512925464970229;  // ln(10) / 20
}  // namespace

double powerToDb(double power) { return power > 0 ? 10.0 * std::log10(power) : kSilenceDb; }

BandValues sumByPower(const CellResponse* cells, int count) {
    BandValues out{};
    for (int band = 0; band < kBandCount; ++band) {
        double power = 0;
        for (int c = 0; c < count; ++c) power += std::exp(kPowerPerDb * cells[c].levelsDb[band]);
        out[band] = powerToDb(power);
    }
    return out;
}

CoherentSum::CoherentSum(double speedOfSoundMPerS) {
    for (int band = 0; band < kBandCount; ++band) {
        cyclesPerMetre_[band] = kBandCentresHz[band] / speedOfSoundMPerS;
    }
}

BandValues CoherentSum::operator()(const CellResponse* cells, int count) const {
    BandValues out{};
    for (int band = 0; band < kBandCount; ++band) {
        double re = 0, im = 0;
        for (int c = 0; c < count; ++c) {
            const double amplitude = std::exp(kAmplitudePerDb * cells[c].levelsDb[band]);
            // Whole periods dropped first: sine and cosine are quick for small angles.
            const double cycles = cyclesPerMetre_[band] * cells[c].pathM;
            const double phase =
                cells[c].phasesDeg[band] * kRadiansPerDegree - 2.0 * kPi * (cycles - std::floor(cycles));
            re += amplitude * std::cos(phase);
            im += amplitude * std::sin(phase);
        }
        out[band] = powerToDb(re * re + im * im);
    }
    return out;
}

double aWeightedDb(const BandValues& bandLevelsDb) {
    double power = 0;
    for (int band = 0; band < kBandCount; ++band) {
        power += std::exp(kPowerPerDb * (bandLevelsDb[band] + kAWeightingDb[band]));
    }
    return powerToDb(power);
}

}  // namespace arrayhost

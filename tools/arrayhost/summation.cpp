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

std::array<double, kBandAverageFrequencies> bandAverageFrequenciesHz(int band) {
    constexpr double kReferenceHz = 1000.0;
    constexpr int kReferenceBand = 10;
    const double midHz = kReferenceHz * std::pow(10.0, (band - kReferenceBand) / 10.0);
    const double lowHz = midHz * std::pow(10.0, -1.0 / 20.0), highHz = midHz * std::pow(10.0, 1.0 / 20.0);
    // Midpoints of equal slices of the band, so the band's edges are shared
    // with no neighbour.
    const double stepHz = (highHz - lowHz) / kBandAverageFrequencies;
    std::array<double, kBandAverageFrequencies> out{};
    for (int k = 0; k < kBandAverageFrequencies; ++k) out[size_t(k)] = lowHz + (k + 0.5) * stepHz;
    return out;
}

CoherentSum::CoherentSum(double speedOfSoundMPerS, CoherentMode mode) : mode_(mode) {
    for (int band = 0; band < kBandCount; ++band) {
        cyclesPerMetre_[band] = kBandCentresHz[band] / speedOfSoundMPerS;
        const auto hz = bandAverageFrequenciesHz(band);
        firstCyclesPerMetre_[band] = hz[0] / speedOfSoundMPerS;
        stepCyclesPerMetre_[band] = (hz[1] - hz[0]) / speedOfSoundMPerS;
    }
}

BandValues CoherentSum::operator()(const CellResponse* cells, int count) const {
    return mode_ == CoherentMode::CentreOnly ? centreOnly(cells, count) : bandAverage(cells, count);
}

BandValues CoherentSum::bandAverage(const CellResponse* cells, int count) const {
    BandValues out{};
    for (int band = 0; band < kBandCount; ++band) {
        double re[kBandAverageFrequencies] = {}, im[kBandAverageFrequencies] = {};
        for (int c = 0; c < count; ++c) {
            const double amplitude = std::exp(kAmplitudePerDb * cells[c].levelsDb[band]);
            // The phase falls linearly with frequency (a delay), so from one
            // frequency to the next each cell's phasor turns by the same
            // angle: one rotation per step instead of a sine and cosine.
            const double firstCycles = firstCyclesPerMetre_[band] * cells[c].pathM;
            const double stepCycles = stepCyclesPerMetre_[band] * cells[c].pathM;
            const double first =
                cells[c].phasesDeg[band] * kRadiansPerDegree - 2.0 * kPi * (firstCycles - std::floor(firstCycles));
            const double step = -2.0 * kPi * (stepCycles - std::floor(stepCycles));
            double zr = amplitude * std::cos(first), zi = amplitude * std::sin(first);
            const double wr = std::cos(step), wi = std::sin(step);
            for (int k = 0; k < kBandAverageFrequencies; ++k) {
                re[k] += zr;
                im[k] += zi;
                const double nr = zr * wr - zi * wi;
                zi = zr * wi + zi * wr;
                zr = nr;
            }
        }
        double energy = 0;
        for (int k = 0; k < kBandAverageFrequencies; ++k) energy += re[k] * re[k] + im[k] * im[k];
        out[band] = powerToDb(energy / kBandAverageFrequencies);
    }
    return out;
}

BandValues CoherentSum::centreOnly(const CellResponse* cells, int count) const {
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

#include "acoustics/air_absorption.h"

#include <cmath>

namespace acoustics {

namespace {

constexpr double kAirTemperatureK = 295.15;       // 22 degrees C
constexpr double kReferenceTemperatureK = 293.15;
constexpr double kTriplePointIsothermK = 273.16;
// The ambient pressure equals the reference pressure, so every pa/pr is 1.

}  // namespace

bool computeAirAbsorption(float relativeHumidityPercent, float (&dbPerM)[kBandCount]) {
    if (!std::isfinite(relativeHumidityPercent)) return false;
    const double hr = relativeHumidityPercent > 0.0f ? double(relativeHumidityPercent) : 0.0;

    const double t = kAirTemperatureK;
    const double tRatio = t / kReferenceTemperatureK;  // T / T0

    // Saturation vapour pressure over the reference pressure, and the molar
    // concentration of water vapour in percent.
    const double saturation =
        std::pow(10.0, 4.6151 - 6.8346 * std::pow(kTriplePointIsothermK / t, 1.261));
    const double h = hr * saturation;

    // Relaxation frequencies of oxygen and nitrogen, Hz.
    const double frO = 24.0 + 4.04e4 * h * (0.02 + h) / (0.391 + h);
    const double frN =
        std::pow(tRatio, -0.5) * (9.0 + 280.0 * h * std::exp(-4.170 * (std::pow(tRatio, -1.0 / 3.0) - 1.0)));

    // Terms that do not depend on the frequency.
    const double classical = 1.84e-11 * std::sqrt(tRatio);
    const double relaxationScale = std::pow(tRatio, -2.5);
    const double oxygen = 0.01275 * std::exp(-2239.1 / t) * frO;
    const double nitrogen = 0.1068 * std::exp(-3352.0 / t) * frN;
    const double frO2 = frO * frO;
    const double frN2 = frN * frN;

    for (int band = 0; band < kBandCount; ++band) {
        const double f = kBandCentresHz[band];
        const double f2 = f * f;
        const double alpha =
            8.686 * f2 * (classical + relaxationScale * (oxygen / (frO2 + f2) + nitrogen / (frN2 + f2)));
        dbPerM[band] = float(alpha);
    }
    return true;
}

}  // namespace acoustics

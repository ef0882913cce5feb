// Speed of resampling a measured directivity onto the balloon grid, for the
// measurement grids a lab writes: azimuth and elevation in equal steps of
// 2, 1 and 0.5 degrees (16,380, 65,160 and 259,920 directions, the poles
// repeated at every azimuth). A cabinet-like pattern in every band.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "acoustics/bands.h"
#include "tools/balloon/sphere_resample.h"

namespace {

constexpr double kPi = 3.141592653589793;

struct Measurement {
    std::vector<balloon::Direction> directions;
    std::vector<balloon::BandEnergies> energies;
};

Measurement gridMeasurement(double stepDeg) {
    Measurement m;
    const int azimuths = static_cast<int>(std::lround(360.0 / stepDeg));
    const int elevations = static_cast<int>(std::lround(180.0 / stepDeg)) + 1;
    for (int e = 0; e < elevations; ++e)
        for (int a = 0; a < azimuths; ++a) {
            const double el = (-90.0 + e * stepDeg) * kPi / 180, az = a * stepDeg * kPi / 180;
            const balloon::Direction d{std::cos(el) * std::cos(az), std::cos(el) * std::sin(az), std::sin(el)};
            balloon::BandEnergies energy{};
            for (int band = 0; band < acoustics::kBandCount; ++band) {
                const double hz = acoustics::bandCentreHz(band);
                energy[band] = std::pow(0.5 * (1 + d.x), std::pow(hz / 100.0, 0.6)) * (1 + 0.3 * d.y) + 0.01;
            }
            m.directions.push_back(d);
            m.energies.push_back(energy);
        }
    return m;
}

// The argument is the grid step in tenths of a degree.
void BM_ResampleMeasurementGrid(benchmark::State& state) {
    const Measurement m = gridMeasurement(state.range(0) / 10.0);
    for (auto _ : state) {
        const balloon::ResampleResult r = balloon::resampleToGrid(m.directions, m.energies);
        if (!r.error.empty()) state.SkipWithError(r.error.c_str());
        benchmark::DoNotOptimize(r.balloon.data());
    }
    state.counters["directions"] = static_cast<double>(m.directions.size());
}
BENCHMARK(BM_ResampleMeasurementGrid)->Arg(20)->Arg(10)->Arg(5)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

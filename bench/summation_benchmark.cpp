// The stand-in host's own arithmetic per seat: the power and coherent sums of
// one seat's cell responses, in both coherent modes, timed against the same
// sums evaluated as written down (a sine, cosine and power of ten per cell
// and frequency). The responses are those of a 12-cell array at a seat
// 20 m away, with levels and phases spread as a plug-in's are.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "tools/arrayhost/direct_sum.h"
#include "tools/arrayhost/summation.h"

namespace {

using arrayhost::CellResponse;
using arrayhost::CoherentMode;

std::vector<CellResponse> seatResponses(int cells) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(70, 100), phase(-180, 180), spread(-2, 2);
    std::vector<CellResponse> out(static_cast<size_t>(cells));
    for (int c = 0; c < cells; ++c) {
        for (int band = 0; band < arrayhost::kBandCount; ++band) {
            out[size_t(c)].levelsDb[size_t(band)] = level(random);
            out[size_t(c)].phasesDeg[size_t(band)] = phase(random);
        }
        out[size_t(c)].pathM = 20.0f + 0.3f * float(c) + spread(random) * 0.01f;
    }
    return out;
}

void fastSums(benchmark::State& state, CoherentMode mode) {
    const auto cells = seatResponses(int(state.range(0)));
    const arrayhost::CoherentSum sum(343.0, mode);
    for (auto _ : state) benchmark::DoNotOptimize(sum.both(cells.data(), int(cells.size())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void directSums(benchmark::State& state, CoherentMode mode) {
    const auto cells = seatResponses(int(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(arrayhost::directCoherentSum(cells.data(), int(cells.size()), 343.0, mode));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK_CAPTURE(fastSums, band_average, CoherentMode::BandAverage)->Arg(12)->Arg(16);
BENCHMARK_CAPTURE(fastSums, centre_only, CoherentMode::CentreOnly)->Arg(12)->Arg(16);
BENCHMARK_CAPTURE(directSums, band_average, CoherentMode::BandAverage)->Arg(12);
BENCHMARK_CAPTURE(directSums, centre_only, CoherentMode::CentreOnly)->Arg(12);

}  // namespace

BENCHMARK_MAIN();

// The stand-in host's own arithmetic. Per seat: the power and coherent sums
// of one seat's cell responses as the plug-in reports them and as point
// sources, in both coherent modes, timed against the
// same sums evaluated as written down (a sine, cosine and power of ten per
// cell and frequency), for responses like a 12- or 16-cell array's at a seat
// 20 m away. Per design step: one array of 16 ktr4 cells set up and measured
// along an audience line through the plug-in's exports, at ten seats per
// metre in the nominal scene and its eight perturbations. And a whole design
// of 16 cells along the default floor.
#include <benchmark/benchmark.h>

#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tools/arrayhost/design.h"
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
        out[size_t(c)].arrayDistanceM = 20.0f;
    }
    return out;
}

void fastSums(benchmark::State& state, CoherentMode mode) {
    const auto cells = seatResponses(int(state.range(0)));
    const arrayhost::CoherentSum sum(343.0, mode);
    for (auto _ : state) benchmark::DoNotOptimize(sum.both(cells.data(), int(cells.size())));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void pointSourceSums(benchmark::State& state, CoherentMode mode) {
    const auto cells = seatResponses(int(state.range(0)));
    const arrayhost::CoherentSum sum(343.0, mode);
    const arrayhost::InterfaceLaw law = arrayhost::interfaceLaw(0.3 * double(state.range(0) - 1), 50, true);
    for (auto _ : state) benchmark::DoNotOptimize(sum.pointSources(cells.data(), int(cells.size()), law));
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
BENCHMARK_CAPTURE(pointSourceSums, band_average, CoherentMode::BandAverage)->Arg(12)->Arg(16);
BENCHMARK_CAPTURE(pointSourceSums, centre_only, CoherentMode::CentreOnly)->Arg(12);
BENCHMARK_CAPTURE(directSums, band_average, CoherentMode::BandAverage)->Arg(12);
BENCHMARK_CAPTURE(directSums, centre_only, CoherentMode::CentreOnly)->Arg(12);

// The default floor, 3 to 40 m, with 16 cells instead of 12.
std::optional<arrayhost::Scenario> sixteenCells() {
    std::string text = arrayhost::defaultScenarioText();
    text.replace(text.find("cells = 12"), 10, "cells = 16");
    text.replace(text.find("splays = 0 1 1 1 2 2 3 4 5 6 7 8"), 32, "splays = 0 0 1 1 1 1 2 2 2 3 3 4 5 6 7 8");
    arrayhost::ScenarioError error;
    return arrayhost::parseScenario(text, "benchmark", error);
}

std::unique_ptr<arrayhost::Session> sessionFor(const arrayhost::Scenario& scenario, benchmark::State& state) {
    std::string failure;
    auto session = arrayhost::Session::open(scenario.plugin, failure);
    if (!session || !session->setUp(scenario, failure)) {
        state.SkipWithError(failure.c_str());
        return nullptr;
    }
    return session;
}

void designEvaluation(benchmark::State& state) {
    const auto scenario = sixteenCells();
    auto session = sessionFor(*scenario, state);
    if (!session) return;
    arrayhost::DesignOptions options;
    options.showProgress = false;
    arrayhost::Designer designer(*session, *scenario, *arrayhost::modelOf("ktr4"), options);
    arrayhost::ArrayChoice choice{std::vector<double>(16, 1.668), {}, -10};
    choice.splaysDeg[0] = 0;
    for (auto _ : state) benchmark::DoNotOptimize(designer.evaluate(choice).objectiveDb);
}
BENCHMARK(designEvaluation)->Unit(benchmark::kMillisecond);

// A whole design of 16 cells; with the argument 1 it also chooses the tilt
// within 25 degrees (--tilt -20 5).
void design16Cells(benchmark::State& state) {
    const auto scenario = sixteenCells();
    auto session = sessionFor(*scenario, state);
    if (!session) return;
    arrayhost::DesignOptions options;
    options.showProgress = false;
    if (state.range(0) == 1) options.tiltRangeDeg = std::make_pair(-20.0, 5.0);
    long evaluations = 0;
    for (auto _ : state) {
        evaluations = arrayhost::Designer(*session, *scenario, *arrayhost::modelOf("ktr4"), options).run().evaluations;
    }
    state.counters["arrays"] = double(evaluations);
}
BENCHMARK(design16Cells)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

// The host's inner loop: every cell of a 16-cell array at every seat of an
// audience grid. Three ways of answering one cell-seat query are timed side by
// side: the plug-in's export called through the loaded library as the host
// calls it, the literal evaluation with nothing hoisted, and a floor loop that
// does nothing but read and sum the 84 balloon nodes a query needs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "acoustics/air_absorption.h"
#include "acoustics/balloon_grid.h"
#include "acoustics/component_response.h"
#include "bench/literal_response.h"
#include "geometry/rotation.h"
#include "models/ktr4.h"
#include "plugin/response.h"
#include "plugin/setup.h"
#include "tools/host/plugin_library.h"

namespace {

constexpr int kCells = 16;
constexpr float kSplaysDeg[kCells] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 8, 9};
constexpr float kArrayPositionM[3] = {0.0f, 0.0f, 10.0f};
constexpr float kArrayAnglesDeg[3] = {0.0f, -4.0f, 0.0f};
constexpr float kHumidityPercent = 50.0f;

// Seats 1.2 m above the floor, every metre of a 40 m x 30 m area in front.
std::vector<geometry::Vector3> seatGrid() {
    std::vector<geometry::Vector3> seats;
    for (int y = 1; y <= 30; ++y) {
        for (int x = -20; x <= 20; ++x) seats.push_back({float(x), -float(y), 1.2f});
    }
    return seats;
}

std::vector<unsigned char> setupBlob() {
    std::vector<unsigned char> blob(8 + 4 * kCells);
    const uint32_t size = uint32_t(blob.size()), magic = models::kKtr4.setupMagic;
    std::memcpy(blob.data(), &size, 4);
    std::memcpy(blob.data() + 4, &magic, 4);
    std::memcpy(blob.data() + 8, kSplaysDeg, sizeof kSplaysDeg);
    return blob;
}

// The same array, seat grid and room in the portable core, for the
// evaluations that do not go through the library's exports.
struct CoreScene {
    std::unique_ptr<plugin::PluginState> state = std::make_unique<plugin::PluginState>(models::kKtr4);
    plugin::Instance* instance = &state->instances.slot(1);
    std::vector<geometry::Vector3> seats = seatGrid();

    CoreScene() {
        const auto blob = setupBlob();
        plugin::applySetupBlob(*instance, models::kKtr4, blob.data());
        instance->arrayPosition = {kArrayPositionM[0], kArrayPositionM[1], kArrayPositionM[2]};
        instance->arrayAngles = geometry::EulerAngles::fromDegrees(kArrayAnglesDeg[0], kArrayAnglesDeg[1], kArrayAnglesDeg[2]);
        plugin::layOut(*instance, models::kKtr4);
        state->room.humidityPercent = kHumidityPercent;
        acoustics::computeAirAbsorption(kHumidityPercent, state->room.airAbsorptionDbPerM);
        state->flags.set(1, 0);  // with air absorption
    }
};

// The plug-in as the host sees it: loaded, set up and queried through exports.
struct LibraryScene {
    std::unique_ptr<host::PluginLibrary> plugin;
    std::vector<geometry::Vector3> seats = seatGrid();

    LibraryScene() {
        std::string error;
        plugin = host::PluginLibrary::open(host::pluginPath("ktr4"), error);
        if (!plugin) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        plugin->RP_SetValue(2, kHumidityPercent);
        const int32_t withAbsorption = 0;
        plugin->DLLSetFlag(1, &withAbsorption);
        plugin->CI_GetFreeID();
        const auto blob = setupBlob();
        plugin->IP_SetValue(1, blob.data());
        plugin->CI_SetLspkPosition3fv(kArrayPositionM);
        plugin->CI_SetLspkAngles3fv(kArrayAnglesDeg);
    }
};

void reportPerCall(benchmark::State& state, size_t callsPerIteration) {
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(callsPerIteration));
    // Seconds per call, shown with an SI prefix (n for nanoseconds).
    state.counters["per_call"] = benchmark::Counter(double(state.iterations()) * double(callsPerIteration),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Export(benchmark::State& state) {
    LibraryScene scene;
    float levels[21], phases[21], time = 0;
    for (auto _ : state) {
        for (const geometry::Vector3& seat : scene.seats) {
            scene.plugin->CI_SetSeatPosition3fv(&seat.x);
            for (int32_t cell = 1; cell <= kCells; ++cell) {
                scene.plugin->CI_GetCompFR(cell, levels, phases, &time);
                benchmark::DoNotOptimize(levels);
            }
        }
    }
    reportPerCall(state, scene.seats.size() * kCells);
}

void BM_Literal(benchmark::State& state) {
    CoreScene scene;
    float levels[21], phases[21], time = 0;
    for (auto _ : state) {
        for (const geometry::Vector3& seat : scene.seats) {
            scene.instance->seatPosition = seat;
            for (int cell = 0; cell < kCells; ++cell) {
                bench::literalResponse(*scene.state, *scene.instance, cell, levels, phases, &time);
                benchmark::DoNotOptimize(levels);
            }
        }
    }
    reportPerCall(state, scene.seats.size() * kCells);
}

void BM_FloorLoop(benchmark::State& state) {
    CoreScene scene;
    // The nodes of every query, found beforehand: only the reads and sums remain.
    std::vector<acoustics::BalloonSample> samples;
    for (const geometry::Vector3& seat : scene.seats) {
        for (int cell = 0; cell < kCells; ++cell) {
            const plugin::Cell& c = scene.instance->cells[cell];
            samples.push_back(acoustics::balloonSample(acoustics::seatDirection(
                geometry::inverseRotate(seat - c.position, c.angles, models::kKtr4.angles.order))));
        }
    }
    const float* balloon = models::kKtr4.acoustic.balloonDb[0];
    float sums[21];
    for (auto _ : state) {
        for (const acoustics::BalloonSample& s : samples) {
            const float* block = balloon;
            for (int band = 0; band < 21; ++band, block += acoustics::kBalloonBandStride) {
                sums[band] = block[s.offsets[0]] + block[s.offsets[0] + 1] + block[s.offsets[1]] + block[s.offsets[1] + 1];
            }
            benchmark::DoNotOptimize(sums);
        }
    }
    reportPerCall(state, samples.size());
}

// The usual table, and each benchmark's median and best time per call kept
// for the two ratios the speed targets are stated in.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto perCall = run.counters.find("per_call");
            if (run.run_type == Run::RT_Aggregate && perCall != run.counters.end()) {
                perCallNs_[run.run_name.function_name + "/" + run.aggregate_name] = perCall->second.value * 1e9;
            }
        }
    }

    void printRatios() const {
        for (const char* aggregate : {"median", "min"}) {
            const double exportNs = find("BM_Export", aggregate), literalNs = find("BM_Literal", aggregate),
                         floorNs = find("BM_FloorLoop", aggregate);
            if (exportNs > 0 && floorNs > 0 && literalNs > 0) {
                std::printf("%-6s export %.1f ns = %.2f x the floor loop; literal evaluation %.1f ns = %.2f x the export\n",
                            aggregate, exportNs, exportNs / floorNs, literalNs, literalNs / exportNs);
            }
        }
    }

private:
    double find(const std::string& name, const std::string& aggregate) const {
        const auto it = perCallNs_.find(name + "/" + aggregate);
        return it == perCallNs_.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> perCallNs_;
};

void withBest(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });
}

}  // namespace

BENCHMARK(BM_Export)->Apply(withBest);
BENCHMARK(BM_Literal)->Apply(withBest);
BENCHMARK(BM_FloorLoop)->Apply(withBest);

int main(int argc, char** argv) {
    // Before timing: the export and the literal evaluation must agree.
    LibraryScene library;
    CoreScene core;
    float worstDb = 0;
    for (const geometry::Vector3& seat : core.seats) {
        library.plugin->CI_SetSeatPosition3fv(&seat.x);
        core.instance->seatPosition = seat;
        for (int cell = 0; cell < kCells; ++cell) {
            float ours[21], literal[21], phases[21], time = 0;
            library.plugin->CI_GetCompFR(cell + 1, ours, phases, &time);
            bench::literalResponse(*core.state, *core.instance, cell, literal, phases, &time);
            for (int band = 0; band < 21; ++band) worstDb = std::fmax(worstDb, std::fabs(ours[band] - literal[band]));
        }
    }
    std::printf("largest difference between the export and the literal evaluation: %.2e dB over %zu queries\n",
                double(worstDb), core.seats.size() * kCells);
    // Unless the command line says otherwise (later flags win): 15
    // repetitions interleaved in random order, so that a slow spell of a
    // shared machine falls on all three alike, and their median and best.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=15";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregatesOnly});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return worstDb <= 1e-4f ? 0 : 1;
}

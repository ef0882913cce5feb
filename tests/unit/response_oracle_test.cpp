// The response of whole arrays against a brute-force evaluation written here
// in double precision, straight from the acoustic model: rotation matrices
// from degrees, direction angles, bilinear balloon interpolation, air
// absorption and the near-field/far-field distance law.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <thread>

#include "acoustics/air_absorption.h"
#include "tests/every_model.h"
#include "plugin/response.h"
#include "plugin/setup.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBands = 21;
constexpr double kCentresHz[kBands] = {100,  125,  160,  200,  250,  315,  400,  500,  630,  800, 1000,
                                       1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};

struct D3 {
    double x, y, z;
};
using M3 = double[3][3];

// Row vector times the transpose, which undoes a rotation.
D3 timesTranspose(const D3& v, const M3& m) {
    return {v.x * m[0][0] + v.y * m[0][1] + v.z * m[0][2], v.x * m[1][0] + v.y * m[1][1] + v.z * m[1][2],
            v.x * m[2][0] + v.y * m[2][1] + v.z * m[2][2]};
}

// The seat in the frame of a cell turned by (a1, a2, a3) degrees.
D3 intoCellFrame(D3 v, const float anglesDeg[3], models::RotationOrder order) {
    const double a1 = anglesDeg[0] * kPi / 180, a2 = anglesDeg[1] * kPi / 180, a3 = anglesDeg[2] * kPi / 180;
    const M3 rz = {{std::cos(a1), std::sin(a1), 0}, {-std::sin(a1), std::cos(a1), 0}, {0, 0, 1}};
    const M3 rx = {{1, 0, 0}, {0, std::cos(a2), -std::sin(a2)}, {0, std::sin(a2), std::cos(a2)}};
    const double s3 = order == models::RotationOrder::ZXY ? std::sin(a3) : -std::sin(a3);
    const M3 ry = {{std::cos(a3), 0, s3}, {0, 1, 0}, {-s3, 0, std::cos(a3)}};
    // rotate = v R1 R2 R3, so its inverse is v R3^T R2^T R1^T.
    if (order == models::RotationOrder::ZXY) {
        return timesTranspose(timesTranspose(timesTranspose(v, ry), rx), rz);
    }
    return timesTranspose(timesTranspose(timesTranspose(v, rz), rx), ry);
}

double balloonAt(const float* balloon, int band, double polarDeg, double meridianDeg) {
    const double a = meridianDeg / 5, b = polarDeg / 5;
    const int m0 = int(std::floor(a)), p0 = int(std::floor(b));
    const double fm = a - m0, fp = b - p0;
    auto v = [&](int m, int p) {
        m %= 72;
        p = p > 36 ? 36 : p;
        return double(balloon[band * 2664 + m * 37 + p]);
    };
    return (1 - fp) * ((1 - fm) * v(m0, p0) + fm * v(m0 + 1, p0)) + fp * ((1 - fm) * v(m0, p0 + 1) + fm * v(m0 + 1, p0 + 1));
}

double exactDistance(const geometry::Vector3& p, const geometry::Vector3& q) {
    return std::sqrt((double(p.x) - q.x) * (double(p.x) - q.x) + (double(p.y) - q.y) * (double(p.y) - q.y) +
                     (double(p.z) - q.z) * (double(p.z) - q.z));
}

// arrayLengthM: from the first cell to the last as the last layout put them,
// which sets the transition distances until the next layout.
void bruteForceLevels(const plugin::PluginState& state, const plugin::Instance& instance, int cellIndex,
                      double arrayLengthM, double (&levels)[kBands]) {
    const models::ModelDefinition& model = state.model;
    const plugin::Cell& cell = instance.cells[cellIndex];
    const float angles[3] = {cell.angles.degrees(0), cell.angles.degrees(1), cell.angles.degrees(2)};
    const D3 seat{double(instance.seatPosition.x) - cell.position.x, double(instance.seatPosition.y) - cell.position.y,
                  double(instance.seatPosition.z) - cell.position.z};
    const D3 v = intoCellFrame(seat, angles, model.angles.order);
    const double rho = std::hypot(v.x, v.z);
    const double polar = rho > 0 ? 90 + std::atan(v.y / rho) * 180 / kPi : (v.y > 0 ? 180 : 0);
    double meridian = std::atan2(-v.x, v.z) * 180 / kPi;
    if (meridian < 0) meridian += 360;

    const double d = exactDistance(instance.seatPosition, instance.arrayPosition);
    const double length = arrayLengthM;
    const int kind = cell.kind;
    for (int band = 0; band < kBands; ++band) {
        double level = balloonAt(model.acoustic.balloonDb[kind], band, polar, meridian) +
                       model.acoustic.onAxisLevelDb[kind][band] + instance.filterGainDb[band];
        if (!state.flags.absorptionDisabled()) level -= d * state.room.airAbsorptionDbPerM[band];
        const double transition = std::max(length * length * kCentresHz[band] / 700, 1.0);
        double loss = 0;
        if (d > 1) loss = d < transition ? 10 * std::log10(d) : 20 * std::log10(d) - 10 * std::log10(transition);
        levels[band] = std::max(level - loss, 0.0);
    }
}

class ResponseOracle : public ::testing::TestWithParam<const models::ModelDefinition*> {};
INSTANTIATE_FOR_EVERY_MODEL(ResponseOracle);

}  // namespace

TEST_P(ResponseOracle, MatchesABruteForceEvaluation) {
    const models::ModelDefinition& model = *GetParam();
    auto state = std::make_unique<plugin::PluginState>(model);
    plugin::Instance& instance = state->instances.slot(1);
    plugin::SeatResponse kept{};
    std::mt19937 rng(41);
    std::uniform_real_distribution<float> unit(0, 1);
    auto uniform = [&](float lo, float hi) { return lo + (hi - lo) * unit(rng); };

    // The growth below draws from its own generator, so that the trials draw
    // from `rng` what they always drew.
    std::mt19937 growthRng(43);
    auto growthBelow = [&](int n) { return int(unit(growthRng) * float(n) * 0.999f); };

    int compared = 0, comparedAfterGrowth = 0;
    double worstDb = 0;
    double lengthM = 0;  // the array length at the last layout
    auto layOut = [&] {
        plugin::layOut(instance, model);
        const int last = instance.cellCount - 1;
        lengthM = last < 0 ? 0.0 : exactDistance(instance.cells[0].position, instance.cells[last].position);
    };
    auto expectBruteForce = [&](int cell, int trial, const char* what) {
        float levels[kBands], phases[kBands], time = 0;
        plugin::componentResponse(*state, instance, kept, cell, levels, phases, &time);
        double expected[kBands];
        bruteForceLevels(*state, instance, cell, lengthM, expected);
        for (int b = 0; b < kBands; ++b) {
            EXPECT_NEAR(levels[b], expected[b], 1e-3) << what << ", trial " << trial << " cell " << cell << " band " << b;
            worstDb = std::max(worstDb, std::fabs(levels[b] - expected[b]));
        }
        return !::testing::Test::HasFailure();
    };
    for (int trial = 0; trial < 300; ++trial) {
        instance.cellCount = 4 + int(unit(rng) * 12.99f);
        for (int k = 0; k < instance.cellCount; ++k) {
            instance.cells[k].splayDeg = uniform(-2, 10);
            instance.cells[k].kind = int(unit(rng) * float(model.kindCount) * 0.999f);
        }
        instance.arrayPosition = {uniform(-10, 10), uniform(-10, 10), uniform(2, 20)};
        instance.arrayAngles = geometry::EulerAngles::fromDegrees(uniform(-180, 180), uniform(-30, 30), uniform(-20, 20));
        layOut();
        plugin::seatOrCellsMoved(instance);
        for (int b = 0; b < kBands; ++b) instance.filterGainDb[b] = uniform(-12, 0);
        state->flags.set(1, trial % 2);
        acoustics::computeAirAbsorption(uniform(0, 100), state->room.airAbsorptionDbPerM);

        for (int seatTrial = 0; seatTrial < 10; ++seatTrial) {
            // Mostly distant seats, some within the array's near field.
            const float spread = seatTrial < 3 ? 2.0f : 60.0f;
            instance.seatPosition = {instance.arrayPosition.x + uniform(-spread, spread),
                                     instance.arrayPosition.y + uniform(-spread, spread),
                                     instance.arrayPosition.z + uniform(-spread, spread)};
            plugin::seatOrCellsMoved(instance);
            const int cell = int(unit(rng) * float(instance.cellCount) * 0.999f);
            float levels[kBands], phases[kBands], time = 0;
            plugin::componentResponse(*state, instance, kept, cell, levels, phases, &time);
            double expected[kBands];
            bruteForceLevels(*state, instance, cell, lengthM, expected);
            for (int b = 0; b < kBands; ++b) {
                ASSERT_NEAR(levels[b], expected[b], 1e-3) << "trial " << trial << " band " << b;
                worstDb = std::max(worstDb, std::fabs(levels[b] - expected[b]));
                ++compared;
            }
            EXPECT_NEAR(time, exactDistance(instance.seatPosition, instance.arrayPosition) / 343.0, 1e-6);
        }

        // Then the count grows without a layout, the seat staying: the
        // dialog's OK adds cells, or, in products whose setups may hold fewer
        // cells than the default, a refused blob or a released slot taken
        // again brings back the default cells. The cells past the old count
        // keep the poses of an earlier layout, or the zero pose, and must be
        // heard at those poses toward the present seat: what was kept for the
        // seat covers only the old count.
        const int way = model.fewestSetupEntries < model.defaultCellCount ? growthBelow(3) : 0;
        if (way != 0) {
            // A smaller array first, and the seat worked out for it.
            instance.cellCount = 1 + growthBelow(model.defaultCellCount - 1);
            layOut();
            expectBruteForce(growthBelow(instance.cellCount), trial, "before the reset");
        }
        const int oldCount = instance.cellCount;
        if (way == 0) {
            if (oldCount == models::kCellCapacity) continue;
            instance.cellCount = oldCount + 1 + growthBelow(models::kCellCapacity - oldCount);
            for (int k = oldCount; k < instance.cellCount; ++k) {
                instance.cells[k].splayDeg = float(growthBelow(11));
                instance.cells[k].kind = growthBelow(model.kindCount);
            }
        } else if (way == 1) {
            plugin::resetToDefaults(instance, model);  // a setup blob with the wrong magic
        } else {
            instance.inUse = false;  // as CI_Release leaves it
            ASSERT_EQ(state->instances.allocate(model), 1);
        }
        ASSERT_GT(instance.cellCount, oldCount);
        // From the old count up: the first cell past it is where a kept seat
        // that still looked valid would be read.
        for (int cell = oldCount; cell < instance.cellCount; ++cell) {
            ASSERT_TRUE(expectBruteForce(cell, trial, way == 0 ? "dialog" : way == 1 ? "refused blob" : "slot reused"));
            ++comparedAfterGrowth;
        }
    }
    RecordProperty("WorstDifferenceDb", std::to_string(worstDb));
    EXPECT_EQ(compared, 300 * 10 * kBands);
    EXPECT_GT(comparedAfterGrowth, 300);
}

// The setup dialog and a refused setup blob change the cell count without a
// layout. Cells that come back into the array then are sampled toward the
// present seat, not an earlier one.
TEST_P(ResponseOracle, CellsBackInTheArrayWithoutALayoutHearThePresentSeat) {
    const models::ModelDefinition& model = *GetParam();
    auto state = std::make_unique<plugin::PluginState>(model);
    plugin::Instance& instance = state->instances.slot(1);
    plugin::SeatResponse kept{};
    float levels[kBands], phases[kBands], time = 0;
    auto layOut = [&](int count) {
        instance.cellCount = count;
        for (int k = 0; k < count; ++k) instance.cells[k].splayDeg = 5.0f;
        plugin::layOut(instance, model);
    };
    auto seatAt = [&](float x, float y, float z) {
        instance.seatPosition = {x, y, z};
        plugin::seatOrCellsMoved(instance);
    };

    layOut(12);
    seatAt(0, -2, -3);
    plugin::componentResponse(*state, instance, kept, 0, levels, phases, &time);
    layOut(4);
    seatAt(6, -1, -4);
    plugin::componentResponse(*state, instance, kept, 0, levels, phases, &time);
    instance.cellCount = 12;  // as the dialog leaves it: cells 5 to 12 keep their earlier poses
    plugin::componentResponse(*state, instance, kept, 10, levels, phases, &time);

    plugin::SeatResponse fresh{};
    float expected[kBands];
    plugin::componentResponse(*state, instance, fresh, 10, expected, phases, &time);
    EXPECT_EQ(std::memcmp(levels, expected, sizeof levels), 0);
    // The earlier seat would have been heard quite differently there.
    seatAt(0, -2, -3);
    float earlier[kBands];
    plugin::componentResponse(*state, instance, fresh, 10, earlier, phases, &time);
    EXPECT_NE(std::memcmp(earlier, expected, sizeof earlier), 0);
}

// Hosts call from one thread. A second thread here makes the worst ordering
// happen: the seat set while the response of the one before is being worked
// out. The kept response must then carry the older stamp and be worked out
// again at the next call, never keep the earlier seat's levels under the
// later seat's stamp.
TEST_P(ResponseOracle, ASeatSetWhileTheResponseIsWorkedOutIsNotHiddenByTheStamp) {
    const models::ModelDefinition& model = *GetParam();
    auto state = std::make_unique<plugin::PluginState>(model);
    plugin::Instance& instance = state->instances.slot(1);
    instance.cellCount = 16;
    for (int k = 0; k < 16; ++k) instance.cells[k].splayDeg = 4.0f;
    plugin::layOut(instance, model);
    const geometry::Vector3 near{0, -3, -2}, far{9, -30, -8};
    float levels[kBands], expected[kBands], phases[kBands], time = 0;
    int stale = 0;
    for (int trial = 0; trial < 400; ++trial) {
        plugin::SeatResponse kept{};
        instance.seatPosition = near;
        plugin::seatOrCellsMoved(instance);
        std::atomic<bool> ready{false}, go{false};
        // The writer's delay sweeps across the time one seat takes to work out.
        const int spins = (trial * 131) % 6000;
        std::thread writer([&] {
            ready.store(true);
            while (!go.load()) {
            }
            for (std::atomic<int> spun{0}; spun.fetch_add(1) < spins;) {
            }
            instance.seatPosition = far;
            plugin::seatOrCellsMoved(instance);
        });
        while (!ready.load()) std::this_thread::yield();
        go.store(true);
        plugin::componentResponse(*state, instance, kept, 15, levels, phases, &time);
        writer.join();
        plugin::componentResponse(*state, instance, kept, 15, levels, phases, &time);
        plugin::SeatResponse fresh{};
        plugin::componentResponse(*state, instance, fresh, 15, expected, phases, &time);
        if (std::memcmp(levels, expected, sizeof levels) != 0) ++stale;
    }
    EXPECT_EQ(stale, 0) << "of 400 trials, levels of the earlier seat kept after the seat moved";
}

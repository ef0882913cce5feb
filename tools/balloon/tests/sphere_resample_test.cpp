// Resampling scattered measurements onto the balloon grid: accuracy against
// an analytic directivity, exactness where the grid is measured, the frame,
// refusal of directions that leave a hole, mirroring and the derived tables.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "acoustics/balloon_analysis.h"
#include "acoustics/balloon_grid.h"
#include "tools/balloon/balloon_tables.h"
#include "tools/balloon/sphere_resample.h"

namespace {

using acoustics::balloonIndex;
using acoustics::kBandCount;
using balloon::Direction;
constexpr double kPi = 3.141592653589793;

// A cabinet-like pattern: a beam that narrows with frequency (a cardioid at
// 100 Hz), narrower vertically than horizontally and louder to the left
// (+y), over diffuse radiation that falls with frequency (-6 dB behind at
// 100 Hz, about -30 dB at 10 kHz).
double analyticEnergy(const Direction& d, double hz) {
    const double beam = std::pow(0.5 * (1.0 + d.x), std::pow(hz / 100.0, 0.6));
    const double vertical = 1.0 - 0.9 * hz / (hz + 1000.0) * d.z * d.z;
    const double diffuse = 0.3 * std::sqrt(100.0 / hz) + 0.003;
    return beam * vertical * (1.0 + 0.3 * d.y) + diffuse;
}

balloon::BandEnergies analyticBands(const Direction& d) {
    balloon::BandEnergies e{};
    for (int band = 0; band < kBandCount; ++band) e[band] = analyticEnergy(d, acoustics::bandCentreHz(band));
    return e;
}

// The directivity factor by a fine midpoint rule over the sphere.
double analyticQ(double hz) {
    constexpr int kPolarSteps = 360, kMeridianSteps = 720;
    const double on = analyticEnergy({1, 0, 0}, hz);
    double integral = 0;
    for (int i = 0; i < kPolarSteps; ++i) {
        const double t = (i + 0.5) * kPi / kPolarSteps;
        for (int j = 0; j < kMeridianSteps; ++j) {
            const double p = (j + 0.5) * 2 * kPi / kMeridianSteps;
            const Direction d{std::cos(t), std::sin(t) * std::sin(p), std::sin(t) * std::cos(p)};
            integral += analyticEnergy(d, hz) / on * std::sin(t) * (kPi / kPolarSteps) * (2 * kPi / kMeridianSteps);
        }
    }
    return 4 * kPi / integral;
}

std::vector<Direction> spiral(int count) {
    std::vector<Direction> points;
    const double golden = kPi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - (i + 0.5) * 2.0 / count;
        const double r = std::sqrt(1.0 - z * z);
        points.push_back({r * std::cos(golden * i), r * std::sin(golden * i), z});
    }
    return points;
}

TEST(SphereResample, AnalyticDirectivityFromASpiralMeetsTheAccuracyTargets) {
    constexpr int kSpiralPoints = 800;
    constexpr double kRmsTargetDb = 0.5, kWorstTargetDb = 2.0, kQTolerance = 0.03;
    constexpr int kLastTargetBand = 16;  // 4 kHz
    const std::vector<Direction> points = spiral(kSpiralPoints);
    std::vector<balloon::BandEnergies> energies;
    for (const Direction& d : points) energies.push_back(analyticBands(d));
    const balloon::ResampleResult result = balloon::resampleToGrid(points, energies);
    ASSERT_EQ(result.error, "");

    for (int band = 0; band < kBandCount; ++band) {
        const double hz = acoustics::bandCentreHz(band);
        const double on = analyticEnergy({1, 0, 0}, hz);
        double sum2 = 0, worst = 0;
        int nodes = 0;
        for (int m = 0; m < acoustics::kMeridianCount; ++m)
            for (int p = 0; p < acoustics::kPolarCount; ++p) {
                const double truth = 10 * std::log10(analyticEnergy(balloon::gridDirection(m, p), hz) / on);
                const double error = result.balloon[balloonIndex(band, m, p)] - truth;
                sum2 += error * error;
                worst = std::max(worst, std::fabs(error));
                ++nodes;
            }
        const double rms = std::sqrt(sum2 / nodes);
        const double qRatio =
            acoustics::directivityFactor(result.balloon.data() + band * acoustics::kBalloonBandStride) / analyticQ(hz);
        std::printf("  %5g Hz  rms %.3f dB  worst %.3f dB  Q ratio %.4f\n", hz, rms, worst, qRatio);
        EXPECT_NEAR(qRatio, 1.0, kQTolerance) << hz << " Hz";
        if (band <= kLastTargetBand) {
            EXPECT_LT(rms, kRmsTargetDb) << hz << " Hz";
            EXPECT_LT(worst, kWorstTargetDb) << hz << " Hz";
        }
    }
}

TEST(SphereResample, MeasuredGridNodesComeBackExactlyAndTheFixedRowsHold) {
    // The measurement on the balloon's own grid, poles repeated at every
    // meridian as a turntable measures them.
    std::vector<Direction> points;
    std::vector<balloon::BandEnergies> energies;
    for (int m = 0; m < acoustics::kMeridianCount; ++m)
        for (int p = 0; p < acoustics::kPolarCount; ++p) {
            points.push_back(balloon::gridDirection(m, p));
            energies.push_back(analyticBands(points.back()));
        }
    const balloon::ResampleResult result = balloon::resampleToGrid(points, energies);
    ASSERT_EQ(result.error, "");
    int misses = 0;
    for (int band = 0; band < kBandCount; ++band) {
        const double hz = acoustics::bandCentreHz(band);
        const double on = analyticEnergy({1, 0, 0}, hz);
        for (int m = 0; m < acoustics::kMeridianCount; ++m) {
            EXPECT_EQ(result.balloon[balloonIndex(band, m, 0)], 0.0f);
            EXPECT_EQ(result.balloon[balloonIndex(band, m, 36)], result.balloon[balloonIndex(band, 0, 36)]);
            for (int p = 0; p < acoustics::kPolarCount; ++p) {
                const double truth = 10 * std::log10(analyticEnergy(balloon::gridDirection(m, p), hz) / on);
                misses += std::fabs(result.balloon[balloonIndex(band, m, p)] - truth) > 0.01;
            }
        }
    }
    EXPECT_EQ(misses, 0);
}

TEST(SphereResample, TheLouderLeftLandsOnMeridian270) {
    // The pattern is louder toward +y, the cabinet's left: meridian 270.
    const std::vector<Direction> points = spiral(800);
    std::vector<balloon::BandEnergies> energies;
    for (const Direction& d : points) energies.push_back(analyticBands(d));
    const balloon::ResampleResult result = balloon::resampleToGrid(points, energies);
    ASSERT_EQ(result.error, "");
    EXPECT_GT(result.balloon[balloonIndex(5, 54, 18)], result.balloon[balloonIndex(5, 18, 18)] + 1.0);
    const auto asymmetry = balloon::balloonAsymmetry(result.balloon);
    EXPECT_GT(asymmetry[5].worstDb, 1.0);

    balloon::Balloon mirrored = result.balloon;
    balloon::mirrorBalloon(mirrored);
    EXPECT_EQ(balloon::balloonAsymmetry(mirrored)[5].worstDb, 0.0);
    // Averaging energies: the mirrored pair sits between the two sides.
    const double left = result.balloon[balloonIndex(5, 54, 18)], right = result.balloon[balloonIndex(5, 18, 18)];
    const double expected = 10 * std::log10(0.5 * (std::pow(10, left / 10) + std::pow(10, right / 10)));
    EXPECT_NEAR(mirrored[balloonIndex(5, 18, 18)], expected, 1e-4);
}

TEST(SphereResample, DirectionsThatLeaveAHoleAreRefused) {
    // Only the front hemisphere, then a horizontal ring alone.
    std::vector<Direction> front, ring;
    for (const Direction& d : spiral(600))
        if (d.x > 0.05) front.push_back(d);
    for (int i = 0; i < 72; ++i) ring.push_back({std::cos(i * kPi / 36), std::sin(i * kPi / 36), 0});
    for (const auto& points : {front, ring}) {
        const std::vector<balloon::BandEnergies> energies(points.size(), balloon::BandEnergies{});
        const balloon::ResampleResult result = balloon::resampleToGrid(points, energies);
        EXPECT_NE(result.error, "") << points.size();
        EXPECT_TRUE(result.balloon.empty());
    }
}

// Points Qhull cannot make a hull of: the refusal is Qhull's own, its exit
// code named and its first line of explanation quoted. (The resampling
// jitters the directions it is given, so that a ring or a plane of them
// reaches Qhull as a thin hull and is refused for the gap it leaves.)
TEST(SphereResample, QhullsOwnErrorIsNamed) {
    const std::vector<Direction> ring = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0.6, 0.8, 0}};
    size_t missing = 0;
    std::string error;
    EXPECT_TRUE(balloon::sphereHull(ring, missing, error).empty());
    EXPECT_EQ(error.rfind("Qhull cannot triangulate them: exit code 2 (qh_ERRsingular, the input is degenerate): the "
                          "directions lie in one plane; Qhull says: QH",
                          0),
              0u)
        << error;
    error.clear();
    EXPECT_EQ(balloon::sphereHull({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, -1, -1}}, missing, error).size(), 4u);
    EXPECT_EQ(error, "");
    EXPECT_EQ(missing, 0u);
}

// More directions than the cap are refused before any work on them.
TEST(SphereResample, MoreDirectionsThanTheCapAreRefused) {
    const std::vector<Direction> many(balloon::kMaxDirections + 1, Direction{1, 0, 0});
    const balloon::ResampleResult result = balloon::resampleToGrid(many, {});
    EXPECT_EQ(result.error, "1048577 directions; the resampling takes at most 1048576");
    EXPECT_TRUE(result.balloon.empty());
}

// Energies that are finite but whose ratio to a nearly silent axis is not:
// the resampling refuses them, naming a node, rather than store infinity.
TEST(SphereResample, LevelsBeyondTheRangeOfADoubleAreRefused) {
    const std::vector<Direction> points = spiral(600);
    std::vector<balloon::BandEnergies> energies;
    for (const Direction& d : points) {
        balloon::BandEnergies e{};
        e.fill(d.x > 0.8 ? 1e-300 : 1e300);
        energies.push_back(e);
    }
    const balloon::ResampleResult result = balloon::resampleToGrid(points, energies);
    EXPECT_EQ(result.error.rfind("100 Hz, meridian 0, polar ", 0), 0u) << result.error;
    EXPECT_NE(result.error.find("beyond the range of a double"), std::string::npos) << result.error;
    EXPECT_TRUE(result.balloon.empty());
}

TEST(BalloonTables, CoverageAnglesAndQOfAKnownPattern) {
    // A pattern falling linearly in dB with polar angle, at a rate per half
    // plane: -6 dB at 30 degrees to the right (meridian 90), 50 to the left
    // (270), 15 up (0) and 25 down (180). Each half is read on its own side.
    balloon::Balloon b(acoustics::kBalloonValueCount, 0.0f);
    for (int m = 0; m < acoustics::kMeridianCount; ++m) {
        const double phi = m * 5 * kPi / 180;
        const double horizontal = std::sin(phi) > 0 ? 30 : 50, vertical = std::cos(phi) > 0 ? 15 : 25;
        const double slopeDbPerDeg =
            6.0 / horizontal * std::sin(phi) * std::sin(phi) + 6.0 / vertical * std::cos(phi) * std::cos(phi);
        for (int p = 0; p < acoustics::kPolarCount; ++p)
            for (int band = 0; band < kBandCount; ++band)
                b[balloonIndex(band, m, p)] = static_cast<float>(-slopeDbPerDeg * p * 5);
    }
    const std::array<double, kBandCount> onePascal2 = [] {
        std::array<double, kBandCount> a{};
        a.fill(1.0);
        return a;
    }();
    const balloon::BandTables t = balloon::bandTables(b, &onePascal2);
    EXPECT_NEAR(t.horizontalCoverageDeg[3], 80.0, 1e-3);
    EXPECT_NEAR(t.verticalCoverageDeg[3], 40.0, 1e-3);
    EXPECT_NEAR(balloon::coverageAngleDeg(b, 3, 90, 90), 60.0, 1e-3);  // the right half alone, twice
    EXPECT_NEAR(t.onAxisDb[3], 93.979, 1e-3);  // 1 Pa re 20 uPa
    // An omnidirectional band covers the whole circle in both planes.
    const balloon::Balloon flat(acoustics::kBalloonValueCount, 0.0f);
    EXPECT_EQ(balloon::horizontalCoverageDeg(flat, 0), 360.0);
}

}  // namespace

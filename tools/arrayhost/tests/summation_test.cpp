#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "tools/arrayhost/direct_sum.h"
#include "tools/arrayhost/summation.h"

using namespace arrayhost;

namespace {

constexpr double kC = 343.0;
constexpr CoherentMode kCentre = CoherentMode::CentreOnly;
constexpr int k1kHz = 10, k2kHz = 13, k100Hz = 0;
const double k6dB = 20 * std::log10(2.0);  // 6.0206
const double k3dB = 10 * std::log10(2.0);  // 3.0103

CellResponse cell(float levelDb, float phaseDeg, float pathM) {
    CellResponse r;
    r.levelsDb.fill(levelDb);
    r.phasesDeg.fill(phaseDeg);
    r.pathM = pathM;
    r.reportedTimeS = pathM / float(kC);
    return r;
}

}  // namespace

TEST(Summation, TwoEqualCellsInPhaseGainSixCoherentlyAndThreeByPower) {
    const CellResponse cells[2] = {cell(90, 0, 20), cell(90, 0, 20)};
    const BandValues coherent = CoherentSum(kC, kCentre)(cells, 2);
    const BandValues power = sumByPower(cells, 2);
    for (int band = 0; band < kBandCount; ++band) {
        EXPECT_NEAR(coherent[band], 90 + k6dB, 1e-9) << band;
        EXPECT_NEAR(power[band], 90 + k3dB, 1e-9) << band;
    }
}

TEST(Summation, TwoEqualCellsInAntiphaseCancel) {
    // By their filter phases, in every band.
    const CellResponse opposed[2] = {cell(90, 0, 20), cell(90, 180, 20)};
    const BandValues coherent = CoherentSum(kC, kCentre)(opposed, 2);
    for (int band = 0; band < kBandCount; ++band) EXPECT_LT(coherent[band], 90 - 150) << band;
    // Power does not care.
    EXPECT_NEAR(sumByPower(opposed, 2)[k1kHz], 90 + k3dB, 1e-9);

    // By their paths: half a wavelength at 1 kHz is a whole one at 2 kHz.
    const float halfWave1kHz = float(kC / 1000.0 / 2.0);
    const CellResponse apart[2] = {cell(90, 0, 20), cell(90, 0, 20 + halfWave1kHz)};
    const BandValues byPath = CoherentSum(kC, kCentre)(apart, 2);
    EXPECT_LT(byPath[k1kHz], 90 - 40);  // f32 path: cancels to within its rounding
    EXPECT_NEAR(byPath[k2kHz], 90 + k6dB, 1e-3);
    // At 100 Hz the two are 18 degrees apart: 20 log10(2 cos 9 deg).
    EXPECT_NEAR(byPath[k100Hz], 20 * std::log10(2 * std::cos(9.0 * std::numbers::pi / 180)) + 90, 1e-4);
    // Twice the speed of sound halves the phase: 1 kHz is then in quadrature.
    EXPECT_NEAR(CoherentSum(2 * kC, kCentre)(apart, 2)[k1kHz], 90 + k3dB, 1e-4);
}

TEST(Summation, CoherentSumUsesEachCellsPathNotTheReportedTime) {
    CellResponse a = cell(80, 0, 15), b = cell(80, 0, 15);
    b.reportedTimeS = a.reportedTimeS + 0.0005f;  // half a period at 1 kHz
    const CellResponse cells[2] = {a, b};
    EXPECT_NEAR(CoherentSum(kC, kCentre)(cells, 2)[k1kHz], 80 + k6dB, 1e-9);
}

TEST(Summation, UnequalAndQuadratureCells) {
    const float half = float(-k6dB);  // amplitude 0.5
    const CellResponse inPhase[2] = {cell(0, 0, 10), cell(half, 0, 10)};
    EXPECT_NEAR(CoherentSum(kC, kCentre)(inPhase, 2)[k1kHz], 20 * std::log10(1.5), 1e-6);
    EXPECT_NEAR(sumByPower(inPhase, 2)[k1kHz], 10 * std::log10(1.25), 1e-6);
    const CellResponse opposed[2] = {cell(0, 0, 10), cell(half, 180, 10)};
    EXPECT_NEAR(CoherentSum(kC, kCentre)(opposed, 2)[k1kHz], 20 * std::log10(0.5), 1e-6);
    const CellResponse quadrature[2] = {cell(70, 0, 10), cell(70, 90, 10)};
    EXPECT_NEAR(CoherentSum(kC, kCentre)(quadrature, 2)[k1kHz], 70 + k3dB, 1e-9);
}

TEST(Summation, OneCellIsItselfAndNoCellIsSilence) {
    CellResponse one = cell(0, 45, 7.3f);
    for (int band = 0; band < kBandCount; ++band) one.levelsDb[band] = float(60 + band);
    const BandValues coherent = CoherentSum(kC, kCentre)(&one, 1), power = sumByPower(&one, 1);
    for (int band = 0; band < kBandCount; ++band) {
        EXPECT_NEAR(coherent[band], 60 + band, 1e-9);
        EXPECT_NEAR(power[band], 60 + band, 1e-9);
    }
    EXPECT_EQ(sumByPower(&one, 0)[3], kSilenceDb);
    EXPECT_EQ(CoherentSum(kC, kCentre)(&one, 0)[3], kSilenceDb);
}

// A level the plug-in answers as NaN stays NaN in its band and in every
// broadband level, in both sums and both modes: never silence.
TEST(Summation, ANaNLevelIsNaNNotSilence) {
    CellResponse cells[2] = {cell(90, 0, 20), cell(90, 0, 21)};
    cells[1].levelsDb[k1kHz] = std::nanf("");
    for (CoherentMode mode : {CoherentMode::BandAverage, kCentre}) {
        const SeatLevels levels = CoherentSum(kC, mode).both(cells, 2);
        EXPECT_TRUE(std::isnan(levels.coherentDb[k1kHz]));
        EXPECT_TRUE(std::isnan(levels.powerDb[k1kHz]));
        EXPECT_TRUE(std::isnan(levels.coherentDbA));
        EXPECT_TRUE(std::isnan(levels.powerDbA));
        EXPECT_NEAR(levels.powerDb[k2kHz], 90 + k3dB, 1e-3);
    }
    BandValues bands{};
    bands.fill(80);
    bands[k2kHz] = std::nan("");
    EXPECT_TRUE(std::isnan(aWeightedDb(bands)));
    EXPECT_TRUE(std::isnan(powerToDb(std::nan(""))));
    EXPECT_EQ(powerToDb(0), kSilenceDb);
}

// How deep a band's coherent sum cancels: the level of its cells'
// amplitudes added without phase over the level of the sum, dB.
double cancellationDb(const std::vector<CellResponse>& cells, int band, double coherentDb) {
    double amplitudes = 0;
    for (const CellResponse& c : cells) amplitudes += std::pow(10.0, c.levelsDb[size_t(band)] / 20.0);
    return 20 * std::log10(amplitudes) - coherentDb;
}

// The band average runs in single precision: its error grows with the depth
// of the cancellation, as the amplitudes' rounding over the sum left.
double bandAverageBoundDb(double cancellationDb) {
    return kBandAverageErrorDb + kBandAverageCancellationErrorDb * std::pow(10.0, cancellationDb / 20.0);
}

TEST(Summation, FastSumsAgreeWithTheDirectEvaluationInBothModes) {
    std::mt19937 random(20240611);
    std::uniform_real_distribution<float> level(40, 110), phase(-180, 180), path(0.5f, 120);
    std::uniform_int_distribution<int> cellCount(1, 16);
    double worstShare = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const double c0 = trial % 2 == 0 ? kC : 331.5;
        std::vector<CellResponse> cells(size_t(cellCount(random)));
        for (auto& cell : cells) {
            for (int band = 0; band < kBandCount; ++band) {
                cell.levelsDb[band] = level(random);
                cell.phasesDeg[band] = phase(random);
            }
            cell.pathM = path(random);
        }
        // Every fourth trial: two loud cells in antiphase on the same path,
        // plus a quiet one, so that the sum cancels 40 to 70 dB deep.
        if (trial % 4 == 3) {
            cells.resize(3);
            for (int band = 0; band < kBandCount; ++band) {
                cells[0].levelsDb[band] = cells[1].levelsDb[band] = 110;
                cells[0].phasesDeg[band] = 0;
                cells[1].phasesDeg[band] = 180;
                cells[2].levelsDb[band] = 40 + 30 * float(band) / kBandCount;
            }
            cells[1].pathM = cells[0].pathM;
        }
        const int n = int(cells.size());
        for (CoherentMode mode : {CoherentMode::BandAverage, CoherentMode::CentreOnly}) {
            const BandValues fast = CoherentSum(c0, mode)(cells.data(), n);
            const BandValues direct = directCoherentSum(cells.data(), n, c0, mode);
            for (int band = 0; band < kBandCount; ++band) {
                const double error = std::fabs(fast[band] - direct[band]);
                if (mode == CoherentMode::CentreOnly) {
                    // Double precision: only a pure tone's nulls are beyond it.
                    if (direct[band] > 40) {
                        EXPECT_LT(error, 1e-8) << "trial " << trial << " band " << band;
                    }
                    continue;
                }
                const double depth = cancellationDb(cells, band, direct[band]);
                EXPECT_LT(error, bandAverageBoundDb(depth))
                    << "trial " << trial << " band " << band << ", cancelling " << depth << " dB";
                worstShare = std::max(worstShare, error / bandAverageBoundDb(depth));
            }
        }
    }
    // The bound is not loose by orders of magnitude either.
    EXPECT_GT(worstShare, 0.05);
}

TEST(Summation, BandAverageOfTwoCellsAWholeTurnApartAcrossTheBandIsTheirPowerSum) {
    // When the path difference turns the phase by a whole turn across the
    // eight frequencies, their phasor differences cancel: exactly +3 dB,
    // where the band centre alone may show anything from cancellation to +6.
    const double mid = 1000.0, stepHz = mid * (std::pow(10.0, 0.05) - std::pow(10.0, -0.05)) / 8;
    const float apartM = float(kC / (8 * stepHz));
    const CellResponse cells[2] = {cell(90, 0, 20), cell(90, 0, 20 + apartM)};
    EXPECT_NEAR(CoherentSum(kC, CoherentMode::BandAverage)(cells, 2)[k1kHz], 90 + k3dB, 1e-3);
}

TEST(Summation, AWeightingTableFollowsTheStandardsCurve) {
    // IEC 61672-1 A-weighting, normalised to 0 dB at 1 kHz.
    auto curve = [](double f) {
        const double f2 = f * f;
        const double ra = 12194.0 * 12194.0 * f2 * f2 /
                          ((f2 + 20.6 * 20.6) * std::sqrt((f2 + 107.7 * 107.7) * (f2 + 737.9 * 737.9)) *
                           (f2 + 12194.0 * 12194.0));
        return 20 * std::log10(ra) + 2.0;
    };
    for (int band = 0; band < kBandCount; ++band) {
        // The table rounds to 0.1 dB at the exact base-ten centre.
        const double exactHz = 1000 * std::pow(10.0, (band - 10) / 10.0);
        EXPECT_NEAR(kAWeightingDb[band], curve(exactHz), 0.06) << kBandCentresHz[band];
    }
}

TEST(Summation, BroadbandIsTheAWeightedEnergySum) {
    BandValues levels;
    levels.fill(kSilenceDb);
    levels[k1kHz] = 80;
    EXPECT_NEAR(aWeightedDb(levels), 80, 1e-9);
    levels[k100Hz] = 80;  // 60.9 dB(A) more
    EXPECT_NEAR(aWeightedDb(levels), 10 * std::log10(1e8 + std::pow(10.0, 6.09)), 1e-9);
    levels.fill(50);
    double sum = 0;
    for (double a : kAWeightingDb) sum += std::pow(10.0, (50 + a) / 10);
    EXPECT_NEAR(aWeightedDb(levels), 10 * std::log10(sum), 1e-9);
}

// The broadband levels that both sums give with their bands are the
// A-weighted energy sums of those bands, as aWeightedDb gives them.
TEST(Summation, BothSumsBroadbandLevelsAreTheirBandsAWeighted) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(40, 110), phase(-180, 180), path(0.5f, 60);
    for (CoherentMode mode : {CoherentMode::BandAverage, CoherentMode::CentreOnly}) {
        std::vector<CellResponse> cells(5);
        for (auto& c : cells) {
            for (int band = 0; band < kBandCount; ++band) {
                c.levelsDb[band] = level(random);
                c.phasesDeg[band] = phase(random);
            }
            c.pathM = path(random);
        }
        const SeatLevels both = CoherentSum(kC, mode).both(cells.data(), int(cells.size()));
        EXPECT_NEAR(both.powerDbA, aWeightedDb(both.powerDb), 1e-3);
        EXPECT_NEAR(both.coherentDbA, aWeightedDb(both.coherentDb), 1e-3);
    }
}

TEST(Summation, BandLookup) {
    EXPECT_EQ(bandIndexOfHz(100), 0);
    EXPECT_EQ(bandIndexOfHz(1000), 10);
    EXPECT_EQ(bandIndexOfHz(10000), 20);
    EXPECT_EQ(bandIndexOfHz(1100), -1);
    EXPECT_EQ(bandIndexOfHz(80), -1);
    EXPECT_EQ(bandLabel(5), "315 Hz");
    EXPECT_EQ(bandLabel(15), "3.15 kHz");
}

// PALC2 pinned to hand computations, so that a worse PALC2 cannot make the
// design look better: its sources where the layout hangs the cells, its
// equal aperture times distance, the gap of a line jumped, and its rounding
// to the dialog's values carried down the array.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>

#include "tools/arrayhost/design.h"
#include "tools/arrayhost/tests/test_session.h"

using namespace arrayhost;
using namespace arrayhost::test;

namespace {

constexpr double kRad = std::numbers::pi / 180;

}  // namespace

// On a flat floor every quantity of the plan has a closed form: the distance
// along a cell's aim to the floor is its height over the floor divided by
// the sine of its depression. The cells' sources must be where the plug-in
// hangs the cells for the plan's own (unrounded) splays.
TEST(Palc2, ContinuousAimsOnAFlatFloorCoverEqualLengths) {
    for (const char* product : {"ktr4", "ktr2"}) {
        const Scenario scenario = scenarioOf(std::string("plugin = ") + product +
                                             "\ncells = 8\narray_position = 0 0 9\narray_angles = 0 -16 0\n"
                                             "seat = 0 -10 1.2\naudience_line = 0 -3 1.2; 0 -30 1.2\n");
        auto session = sessionFor(scenario);
        ASSERT_TRUE(session);
        Designer designer(*session, scenario, *modelOf(product), quiet());
        const Palc2Plan plan = designer.palc2Plan(-16);
        ASSERT_EQ(plan.aimsDeg.size(), 8u);
        const double floorM = 1.2;
        const double k = plan.apertureTimesDistance;
        for (size_t i = 0; i < 8; ++i) {
            const PlanePoint& s = plan.sources[i];
            const double handDistanceM = (s.heightM - floorM) / std::sin(plan.aimsDeg[i] * kRad);
            EXPECT_NEAR(plan.distancesM[i], handDistanceM, 1e-6 * handDistanceM) << product << " cell " << i + 1;
            EXPECT_NEAR(plan.aperturesDeg[i] * kRad * handDistanceM, k, 1e-6 * k) << product << " cell " << i + 1;
            EXPECT_NEAR(plan.aimsDeg[i], plan.upperEdgesDeg[i] + plan.aperturesDeg[i] / 2, 1e-9);
            if (i > 0) {
                EXPECT_NEAR(plan.upperEdgesDeg[i], plan.upperEdgesDeg[i - 1] + plan.aperturesDeg[i - 1], 1e-9)
                    << product << " cell " << i + 1;
            }
        }
        // The top cell at the tilt (ktr2: its upper edge at the farthest
        // seat); the bottom cell's lower edge at the nearest seat.
        const PlanePoint& top = plan.sources.front();
        if (std::string(product) == "ktr4") {
            EXPECT_DOUBLE_EQ(plan.aimsDeg[0], 16);
        } else {
            EXPECT_NEAR(plan.upperEdgesDeg[0], std::atan2(top.heightM - floorM, 30 - top.aheadM) / kRad, 1e-9);
        }
        const PlanePoint& bottom = plan.sources.back();
        EXPECT_NEAR(plan.upperEdgesDeg[7] + plan.aperturesDeg[7],
                    std::atan2(bottom.heightM - floorM, 3 - bottom.aheadM) / kRad, 1e-6);

        // The sources where the plug-in hangs cells splayed as the plan aims
        // them: chained at the front edges, not stacked straight down.
        std::vector<double> splays(8, 0.0);
        const bool bumper = std::string(product) == "ktr2";
        splays[0] = bumper ? plan.aimsDeg[0] - 16 : 0;
        for (size_t i = 1; i < 8; ++i) splays[i] = plan.aimsDeg[i] - plan.aimsDeg[i - 1];
        ASSERT_TRUE(session->applyCells(splays, {}));
        session->aimArray({0, -16, 0});
        const std::vector<CellPose> poses = session->cellPoses();
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_NEAR(plan.sources[i].aheadM, -poses[i].positionM.y, 1e-4) << product << " cell " << i + 1;
            EXPECT_NEAR(plan.sources[i].heightM, poses[i].positionM.z, 1e-4) << product << " cell " << i + 1;
        }
    }
}

// Floor and balcony: as the cells see it, the line leaves a gap of angles
// between the balcony's front row and the floor's last seat. No cell's
// coverage starts inside it; one starts at its lower side.
TEST(Palc2, CoverageJumpsTheGapOfTheLine) {
    const Scenario scenario = scenarioOf("plugin = ktr4\ncells = 10\narray_position = 0 0 9\narray_angles = 0 -2 0\n"
                                         "seat = 0 -10 1.2\naudience_line = 0 -30 8; 0 -20 5 | 0 -14 1.2; 0 -3 1.2\n");
    auto session = sessionFor(scenario);
    ASSERT_TRUE(session);
    Designer designer(*session, scenario, *modelOf("ktr4"), quiet());
    const Palc2Plan plan = designer.palc2Plan(-2);
    int startsAtTheFloor = 0;
    for (size_t i = 1; i < plan.aimsDeg.size(); ++i) {
        const PlanePoint& s = plan.sources[i];
        const double balconyFrontDeg = std::atan2(s.heightM - 5, 20 - s.aheadM) / kRad;
        const double floorBackDeg = std::atan2(s.heightM - 1.2, 14 - s.aheadM) / kRad;
        EXPECT_FALSE(plan.upperEdgesDeg[i] > balconyFrontDeg + 1e-9 && plan.upperEdgesDeg[i] < floorBackDeg - 1e-9)
            << "cell " << i + 1 << " starts in the gap at " << plan.upperEdgesDeg[i];
        startsAtTheFloor += std::fabs(plan.upperEdgesDeg[i] - floorBackDeg) < 1e-9;
    }
    EXPECT_EQ(startsAtTheFloor, 1);
}

// Rounding to the dialog's values carries down the array: each cell's aim is
// the sum of the splays above it, so a splay raised by the rounding moves
// every cell below, and they make up for it. Wanted: 0.9 degrees more per
// cell from 4 degrees down, in ktr4's steps of 1.666.
TEST(Palc2, RoundingToTheDialogIsCarriedDownTheArray) {
    const Scenario scenario = scenarioOf("plugin = ktr4\ncells = 5\narray_position = 0 0 8\narray_angles = 0 -4 0\n"
                                         "seat = 0 -10 1.2\naudience_line = 0 -3 1.2; 0 -20 1.2\n");
    auto session = sessionFor(scenario);
    ASSERT_TRUE(session);
    const std::vector<double> aims{4, 4.9, 5.8, 6.7, 7.6};
    const double step = allowedSplaysDeg(*modelOf("ktr4"), 2)[1];
    ASSERT_NEAR(step, 1.666, 1e-6);
    {
        const Rigging rigging(scenario, *modelOf("ktr4"), false, 0, quiet());
        // By hand, over every progressive choice: aims 4, 4, 5.67, 7.33, 9.0
        // miss by 0, 0.9, 0.13, 0.63, 1.4 (3.17 squared); rounding each
        // splay alone to 1.666 would miss by 17.5.
        EXPECT_EQ(dialogSplaysForAims(aims, -4, rigging, std::nullopt), (std::vector<double>{0, 0, step, step, step}));
        // With a total of 3.4 degrees at most, two raised splays.
        EXPECT_EQ(dialogSplaysForAims(aims, -4, rigging, 3.4), (std::vector<double>{0, 0, 0, step, step}));
    }
    {
        DesignOptions free = quiet();
        free.freeOrder = true;
        const Rigging rigging(scenario, *modelOf("ktr4"), false, 0, free);
        // In any order: 4, 5.67, 5.67, 7.33, 7.33 (1.30 squared).
        EXPECT_EQ(dialogSplaysForAims(aims, -4, rigging, std::nullopt), (std::vector<double>{0, step, 0, step, 0}));
    }
}

// Baselines meet the rigging: a line with a gap allows the splays to shrink
// at one joint, a single floor at none.
TEST(Rigging, ShrinkingOnceIsAllowedOnlyWhereTheLineHasAGap) {
    const std::string base = "plugin = ktr4\ncells = 6\narray_position = 0 0 9\narray_angles = 0 -2 0\nseat = 0 -10 1.2\n";
    const ArrayChoice once{{0, 1.666, 3.332, 1.666, 3.332, 5}, {}, -2};
    const ArrayChoice twice{{0, 3.332, 1.666, 3.332, 1.666, 5}, {}, -2};
    const Scenario floor = scenarioOf(base + "audience_line = 0 -3 1.2; 0 -20 1.2\n");
    const Scenario balcony = scenarioOf(base + "audience_line = 0 -30 8; 0 -20 5 | 0 -14 1.2; 0 -3 1.2\n");
    const Rigging onFloor(floor, *modelOf("ktr4"), false, 0, quiet());
    const Rigging withBalcony(balcony, *modelOf("ktr4"), false, 0, quiet());
    EXPECT_FALSE(onFloor.meets(once));
    EXPECT_TRUE(withBalcony.meets(once));
    EXPECT_FALSE(withBalcony.meets(twice));
    EXPECT_EQ(withBalcony.reversals(twice), 2);
}

// Against every array of the dialog's values: random aims, in order, under a
// random total; where cell 1's splay tilts it too (ktr2), and where it
// does not (ktr4).
TEST(Palc2, RoundingIsTheBestArrayWithinTheRigging) {
    std::mt19937 random(20261209);
    for (const char* product : {"ktr2", "ktr4"}) {
        const Scenario scenario = scenarioOf(std::string("plugin = ") + product +
                                             "\ncells = 4\narray_position = 0 0 8\narray_angles = 0 -4 0\n"
                                             "seat = 0 -10 1.2\naudience_line = 0 -3 1.2; 0 -20 1.2\n");
        const Rigging rigging(scenario, *modelOf(product), false, 0, quiet());
        std::uniform_real_distribution<double> aim(0, 30), total(0, 20);
        for (int trial = 0; trial < 150; ++trial) {
            std::vector<double> aims(4);
            for (double& a : aims) a = aim(random);
            std::sort(aims.begin(), aims.end());
            const double limit = total(random);
            auto cost = [&](const std::vector<double>& splays) {
                double at = 4, sum = 0;
                for (size_t i = 0; i < 4; ++i) {
                    at += rigging.splayMatters(i) ? splays[i] : 0;
                    sum += (at - aims[i]) * (at - aims[i]);
                }
                return sum;
            };
            double best = HUGE_VAL;
            std::vector<double> splays(4, 0.0);
            std::function<void(size_t)> every = [&](size_t i) {
                if (i == 4) {
                    const ArrayChoice c{splays, {}, -4};
                    double sum = 0;
                    for (size_t k = 1; k < 4; ++k) sum += splays[k];
                    if (rigging.meets(c) && sum <= limit + 1e-9) best = std::min(best, cost(splays));
                    return;
                }
                for (double v : rigging.splayMatters(i) ? rigging.allowed()[i] : std::vector<double>{0.0}) {
                    splays[i] = v;
                    every(i + 1);
                }
            };
            every(0);
            const std::vector<double> rounded = dialogSplaysForAims(aims, -4, rigging, limit);
            double sum = 0;
            for (size_t k = 1; k < 4; ++k) sum += rounded[k];
            if (best == HUGE_VAL) continue;  // nothing fits: the rigging refuses whatever comes
            EXPECT_LE(sum, limit + 1e-9) << product << " trial " << trial;
            EXPECT_TRUE(rigging.meets({rounded, {}, -4})) << product << " trial " << trial;
            EXPECT_NEAR(cost(rounded), best, 1e-9) << product << " trial " << trial;
        }
    }
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "tools/arrayhost/design.h"
#include "tools/arrayhost/design_output.h"
#include "tools/arrayhost/setup_blob.h"
#include "tools/host/plugin_library.h"

using namespace arrayhost;

namespace {

Scenario scenarioOf(const std::string& text) {
    ScenarioError error;
    auto s = parseScenario(text, "design.txt", error);
    EXPECT_TRUE(s.has_value()) << error.message();
    return s ? *s : Scenario{};
}

}  // namespace

TEST(Design, SeatsEveryHalfMetreAlongEachSegmentWithItsEnds) {
    AudienceLine line;
    line.segments = {{{0, -2, 1}, {0, -3.2, 1}, {0, -4, 2}}, {{0, -10, 3}, {0, -11, 3}}};
    const auto seats = seatsAlong(line);
    // 2.48 m of the first segment: 0, 0.5 ... 2.0 and its end; 1 m: 3 seats.
    ASSERT_EQ(seats.size(), 9u);
    EXPECT_DOUBLE_EQ(seats[2].y, -3.0);
    EXPECT_NEAR(seats[3].y, -3.2 - 0.3 * 0.8 / std::hypot(0.8, 1.0), 1e-9);  // round the corner
    EXPECT_DOUBLE_EQ(seats[5].z, 2);
    EXPECT_DOUBLE_EQ(seats[6].y, -10);
    EXPECT_DOUBLE_EQ(seats[8].y, -11);
    EXPECT_DOUBLE_EQ(percentile({4, 1, 3, 2, 5}, 0.9), 4.6);
}

TEST(Design, DialogValuesStayWithinTheRulesAndReachBothLimits) {
    for (const char* name : {"ktr2", "ktr4", "qspan"}) {
        const models::ModelDefinition& model = *modelOf(name);
        for (int n : {1, 2}) {
            const models::SplayRule& rule = n == 1 ? model.dialog.firstCell : model.dialog.otherCells;
            const auto values = allowedSplaysDeg(model, n);
            EXPECT_EQ(values.front(), double(rule.lowDeg)) << name << " cell " << n;
            EXPECT_EQ(values.back(), double(rule.highDeg)) << name << " cell " << n;
            EXPECT_NE(std::find(values.begin(), values.end(), 0.0), values.end());
            EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        }
    }
    EXPECT_EQ(modelOf("./elsewhere/ktr4.so"), nullptr);
}

// Through the real plug-ins: only dialog values, never worse than the start
// or the best uniform splay, and the same answer twice.
TEST(Design, ChoosesDialogValuesBeatsItsBaselinesAndRepeatsItself) {
    const char* texts[] = {
        "plugin = ktr4\ncells = 6\narray_position = 0 0 8\narray_angles = 0 -5 0\nseat = 0 -10 1.2\n"
        "audience_line = 0 -2 1.2; 0 -14 1.2 | 0 -16 2; 0 -22 3\n",
        "plugin = ktr2\ncells = 5\nsplays = 0 1 2 3 4\narray_position = 0 0 7\nseat = 0 -10 1.2\n"
        "audience_line = 0 -3 1.2; 0 -18 1.2\n",
        "plugin = qspan\ncells = 4\nkinds = QSA QSA QSA QSA\narray_position = 0 0 6\narray_angles = 0 -8 0\n"
        "seat = 0 -10 1.2\naudience_line = 0 -2 1.2; 0 -15 1.2\n",
    };
    for (const char* text : texts) {
        const Scenario scenario = scenarioOf(text);
        std::string error;
        auto session = Session::open(scenario.plugin, error);
        ASSERT_TRUE(session && session->setUp(scenario, error)) << error;
        const models::ModelDefinition& model = *modelOf(scenario.plugin);
        DesignOptions options;
        options.showProgress = false;
        options.kickResponseBudget = 2e5;  // a few kicks, quickly
        const DesignResult first = Designer(*session, scenario, model, options).run();
        for (int n = 1; n <= scenario.cellCount(); ++n) {
            const auto allowed = allowedSplaysDeg(model, n);
            EXPECT_NE(std::find(allowed.begin(), allowed.end(), first.chosen.splaysDeg[size_t(n - 1)]),
                      allowed.end())
                << scenario.plugin << " cell " << n << ": " << first.chosen.splaysDeg[size_t(n - 1)];
        }
        if (model.cellsCarryKind) {
            ASSERT_EQ(first.chosen.kinds.size(), size_t(scenario.cellCount()));
            for (int kind : first.chosen.kinds) EXPECT_TRUE(kind >= 0 && kind < model.kindCount);
        }
        EXPECT_LE(first.chosenEvenness.objectiveDb, first.startEvenness.objectiveDb) << scenario.plugin;
        EXPECT_LE(first.chosenEvenness.objectiveDb, first.uniformEvenness.objectiveDb) << scenario.plugin;
        // The reported figure is that of the chosen array, measured afresh.
        Designer again(*session, scenario, model, options);
        EXPECT_DOUBLE_EQ(again.evaluate(first.chosen).objectiveDb, first.chosenEvenness.objectiveDb);

        const DesignResult second = Designer(*session, scenario, model, options).run();
        EXPECT_EQ(second.chosen.splaysDeg, first.chosen.splaysDeg) << scenario.plugin;
        EXPECT_EQ(second.chosen.kinds, first.chosen.kinds) << scenario.plugin;
        EXPECT_EQ(second.chosenEvenness.objectiveDb, first.chosenEvenness.objectiveDb);
    }
}

TEST(Design, WrittenScenarioReadsBackAsTheChosenArray) {
    const std::string text = "plugin = qspan\ncells = 4\nsplays = 1 2 3 4\nseat = 0 -5 1\n";
    const Scenario scenario = scenarioOf(text);
    const ArrayChoice choice{{0, 1.5, 2.25, 10}, {2, 1, 0, 2}};
    const std::string written = designedScenarioText(text, scenario, choice, {0x10, 0, 0, 0});
    const Scenario back = scenarioOf(written);
    EXPECT_EQ(back.splaysDeg, choice.splaysDeg);
    EXPECT_EQ(back.kinds, choice.kinds);
    EXPECT_NE(written.find("# 10 00 00 00"), std::string::npos);
}

// The fitted slope of the design on the default scenario follows a -3 dB
// target; and the tilt, when the design may choose it, stays in its range on
// the half-degree grid and comes back from the written scenario, with the
// splays, kinds and the setup blob.
TEST(Design, FollowsASlopedTargetAndWritesBackTheTiltItChose) {
    const Scenario defaults = defaultScenario();
    std::string error;
    auto session = Session::open(defaults.plugin, error);
    ASSERT_TRUE(session && session->setUp(defaults, error)) << error;
    DesignOptions options;
    options.showProgress = false;
    options.kickResponseBudget = 0;  // the first descent alone
    options.slopeDbPerDoubling = -3;
    Designer slopedDesigner(*session, defaults, *modelOf(defaults.plugin), options);
    const DesignResult sloped = slopedDesigner.run();
    EXPECT_NEAR(sloped.chosenEvenness.fittedSlopeDbPerDoubling, -3, 0.5);
    EXPECT_GT(std::fabs(sloped.uniformEvenness.fittedSlopeDbPerDoubling + 3),
              std::fabs(sloped.chosenEvenness.fittedSlopeDbPerDoubling + 3));
    // The slope of the levels themselves, fitted here from the seats'
    // broadband levels and distances, not as the designer reports it.
    LevelProfile profile;
    slopedDesigner.evaluate(sloped.chosen, &profile);
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = double(profile.distanceM.size());
    for (size_t i = 0; i < profile.distanceM.size(); ++i) {
        const double x = std::log2(profile.distanceM[i]), y = profile.broadbandDbA[i];
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    EXPECT_NEAR((n * sxy - sx * sy) / (n * sxx - sx * sx), -3, 0.5);

    const std::string text = "plugin = qspan\ncells = 5\nsplays = 0 0 0 0 0\nkinds = QSB QSB QSB QSB QSB\n"
                             "array_position = 0 0 9\narray_angles = 0 -1 0\nseat = 0 -10 1.2\n"
                             "audience_line = 0 -3 1.2; 0 -16 1.2 | 0 -12 5; 0 -20 7\n";
    const Scenario balcony = scenarioOf(text);
    auto qspan = Session::open(balcony.plugin, error);
    ASSERT_TRUE(qspan && qspan->setUp(balcony, error)) << error;
    options.slopeDbPerDoubling = 0;
    options.tiltRangeDeg = std::make_pair(-4.0, 2.0);
    const DesignResult tilted = Designer(*qspan, balcony, *modelOf(balcony.plugin), options).run();
    const double tilt = tilted.chosen.tiltDeg;
    EXPECT_TRUE(tilt >= -4 && tilt <= 2) << tilt;
    EXPECT_DOUBLE_EQ(tilt * 2, std::round(tilt * 2));
    const auto blob = makeSetupBlob(qspan->blobFormat(), tilted.chosen.splaysDeg, tilted.chosen.kinds);
    const Scenario back = scenarioOf(designedScenarioText(text, balcony, tilted.chosen, blob, true));
    EXPECT_EQ(back.arrayAnglesDeg.y, tilt);
    EXPECT_EQ(back.splaysDeg, tilted.chosen.splaysDeg);
    EXPECT_EQ(back.kinds, tilted.chosen.kinds);
    EXPECT_EQ(makeSetupBlob(qspan->blobFormat(), back.splaysDeg, back.kinds), blob);
}

// A plug-in that hands back NULL where its name was due is shown as such,
// not followed.
TEST(HostText, ANullPointerReadsAsAMarker) {
    EXPECT_EQ(host::textFromPlugin(nullptr), host::kNullText);
    EXPECT_EQ(host::textFromPlugin("caf\xe9"), "caf\xc3\xa9");
}

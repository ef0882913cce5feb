#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tools/arrayhost/scenario.h"

using namespace arrayhost;

namespace {

// A valid base to which a test adds or changes lines.
const std::string kBase =
    "plugin = ktr4\n"
    "cells = 4\n"
    "seat = 0 -10 1.2\n";

Scenario parseOk(const std::string& text) {
    ScenarioError error;
    auto s = parseScenario(text, "test.txt", error);
    EXPECT_TRUE(s.has_value()) << error.message();
    return s ? *s : Scenario{};
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(Scenario, DefaultIsTwelveKtr4CellsTenMetresUpOverAFortyByThirtyFloor) {
    const Scenario s = defaultScenario();
    EXPECT_EQ(s.plugin, "ktr4");
    ASSERT_EQ(s.cellCount(), 12);
    for (int cell = 2; cell < 12; ++cell) EXPECT_GE(s.splaysDeg[cell], s.splaysDeg[cell - 1]) << cell;
    EXPECT_GT(s.splaysDeg[11], s.splaysDeg[1]);
    EXPECT_DOUBLE_EQ(s.arrayPositionM.z, 10.0);
    EXPECT_LT(s.arrayAnglesDeg.y, 0.0) << "aims down";
    ASSERT_TRUE(s.audience && s.seatM);
    EXPECT_DOUBLE_EQ(s.audience->xMaxM - s.audience->xMinM, 30.0);
    EXPECT_DOUBLE_EQ(s.audience->yMaxM - s.audience->yMinM, 40.0);
    EXPECT_LE(s.audience->yMaxM, s.arrayPositionM.y) << "the floor lies in front, along -y";
    EXPECT_TRUE(s.airAbsorption);
}

TEST(Scenario, ExamplesParseAndTheKtr4ExampleIsTheDefault) {
    for (const char* name : {"ktr2", "ktr4", "qspan"}) {
        ScenarioError error;
        const std::string path = std::string(ARRAYHOST_EXAMPLES_DIR) + "/" + name + ".txt";
        const auto s = loadScenario(path, error);
        ASSERT_TRUE(s.has_value()) << error.message();
        EXPECT_EQ(s->plugin, name);
        EXPECT_EQ(s->source, path);
    }
    EXPECT_EQ(fileText(std::string(ARRAYHOST_EXAMPLES_DIR) + "/ktr4.txt"), defaultScenarioText());
}

TEST(Scenario, EveryKeyLandsInItsField) {
    ScenarioError error;
    const auto loaded = loadScenario(std::string(ARRAYHOST_SCENARIO_DIR) + "/every-key.txt", error);
    ASSERT_TRUE(loaded.has_value()) << error.message();
    const Scenario& s = *loaded;
    EXPECT_EQ(s.plugin, "qspan");
    EXPECT_DOUBLE_EQ(s.speedOfSoundMPerS, 340.5);
    EXPECT_DOUBLE_EQ(s.humidityPercent, 35);
    EXPECT_FALSE(s.airAbsorption);
    EXPECT_EQ(s.splaysDeg, (std::vector<double>{1, 2, 3, 4, 5.5}));
    EXPECT_EQ(s.kinds, (std::vector<int>{0, 1, 2, 1, 0}));
    EXPECT_DOUBLE_EQ(s.arrayPositionM.y, -2);
    EXPECT_DOUBLE_EQ(s.arrayPositionM.z, 8.5);
    EXPECT_DOUBLE_EQ(s.arrayAnglesDeg.x, 15);
    EXPECT_DOUBLE_EQ(s.arrayAnglesDeg.y, -7.5);
    ASSERT_TRUE(s.filter.has_value());
    EXPECT_DOUBLE_EQ(s.filter->gainsDb[0], 0);
    EXPECT_DOUBLE_EQ(s.filter->gainsDb[19], -19);
    EXPECT_DOUBLE_EQ(s.filter->gainsDb[20], -60);
    EXPECT_DOUBLE_EQ(s.filter->phasesDeg[0], 180);
    EXPECT_DOUBLE_EQ(s.filter->phasesDeg[20], -180);
    ASSERT_TRUE(s.seatM && s.audience);
    EXPECT_DOUBLE_EQ(s.seatM->x, 0.5);
    EXPECT_DOUBLE_EQ(s.audience->yMinM, -30);
    EXPECT_DOUBLE_EQ(s.audience->heightM, 1.1);
    EXPECT_DOUBLE_EQ(s.audience->resolutionM, 0.5);
    EXPECT_EQ(s.mapBands, (std::vector<int>{1, 13}));  // 125 Hz and 2 kHz
    EXPECT_EQ(s.mapSum, CellSum::Power);
    EXPECT_DOUBLE_EQ(s.mapRangeDb, 24);
    EXPECT_EQ(s.coherentSum, CoherentMode::CentreOnly);
    ASSERT_TRUE(s.audienceLine.has_value());
    ASSERT_EQ(s.audienceLine->segments.size(), 2u);
    ASSERT_EQ(s.audienceLine->segments[1].size(), 2u);
    EXPECT_DOUBLE_EQ(s.audienceLine->segments[0][1].z, 1.5);
    EXPECT_DOUBLE_EQ(s.audienceLine->segments[1][0].y, -15.52);
    EXPECT_DOUBLE_EQ(s.audienceLine->segments[1][1].z, 4.5);
    EXPECT_DOUBLE_EQ(s.audienceWidthM, 12.5);
    ASSERT_TRUE(s.avoidLine.has_value());
    EXPECT_DOUBLE_EQ(s.avoidLine->segments[0][1].z, 12);
    EXPECT_EQ(s.locks, (std::vector<std::pair<int, double>>{{2, 1.0}, {4, 3.0}}));
    EXPECT_EQ(s.maxTotalSplayDeg, 14.0);
    EXPECT_EQ(s.topAngleDeg, -3.0);
    EXPECT_EQ(s.keyLines.at("plugin"), 3);
    EXPECT_EQ(s.where("kinds"), std::string(ARRAYHOST_SCENARIO_DIR) + "/every-key.txt:9: ");
}

TEST(Scenario, DefaultsForKeysLeftOut) {
    const Scenario s = parseOk("cells = 3\nseat = 0 -5 1\n");
    EXPECT_EQ(s.plugin, "ktr4");
    EXPECT_EQ(s.splaysDeg, (std::vector<double>{0, 0, 0}));
    EXPECT_TRUE(s.kinds.empty());
    EXPECT_FALSE(s.filter.has_value());
    EXPECT_FALSE(s.audience.has_value());
    EXPECT_FALSE(s.audienceLine.has_value());
    EXPECT_EQ(s.coherentSum, CoherentMode::BandAverage);
    EXPECT_EQ(s.mapSum, CellSum::Cells);
    // One filter row given: the other stays at the plug-in's default 0.
    const Scenario f = parseOk(kBase + "filter_phases = 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21\n");
    ASSERT_TRUE(f.filter.has_value());
    EXPECT_DOUBLE_EQ(f.filter->gainsDb[5], 0);
    EXPECT_DOUBLE_EQ(f.filter->phasesDeg[5], 6);
    // A library given by path is taken as it is.
    EXPECT_EQ(parseOk("plugin = ./my dir/ktr4.so\ncells = 4\nseat = 0 -10 1.2\n").plugin, "./my dir/ktr4.so");
}

TEST(Scenario, AudienceGridIncludesBothEdges) {
    AudiencePlane p;
    p.xMinM = -15;
    p.xMaxM = 15;
    p.yMinM = -40;
    p.yMaxM = 0;
    p.heightM = 1.2;
    p.resolutionM = 0.2;
    EXPECT_EQ(p.columns(), 151);
    EXPECT_EQ(p.rows(), 201);
    EXPECT_NEAR(p.point(150, 200).x, 15, 1e-9);
    EXPECT_NEAR(p.point(150, 200).y, 0, 1e-9);
    EXPECT_DOUBLE_EQ(p.point(0, 0).z, 1.2);
    p.xMaxM = -5;  // 10 m at 0.3 m: the last point falls short of the edge
    p.resolutionM = 0.3;
    EXPECT_EQ(p.columns(), 34);
    EXPECT_LE(p.point(33, 0).x, -5);
}

struct BadCase {
    std::string text;
    int line;
    std::string key;
    std::string reason;  // part of the reason
};

TEST(Scenario, BadInputNamesLineKeyAndReason) {
    const std::vector<BadCase> cases = {
        {kBase + "colour = red\n", 4, "colour", "unknown key"},
        {kBase + "cells 4\n", 4, "cells 4", "expected `key = value`"},
        {kBase + "= 4\n", 4, "", "key is missing"},
        {kBase + "humidity =\n", 4, "humidity", "has no value"},
        {kBase + "cells = 5\n", 4, "cells", "given twice (first on line 2)"},
        {kBase + "humidity = 5O\n", 4, "humidity", "`5O` is not a number"},
        {kBase + "humidity = 2\n", 4, "humidity", "2 is outside 5 to 100 %"},
        {kBase + "speed_of_sound = inf\n", 4, "speed_of_sound", "not a finite number"},
        {kBase + "speed_of_sound = nan\n", 4, "speed_of_sound", "not a finite number"},
        {kBase + "air_absorption = yes\n", 4, "air_absorption", "expected `on` or `off`"},
        {kBase + "array_position = 0 10\n", 4, "array_position", "expected 3 numbers (x y z in metres), found 2"},
        {"cells = 17\nseat = 0 -1 1\n", 1, "cells", "17 is outside 1 to 16"},
        {"cells = 2.5\nseat = 0 -1 1\n", 1, "cells", "not a whole number"},
        {"cells = 0\nseat = 0 -1 1\n", 1, "cells", "outside 1 to 16"},
        {kBase + "splays = 1 2 3\n", 4, "splays", "expected 4 values (one per cell), found 3"},
        {"splays = 1 2 3 4 5\n" + kBase, 1, "splays", "expected 4 values (one per cell), found 5"},
        {kBase + "splays = 0 1 2 95\n", 4, "splays", "95 degrees is outside -90 to 90"},
        {"plugin = qspan\ncells = 4\nseat = 0 -1 1\nkinds = QSA QSB QSD QSA\n", 4, "kinds",
         "`QSD` is not a cabinet kind"},
        {"plugin = qspan\ncells = 4\nseat = 0 -1 1\nkinds = QSA QSB\n", 4, "kinds",
         "expected 4 names (one per cell), found 2"},
        {kBase + "kinds = QSA QSB QSA QSA\n", 4, "kinds", "the cells of ktr4 carry no cabinet kind"},
        {"plugin = qspan\ncells = 3\nseat = 0 -1 1\n", 2, "cells", "qspan takes 4 to 16 cells"},
        {kBase + "filter_gains = 0 0 0 0 0 0 0 0 0 0 3 0 0 0 0 0 0 0 0 0 0\n", 4, "filter_gains",
         "band 1 kHz: 3 is outside -60 to 0 dB"},
        {kBase + "filter_phases = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 200\n", 4, "filter_phases",
         "band 10 kHz: 200 is outside -180 to 180 degrees"},
        {kBase + "filter_gains = 0 0 0\n", 4, "filter_gains", "expected 21 numbers"},
        {"plugin = ktr4\nseat = 0 -1 1\n", 0, "cells", "missing"},
        {"cells = 4\n", 0, "seat", "give a seat, an audience plane, or both"},
        {kBase + "audience = 10 -40 -10 0 1.2\n", 4, "audience", "x_min must be below x_max"},
        {kBase + "resolution = 0.5\n", 4, "resolution", "given without an audience plane"},
        {kBase + "audience = -15 -40 15 0 1\nresolution = 0\n", 5, "resolution", "above 0 m"},
        {kBase + "audience = -500 -500 500 0 1\nresolution = 0.1\n", 5, "resolution", "more than 2000000"},
        {kBase + "map_bands = 1000 1100\n", 4, "map_bands", "1100 Hz is not a band centre"},
        {kBase + "map_sum = complex\n", 4, "map_sum", "expected `cells`, `power` or `interface-coherent`"},
        {kBase + "map_sum = coherent\n", 4, "map_sum", "`coherent` is now `interface-coherent`"},
        {kBase + "map_range = 1\n", 4, "map_range", "outside 3 to 120 dB"},
        {kBase + "coherent_sum = both\n", 4, "coherent_sum", "expected `band` or `centre`"},
        {kBase + "audience_line = 0 -5 1.2\n", 4, "audience_line", "at least 2 points"},
        {kBase + "audience_line = 0 -5 1.2; 0 -9 1.2 | 0 -12 1.2\n", 4, "audience_line", "at least 2 points"},
        {kBase + "audience_line = 0 -5 1.2;; 0 -9 1.2\n", 4, "audience_line", "expected 3 numbers"},
        {kBase + "audience_line = 0 -5; 0 -9 1.2\n", 4, "audience_line", "expected 3 numbers"},
        {kBase + "audience_line = 0 -5 1.2; 0 -5 1.2\n", 4, "audience_line", "point 2 repeats"},
        {kBase + "audience_line = " + [] {
             std::string points;
             for (int i = 0; i < 17; ++i) points += (i ? "; 0 -" : "0 -") + std::to_string(i + 1) + " 1.2";
             return points;
         }() + "\n",
         4, "audience_line", "2 to 16 points, found 17"},
        // Off the vertical plane through the array's aim: x = 0 straight
        // ahead; turned by 90 degrees the array aims along +x.
        {kBase + "audience_line = 0 -5 1.2; 0.2 -9 1.2\n", 4, "audience_line", "point 2 lies 0.2 m off"},
        {kBase + "array_angles = 90 -5 0\naudience_line = 0 -5 1.2; 0 -9 1.2\n", 5, "audience_line",
         "point 1 lies -5 m off"},
        {kBase + "avoid_line = 0 -1 5; 1 -3 5\n", 4, "avoid_line", "point 2 lies 1 m off"},
        {kBase + "audience_width = -2\n", 4, "audience_width", "outside 0 to 200 m"},
        {kBase + "lock = 2\n", 4, "lock", "`2` is not `cell:splay`"},
        {kBase + "lock = 0:1\n", 4, "lock", "the cell is a number from 1 to 16"},
        {kBase + "lock = 2:1 2:3\n", 4, "lock", "cell 2 is locked twice"},
        {kBase + "lock = 5:1\n", 4, "lock", "cell 5 is past the last cell, 4"},
        {kBase + "lock = 2:x\n", 4, "lock", "`x` is not a number"},
        {kBase + "max_total_splay = -1\n", 4, "max_total_splay", "outside 0 to 1440"},
        {kBase + "top_angle = 95\n", 4, "top_angle", "outside -90 to 90"},
    };
    for (const BadCase& c : cases) {
        ScenarioError error;
        EXPECT_FALSE(parseScenario(c.text, "bad.txt", error).has_value()) << c.text;
        EXPECT_EQ(error.file, "bad.txt");
        EXPECT_EQ(error.line, c.line) << c.text;
        EXPECT_EQ(error.key, c.key) << c.text;
        EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << "\ngave: " << error.reason;
    }
}

TEST(Scenario, ErrorMessageReadsFileLineKeyReason) {
    ScenarioError error;
    ASSERT_FALSE(parseScenario(kBase + "splays = 1 2\n", "hall.txt", error));
    EXPECT_EQ(error.message(), "hall.txt:4: splays: expected 4 values (one per cell), found 2");
    ASSERT_FALSE(parseScenario("seat = 0 0 0\n", "hall.txt", error));
    EXPECT_EQ(error.message(), "hall.txt: cells: missing: give the cell count, 1 to 16");
    ASSERT_FALSE(loadScenario(std::string(ARRAYHOST_SCENARIO_DIR) + "/no-such-file.txt", error));
    EXPECT_EQ(error.message(), std::string(ARRAYHOST_SCENARIO_DIR) + "/no-such-file.txt: cannot be opened");
    ASSERT_FALSE(loadScenario(std::string(ARRAYHOST_SCENARIO_DIR) + "/bad-splays.txt", error));
    EXPECT_EQ(error.line, 8);
    EXPECT_EQ(error.key, "splays");
}

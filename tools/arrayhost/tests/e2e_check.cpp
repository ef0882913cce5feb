// Checks what `arrayhost` wrote for the default scenario (run by the test
// arrayhost.e2e.run against the real plug-in): the images and their sizes,
// and that the coverage it measured makes acoustic sense.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

#include "tools/arrayhost/plots.h"
#include "tools/arrayhost/scenario.h"

using namespace arrayhost;

namespace {

std::string gOutDir;

std::string outPath(const std::string& name) { return gOutDir + "/" + name; }

// The coverage CSV as columns by name, one value per seat.
struct Table {
    std::vector<std::string> names;
    std::vector<std::vector<double>> rows;

    int column(const std::string& name) const {
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return int(i);
        }
        return -1;
    }
};

Table readCsv(const std::string& path) {
    Table t;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line)) return t;
    std::istringstream header(line);
    for (std::string name; std::getline(header, name, ',');) t.names.push_back(name);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<double> row;
        for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
        t.rows.push_back(row);
    }
    return t;
}

class DefaultScenarioRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { table_ = new Table(readCsv(outPath("arrayhost-coverage.csv"))); }
    static void TearDownTestSuite() { delete table_; }

    // Level of a layer at the grid seat nearest (x, y).
    double levelAt(const std::string& layer, double x, double y) const {
        const int c = table_->column(layer);
        double best = 1e300, level = 0;
        for (const auto& row : table_->rows) {
            const double d = std::hypot(row[0] - x, row[1] - y);
            if (d < best) best = d, level = row[size_t(c)];
        }
        return level;
    }

    const Scenario scenario_ = defaultScenario();
    static Table* table_;
};

Table* DefaultScenarioRun::table_ = nullptr;

}  // namespace

TEST_F(DefaultScenarioRun, ImagesExistWithTheirSizes) {
    const std::map<std::string, PngSize> expected = {
        {"arrayhost-map-250Hz.png", {kMapImageWidth, kMapImageHeight}},
        {"arrayhost-map-1kHz.png", {kMapImageWidth, kMapImageHeight}},
        {"arrayhost-map-4kHz.png", {kMapImageWidth, kMapImageHeight}},
        {"arrayhost-map-broadband.png", {kMapImageWidth, kMapImageHeight}},
        {"arrayhost-side.png", {kSideImageWidth, kSideImageHeight}},
    };
    for (const auto& [name, size] : expected) {
        const auto read = readPngSize(outPath(name));
        ASSERT_TRUE(read.has_value()) << name;
        EXPECT_EQ(read->width, size.width) << name;
        EXPECT_EQ(read->height, size.height) << name;
    }
}

TEST_F(DefaultScenarioRun, CoverageHasEverySeatOfTheGrid) {
    const AudiencePlane& plane = *scenario_.audience;
    ASSERT_EQ(table_->rows.size(), size_t(plane.columns()) * size_t(plane.rows()));
    for (const char* layer : {"broadband_cells_dBA", "broadband_power_dBA", "broadband_interface-coherent_dBA",
                              "1kHz_cells_dB"}) {
        EXPECT_GE(table_->column(layer), 2) << layer;
    }
    // Every seat hears the array: no level at the floor of what the plug-in reports.
    const int broadband = table_->column("broadband_power_dBA");
    for (const auto& row : table_->rows) ASSERT_GT(row[size_t(broadband)], 40.0) << row[0] << ", " << row[1];
}

TEST_F(DefaultScenarioRun, LoudestSeatLiesInFrontOfTheArray) {
    const Vec3 array = scenario_.arrayPositionM;
    for (const char* layer : {"broadband_cells_dBA", "broadband_power_dBA"}) {
        const int c = table_->column(layer);
        const std::vector<double>* loudest = &table_->rows.front();
        for (const auto& row : table_->rows) {
            if (row[size_t(c)] > (*loudest)[size_t(c)]) loudest = &row;
        }
        const double x = (*loudest)[0] - array.x, y = (*loudest)[1] - array.y;
        // The array aims along -y: the loudest seat is ahead of it, within
        // 20 degrees of its axis, and not right under it.
        EXPECT_LT(y, -2.0) << layer;
        EXPECT_LT(std::fabs(x), std::tan(20 * 3.14159265 / 180) * -y) << layer << " at " << x << ", " << y;
    }
}

TEST_F(DefaultScenarioRun, LevelsFallWithDistanceAlongTheAxis) {
    const double x = scenario_.arrayPositionM.x;
    // Summed by power, the cells follow the distance law: down at every step.
    for (const char* layer : {"broadband_power_dBA", "1kHz_power_dB", "250Hz_power_dB"}) {
        double previous = levelAt(layer, x, -10);
        for (double y = -15; y >= -40; y -= 5) {
            const double level = levelAt(layer, x, y);
            EXPECT_LT(level, previous) << layer << " at y = " << y;
            previous = level;
        }
        EXPECT_GT(levelAt(layer, x, -10) - levelAt(layer, x, -40), 3.0) << layer;
    }
    // As point sources, the splayed array evens the floor out: the level
    // still ends lower at the back, and never climbs on the way there.
    const char* coherent = "broadband_cells_dBA";
    double previous = levelAt(coherent, x, -10);
    for (double y = -15; y >= -40; y -= 5) {
        const double level = levelAt(coherent, x, y);
        EXPECT_LT(level, previous + 0.5) << coherent << " at y = " << y;
        previous = level;
    }
    EXPECT_GT(levelAt(coherent, x, -10) - levelAt(coherent, x, -40), 1.0);
}

TEST_F(DefaultScenarioRun, ReportNamesTheSumsAndTheSpeed) {
    std::ifstream in(outPath("arrayhost-report.txt"));
    std::ostringstream text;
    text << in.rdbuf();
    const std::string report = text.str();
    for (const char* part : {"Array: 12 cells", "cells |   power  interface-coherent", "CI_GetCompDistance", "responses in",
                             "Maps (cells sum, every cell a point source)",
                             "arrayhost-map-broadband.png"}) {
        EXPECT_NE(report.find(part), std::string::npos) << part;
    }
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: arrayhost_e2e_check OUTPUT_DIR\n");
        return 2;
    }
    gOutDir = argv[1];
    return RUN_ALL_TESTS();
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "tools/arrayhost/colour_scale.h"
#include "tools/arrayhost/coverage.h"
#include "tools/arrayhost/plots.h"

using namespace arrayhost;

namespace {

AudiencePlane plane(double xMin, double yMin, double xMax, double yMax, double step) {
    AudiencePlane p;
    p.xMinM = xMin;
    p.yMinM = yMin;
    p.xMaxM = xMax;
    p.yMaxM = yMax;
    p.heightM = 1.2;
    p.resolutionM = step;
    return p;
}

// Every layer falls 1 dB per metre from a peak at (px, py), starting at `top`.
CoverageMap coneMap(double px, double py, double top) {
    CoverageMap map(plane(-15, -40, 15, 0, 0.5), {10});
    for (int layer = 0; layer < map.layerCount(); ++layer) {
        for (int r = 0; r < map.plane().rows(); ++r) {
            for (int c = 0; c < map.plane().columns(); ++c) {
                const Vec3 p = map.plane().point(c, r);
                map.at(layer, c, r) = float(top - std::hypot(p.x - px, p.y - py));
            }
        }
    }
    return map;
}

struct Pixel {
    int x, y;
};

Pixel nearestColour(const Canvas& c, Rgb target, int xEnd) {
    Pixel best{-1, -1};
    int bestDistance = 1 << 30;
    for (int y = 0; y < c.height(); ++y) {
        for (int x = 0; x < xEnd; ++x) {
            const Rgb v = c.at(x, y);
            const int d = std::abs(v.r - target.r) + std::abs(v.g - target.g) + std::abs(v.b - target.b);
            if (d < bestDistance) best = {x, y}, bestDistance = d;
        }
    }
    return best;
}

}  // namespace

TEST(CoverageMap, LayersHoldEachBandsThreeSumsThenBroadband) {
    CoverageMap map(plane(0, 0, 2, 1, 0.5), {1, 13});
    EXPECT_EQ(map.layerCount(), 9);
    EXPECT_EQ(map.layerName(map.bandLayer(0, CellSum::Cells)), "125Hz_cells_dB");
    EXPECT_EQ(map.layerName(map.bandLayer(0, CellSum::InterfaceCoherent)), "125Hz_interface-coherent_dB");
    EXPECT_EQ(map.layerName(map.bandLayer(1, CellSum::Power)), "2kHz_power_dB");
    EXPECT_EQ(map.layerName(map.broadbandLayer(CellSum::Cells)), "broadband_cells_dBA");
    EXPECT_EQ(map.layerName(map.broadbandLayer(CellSum::Power)), "broadband_power_dBA");
    // Layers and points do not overlap.
    for (int layer = 0; layer < map.layerCount(); ++layer) {
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 5; ++c) map.at(layer, c, r) = float(100 * layer + 10 * r + c);
        }
    }
    EXPECT_EQ(map.at(0, 0, 0), 0);
    EXPECT_EQ(map.at(5, 4, 2), 524);
    EXPECT_EQ(map.at(3, 1, 2), 321);
}

TEST(CoverageMap, InterpolatesBetweenGridPointsAndHoldsAtTheEdges) {
    CoverageMap map(plane(0, 0, 2, 1, 1), {});
    const float values[2][3] = {{10, 20, 40}, {30, 40, 80}};  // rows y = 0 and y = 1
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) map.at(0, c, r) = values[r][c];
    }
    EXPECT_DOUBLE_EQ(map.interpolate(0, 1, 0), 20);
    EXPECT_DOUBLE_EQ(map.interpolate(0, 2, 1), 80);
    EXPECT_DOUBLE_EQ(map.interpolate(0, 0.5, 0), 15);
    EXPECT_DOUBLE_EQ(map.interpolate(0, 0, 0.5), 20);
    EXPECT_DOUBLE_EQ(map.interpolate(0, 1.5, 0.5), (20 + 40 + 40 + 80) / 4.0);
    EXPECT_DOUBLE_EQ(map.interpolate(0, -3, -3), 10);
    EXPECT_DOUBLE_EQ(map.interpolate(0, 9, 9), 80);
}

TEST(CoverageMap, FindsTheLoudestAndQuietestSeat) {
    const CoverageMap map = coneMap(-10, -30, 100);
    const auto hi = map.loudest(0), lo = map.quietest(0);
    EXPECT_FLOAT_EQ(hi.levelDb, 100);
    EXPECT_DOUBLE_EQ(map.plane().point(hi.column, hi.row).x, -10);
    EXPECT_DOUBLE_EQ(map.plane().point(hi.column, hi.row).y, -30);
    EXPECT_DOUBLE_EQ(map.plane().point(lo.column, lo.row).x, 15);
    EXPECT_DOUBLE_EQ(map.plane().point(lo.column, lo.row).y, 0);
}

// Seats whose level is NaN are counted and drawn grey, and the extremes are
// those of the other seats, not NaN nor -300 dB.
TEST(CoverageMap, NaNSeatsAreCountedSkippedAndDrawnGrey) {
    CoverageMap map = coneMap(-10, -30, 100);
    map.at(0, 0, 0) = std::nanf("");
    map.at(0, 5, 7) = std::nanf("");
    EXPECT_EQ(map.notANumber(0), 2);
    EXPECT_EQ(map.notANumber(1), 0);
    EXPECT_FLOAT_EQ(map.loudest(0).levelDb, 100);
    EXPECT_FALSE(std::isnan(map.quietest(0).levelDb));
    EXPECT_NE(map.quietest(0).column, 0);
    auto greyPixels = [](const Canvas& c) {
        int count = 0;
        for (int y = 0; y < c.height(); ++y) {
            for (int x = 0; x < c.width(); ++x) count += c.at(x, y) == kNotANumberGrey;
        }
        return count;
    };
    EXPECT_GT(greyPixels(drawCoverageMap(map, 0, 30, MapLabels{"t", "s", "dB", {}})), 0);
    EXPECT_EQ(greyPixels(drawCoverageMap(map, 1, 30, MapLabels{"t", "s", "dB", {}})), 0);
    CoverageMap empty(plane(0, 0, 1, 1, 0.5), {});
    for (int r = 0; r < empty.plane().rows(); ++r) {
        for (int col = 0; col < empty.plane().columns(); ++col) empty.at(0, col, r) = std::nanf("");
    }
    EXPECT_TRUE(std::isnan(empty.loudest(0).levelDb));
    drawCoverageMap(empty, 0, 30, MapLabels{"t", "s", "dB", {}});  // draws, all grey
}

TEST(CoverageMap, CsvHasAHeaderAndOneLinePerSeat) {
    CoverageMap map(plane(-1, -2, 1, 0, 1), {10});
    map.at(map.broadbandLayer(CellSum::Power), 2, 1) = 87.25f;
    const std::string path = ::testing::TempDir() + "arrayhost_coverage_test.csv";
    std::string error;
    ASSERT_TRUE(writeCoverageCsv(map, path, error)) << error;
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 9u);
    EXPECT_EQ(lines[0],
              "x_m,y_m,1kHz_cells_dB,1kHz_power_dB,1kHz_interface-coherent_dB,broadband_cells_dBA,"
              "broadband_power_dBA,broadband_interface-coherent_dBA");
    EXPECT_EQ(lines[1 + 1 * 3 + 2], "1.000,-1.000,-300.00,-300.00,-300.00,-300.00,87.25,-300.00");
    std::remove(path.c_str());
    EXPECT_FALSE(writeCoverageCsv(map, ::testing::TempDir() + "no/such/dir/x.csv", error));
}

TEST(Plots, TickStepsAreRound) {
    EXPECT_DOUBLE_EQ(niceStep(30, 6), 5);
    EXPECT_DOUBLE_EQ(niceStep(40, 6), 10);
    EXPECT_DOUBLE_EQ(niceStep(4.3, 6), 1);
    EXPECT_DOUBLE_EQ(niceStep(12, 6), 2);
    EXPECT_DOUBLE_EQ(niceStep(0.6, 6), 0.1);
}

TEST(Plots, MapIsAPlanViewWithXRightAndYUp) {
    // Peak at the left, far (low y) corner: it must come out left and low.
    const CoverageMap map = coneMap(-10, -30, 100);
    const Canvas c = drawCoverageMap(map, 0, 30, MapLabels{"t", "s", "dB", {}});
    EXPECT_EQ(c.width(), kMapImageWidth);
    EXPECT_EQ(c.height(), kMapImageHeight);
    const ColourScale scale(100, 30);
    // Left of the colour bar, which holds every colour too.
    const Pixel peak = nearestColour(c, scale(100), kMapImageWidth * 7 / 10);
    // The plot keeps the plane's 30:40 aspect, so the peak lies left of and
    // below the middle of the map's rectangle.
    EXPECT_LT(peak.x, kMapImageWidth / 2) << peak.x;
    EXPECT_GT(peak.y, kMapImageHeight / 2) << peak.y;
    // Read back through the scale, levels fall away from the peak at 1 dB
    // per metre. The contour lines darken some pixels; step off them.
    auto levelOf = [&](Rgb colour) {
        double best = 0;
        int bestDistance = 1 << 30;
        for (double l = 60; l <= 110; l += 0.1) {
            const Rgb v = scale(l);
            const int d = std::abs(v.r - colour.r) + std::abs(v.g - colour.g) + std::abs(v.b - colour.b);
            if (d < bestDistance) best = l, bestDistance = d;
        }
        return best;
    };
    const double nearPeak = levelOf(c.at(peak.x + 8, peak.y + 1));
    const double farther = levelOf(c.at(peak.x + 80, peak.y + 1));
    EXPECT_GT(nearPeak, farther + 2);
    EXPECT_GT(nearPeak, 97);
}

TEST(Plots, SideViewPutsTheFrontToTheRightAndTilts) {
    // One box seen from the side: front (y = -0.5) 1 m tall, rear (y = +0.5) 0.4 m.
    Mesh mesh;
    const float corners[4][2] = {{-0.5f, 0.5f}, {-0.5f, -0.5f}, {0.5f, 0.2f}, {0.5f, -0.2f}};
    for (const auto& yz : corners) mesh.vertices.push_back({1, 0.6f, yz[0], yz[1], {}});
    const int edges[4][2] = {{1, 2}, {3, -4}, {1, 3}, {2, 4}};  // a mirror index draws as its original
    for (const auto& e : edges) mesh.edges.push_back({1, e[0], e[1], {}});

    // Ink of the cabinet in the left and right quarter of its extent.
    struct Side {
        int height;
        double meanY;
    };
    auto sides = [](const Canvas& c) {
        int x0 = c.width(), x1 = -1;
        for (int y = 0; y < c.height(); ++y) {
            for (int x = 0; x < c.width(); ++x) {
                if (c.at(x, y) == kCabinetInk) x0 = std::min(x0, x), x1 = std::max(x1, x);
            }
        }
        auto side = [&](int from, int to) {
            int top = c.height(), bottom = -1, count = 0;
            double sumY = 0;
            for (int y = 0; y < c.height(); ++y) {
                for (int x = from; x <= to; ++x) {
                    if (!(c.at(x, y) == kCabinetInk)) continue;
                    top = std::min(top, y), bottom = std::max(bottom, y), sumY += y, ++count;
                }
            }
            return Side{bottom - top, count > 0 ? sumY / count : 0};
        };
        const int quarter = (x1 - x0) / 4;
        return std::make_tuple(side(x0, x0 + 2), side(x1 - 2, x1), side(x0, x0 + quarter).meanY,
                               side(x1 - quarter, x1).meanY);
    };

    const std::vector<CellPose> level = {CellPose{{0, 0, 5}, {0, 0, 0}}};
    const Canvas flat = drawSideView(mesh, level, {0, 0, 5}, {0, 0, 0}, "box");
    EXPECT_EQ(flat.width(), kSideImageWidth);
    EXPECT_EQ(flat.height(), kSideImageHeight);
    // The front edge, 2.5 times the rear's height, is the rightmost.
    const auto [rear, front, rearY, frontY] = sides(flat);
    EXPECT_NEAR(double(front.height) / rear.height, 2.5, 0.1);
    EXPECT_NEAR(frontY, rearY, 2.0);

    // Aimed down, the front drops below the rear (image y grows downward).
    const std::vector<CellPose> down = {CellPose{{0, 0, 5}, {0, -30, 0}}};
    const auto [rearEdge, frontEdge, rearDownY, frontDownY] =
        sides(drawSideView(mesh, down, {0, 0, 5}, {0, -30, 0}, "box"));
    EXPECT_GT(frontDownY, rearDownY + 10);
}

// The polar diagrams draw the balloon's own values at the right angles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tools/balloon/balloon_io.h"
#include "tools/balloon/polar_plot.h"

namespace {

struct Point {
    double x, y;
};

// The points of every pattern polyline in the document, in order.
std::vector<std::vector<Point>> patterns(const std::string& svg) {
    std::vector<std::vector<Point>> out;
    const std::string marker = "class=\"pattern\" points=\"";
    for (std::size_t at = svg.find(marker); at != std::string::npos; at = svg.find(marker, at + 1)) {
        const std::size_t start = at + marker.size();
        std::istringstream in(svg.substr(start, svg.find('"', start) - start));
        std::vector<Point> points;
        for (std::string pair; in >> pair;) {
            Point p;
            EXPECT_EQ(std::sscanf(pair.c_str(), "%lf,%lf", &p.x, &p.y), 2) << pair;
            points.push_back(p);
        }
        out.push_back(points);
    }
    return out;
}

}  // namespace

TEST(PolarPlot, RadiusScale) {
    EXPECT_EQ(balloon::plotRadiusPx(0.0), balloon::kPlotRadiusPx);
    EXPECT_EQ(balloon::plotRadiusPx(-25.0), balloon::kPlotRadiusPx / 2);
    EXPECT_EQ(balloon::plotRadiusPx(-80.0), 0.0);
    EXPECT_EQ(balloon::plotRadiusPx(1.0), balloon::kPlotRadiusPx);
}

TEST(PolarPlot, DrawsBothPlanesFromTheBalloon) {
    // A balloon whose level tells the meridian and polar index apart.
    balloon::Balloon values(acoustics::kBalloonValueCount);
    const int band = 13;
    for (int m = 0; m < 72; ++m)
        for (int p = 0; p < 37; ++p) values[acoustics::balloonIndex(band, m, p)] = -(p + (m % 18 == 0 ? m / 18 : 0)) * 1.0f;
    const std::string svg = balloon::polarPlotSvg(values, band, "test");
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    EXPECT_NE(svg.find("test, 2000 Hz"), std::string::npos);
    const std::vector<std::vector<Point>> planes = patterns(svg);
    ASSERT_EQ(planes.size(), 2u);
    // Right half meridian 90 (horizontal) or 0 (vertical), left half 270 or 180.
    const int meridians[2][2] = {{18, 54}, {0, 36}};
    for (int plane = 0; plane < 2; ++plane) {
        const std::vector<Point>& pts = planes[plane];
        ASSERT_EQ(pts.size(), 74u);
        const Point axis = pts[0];
        // The centre lies straight below the on-axis point.
        const Point centre{axis.x, axis.y + balloon::plotRadiusPx(values[acoustics::balloonIndex(band, meridians[plane][0], 0)])};
        for (int i = 0; i < 74; ++i) {
            const bool right = i < 37;
            const int p = right ? i : 73 - i;
            const int m = meridians[plane][right ? 0 : 1];
            const double level = values[acoustics::balloonIndex(band, m, p)];
            const double angle = (right ? 1 : -1) * p * 5 * 3.141592653589793 / 180;
            const double r = balloon::plotRadiusPx(level);
            EXPECT_NEAR(pts[i].x - centre.x, r * std::sin(angle), 0.02) << plane << " " << i;
            EXPECT_NEAR(centre.y - pts[i].y, r * std::cos(angle), 0.02) << plane << " " << i;
        }
    }
}

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dialog/array_preview.h"
#include "tests/every_model.h"

using dialog::ArrayPreview;
using dialog::CellOutline;
using dialog::PixelPoint;
using dialog::Vector2;
using model_test::EveryModel;

namespace {

constexpr float kToleranceM = 2e-5f;

float distance(const Vector2& p, const Vector2& q) {
    return std::hypot(p.x - q.x, p.y - q.y);
}

Vector2 midpoint(const Vector2& p, const Vector2& q) {
    return {(p.x + q.x) / 2.0f, (p.y + q.y) / 2.0f};
}

// Heading of the cell's front, from the middle of its rear face to the middle
// of its front face, in degrees.
double headingDeg(const CellOutline& c) {
    const Vector2 front = midpoint(c.frontTop, c.frontBottom);
    const Vector2 rear = midpoint(c.rearTop, c.rearBottom);
    return std::atan2(double(front.y - rear.y), double(front.x - rear.x)) * 180.0 / 3.141592653589793;
}

class Preview : public EveryModel {
protected:
    ArrayPreview run(const std::vector<float>& splays) const {
        ArrayPreview preview(model());
        preview.run(int32_t(splays.size()), splays.data());
        return preview;
    }
    // Random splays within the dialog's own limits.
    std::vector<float> randomSplays(std::mt19937& random, int count) const {
        const models::DialogRules& rules = model().dialog;
        std::uniform_real_distribution<float> first(rules.firstCell.lowDeg, rules.firstCell.highDeg);
        std::uniform_real_distribution<float> other(rules.otherCells.lowDeg, rules.otherCells.highDeg);
        std::vector<float> splays(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) splays[size_t(i)] = i == 0 ? first(random) : other(random);
        return splays;
    }
};

INSTANTIATE_FOR_EVERY_MODEL(Preview);

}  // namespace

TEST(PreviewPass, Ktr4FourStraightCellsStackInAColumn) {
    ArrayPreview preview(models::kKtr4);
    const float splays[4] = {};
    preview.run(4, splays);
    for (int32_t n = 1; n <= 4; ++n) {
        const CellOutline& c = preview.outline(n);
        EXPECT_NEAR(c.centre.x, 0.0f, kToleranceM) << n;
        EXPECT_NEAR(c.centre.y, -0.3556f * float(n - 1), kToleranceM) << n;
        EXPECT_NEAR(c.frontTop.x, 0.3556f, kToleranceM) << n;  // fronts on one vertical line
        EXPECT_NEAR(c.frontBottom.x, 0.3556f, kToleranceM) << n;
        EXPECT_NEAR(c.rearTop.x, -0.3556f, kToleranceM) << n;
        EXPECT_NEAR(c.rearTop.y - c.rearBottom.y, 0.2413f, kToleranceM) << n;
    }
    // Adjacent rear faces stand Hf - Hr apart.
    EXPECT_NEAR(preview.outline(1).rearBottom.y - preview.outline(2).rearTop.y, 0.1143f, kToleranceM);

    // 0.7112 x 1.4224 before the fit; the fit widens x about its centre.
    const dialog::PreviewExtents& e = preview.extents();
    EXPECT_NEAR(e.maxY, 0.1778f, kToleranceM);
    EXPECT_NEAR(e.minY, -1.2446f, kToleranceM);
    EXPECT_NEAR(e.height, 1.4224f, kToleranceM);
    EXPECT_NEAR(e.width, 1.4224f * 159.0f / 214.0f, kToleranceM);
    EXPECT_NEAR(e.maxX, -e.minX, kToleranceM);

    // The box fills the bitmap: its corners land on the margins.
    const PixelPoint topLeft = preview.toPixel({e.minX, e.maxY});
    const PixelPoint bottomRight = preview.toPixel({e.maxX, e.minY});
    EXPECT_EQ(topLeft.x, 15);
    EXPECT_EQ(topLeft.y, 15);
    EXPECT_NEAR(bottomRight.x, 495, 1);
    EXPECT_NEAR(bottomRight.y, 660, 1);

    const dialog::GridLines grid = preview.gridLines();
    ASSERT_EQ(grid.verticalCount, 5);
    ASSERT_EQ(grid.horizontalCount, 5);
    EXPECT_EQ(grid.xM[0], -1.0f);
    EXPECT_EQ(grid.xM[4], 1.0f);
    EXPECT_EQ(grid.yM[0], -1.5f);
    EXPECT_EQ(grid.yM[4], 0.5f);
    EXPECT_EQ(grid.xPx[2], preview.toPixel({0.0f, 0.0f}).x);
    EXPECT_EQ(grid.yPx[3], preview.toPixel({0.0f, 0.0f}).y);
}

TEST(PreviewPass, GridLinesLieOnHalfMetresAndIncludeTheUpperLimit) {
    float lines[64];
    ASSERT_EQ(dialog::halfMetreLines(-0.3f, 0.7f, lines, 64), 4);
    EXPECT_EQ(lines[0], -0.5f);
    EXPECT_EQ(lines[1], 0.0f);
    EXPECT_EQ(lines[2], 0.5f);
    EXPECT_EQ(lines[3], 1.0f);
    // Limits on the grid itself, and a long run where the single-precision
    // sum must still reach the last line.
    ASSERT_EQ(dialog::halfMetreLines(-1.0f, 1.5f, lines, 64), 6);
    EXPECT_EQ(lines[5], 1.5f);
    EXPECT_EQ(dialog::halfMetreLines(-7.5f, 7.5f, lines, 64), 31);
    EXPECT_EQ(dialog::halfMetreLines(0.0f, 0.0f, lines, 64), 1);
    // Never past the caller's storage.
    EXPECT_EQ(dialog::halfMetreLines(-1e6f, 1e6f, lines, 64), 64);
}

TEST(PreviewPass, FirstSplayTurnsTheWholeArray) {
    ArrayPreview preview(models::kKtr4);
    const float up[3] = {-5.0f, 0.0f, 0.0f};
    preview.run(3, up);
    EXPECT_FLOAT_EQ(preview.aimDeg(1), 5.0f);
    EXPECT_NEAR(headingDeg(preview.outline(3)), 5.0, 1e-3);
    EXPECT_GT(preview.outline(3).centre.x, 0.0f);  // the column leans forward

    const float down[3] = {5.0f, 0.0f, 0.0f};
    preview.run(3, down);
    EXPECT_FLOAT_EQ(preview.aimDeg(1), -5.0f);
    EXPECT_NEAR(headingDeg(preview.outline(1)), -5.0, 1e-3);
    EXPECT_LT(preview.outline(3).centre.x, 0.0f);
}

TEST(PreviewPass, LargeTotalSplayCurlsDownAndBack) {
    ArrayPreview preview(models::kKtr4);
    std::vector<float> splays(16, 10.0f);
    preview.run(16, splays.data());
    EXPECT_NEAR(preview.aimDeg(16), -160.0f, 1e-3f);
    // The bottom of the array now faces back: its cells lie behind the first.
    EXPECT_LT(preview.outline(16).centre.x, -1.0f);
    EXPECT_LT(preview.extents().minX, preview.outline(16).centre.x);
    const dialog::GridLines grid = preview.gridLines();
    for (int32_t i = 1; i < grid.verticalCount; ++i) EXPECT_EQ(grid.xM[i] - grid.xM[i - 1], 0.5f);
}

TEST_P(Preview, CellsHingeAtTheirFrontEdgesAndKeepTheirShape) {
    std::mt19937 random(7);
    const float d = model().cabinet.depthM / 2.0f;
    const float f = model().cabinet.frontHeightM / 2.0f;
    const float r = model().cabinet.rearHeightM / 2.0f;
    for (int trial = 0; trial < 50; ++trial) {
        const std::vector<float> splays = randomSplays(random, 16);
        const ArrayPreview preview = run(splays);
        double sum = 0.0;
        for (int32_t n = 1; n <= 16; ++n) {
            const CellOutline& c = preview.outline(n);
            sum += splays[size_t(n - 1)];
            EXPECT_NEAR(preview.aimDeg(n), -sum, 1e-3) << n;
            EXPECT_NEAR(headingDeg(c), -sum, 1e-2) << n;
            EXPECT_NEAR(distance(c.frontTop, c.frontBottom), 2 * f, kToleranceM);
            EXPECT_NEAR(distance(c.rearTop, c.rearBottom), 2 * r, kToleranceM);
            EXPECT_NEAR(distance(midpoint(c.frontTop, c.frontBottom), midpoint(c.rearTop, c.rearBottom)),
                        2 * d, kToleranceM);
            if (n < 16) {
                const CellOutline& next = preview.outline(n + 1);
                EXPECT_NEAR(next.frontTop.x, c.frontBottom.x, 4 * kToleranceM) << n;
                EXPECT_NEAR(next.frontTop.y, c.frontBottom.y, 4 * kToleranceM) << n;
            }
        }
    }
}

TEST_P(Preview, ExtentsHoldEveryCornerAtTheFieldsAspectAndMapInsideTheMargins) {
    std::mt19937 random(11);
    const models::PreviewConstants& k = model().preview;
    for (int trial = 0; trial < 60; ++trial) {
        const int count = 1 + trial % 16;
        const ArrayPreview preview = run(randomSplays(random, count));
        const dialog::PreviewExtents& e = preview.extents();
        EXPECT_NEAR(e.width / e.height, float(k.aspectWidth) / float(k.aspectHeight), 1e-5f);
        EXPECT_LE(e.minX, 0.0f);
        EXPECT_GE(e.maxX, 0.0f);
        EXPECT_LE(e.minY, 0.0f);
        EXPECT_GE(e.maxY, 0.0f);
        // The side of a cabinet is a trapezoid of depth 2d between faces 2f
        // and 2r high; drawn in the wrong corner order it would be a bow tie
        // of far smaller area.
        const double sideAreaPx = double(model().cabinet.depthM) *
                                  (model().cabinet.frontHeightM + model().cabinet.rearHeightM) / 2.0 *
                                  (k.spanXPx / e.width) * (k.spanYPx / e.height);
        for (int32_t n = 1; n <= count; ++n) {
            PixelPoint corners[4];
            preview.pixelCorners(n, corners);
            double twiceArea = 0.0;
            for (int i = 0; i < 4; ++i) {
                const PixelPoint& p = corners[i];
                const PixelPoint& q = corners[(i + 1) % 4];
                twiceArea += double(p.x) * q.y - double(q.x) * p.y;
                EXPECT_GE(p.x, k.marginPx);
                EXPECT_LE(p.x, k.marginPx + k.spanXPx);
                EXPECT_GE(p.y, k.marginPx);
                EXPECT_LE(p.y, k.marginPx + k.spanYPx);
            }
            EXPECT_NEAR(std::fabs(twiceArea) / 2.0, sideAreaPx, 0.03 * sideAreaPx) << "cell " << n;
        }
        const dialog::GridLines grid = preview.gridLines();
        ASSERT_GT(grid.verticalCount, 1);
        EXPECT_LE(grid.xM[0], e.minX);
        EXPECT_GT(grid.xM[0], e.minX - 0.5f);
        EXPECT_GE(grid.xM[grid.verticalCount - 1], e.maxX);
        EXPECT_LE(grid.yM[0], e.minY);
        EXPECT_GE(grid.yM[grid.horizontalCount - 1], e.maxY);
    }
}

TEST_P(Preview, NoCellsLeaveAnEmptyFieldAndBrokenSplaysStayDrawable) {
    const ArrayPreview empty = run({});
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.gridLines().verticalCount, 0);
    EXPECT_EQ(empty.gridLines().horizontalCount, 0);
    EXPECT_EQ(empty.extents().width, 0.0f);

    // Not-a-number splays cannot come from the dialog's own steps; they must
    // still give pixels the drawing calls can take.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const ArrayPreview broken = run({0.0f, nan, 0.0f, 0.0f});
    for (int32_t n = 1; n <= 4; ++n) {
        PixelPoint corners[4];
        broken.pixelCorners(n, corners);
        for (const PixelPoint& p : corners) {
            EXPECT_LE(std::abs(p.x), 1 << 20);
            EXPECT_LE(std::abs(p.y), 1 << 20);
        }
    }
    EXPECT_LE(broken.gridLines().verticalCount, dialog::GridLines::kMaxLines);
    EXPECT_TRUE(std::isfinite(broken.extents().width));
}

#include <cmath>
#include <cstring>
#include <string>

#include "tests/host/plugin_fixture.h"
#include "tests/host/setup_blob.h"

using namespace host_test;

namespace {

constexpr float kTenthMm = 1e-4f;

struct Xyz {
    float x, y, z;
};

class LayoutTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    }
    void setSplays(std::initializer_list<float> splays) {
        ASSERT_EQ(setCells(*plugin, product(), splays, 1), 0);
    }
    Xyz position(int32_t cell) const {
        Xyz p{NAN, NAN, NAN};
        EXPECT_EQ(plugin->CI_GetCompPosition3fv(cell, &p.x), 0);
        return p;
    }
    Xyz angles(int32_t cell) const {
        Xyz a{NAN, NAN, NAN};
        EXPECT_EQ(plugin->CI_GetCompAngles3fv(cell, &a.x), 0);
        return a;
    }
    void expectPosition(int32_t cell, Xyz expected) const {
        const Xyz p = position(cell);
        EXPECT_NEAR(p.x, expected.x, kTenthMm) << "cell " << cell;
        EXPECT_NEAR(p.y, expected.y, kTenthMm) << "cell " << cell;
        EXPECT_NEAR(p.z, expected.z, kTenthMm) << "cell " << cell;
    }
    bool is(const char* library) const { return product().library == library; }
};

}  // namespace

TEST_F(LayoutTest, CellsHangBelowTheArray) {
    setSplays({0.0f, 5.0f, 5.0f, 5.0f});
    if (is("ktr4")) {
        expectPosition(1, {0, 0, 0});
        expectPosition(2, {0, 0.0141f, -0.3239f});
        expectPosition(3, {0, 0.0565f, -0.6454f});
        expectPosition(4, {0, 0.1266f, -0.9620f});
    } else if (is("ktr2")) {
        expectPosition(1, {0, 0, 0});
        expectPosition(2, {0, 0.0109f, -0.2491f});
        expectPosition(3, {0, 0.0434f, -0.4964f});
        expectPosition(4, {0, 0.0974f, -0.7399f});
    } else {
        setSplays({0.0f, 0.0f, 0.0f, 0.0f});
        expectPosition(2, {0, 0, -0.258f});
    }
    if (!is("qspan")) {
        for (int32_t cell = 1; cell <= 4; ++cell) {
            const Xyz a = angles(cell);
            EXPECT_EQ(a.x, 0.0f);
            EXPECT_NEAR(a.y, -5.0f * float(cell - 1), 1e-4f);
            EXPECT_EQ(a.z, 0.0f);
        }
    }
}

TEST_F(LayoutTest, SplayOfCellOneTiltsOnlyTheBumperHungArray) {
    setSplays({0.0f, 5.0f, 5.0f, 5.0f});
    const Xyz flat4 = position(4);
    setSplays({10.0f, 5.0f, 5.0f, 5.0f});
    const Xyz tilted4 = position(4);
    if (is("ktr2")) {
        expectPosition(1, {0, 0.0193f, 0.0564f});
        EXPECT_NEAR(angles(1).y, -10.0f, 1e-4f);
        EXPECT_NEAR(angles(4).y, -25.0f, 1e-4f);
        EXPECT_GT(std::fabs(tilted4.y - flat4.y), 0.05f);
    } else {
        expectPosition(1, {0, 0, 0});
        EXPECT_EQ(std::memcmp(&flat4, &tilted4, sizeof flat4), 0);
    }
}

TEST_F(LayoutTest, ArrayPoseMovesEveryCell) {
    setSplays({0.0f, 0.0f, 0.0f, 0.0f});
    const float arrayPosition[3] = {1, 2, 3};
    const float anglesDeg[3] = {0, 10, 0};
    EXPECT_EQ(plugin->CI_SetLspkPosition3fv(arrayPosition), 0);
    EXPECT_EQ(plugin->CI_SetLspkAngles3fv(anglesDeg), 0);
    expectPosition(1, {1, 2, 3});
    if (is("ktr4")) expectPosition(2, {1, 1.9383f, 2.6498f});
    for (int32_t cell = 1; cell <= 4; ++cell) EXPECT_NEAR(angles(cell).y, 10.0f, 1e-4f);
    // The rear-to-front pitch of one cell down the tilted column.
    const Xyz p1 = position(1), p2 = position(2);
    const float spacing = std::sqrt((p2.x - p1.x) * (p2.x - p1.x) + (p2.y - p1.y) * (p2.y - p1.y) +
                                    (p2.z - p1.z) * (p2.z - p1.z));
    const float frontHeight = is("ktr2") ? 0.2769f : is("ktr4") ? 0.3556f : 0.258f;
    EXPECT_NEAR(spacing, frontHeight, kTenthMm);
}

TEST_F(LayoutTest, FreshSlotHoldsZeroPosesUntilTheFirstLayout) {
    for (int32_t cell = 1; cell <= 4; ++cell) {
        const Xyz p = position(cell);
        EXPECT_TRUE(p.x == 0 && p.y == 0 && p.z == 0);
    }
    const float arrayPosition[3] = {0, 0, 10};
    plugin->CI_SetLspkPosition3fv(arrayPosition);
    expectPosition(1, {0, 0, 10});
    expectPosition(4, {0, 0, 10 - 3 * (is("ktr2") ? 0.2769f : is("ktr4") ? 0.3556f : 0.258f)});
}

TEST_F(LayoutTest, SeatSetsDistancesWithoutLayingOut) {
    setSplays({0.0f, 3.0f, 3.0f, 3.0f});
    const Xyz before = position(3);
    const float seat[3] = {3, 4, 0};
    EXPECT_EQ(plugin->CI_SetSeatPosition3fv(seat), 0);
    EXPECT_EQ(plugin->CI_GetDistance(), 5.0f);
    const Xyz after = position(3);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);
    const float d3 = std::sqrt((after.x - 3) * (after.x - 3) + (after.y - 4) * (after.y - 4) + after.z * after.z);
    EXPECT_NEAR(plugin->CI_GetCompDistance(3), d3, 1e-5f);
}

TEST_F(LayoutTest, ComponentNumbersOutsideTheArrayAreRefused) {
    setSplays({0.0f, 1.0f, 2.0f, 3.0f, 4.0f});
    EXPECT_EQ(plugin->CI_GetComponents(), 5);
    for (int32_t cell : {0, 6, 16, 17, -1, INT32_MIN, INT32_MAX}) {
        float out[3] = {7, 7, 7};
        EXPECT_EQ(plugin->CI_GetCompPosition3fv(cell, out), -1) << cell;
        EXPECT_EQ(plugin->CI_GetCompAngles3fv(cell, out), -1) << cell;
        EXPECT_EQ(plugin->CI_GetCompDistance(cell), -1.0f) << cell;
        EXPECT_TRUE(out[0] == 7 && out[1] == 7 && out[2] == 7);
    }
}

TEST_F(LayoutTest, SingleCellTakesTheArrayPose) {
    if (is("qspan")) GTEST_SKIP() << "takes at least 4 cells";
    setSplays({is("ktr2") ? 0.0f : 8.0f});
    const float arrayPosition[3] = {2, -1, 5};
    plugin->CI_SetLspkPosition3fv(arrayPosition);
    expectPosition(1, {2, -1, 5});
}

TEST_F(LayoutTest, PoseExportsNeedAnInstance) {
    plugin->CI_MakeCurrent(-1);
    float v[3] = {1, 2, 3};
    float out[3] = {7, 7, 7};
    EXPECT_EQ(plugin->CI_SetLspkPosition3fv(v), -1);
    EXPECT_EQ(plugin->CI_SetLspkAngles3fv(v), -1);
    EXPECT_EQ(plugin->CI_SetSeatPosition3fv(v), -1);
    EXPECT_EQ(plugin->CI_GetDistance(), -1.0f);
    EXPECT_EQ(plugin->CI_GetComponents(), -1);
    EXPECT_EQ(plugin->CI_GetCompPosition3fv(1, out), -1);
    EXPECT_EQ(plugin->CI_GetCompAngles3fv(1, out), -1);
    EXPECT_EQ(plugin->CI_GetCompDistance(1), -1.0f);
    EXPECT_TRUE(out[0] == 7 && out[1] == 7 && out[2] == 7);
    // Instance 1 never saw the position.
    plugin->CI_MakeCurrent(1);
    expectPosition(1, {0, 0, 0});
}

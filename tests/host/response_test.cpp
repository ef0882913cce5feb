#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/placeholder_data.h"
#include "tests/host/plugin_fixture.h"
#include "tests/host/setup_blob.h"

using namespace host_test;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kCentresHz[21] = {100,  125,  160,  200,  250,  315,  400,  500,  630,  800, 1000,
                                  1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};

struct Response {
    float levels[21];
    float phases[21];
    float time;
};

class ResponseTest : public PluginTest {
protected:
    void SetUp() override {
        PluginTest::SetUp();
        ASSERT_EQ(plugin->CI_GetFreeID(), 1);
        setSplays({0, 0, 0, 0});
        // With imported tables the laws around the level are what is tested:
        // the level is the plug-in's own, read before any filter is set.
        if (!placeholder()) {
            for (int b = 0; b < 21; ++b) plugin->CI_GetCompSPL1m(1, b + 1, &importedOnAxisDb_[b]);
        }
    }
    void setSplays(std::initializer_list<float> splays) {
        ASSERT_EQ(setCells(*plugin, product(), splays, kind), 0);
    }
    void seatAt(float x, float y, float z) {
        const float seat[3] = {x, y, z};
        plugin->CI_SetSeatPosition3fv(seat);
    }
    // The seat at `distance` from cell 1 (at the origin, unturned) in the
    // direction of the balloon node (polar, meridian).
    void seatToward(double polarDeg, double meridianDeg, double distance) {
        const double t = polarDeg * kPi / 180, p = meridianDeg * kPi / 180;
        seatAt(float(-distance * std::sin(t) * std::sin(p)), float(-distance * std::cos(t)),
               float(distance * std::sin(t) * std::cos(p)));
    }
    Response response(int32_t cell = 1) {
        Response r{};
        EXPECT_EQ(plugin->CI_GetCompFR(cell, r.levels, r.phases, &r.time), 0);
        return r;
    }
    float onAxisDb(int band) const {
        if (!placeholder()) return importedOnAxisDb_[band];
        const std::string& p = product().library;
        if (p == "ktr2") {
            const float rise[5] = {130.5f, 131, 131.5f, 132, 132.5f};
            return band < 5 ? 130.0f : band < 10 ? rise[band - 5] : 133.0f;
        }
        if (p == "ktr4") return band < 5 ? 136.0f : band < 12 ? 133.0f : 135.0f;
        return band < 13 ? 126.0f : 127.0f;  // kind 1
    }
    bool ktr() const { return !product().cellsCarryKind; }
    // Whether this product's kinds carry their placeholder data.
    bool placeholder() const { return placeholder_data::product(product().library); }

    int32_t kind = 1;
    float importedOnAxisDb_[21] = {};
};

}  // namespace

TEST_F(ResponseTest, OnAxisWithinOneMetreIsTheOnAxisLevel) {
    seatToward(0, 0, 0.8);
    const Response r = response();
    for (int b = 0; b < 21; ++b) EXPECT_NEAR(r.levels[b], onAxisDb(b), 1e-4f) << b;
    for (float phase : r.phases) EXPECT_EQ(phase, 0.0f);
}

TEST_F(ResponseTest, BalloonNodesSeenFromTheSeat) {
    if (!placeholder()) GTEST_SKIP() << "pins the placeholder data";
    struct Node {
        int band;
        double meridian, polar;
        float ktr, qsb;
    };
    const Node nodes[] = {
        {1, 90, 10, 0.1442f, 0.0961f},       {6, 180, 90, -8.9922f, -5.2189f},
        {11, 0, 30, -4.9092f, -1.6557f},     {11, 90, 30, -1.9076f, -1.4605f},
        {11, 0, 90, -25.5754f, -11.2335f},   {11, 90, 90, -16.6060f, -16.5867f},
        {16, 270, 45, -2.5413f, -4.1710f},   {21, 0, 180, -48.6174f, -39.5042f},
        {21, 355, 180, -48.6174f, -39.5042f},
    };
    for (const Node& n : nodes) {
        seatToward(n.polar, n.meridian, 0.9);
        const float expected = onAxisDb(n.band - 1) + (ktr() ? n.ktr : n.qsb);
        EXPECT_NEAR(response().levels[n.band - 1], expected, 2e-3f)
            << "band " << n.band << " meridian " << n.meridian << " polar " << n.polar;
    }
}

TEST_F(ResponseTest, MirrorImageSeatsHearTheSame) {
    // The placeholders are left-right symmetric by construction; a measured
    // balloon is only when imported with --mirror.
    if (!placeholder()) GTEST_SKIP() << "a measured balloon need not be symmetric";
    for (double meridian : {2.5, 17.0, 90.0, 133.3}) {
        seatToward(40, meridian, 0.9);
        const Response left = response();
        seatToward(40, 360 - meridian, 0.9);
        const Response right = response();
        for (int b = 0; b < 21; ++b) EXPECT_NEAR(left.levels[b], right.levels[b], 1e-4f) << meridian << " " << b;
    }
}

TEST_F(ResponseTest, DistanceLawOnAxis) {
    // Four unsplayed cells span three front heights between cells 1 and 4.
    const double frontHeight = product().library == "ktr2" ? 0.2769 : product().library == "ktr4" ? 0.3556 : 0.258;
    const double length = 3 * frontHeight;
    for (double d : {1.0, 2.0, 10.0, 50.0}) {
        seatToward(0, 0, d);
        const Response r = response();
        for (int b = 0; b < 21; ++b) {
            const double transition = std::max(length * length * kCentresHz[b] / 700, 1.0);
            double loss = 0;
            if (d > 1) loss = d < transition ? 10 * std::log10(d) : 20 * std::log10(d) - 10 * std::log10(transition);
            EXPECT_NEAR(r.levels[b], onAxisDb(b) - loss, 2e-3) << d << " " << b;
        }
        EXPECT_NEAR(r.time, d / 343.0, 1e-6);
    }
}

TEST_F(ResponseTest, AnArrayNeverLaidOutFallsSixDecibelsPerDoubling) {
    plugin->CI_GetFreeID();  // a fresh slot: poses and transition distances zero
    seatToward(0, 0, 10);
    const Response r = response();
    for (int b = 0; b < 21; ++b) EXPECT_NEAR(r.levels[b], onAxisDb(b) - 20.0f, 1e-3f) << b;
}

TEST_F(ResponseTest, AirAbsorptionFollowsFlagOne) {
    seatToward(0, 0, 100);
    const Response before = response();
    plugin->RP_SetValue(2, 60.0f);
    // Flag 1 reads true from load: absorption is left out.
    EXPECT_EQ(std::memcmp(response().levels, before.levels, sizeof before.levels), 0);
    const int32_t off = 0;
    plugin->DLLSetFlag(1, &off);
    const Response absorbed = response();
    EXPECT_NEAR(before.levels[20] - absorbed.levels[20], 12.5f, 0.1f);
    EXPECT_NEAR(before.levels[10] - absorbed.levels[10], 0.523f, 0.01f);
    EXPECT_NEAR(before.levels[0] - absorbed.levels[0], 0.0238f, 0.001f);
    plugin->RP_SetValue(2, 5.0f);
    EXPECT_NEAR(before.levels[10] - response().levels[10], 2.59f, 0.02f);
}

TEST_F(ResponseTest, NoAbsorptionUntilTheHumidityIsSet) {
    const int32_t off = 0;
    plugin->DLLSetFlag(1, &off);
    seatToward(0, 0, 100);
    const Response withFlag = response();
    const int32_t on = 1;
    plugin->DLLSetFlag(1, &on);
    EXPECT_EQ(std::memcmp(response().levels, withFlag.levels, sizeof withFlag.levels), 0);
}

TEST_F(ResponseTest, PropagationTimeUsesTheSpeedOfSoundAsSet) {
    seatAt(0, -10, 0);
    EXPECT_NEAR(response().time, 0.0291545f, 1e-7f);
    plugin->RP_SetValue(1, 0.5f);  // below the reported minimum, stored all the same
    EXPECT_NEAR(response(3).time, 20.0f, 1e-4f);
    // Every cell reports the same time: it runs from the array position.
    EXPECT_EQ(response(1).time, response(4).time);
}

TEST_F(ResponseTest, FilterGainAndPhase) {
    seatToward(0, 0, 0.5);
    float gains[21], phases[21];
    for (int b = 0; b < 21; ++b) {
        gains[b] = -6.0f;
        phases[b] = float(b * 10);
    }
    gains[3] = -75.0f;
    gains[4] = 3.0f;
    phases[5] = 200.0f;
    phases[6] = -300.0f;
    EXPECT_EQ(plugin->IP_SetFilter(gains, phases), 0);
    const Response r = response();
    EXPECT_NEAR(r.levels[0], onAxisDb(0) - 6.0f, 1e-4f);
    EXPECT_NEAR(r.levels[3], onAxisDb(3) - 60.0f, 1e-4f);
    EXPECT_NEAR(r.levels[4], onAxisDb(4), 1e-4f);
    EXPECT_EQ(r.phases[1], 10.0f);
    EXPECT_EQ(r.phases[5], 180.0f);
    EXPECT_EQ(r.phases[6], -180.0f);
    float spl = 0;
    EXPECT_EQ(plugin->CI_GetCompSPL1m(1, 4, &spl), 0);
    EXPECT_EQ(spl, onAxisDb(3) - 60.0f);
}

TEST_F(ResponseTest, SameSeatForEveryCellOfTheArray) {
    setSplays({0, 4, 4, 4, 4, 4});
    seatAt(3, -20, -5);
    const float distance = plugin->CI_GetDistance();
    Response r[6];
    for (int32_t cell = 1; cell <= 6; ++cell) r[cell - 1] = response(cell);
    EXPECT_EQ(plugin->CI_GetDistance(), distance);
    // Each cell sees the seat from its own pose; the times run from the array.
    EXPECT_NE(std::memcmp(r[5].levels, r[0].levels, sizeof r[0].levels), 0);
    for (const Response& each : r) EXPECT_EQ(each.time, r[0].time);
    EXPECT_EQ(std::memcmp(response(1).levels, r[0].levels, sizeof r[0].levels), 0);
}

// The plug-in keeps what it works out per seat between calls. Whatever the
// host changed since the last question, an instance answers as one set up
// from scratch to the same state answers.
TEST_F(ResponseTest, LevelsNeverLagBehindAChange) {
    struct Tracked {
        float seat[3] = {};
        float position[3] = {};
        float angles[3] = {};
        float gains[21] = {}, phases[21] = {};
        bool posesStale = false;  // cells changed without a layout since the last one
    };
    Tracked tracked[3];
    ASSERT_EQ(plugin->CI_GetFreeID(), 2);
    tracked[2].posesStale = true;  // a fresh slot is never laid out
    const int32_t reference = plugin->CI_GetFreeID();
    ASSERT_EQ(reference, 3);
    for (int32_t id : {1, 2}) {
        plugin->CI_MakeCurrent(id);
        plugin->IP_SetFilter(tracked[id].gains, tracked[id].phases);
    }

    std::mt19937 rng(20261208);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto uniform = [&](float lo, float hi) { return lo + (hi - lo) * unit(rng); };
    auto below = [&](int n) { return int(unit(rng) * float(n) * 0.9999f); };
    const uint32_t magic = product().setupMagic;
    const int32_t kinds = ktr() ? 1 : 3;
    int32_t current = 2;
    int compared = 0;
    for (int step = 0; step < 3000; ++step) {
        Tracked& t = tracked[current];
        switch (below(12)) {
        case 0:
            current = 1 + below(2);
            plugin->CI_MakeCurrent(current);
            break;
        case 1:
            for (float& c : t.seat) c = uniform(-40, 40);
            plugin->CI_SetSeatPosition3fv(t.seat);
            break;
        case 2:
            t.position[0] = uniform(-5, 5);
            t.position[1] = uniform(-5, 5);
            t.position[2] = uniform(0, 15);
            plugin->CI_SetLspkPosition3fv(t.position);
            t.posesStale = false;
            break;
        case 3:
            t.angles[0] = uniform(-180, 180);
            t.angles[1] = uniform(-40, 40);
            t.angles[2] = uniform(-20, 20);
            plugin->CI_SetLspkAngles3fv(t.angles);
            t.posesStale = false;
            break;
        case 4: {
            // qspan takes four cells or more.
            std::vector<CellSetup> cells(size_t(ktr() ? 1 + below(16) : 4 + below(13)));
            for (CellSetup& c : cells) c = {below(kinds), uniform(-2, 10)};
            ASSERT_EQ(plugin->IP_SetValue(1, makeBlob(magic, cells, !ktr()).data()), 0);
            t.posesStale = false;
            break;
        }
        case 5: {
            // A wrong magic resets the cells to the defaults without laying them out.
            const auto blob = makeBlob(magic + 1, {{0, 0.0f}, {0, 0.0f}}, !ktr());
            plugin->IP_SetValue(1, blob.data());
            t.posesStale = true;
            break;
        }
        case 6:
            for (int b = 0; b < 21; ++b) {
                t.gains[b] = uniform(-20, 0);
                t.phases[b] = uniform(-180, 180);
            }
            plugin->IP_SetFilter(t.gains, t.phases);
            break;
        case 7:
            if (below(2) == 0) {
                plugin->RP_SetValue(2, uniform(0, 100));
            } else {
                plugin->RP_SetValue(1, uniform(300, 360));
            }
            break;
        case 8: {
            const int32_t flag = below(2);
            plugin->DLLSetFlag(1, &flag);
            break;
        }
        default: {
            if (t.posesStale) break;
            const int32_t count = plugin->CI_GetComponents();
            ASSERT_GE(count, 1);
            const int32_t cell = 1 + below(count);
            const Response asked = response(cell);
            // The reference instance, set up from scratch to the same state.
            const auto blob = readBlob(*plugin);
            plugin->CI_MakeCurrent(reference);
            ASSERT_EQ(plugin->IP_SetValue(1, blob.data()), 0);
            plugin->CI_SetLspkPosition3fv(t.position);
            plugin->CI_SetLspkAngles3fv(t.angles);
            plugin->IP_SetFilter(t.gains, t.phases);
            plugin->CI_SetSeatPosition3fv(t.seat);
            const Response fresh = response(cell);
            plugin->CI_MakeCurrent(current);
            ASSERT_EQ(std::memcmp(asked.levels, fresh.levels, sizeof asked.levels), 0) << "step " << step;
            ASSERT_EQ(std::memcmp(asked.phases, fresh.phases, sizeof asked.phases), 0) << "step " << step;
            ASSERT_EQ(asked.time, fresh.time) << "step " << step;
            ++compared;
        }
        }
    }
    EXPECT_GT(compared, 300);
}

TEST_F(ResponseTest, OnAxisLevelAndDirectivityFactor) {
    float value = 0;
    const std::string& p = product().library;
    EXPECT_EQ(plugin->CI_GetCompSPL1m(1, 11, &value), 0);
    if (placeholder()) {
        EXPECT_EQ(value, p == "ktr2" ? 133.0f : p == "ktr4" ? 133.0f : 126.0f);
    }
    EXPECT_EQ(plugin->CI_GetCompDirectivity(1, 21, &value), 0);
    if (placeholder()) {
        EXPECT_EQ(value, p == "qspan" ? 45.095f : 61.774f);
    }
    if (p == "qspan" && placeholder()) {
        kind = 2;
        setSplays({0, 0, 0, 0});
        EXPECT_EQ(plugin->CI_GetCompSPL1m(3, 21, &value), 0);
        EXPECT_EQ(value, 126.0f);
        EXPECT_EQ(plugin->CI_GetCompDirectivity(3, 21, &value), 0);
        EXPECT_EQ(value, 40.269f);
    }
    for (int32_t band : {0, 22, -1, INT32_MIN, INT32_MAX}) {
        value = 7.0f;
        EXPECT_EQ(plugin->CI_GetCompSPL1m(1, band, &value), -1);
        EXPECT_EQ(plugin->CI_GetCompDirectivity(1, band, &value), -1);
        EXPECT_EQ(value, 7.0f);
    }
    // Only where cells carry a kind does the cell number matter.
    const int32_t expected = product().cellsCarryKind ? -1 : 0;
    EXPECT_EQ(plugin->CI_GetCompSPL1m(0, 5, &value), expected);
    EXPECT_EQ(plugin->CI_GetCompDirectivity(99, 5, &value), expected);
}

TEST_F(ResponseTest, BadComponentsAndSeatsNeverReachOutsideTheData) {
    float levels[22], phases[22], time = 3.0f;
    levels[21] = phases[21] = 5.0f;
    for (int32_t cell : {0, 5, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(plugin->CI_GetCompFR(cell, levels, phases, &time), -1) << cell;
        EXPECT_EQ(time, 3.0f);
    }
    for (float bad : {NAN, INFINITY, -INFINITY, 3e38f}) {
        seatAt(bad, 1.0f, bad);
        EXPECT_EQ(plugin->CI_GetCompFR(2, levels, phases, &time), 0);
        for (int b = 0; b < 21; ++b) EXPECT_EQ(levels[b], 0.0f) << bad;
        EXPECT_EQ(levels[21], 5.0f);
    }
    seatAt(0, -5, 0);
    const float nan3[3] = {NAN, NAN, NAN};
    plugin->CI_SetLspkAngles3fv(nan3);
    EXPECT_EQ(plugin->CI_GetCompFR(2, levels, phases, &time), 0);
    for (int b = 0; b < 21; ++b) EXPECT_FALSE(std::isnan(levels[b]));

    plugin->CI_MakeCurrent(-1);
    EXPECT_EQ(plugin->CI_GetCompFR(1, levels, phases, &time), -1);
    EXPECT_EQ(plugin->CI_GetCompSPL1m(1, 1, levels), -1);
    EXPECT_EQ(plugin->CI_GetCompDirectivity(1, 1, levels), -1);
}

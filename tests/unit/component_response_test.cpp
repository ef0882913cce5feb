#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "acoustics/balloon_grid.h"
#include "acoustics/component_response.h"

using namespace acoustics;

namespace {

// A balloon whose every node says where it is: band*1000 + meridian + polar/100.
std::vector<float> addressBalloon() {
    std::vector<float> v(kBalloonValueCount);
    for (int b = 0; b < kBandCount; ++b) {
        for (int m = 0; m < kMeridianCount; ++m) {
            for (int p = 0; p < kPolarCount; ++p) v[size_t(balloonIndex(b, m, p))] = float(b * 1000 + m) + float(p) / 100;
        }
    }
    return v;
}

struct Fixture {
    std::vector<float> balloon = std::vector<float>(kBalloonValueCount, 0.0f);
    float onAxis[kBandCount], gain[kBandCount], absorption[kBandCount], noAbsorption[kBandCount] = {},
        offset[kBandCount];

    Fixture() {
        for (int b = 0; b < kBandCount; ++b) {
            onAxis[b] = 100.0f;
            gain[b] = 0.0f;
            absorption[b] = 0.01f * float(b + 1);
            setTransition(b, 0.0f);
        }
    }
    void setTransition(int band, float x) { offset[band] = farFieldOffsetDb(x); }
    BaseTables tables(bool withAbsorption) const {
        return {onAxis, gain, withAbsorption ? absorption : noAbsorption, offset};
    }
    std::vector<float> levels(SeatDirection direction, float distanceM, bool withAbsorption = false) const {
        float out[kBandCount + 1];
        out[kBandCount] = 12345.0f;
        float base[kBandCount];
        baseLevels(seatDistance(distanceM), tables(withAbsorption), base);
        componentLevels(balloonSample(direction), balloon.data(), base, out);
        EXPECT_EQ(out[kBandCount], 12345.0f);  // 21 levels, not one more
        return std::vector<float>(out, out + kBandCount);
    }
};

SeatDirection at(float polarDeg, float meridianDeg) { return {polarDeg, meridianDeg, true}; }

}  // namespace

TEST(SeatDirection, AnglesInTheCellsOwnAxes) {
    struct Case {
        geometry::Vector3 v;
        float polar, meridian;
    };
    const Case cases[] = {
        {{0, -3, 0}, 0, 0},     // on axis
        {{0, 2, 0}, 180, 0},    // straight behind
        {{0, 0, 1}, 90, 0},     // up
        {{-1, 0, 0}, 90, 90},   // to the cabinet's left
        {{0, 0, -1}, 90, 180},  // down
        {{1, 0, 0}, 90, 270},   // to its right
        {{0, -1, 1}, 45, 0},
        {{0, 0, 0}, 0, 0},      // at the cell itself
    };
    for (const Case& c : cases) {
        const SeatDirection d = seatDirection(c.v);
        EXPECT_TRUE(d.valid);
        EXPECT_NEAR(d.polarDeg, c.polar, 1e-4f) << c.v.x << " " << c.v.y << " " << c.v.z;
        EXPECT_NEAR(d.meridianDeg, c.meridian, 1e-4f) << c.v.x << " " << c.v.y << " " << c.v.z;
    }
    EXPECT_FALSE(seatDirection({NAN, 0, 0}).valid);
    EXPECT_FALSE(seatDirection({0, INFINITY, 0}).valid);
    // Far but finite seats still have a direction.
    const SeatDirection far = seatDirection({-1e30f, -1e30f, 0.0f});
    EXPECT_TRUE(far.valid);
    EXPECT_NEAR(far.polarDeg, 45.0f, 1e-3f);
    EXPECT_NEAR(far.meridianDeg, 90.0f, 1e-3f);
    // Directions a rounding away from the poles stay on the grid.
    for (float y : {-1.0f, 1.0f}) {
        const SeatDirection d = seatDirection({1e-30f, y, 1e-30f});
        EXPECT_GE(d.polarDeg, 0.0f);
        EXPECT_LE(d.polarDeg, 180.0f);
    }
}

TEST(BalloonLookup, GridNodesReadTheirOwnValue) {
    Fixture f;
    f.balloon = addressBalloon();
    for (float meridian : {0.0f, 5.0f, 90.0f, 355.0f}) {
        for (float polar : {0.0f, 10.0f, 95.0f, 180.0f}) {
            const auto levels = f.levels(at(polar, meridian), 1.0f);
            for (int b : {0, 7, 20}) {
                EXPECT_NEAR(levels[size_t(b)], 100.0f + float(b * 1000) + meridian / 5 + polar / 500, 1e-2f);
            }
        }
    }
}

TEST(BalloonLookup, MidpointsAreTheMeanOfTheirNeighbours) {
    Fixture f;
    f.balloon = addressBalloon();
    // Halfway between polar rows 2 and 3 on meridian 10, and between
    // meridians 10 and 11 on polar row 2.
    EXPECT_NEAR(f.levels(at(12.5f, 50.0f), 1.0f)[3], 100.0f + 3010.0f + 0.025f, 1e-2f);
    EXPECT_NEAR(f.levels(at(10.0f, 52.5f), 1.0f)[3], 100.0f + 3010.5f + 0.02f, 1e-2f);
    // The centre of a grid cell averages its four corners.
    EXPECT_NEAR(f.levels(at(12.5f, 52.5f), 1.0f)[3], 100.0f + 3010.5f + 0.025f, 1e-2f);
}

TEST(BalloonLookup, MeridiansFoldAtAFullTurn) {
    Fixture f;
    f.balloon = addressBalloon();
    const auto at360 = f.levels(at(30.0f, 360.0f), 1.0f);
    const auto at0 = f.levels(at(30.0f, 0.0f), 1.0f);
    EXPECT_EQ(at360, at0);
    // 357.5 degrees lies halfway between meridian 71 and meridian 0.
    EXPECT_NEAR(f.levels(at(30.0f, 357.5f), 1.0f)[1], 100.0f + 1000.0f + 35.5f + 0.06f, 1e-2f);
    // Straight behind reads row 36 alone.
    EXPECT_NEAR(f.levels(at(180.0f, 0.0f), 1.0f)[0], 100.0f + 0.36f, 1e-4f);
}

TEST(BalloonLookup, PolarPairsStayInsideTheGrid) {
    // Every sample reads a polar pair p0, p0 + 1 of one meridian row, so p0
    // stops at 35; on a node the whole weight sits on that node.
    for (float polar : {0.0f, 2.5f, 5.0f, 172.5f, 175.0f, 177.5f, 180.0f}) {
        for (float meridian : {0.0f, 2.5f, 355.0f, 357.5f, 360.0f}) {
            const BalloonSample s = balloonSample(at(polar, meridian));
            for (int offset : s.offsets) {
                EXPECT_GE(offset, 0);
                EXPECT_LE(offset % kPolarCount, kPolarCount - 2) << polar;
                EXPECT_LT(offset / kPolarCount, kMeridianCount) << meridian;
            }
            EXPECT_FLOAT_EQ(s.weights[0] + s.weights[1] + s.weights[2] + s.weights[3], 1.0f);
        }
    }
    const BalloonSample behind = balloonSample(at(180.0f, 0.0f));
    EXPECT_EQ(behind.offsets[0], kPolarCount - 2);
    EXPECT_EQ(behind.weights[0], 0.0f);
    EXPECT_EQ(behind.weights[1], 1.0f);
    const BalloonSample node = balloonSample(at(10.0f, 360.0f));
    EXPECT_EQ(node.offsets[0], 2);
    EXPECT_EQ(node.weights[0], 1.0f);
}

TEST(BalloonLookup, ManyCellsAtOnceMatchOneByOne) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    const float special[] = {0.0f, -0.0f, NAN, INFINITY, -INFINITY, 1e30f, -1e-30f, 3e38f};
    for (int trial = 0; trial < 400; ++trial) {
        const int count = 1 + trial % models::kCellCapacity;
        SeatVectors seats;
        for (int k = 0; k < models::kCellCapacity; ++k) {
            auto value = [&] { return pick(rng) == 0 ? special[pick(rng) % 8] : coordinate(rng); };
            seats.x[k] = value();
            seats.y[k] = value();
            seats.z[k] = value();
        }
        BalloonSample many[models::kCellCapacity + 1];
        many[count].offsets[0] = -12345;
        balloonSamples(seats, count, many);
        EXPECT_EQ(many[count].offsets[0], -12345) << "wrote past the count";
        for (int k = 0; k < count; ++k) {
            const BalloonSample one = balloonSample(seatDirection({seats.x[k], seats.y[k], seats.z[k]}));
            ASSERT_EQ(many[k].valid, one.valid) << trial << " " << k;
            if (!one.valid) continue;
            EXPECT_EQ(many[k].offsets[0], one.offsets[0]);
            EXPECT_EQ(many[k].offsets[1], one.offsets[1]);
            EXPECT_EQ(std::memcmp(many[k].weights, one.weights, sizeof one.weights), 0) << trial << " " << k;
        }
    }
}

TEST(DistanceLaw, ThreeThenSixDecibelsPerDoubling) {
    Fixture f;
    for (int b = 0; b < kBandCount; ++b) f.setTransition(b, 4.0f);
    f.setTransition(1, 20.0f);
    f.setTransition(2, 0.0f);   // a slot never laid out
    f.setTransition(3, 0.25f);  // a short array at a low band
    EXPECT_EQ(f.levels(at(0, 0), 0.5f)[0], 100.0f);
    EXPECT_EQ(f.levels(at(0, 0), 1.0f)[0], 100.0f);
    const auto far = f.levels(at(0, 0), 10.0f);
    EXPECT_NEAR(far[0], 100.0f - 13.9794f, 1e-4f);
    EXPECT_NEAR(far[1], 90.0f, 1e-4f);
    // Below 1 m the transition counts as 1 m: 6 dB per doubling from 1 m.
    EXPECT_NEAR(far[2], 80.0f, 1e-4f);
    EXPECT_NEAR(far[3], 80.0f, 1e-4f);
    EXPECT_NEAR(f.levels(at(0, 0), 2.0f)[2], 100.0f - 6.0206f, 1e-4f);
    // Continuous at the transition distance.
    EXPECT_NEAR(f.levels(at(0, 0), 3.9999f)[0], f.levels(at(0, 0), 4.0001f)[0], 1e-3f);
    EXPECT_NEAR(f.levels(at(0, 0), 4.0f)[0], 100.0f - 6.0206f, 1e-4f);
}

TEST(ComponentLevels, AbsorptionFilterAndFloor) {
    Fixture f;
    const auto dry = f.levels(at(0, 0), 1.0f);
    const auto absorbed = f.levels(at(0, 0), 1.0f, true);
    for (int b = 0; b < kBandCount; ++b) EXPECT_NEAR(dry[size_t(b)] - absorbed[size_t(b)], 0.01f * float(b + 1), 1e-5f);

    f.gain[5] = -60.0f;
    f.onAxis[6] = 30.0f;
    f.gain[6] = -60.0f;
    f.gain[7] = NAN;
    const auto filtered = f.levels(at(0, 0), 1.0f);
    EXPECT_EQ(filtered[5], 40.0f);
    EXPECT_EQ(filtered[6], 0.0f);
    EXPECT_EQ(filtered[7], 0.0f);

    for (float d : {NAN, INFINITY}) {
        for (float level : f.levels(at(0, 0), d, true)) EXPECT_EQ(level, 0.0f) << d;
    }
    for (float level : f.levels({0, 0, false}, 2.0f)) EXPECT_EQ(level, 0.0f);
}

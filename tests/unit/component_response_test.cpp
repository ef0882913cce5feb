#include <gtest/gtest.h>

#include <cmath>
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
    ResponseTables tables(bool withAbsorption) const {
        return {balloon.data(), onAxis, gain, withAbsorption ? absorption : noAbsorption, offset};
    }
    std::vector<float> levels(SeatDirection direction, float distanceM, bool withAbsorption = false) const {
        float out[kBandCount + 1];
        out[kBandCount] = 12345.0f;
        componentLevels(direction, seatDistance(distanceM), tables(withAbsorption), out);
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
    // Straight behind, both polar nodes are row 36.
    EXPECT_NEAR(f.levels(at(180.0f, 0.0f), 1.0f)[0], 100.0f + 0.36f, 1e-4f);
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

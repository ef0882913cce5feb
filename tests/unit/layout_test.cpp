#include <gtest/gtest.h>

#include <random>

#include "acoustics/transition_distance.h"
#include "geometry/layout.h"
#include "geometry/rotation.h"
#include "tests/every_model.h"

using namespace geometry;
using models::ModelDefinition;

namespace {

constexpr float kTenthMm = 1e-4f;

void expectNear(const Vector3& actual, const Vector3& expected, float tol = kTenthMm) {
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

struct Laid {
    Pose poses[models::kCellCapacity];
    int written = 0;
};

Laid layOut(const ModelDefinition& model, std::initializer_list<float> splays, Pose array = {}) {
    float s[models::kCellCapacity] = {};
    int n = 0;
    for (float v : splays) s[n++] = v;
    Laid laid;
    laid.written = layOutCells(array, s, n, model, laid.poses);
    return laid;
}

// Points on a cell's front and rear edges, in the middle of the cabinet's
// width. A cell's "down" is the aim of its angles pitched by -90 degrees; in
// order Z-X-Y with a turned first angle that is not perpendicular to the aim,
// and the cells hang along it all the same.
struct CellEdges {
    Vector3 frontTop, frontBottom, rearTop, rearBottom;
};

CellEdges edgesOf(const Pose& pose, const ModelDefinition& model) {
    const RotationOrder order = model.angles.order;
    const float d = model.cabinet.depthM / 2, hf = model.cabinet.frontHeightM / 2,
                hr = model.cabinet.rearHeightM / 2;
    const Vector3 forward = aimDirection(pose.angles, order);
    const Vector3 down = aimDirection(pose.angles.pitchedDown(), order);
    const Vector3 up{-down.x, -down.y, -down.z};
    auto at = [&](float f, float u) {
        return Vector3{pose.position.x + f * forward.x + u * up.x, pose.position.y + f * forward.y + u * up.y,
                       pose.position.z + f * forward.z + u * up.z};
    };
    return {at(d, hf), at(d, -hf), at(-d, hr), at(-d, -hr)};
}

class LayoutEveryModel : public ::testing::TestWithParam<const ModelDefinition*> {};
INSTANTIATE_FOR_EVERY_MODEL(LayoutEveryModel);

}  // namespace

TEST(Layout, Ktr4HangsCellsBelowTheArrayPose) {
    const Laid laid = layOut(models::kKtr4, {0.0f, 5.0f, 5.0f, 5.0f});
    ASSERT_EQ(laid.written, 4);
    expectNear(laid.poses[0].position, {0, 0, 0});
    expectNear(laid.poses[1].position, {0, 0.0141f, -0.3239f});
    expectNear(laid.poses[2].position, {0, 0.0565f, -0.6454f});
    expectNear(laid.poses[3].position, {0, 0.1266f, -0.9620f});
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(laid.poses[k].angles.degrees(1), -5.0f * float(k), 1e-4f);
        EXPECT_EQ(laid.poses[k].angles.degrees(0), 0.0f);
        EXPECT_EQ(laid.poses[k].angles.degrees(2), 0.0f);
    }
    const float length = distance(laid.poses[0].position, laid.poses[3].position);
    EXPECT_NEAR(length, 0.97025f, 1e-4f);
    float transition[models::kBandCount];
    acoustics::computeTransitionDistances(length, models::kKtr4, transition);
    EXPECT_NEAR(transition[10], 1.3448f, 1e-4f);

    // Splay 1 plays no part where cell 1 takes the array pose.
    const Laid other = layOut(models::kKtr4, {7.5f, 5.0f, 5.0f, 5.0f});
    for (int k = 0; k < 4; ++k) EXPECT_EQ(other.poses[k].position, laid.poses[k].position);
}

TEST(Layout, Ktr2HangsCellOneFromTheBumper) {
    const Laid laid = layOut(models::kKtr2, {0.0f, 5.0f, 5.0f, 5.0f});
    expectNear(laid.poses[0].position, {0, 0, 0});
    expectNear(laid.poses[1].position, {0, 0.0109f, -0.2491f});
    expectNear(laid.poses[2].position, {0, 0.0434f, -0.4964f});
    expectNear(laid.poses[3].position, {0, 0.0974f, -0.7399f});

    const Laid tilted = layOut(models::kKtr2, {10.0f, 5.0f, 5.0f, 5.0f});
    expectNear(tilted.poses[0].position, {0, 0.0193f, 0.0564f});
    EXPECT_NEAR(tilted.poses[0].angles.degrees(1), -10.0f, 1e-4f);
    EXPECT_NEAR(tilted.poses[3].angles.degrees(1), -25.0f, 1e-4f);
    // The cells below move with cell 1.
    EXPECT_GT(distance(tilted.poses[3].position, laid.poses[3].position), 0.05f);
}

TEST(Layout, QspanCellsStackOneFrontHeightApart) {
    const Laid laid = layOut(models::kQspan, {0.0f, 0.0f});
    expectNear(laid.poses[1].position, {0, 0, -0.258f});
}

TEST(Layout, TiltedArrayCarriesItsCells) {
    Pose array{{1, 2, 3}, EulerAngles::fromDegrees(0, 10, 0)};
    const Laid laid = layOut(models::kKtr4, {0.0f, 0.0f}, array);
    expectNear(laid.poses[1].position, {1, 1.9383f, 2.6498f});
    EXPECT_NEAR(laid.poses[1].angles.degrees(1), 10.0f, 1e-4f);
}

TEST(Layout, EmptyArrays) {
    Pose array{{1, 2, 3}, EulerAngles::fromDegrees(5, 10, 15)};
    Pose poses[models::kCellCapacity];
    const float splays[models::kCellCapacity] = {};
    EXPECT_EQ(layOutCells(array, splays, 0, models::kKtr2, poses), 0);
    ASSERT_EQ(layOutCells(array, splays, 0, models::kKtr4, poses), 1);
    EXPECT_EQ(poses[0].position, array.position);
    EXPECT_NEAR(poses[0].angles.degrees(2), 15.0f, 1e-4f);

    float transition[models::kBandCount];
    acoustics::computeTransitionDistances(0.0f, models::kQspan, transition);
    for (float x : transition) EXPECT_EQ(x, 0.0f);
}

TEST(Layout, TransitionDistanceGrowsWithTheSquareOfTheLength) {
    float transition[models::kBandCount];
    for (const ModelDefinition* model : {&models::kKtr2, &models::kKtr4}) {
        acoustics::computeTransitionDistances(3.0f, *model, transition);
        EXPECT_NEAR(transition[10], 12.857f, 1e-3f);
        EXPECT_NEAR(transition[0], 1.2857f, 1e-4f);
        EXPECT_NEAR(transition[20], 128.57f, 1e-2f);
    }
}

TEST_P(LayoutEveryModel, UnsplayedRearCornersStandTheHeightDifferenceApart) {
    const ModelDefinition& model = *GetParam();
    const Laid laid = layOut(model, {0.0f, 0.0f, 0.0f});
    const float expected = model.cabinet.frontHeightM - model.cabinet.rearHeightM;
    for (int k = 0; k + 1 < 3; ++k) {
        const CellEdges upper = edgesOf(laid.poses[k], model);
        const CellEdges lower = edgesOf(laid.poses[k + 1], model);
        EXPECT_NEAR(distance(upper.rearBottom, lower.rearTop), expected, kTenthMm);
    }
}

TEST_P(LayoutEveryModel, RandomArraysHingeAtTheFrontEdgesAndSumTheirSplays) {
    const ModelDefinition& model = *GetParam();
    const bool hangsFromBumper = model.firstCell == models::FirstCellRule::HangsFromBumper;
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> position(-20, 20), angle(-90, 90), splay(-5, 10);
    std::uniform_int_distribution<int> count(1, models::kCellCapacity);
    for (int trial = 0; trial < 300; ++trial) {
        const Pose array{{position(rng), position(rng), position(rng)},
                         EulerAngles::fromDegrees(angle(rng), angle(rng), angle(rng))};
        const int n = count(rng);
        float splays[models::kCellCapacity];
        for (float& s : splays) s = splay(rng);
        Pose poses[models::kCellCapacity];
        ASSERT_EQ(layOutCells(array, splays, n, model, poses), n);

        float runningSplay = hangsFromBumper ? splays[0] : 0.0f;
        for (int k = 0; k < n; ++k) {
            if (k > 0) runningSplay += splays[k];
            EXPECT_NEAR(poses[k].angles.degrees(0), array.angles.degrees(0), 1e-3f);
            EXPECT_NEAR(poses[k].angles.degrees(1), array.angles.degrees(1) - runningSplay, 1e-3f);
            EXPECT_NEAR(poses[k].angles.degrees(2), array.angles.degrees(2), 1e-3f);
            if (k + 1 < n) {
                // The lower cell's front top edge is the upper cell's front bottom edge.
                expectNear(edgesOf(poses[k + 1], model).frontTop, edgesOf(poses[k], model).frontBottom, 2e-4f);
            }
        }
        if (!hangsFromBumper) {
            EXPECT_EQ(poses[0].position, array.position);
        } else {
            // Cell 1 hangs from the bumper pivot: the front top edge it would
            // have in the array pose, reached by stepping up.
            const RotationOrder order = model.angles.order;
            const Vector3 bumper =
                step(step(array.position, array.angles, model.cabinet.depthM / 2, order),
                     array.angles.pitchedUp(), model.cabinet.frontHeightM / 2, order);
            expectNear(edgesOf(poses[0], model).frontTop, bumper, 2e-4f);
        }
    }
}

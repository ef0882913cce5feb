#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "geometry/fast_atan2.h"
#include "geometry/float_lanes.h"
#include "tests/unit/matrix4.h"
#include "geometry/plane.h"
#include "geometry/rotation.h"
#include "geometry/scalar.h"

using namespace geometry;

namespace {

constexpr float kTol = 1e-5f;
constexpr AngleConvention kZxyPolar{RotationOrder::ZXY, DirectionForm::Polar};
constexpr AngleConvention kYxzPanTilt{RotationOrder::YXZ, DirectionForm::PanTilt};

void expectNear(const Vector3& actual, const Vector3& expected, float tol = kTol) {
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

float length(const Vector3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

class RandomGeometry {
public:
    explicit RandomGeometry(unsigned seed) : engine_(seed) {}
    float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(engine_); }
    Vector3 vector() { return {uniform(-5, 5), uniform(-5, 5), uniform(-5, 5)}; }
    EulerAngles angles() {
        return EulerAngles::fromDegrees(uniform(-360, 360), uniform(-180, 180), uniform(-360, 360));
    }

private:
    std::mt19937 engine_;
};

class BothOrders : public ::testing::TestWithParam<AngleConvention> {};
INSTANTIATE_TEST_SUITE_P(Rotation, BothOrders, ::testing::Values(kZxyPolar, kYxzPanTilt),
                         [](const auto& info) {
                             return info.param.order == RotationOrder::ZXY ? "ZXY" : "YXZ";
                         });

}  // namespace

TEST(EulerAngles, KeepsAllRepresentationsTogether) {
    const EulerAngles a = EulerAngles::fromDegrees(0.0f, 30.0f, 0.0f);
    EXPECT_FLOAT_EQ(a.radians(1), 0.5235988f);
    EXPECT_FLOAT_EQ(a.sine(1), 0.5f);
    EXPECT_FLOAT_EQ(a.degrees(1), 30.0f);
    EXPECT_EQ(a.cosine(0), 1.0f);
    EXPECT_EQ(a.sine(0), 0.0f);

    const EulerAngles zero;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(zero.radians(i), 0.0f);
        EXPECT_EQ(zero.degrees(i), 0.0f);
        EXPECT_EQ(zero.sine(i), 0.0f);
        EXPECT_EQ(zero.cosine(i), 1.0f);
    }
}

TEST(EulerAngles, SumsAndPitchesWorkOnRadians) {
    const EulerAngles a = EulerAngles::fromDegrees(10.0f, -20.0f, 30.0f);
    const EulerAngles b = a.plus(EulerAngles::fromDegrees(5.0f, -5.0f, 0.0f));
    EXPECT_NEAR(b.degrees(0), 15.0f, 1e-4f);
    EXPECT_NEAR(b.degrees(1), -25.0f, 1e-4f);
    EXPECT_NEAR(b.degrees(2), 30.0f, 1e-4f);
    EXPECT_NEAR(a.pitchedUp().degrees(1), 70.0f, 1e-4f);
    EXPECT_NEAR(a.pitchedDown().degrees(1), -110.0f, 1e-4f);
    EXPECT_NEAR(a.turnedRight().degrees(0), 100.0f, 1e-4f);
    // Set again from its radians, the degrees come from them and may differ
    // in the last bit; radians, sines and cosines stay exactly.
    const EulerAngles again = a.withDegreesFromRadians();
    EXPECT_NEAR(again.degrees(2), 30.0f, 1e-5f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(again.radians(i), a.radians(i));
        EXPECT_EQ(again.sine(i), a.sine(i));
        EXPECT_EQ(again.cosine(i), a.cosine(i));
    }
}

TEST_P(BothOrders, AimsAlongTheDocumentedAxes) {
    const RotationOrder order = GetParam().order;
    expectNear(aimDirection(EulerAngles(), order), {0, -1, 0});
    expectNear(aimDirection(EulerAngles::fromDegrees(0, 90, 0), order), {0, 0, 1});
    expectNear(aimDirection(EulerAngles::fromDegrees(90, 0, 0), order), {1, 0, 0});
}

TEST(Rotation, OrdersAgreeWhenOnlyTheTiltIsSet) {
    RandomGeometry rng(7);
    for (int i = 0; i < 200; ++i) {
        const EulerAngles a = EulerAngles::fromDegrees(0.0f, rng.uniform(-180, 180), 0.0f);
        const Vector3 v = rng.vector();
        expectNear(rotate(v, a, RotationOrder::ZXY), rotate(v, a, RotationOrder::YXZ));
    }
}

TEST(Rotation, StepDownDependsOnTheOrderOnceTurned) {
    const EulerAngles a = EulerAngles::fromDegrees(30.0f, 0.0f, 0.0f);
    expectNear(step({}, a.pitchedDown(), 1.0f, RotationOrder::ZXY), {0.5f, 0.0f, -0.8660254f});
    expectNear(step({}, a.pitchedDown(), 1.0f, RotationOrder::YXZ), {0.0f, 0.0f, -1.0f});
}

TEST_P(BothOrders, InverseRotationUndoesRotation) {
    const RotationOrder order = GetParam().order;
    RandomGeometry rng(11);
    for (int i = 0; i < 500; ++i) {
        const EulerAngles a = rng.angles();
        const Vector3 v = rng.vector();
        expectNear(inverseRotate(rotate(v, a, order), a, order), v, 1e-5f * (1 + length(v)));
        expectNear(rotate(inverseRotate(v, a, order), a, order), v, 1e-5f * (1 + length(v)));
    }
}

TEST_P(BothOrders, RotationMatchesTheMatrixProduct) {
    const RotationOrder order = GetParam().order;
    RandomGeometry rng(13);
    for (int i = 0; i < 500; ++i) {
        const EulerAngles a = rng.angles();
        const Vector3 v = rng.vector();
        const Vector3 viaMatrix = (Vector4::point(v) * rotationMatrix(a, order)).xyz();
        expectNear(rotate(v, a, order), viaMatrix, 1e-5f * (1 + length(v)));
        EXPECT_NEAR(length(rotate(v, a, order)), length(v), 1e-5f * (1 + length(v)));
    }
}

TEST(Matrix4, ComposesAsRowVectorProducts) {
    // (v * P) * Q == v * (P * Q) for a translation-free pair of rotations.
    const Matrix4 p = rotationAboutZ(0.6f, 0.8f);
    const Matrix4 q = rotationAboutX(0.28f, 0.96f);
    const Vector4 v(1.0f, 2.0f, 3.0f, 1.0f);
    const Vector4 stepwise = (v * p) * q;
    const Vector4 combined = v * (p * q);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(stepwise.get(i), combined.get(i), 1e-6f);
    EXPECT_EQ((Matrix4::identity() * p).get(1, 2), 0.8f);
    EXPECT_EQ(Matrix4().get(4, 4), 0.0f);
}

TEST(Rotation, StepMovesForwardWhateverTheSign) {
    const EulerAngles a = EulerAngles::fromDegrees(0.0f, 0.0f, 0.0f);
    const Vector3 p{1.0f, 1.0f, 1.0f};
    expectNear(step(p, a, -0.3f, RotationOrder::ZXY), {1.0f, 0.7f, 1.0f});
    expectNear(step(p, a, 0.3f, RotationOrder::YXZ), {1.0f, 0.7f, 1.0f});
}

TEST(DirectionAngles, PolarFormAtTheAxes) {
    const Vector3 o;
    const float pi = float(kPi);
    EXPECT_FLOAT_EQ(directionAngles(o, {0, -1, 0}, DirectionForm::Polar).radians(1), 0.0f);
    EXPECT_FLOAT_EQ(directionAngles(o, {0, 1, 0}, DirectionForm::Polar).radians(1), pi);
    const EulerAngles up = directionAngles(o, {0, 0, 1}, DirectionForm::Polar);
    EXPECT_FLOAT_EQ(up.radians(1), pi / 2);
    EXPECT_FLOAT_EQ(up.radians(2), 0.0f);
    const EulerAngles right = directionAngles(o, {1, 0, 0}, DirectionForm::Polar);
    EXPECT_FLOAT_EQ(right.radians(1), pi / 2);
    EXPECT_FLOAT_EQ(right.radians(2), 3 * pi / 2);
    EXPECT_FLOAT_EQ(directionAngles(o, {-1, 0, 0}, DirectionForm::Polar).radians(2), pi / 2);
    EXPECT_EQ(directionAngles(o, {0, -1, 0}, DirectionForm::Polar).radians(0), 0.0f);
}

TEST_P(BothOrders, DirectionAnglesAimAtTheTarget) {
    const AngleConvention convention = GetParam();
    RandomGeometry rng(17);
    for (int i = 0; i < 500; ++i) {
        const Vector3 from = rng.vector();
        const Vector3 w = rng.vector();
        if (length(w) < 1e-3f) continue;
        const EulerAngles a = directionAngles(from, from + w, convention.oppositeForm);
        const float n = length(w);
        expectNear(aimDirection(a, convention.order), {w.x / n, w.y / n, w.z / n}, 2e-5f);
    }
}

TEST(DirectionAngles, MeridianStaysWithinOneTurn) {
    RandomGeometry rng(19);
    for (int i = 0; i < 500; ++i) {
        const EulerAngles a = directionAngles({}, rng.vector(), DirectionForm::Polar);
        EXPECT_GE(a.radians(2), 0.0f);
        EXPECT_LE(a.radians(2), float(2 * kPi));
        EXPECT_GE(a.radians(1), 0.0f);
        EXPECT_LE(a.radians(1), float(kPi));
    }
}

TEST_P(BothOrders, OppositeOrientationReversesTheAim) {
    const AngleConvention convention = GetParam();
    RandomGeometry rng(23);
    for (int i = 0; i < 500; ++i) {
        const EulerAngles a = rng.angles();
        const Vector3 aim = aimDirection(a, convention.order);
        const Vector3 back = aimDirection(oppositeOrientation(a, convention), convention.order);
        expectNear(back, {-aim.x, -aim.y, -aim.z}, 2e-5f);
    }
}

TEST(Scalar, NearestWholeNumberRoundsHalvesUp) {
    EXPECT_EQ(nearestWholeNumber(2.5f), 3.0f);
    EXPECT_EQ(nearestWholeNumber(-2.5f), -2.0f);
    EXPECT_EQ(nearestWholeNumber(-2.6f), -3.0f);
    EXPECT_EQ(nearestWholeNumber(4.0f), 4.0f);
}

TEST(Scalar, WholeNumberSnapIsStrict) {
    EXPECT_EQ(snapToWholeNumber(3.96f, 0.05f), 4.0f);
    EXPECT_EQ(snapToWholeNumber(3.94f, 0.05f), 3.94f);
    EXPECT_EQ(snapToWholeNumber(2.5f, 0.6f), 3.0f);
    EXPECT_EQ(snapToWholeNumber(-2.5f, 0.6f), -2.0f);
    EXPECT_EQ(snapToWholeNumber(4.998f, 0.05f), 5.0f);
    // Exactly at the tolerance is outside: 0.5 off with a tolerance of 0.5.
    EXPECT_EQ(snapToWholeNumber(1.5f, 0.5f), 1.5f);
}

TEST(Scalar, ClampLetsNaNThrough) {
    EXPECT_EQ(clamp(-75.0f, -60.0f, 0.0f), -60.0f);
    EXPECT_EQ(clamp(3.0f, -60.0f, 0.0f), 0.0f);
    EXPECT_EQ(clamp(-6.0f, -60.0f, 0.0f), -6.0f);
    EXPECT_TRUE(std::isnan(clamp(NAN, -60.0f, 0.0f)));
}

TEST(Vector3, DistanceAndSubtraction) {
    EXPECT_EQ(distance({0, 0, 0}, {3, 4, 0}), 5.0f);
    Vector3 v{1, 2, 3};
    v -= Vector3{1, 1, 1};
    EXPECT_EQ(v, (Vector3{0, 1, 2}));
}

TEST(PlaneAngle, TurnsAndSubtractsInRadians) {
    const Angle a = Angle::fromDegrees(30.0f);
    EXPECT_FLOAT_EQ(a.sine(), 0.5f);
    EXPECT_NEAR(a.turnedBy90().degrees(), 120.0f, 1e-4f);
    EXPECT_NEAR(a.turnedBy180().degrees(), 210.0f, 1e-4f);
    EXPECT_NEAR(a.turnedByMinus90().degrees(), -60.0f, 1e-4f);
    EXPECT_NEAR(a.minus(Angle::fromDegrees(45.0f)).degrees(), -15.0f, 1e-4f);
    const Vector2 p = polarStep({1.0f, 1.0f}, a.turnedBy90(), 2.0f);
    EXPECT_NEAR(p.x, 1.0f - 1.0f, 1e-6f);
    EXPECT_NEAR(p.y, 1.0f + 2.0f * 0.8660254f, 1e-6f);
}

TEST(InverseRotation, FourPointsAtOnceGetTheBitsOfOne) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> angle(-200.0f, 200.0f), coordinate(-100.0f, 100.0f);
    for (RotationOrder order : {RotationOrder::ZXY, RotationOrder::YXZ}) {
        for (int trial = 0; trial < 500; ++trial) {
            EulerAngles a[4];
            Vector3 v[4];
            for (int k = 0; k < 4; ++k) {
                a[k] = EulerAngles::fromDegrees(angle(rng), angle(rng), angle(rng));
                v[k] = {coordinate(rng), coordinate(rng), coordinate(rng)};
            }
            FloatLanes cosines[3], sines[3];
            for (int i = 0; i < 3; ++i) {
                cosines[i] = FloatLanes::of(a[0].cosine(i), a[1].cosine(i), a[2].cosine(i), a[3].cosine(i));
                sines[i] = FloatLanes::of(a[0].sine(i), a[1].sine(i), a[2].sine(i), a[3].sine(i));
            }
            const Vector3Lanes lanes{FloatLanes::of(v[0].x, v[1].x, v[2].x, v[3].x),
                                     FloatLanes::of(v[0].y, v[1].y, v[2].y, v[3].y),
                                     FloatLanes::of(v[0].z, v[1].z, v[2].z, v[3].z)};
            const Vector3Lanes turned = inverseRotate(lanes, cosines, sines, order);
            float x[4], y[4], z[4];
            _mm_storeu_ps(x, turned.x.v);
            _mm_storeu_ps(y, turned.y.v);
            _mm_storeu_ps(z, turned.z.v);
            for (int k = 0; k < 4; ++k) {
                const Vector3 one = inverseRotate(v[k], a[k], order);
                ASSERT_EQ(std::memcmp(&one.x, &x[k], 4), 0) << trial;
                ASSERT_EQ(std::memcmp(&one.y, &y[k], 4), 0) << trial;
                ASSERT_EQ(std::memcmp(&one.z, &z[k], 4), 0) << trial;
                // And it undoes the rotation.
                expectNear(rotate(one, a[k], order), v[k], 1e-4f);
            }
        }
    }
}

TEST(FastAtan2, AgreesWithTheLibraryEverywhere) {
    auto atan2Degrees = [](float y, float x) {
        float out[4];
        _mm_storeu_ps(out, fastAtan2Degrees(_mm_set1_ps(y), _mm_set1_ps(x)));
        return out[0];
    };
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-30, 30);
    // Beyond the final rounding to single precision, in degrees.
    double worst = 0.0;
    int rounded = 0;
    constexpr int kCount = 200000;
    for (int i = 0; i < kCount; ++i) {
        const float y = std::ldexp(unit(rng), exponent(rng)), x = std::ldexp(unit(rng), exponent(rng));
        const double exact = std::atan2(double(y), double(x)) * 180.0 / 3.14159265358979323846;
        const float got = atan2Degrees(y, x);
        const double halfUlp = 0.5 * (std::nextafter(std::fabs(got), INFINITY) - std::fabs(got));
        worst = std::max(worst, std::fabs(got - exact) - halfUlp);
        rounded += got == float(exact) ? 1 : 0;
    }
    EXPECT_LT(worst, 6e-9);  // 1e-10 rad
    EXPECT_GT(rounded, kCount - 20);  // almost all need no more than that rounding
    // The axes, the diagonals, the reduction boundaries and the origin.
    struct Case {
        float y, x, degrees;
    };
    const Case cases[] = {{0, 1, 0},      {0, 0, 0},       {1, 0, 90},     {0, -1, 180},     {-1, 0, -90},
                          {-1, -1, -135}, {1, 1, 45},      {-0.0f, -1, 180}, {-1, 1, -45},
                          {3, -3, 135},   {0.5f, 0, 90}};
    for (const Case& c : cases) EXPECT_EQ(atan2Degrees(c.y, c.x), c.degrees) << c.y << " " << c.x;
    for (float y : {0.19891236f, 0.66817864f, 0.41421356f}) {
        EXPECT_NEAR(atan2Degrees(y, 1.0f), std::atan2(double(y), 1.0) * 180 / 3.14159265358979323846, 1e-5);
    }
}

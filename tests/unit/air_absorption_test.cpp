#include <gtest/gtest.h>

#include <cmath>

#include "acoustics/air_absorption.h"

using acoustics::computeAirAbsorption;
using acoustics::kBandCount;

namespace {

struct Reference {
    float humidityPercent;
    float at100Hz, at1kHz, at4kHz, at10kHz;  // dB per metre
};

// ISO 9613-1 at 22 degrees C and 101.325 kPa.
constexpr Reference kReferences[] = {
    {5.0f, 0.000761f, 0.0259f, 0.0773f, 0.0998f},
    {60.0f, 0.000238f, 0.00523f, 0.0244f, 0.125f},
    {100.0f, 0.000148f, 0.00586f, 0.0198f, 0.0830f},
};

constexpr int k100Hz = 0, k1kHz = 10, k4kHz = 16, k10kHz = 20;

}  // namespace

TEST(AirAbsorption, MatchesTheStandardsValuesAt22Degrees) {
    for (const Reference& r : kReferences) {
        float table[kBandCount];
        ASSERT_TRUE(computeAirAbsorption(r.humidityPercent, table));
        // The reference values carry three significant figures.
        EXPECT_NEAR(table[k100Hz], r.at100Hz, r.at100Hz * 0.005f) << r.humidityPercent;
        EXPECT_NEAR(table[k1kHz], r.at1kHz, r.at1kHz * 0.005f) << r.humidityPercent;
        EXPECT_NEAR(table[k4kHz], r.at4kHz, r.at4kHz * 0.005f) << r.humidityPercent;
        EXPECT_NEAR(table[k10kHz], r.at10kHz, r.at10kHz * 0.005f) << r.humidityPercent;
    }
}

TEST(AirAbsorption, RisesWithFrequencyAtEveryHumidity) {
    for (float humidity : {0.0f, 5.0f, 20.0f, 60.0f, 100.0f, 250.0f}) {
        float table[kBandCount];
        ASSERT_TRUE(computeAirAbsorption(humidity, table));
        for (int band = 0; band < kBandCount; ++band) {
            EXPECT_TRUE(std::isfinite(table[band]));
            EXPECT_GT(table[band], 0.0f);
            if (band > 0) {
                EXPECT_GT(table[band], table[band - 1]) << humidity << " " << band;
            }
        }
    }
}

TEST(AirAbsorption, DryAirAndOutOfRangeHumidity) {
    float dry[kBandCount];
    ASSERT_TRUE(computeAirAbsorption(0.0f, dry));
    // Without water vapour only the classical and the slow nitrogen and
    // oxygen relaxations remain: far less at 1 kHz than in dry-ish 5 % air.
    float fivePercent[kBandCount];
    computeAirAbsorption(5.0f, fivePercent);
    EXPECT_LT(dry[k1kHz], fivePercent[k1kHz]);

    float negative[kBandCount];
    ASSERT_TRUE(computeAirAbsorption(-30.0f, negative));
    for (int band = 0; band < kBandCount; ++band) EXPECT_EQ(negative[band], dry[band]);

    float table[kBandCount];
    for (float& v : table) v = 42.0f;
    EXPECT_FALSE(computeAirAbsorption(NAN, table));
    EXPECT_FALSE(computeAirAbsorption(INFINITY, table));
    for (float v : table) EXPECT_EQ(v, 42.0f);
}

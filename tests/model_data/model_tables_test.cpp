// The short tables of each model and the accessors the run-time lookup uses.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/placeholder_data.h"
#include "acoustics/model_data.h"
#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"

using namespace acoustics;
using models::kKtr2;
using models::kKtr4;
using models::kQspan;

namespace {

// Published on-axis levels, as runs of band numbers (1 to 21) with one value.
struct Run {
    int firstBand, lastBand;
    float levelDb;
};

void expectLevels(const models::ModelDefinition& model, int kind, std::initializer_list<Run> runs) {
    int expectedBand = 1;
    for (const Run& run : runs) {
        ASSERT_EQ(run.firstBand, expectedBand);
        for (int band = run.firstBand; band <= run.lastBand; ++band)
            EXPECT_EQ(onAxisLevelDb(model, kind, band - 1), run.levelDb) << "kind " << kind << " band " << band;
        expectedBand = run.lastBand + 1;
    }
    EXPECT_EQ(expectedBand, 22);
}

}  // namespace

TEST(ModelTables, KindCounts) {
    EXPECT_EQ(cabinetKindCount(kKtr2), 1);
    EXPECT_EQ(cabinetKindCount(kKtr4), 1);
    EXPECT_EQ(cabinetKindCount(kQspan), 3);
}

TEST(ModelTables, OnAxisLevelsFollowThePublishedRuns) {
    if (placeholder_data::kind("KTR")) {
        expectLevels(kKtr2, 0, {{1, 5, 130.0f}, {6, 6, 130.5f}, {7, 7, 131.0f}, {8, 8, 131.5f}, {9, 9, 132.0f},
                                {10, 10, 132.5f}, {11, 21, 133.0f}});
        expectLevels(kKtr4, 0, {{1, 5, 136.0f}, {6, 12, 133.0f}, {13, 21, 135.0f}});
    }
    if (placeholder_data::kind("QSA")) expectLevels(kQspan, 0, {{1, 13, 126.0f}, {14, 21, 128.0f}});
    if (placeholder_data::kind("QSB")) expectLevels(kQspan, 1, {{1, 13, 126.0f}, {14, 21, 127.0f}});
    if (placeholder_data::kind("QSC")) expectLevels(kQspan, 2, {{1, 21, 126.0f}});
}

TEST(ModelTables, DirectivityFactors) {
    // Every published factor, typed in again one band to a row: ktr2 and
    // ktr4, then the qspan kinds QSA, QSB and QSC.
    constexpr float kPublished[kBandCount][4] = {
        {1.412f, 1.412f, 1.412f, 1.412f},     {2.776f, 1.736f, 1.736f, 1.736f},
        {3.169f, 2.376f, 2.376f, 2.376f},     {3.448f, 2.549f, 2.549f, 2.549f},
        {3.506f, 2.733f, 2.733f, 2.733f},     {3.679f, 3.819f, 3.819f, 3.819f},
        {3.969f, 4.571f, 4.571f, 4.571f},     {4.375f, 7.112f, 7.112f, 7.112f},
        {4.798f, 5.399f, 5.399f, 5.399f},     {5.894f, 5.894f, 5.894f, 5.894f},
        {7.686f, 7.686f, 7.686f, 7.686f},     {12.979f, 8.124f, 8.124f, 8.124f},
        {20.56f, 9.654f, 9.654f, 9.654f},     {25.205f, 14.639f, 13.006f, 11.898f},
        {28.507f, 19.716f, 16.208f, 14.629f}, {35.45f, 24.443f, 20.891f, 18.219f},
        {39.166f, 24.526f, 22.273f, 19.126f}, {39.166f, 30.09f, 24.123f, 21.055f},
        {36.989f, 38.779f, 28.494f, 27.101f}, {47.259f, 59.486f, 35.701f, 38.421f},
        {61.774f, 76.04f, 45.095f, 40.269f},
    };
    const char* kinds[3] = {"QSA", "QSB", "QSC"};
    for (int band = 0; band < kBandCount; ++band) {
        if (placeholder_data::kind("KTR")) {
            EXPECT_EQ(directivityFactor(kKtr2, 0, band), kPublished[band][0]) << "ktr2 band " << band + 1;
            EXPECT_EQ(directivityFactor(kKtr4, 0, band), kPublished[band][0]) << "ktr4 band " << band + 1;
        }
        for (int kind = 0; kind < 3; ++kind) {
            if (placeholder_data::kind(kinds[kind])) {
                EXPECT_EQ(directivityFactor(kQspan, kind, band), kPublished[band][1 + kind])
                    << "qspan kind " << kind << " band " << band + 1;
            }
        }
    }
    // ktr2 and ktr4 share one table.
    for (int band = 0; band < kBandCount; ++band)
        EXPECT_EQ(directivityFactor(kKtr2, 0, band), directivityFactor(kKtr4, 0, band)) << band;
    if (!placeholder_data::product("qspan")) return;
    // The qspan kinds agree up to 1600 Hz and differ from 2000 Hz on.
    for (int band = 0; band < kBandCount; ++band) {
        const float a = directivityFactor(kQspan, 0, band);
        const float b = directivityFactor(kQspan, 1, band);
        const float c = directivityFactor(kQspan, 2, band);
        if (band <= 12) {
            EXPECT_TRUE(a == b && b == c) << band;
        } else {
            EXPECT_TRUE(a != b && b != c && a != c) << band;
        }
        for (int kind = 0; kind < kQspan.kindCount; ++kind) EXPECT_GE(directivityFactor(kQspan, kind, band), 1.0f);
    }
    // The qspan peculiarities.
    EXPECT_EQ(directivityFactor(kQspan, 0, 7), 7.112f);
    EXPECT_EQ(directivityFactor(kQspan, 1, 13), 13.006f);
}

TEST(ModelTables, BalloonAccessorsIndexOneContiguousArray) {
    for (const models::ModelDefinition* m : {&kKtr2, &kKtr4, &kQspan}) {
        for (int kind = 0; kind < m->kindCount; ++kind) {
            const float* whole = m->acoustic.balloonDb[kind];
            for (int band = 0; band < kBandCount; ++band) {
                const float* block = balloonBlock(*m, kind, band);
                ASSERT_EQ(block, whole + band * kBalloonBandStride);
                for (auto [meridian, polar] : {std::pair{0, 0}, {0, 36}, {71, 0}, {71, 36}, {18, 7}, {53, 29}}) {
                    EXPECT_EQ(balloonDb(*m, kind, band, meridian, polar), whole[balloonIndex(band, meridian, polar)]);
                    EXPECT_EQ(&block[meridian * kPolarCount + polar],
                              whole + band * 2664 + meridian * 37 + polar);
                }
            }
        }
    }
    // Bands walk with one fixed stride to the last value of the array.
    EXPECT_EQ(balloonBlock(kKtr4, 0, 20) + 71 * kPolarCount + 36, kKtr4.acoustic.balloonDb[0] + 55943);
}

TEST(ModelTables, DeliverablesShareWhatThePublishedDataShares) {
    EXPECT_EQ(balloonBlock(kKtr2, 0, 0), balloonBlock(kKtr4, 0, 0));
    SKIP_UNLESS_PLACEHOLDER_KINDS("QSA", "QSB", "QSC");
    EXPECT_NE(balloonBlock(kQspan, 0, 0), balloonBlock(kQspan, 1, 0));
    EXPECT_NE(balloonBlock(kQspan, 1, 0), balloonBlock(kQspan, 2, 0));
}

TEST(ModelTables, KindsOutsideTheModelReadTheNearestKind) {
    EXPECT_EQ(balloonBlock(kKtr4, 2, 5), balloonBlock(kKtr4, 0, 5));
    EXPECT_EQ(onAxisLevelDb(kKtr4, 1, 0), onAxisLevelDb(kKtr4, 0, 0));
    EXPECT_EQ(balloonBlock(kQspan, -1, 3), balloonBlock(kQspan, 0, 3));
    EXPECT_EQ(balloonBlock(kQspan, 3, 3), balloonBlock(kQspan, 2, 3));
    EXPECT_EQ(directivityFactor(kQspan, 7, 20), directivityFactor(kQspan, 2, 20));
}

TEST(ModelTables, ValidBandsAndResolutionText) {
    for (const models::ModelDefinition* m : {&kKtr2, &kKtr4, &kQspan}) {
        for (int band = 0; band < kBandCount; ++band) EXPECT_EQ(validBandFlags(*m)[band], -1);
        const char* text = dataResolutionText(*m);
        ASSERT_EQ(std::strlen(text), 31u);
        EXPECT_EQ(std::memcmp(text, "Based on 5", 10), 0);
        EXPECT_EQ(static_cast<unsigned char>(text[10]), 0xB0);
        EXPECT_STREQ(text + 11, " complex full sphere");
    }
}

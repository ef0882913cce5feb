// The reference model is the validator's oracle: if it is wrong, the
// validator either fails a correct plug-in or passes a broken one. These
// tests hold it to the contract's own edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tools/validator/reference_model.h"

namespace validator {
namespace {

const Product& ktr2() { return *findProduct("ktr2"); }
const Product& qspan() { return *findProduct("qspan"); }

Bytes sized(Bytes blob, uint32_t size) {
    writeWord(blob.data(), size);
    return blob;
}

TEST(BlobRules, VerdictsFollowTheOrderOfTheChecks) {
    const std::vector<CellSetup> four(4, CellSetup{1, 2.0f});
    // Header only: no cells for the single-kind products, a reset where
    // at least 4 entries are needed.
    EXPECT_EQ(expectedOutcome(ktr2(), makeBlob(ktr2(), {}).data()).verdict, BlobVerdict::Accepted);
    EXPECT_EQ(expectedOutcome(qspan(), makeBlob(qspan(), {}).data()).verdict, BlobVerdict::Reset);
    // 10 bytes in ktr2 is one whole entry short: 0 cells. 20 bytes in qspan is 1 entry: too few.
    EXPECT_EQ(expectedOutcome(ktr2(), sized(makeBlob(ktr2(), four), 10).data()).cells.size(), 0u);
    EXPECT_EQ(expectedOutcome(qspan(), sized(makeBlob(qspan(), four), 20).data()).verdict, BlobVerdict::Reset);
    // A size below the header is refused before the magic is looked at.
    EXPECT_EQ(expectedOutcome(ktr2(), sized(makeBlob(ktr2(), four, 1u), 7).data()).verdict, BlobVerdict::Refused);
    EXPECT_EQ(expectedOutcome(ktr2(), makeBlob(ktr2(), four, qspan().setupMagic).data()).verdict, BlobVerdict::Reset);
    EXPECT_EQ(expectedOutcome(ktr2(), makeBlob(ktr2(), std::vector<CellSetup>(17)).data()).verdict, BlobVerdict::Refused);
    EXPECT_EQ(expectedOutcome(ktr2(), makeBlob(ktr2(), std::vector<CellSetup>(16)).data()).verdict, BlobVerdict::Accepted);
    // Too few entries is a reset even when an entry is also bad.
    EXPECT_EQ(expectedOutcome(qspan(), makeBlob(qspan(), {{7, NAN}}).data()).verdict, BlobVerdict::Reset);
}

TEST(BlobRules, EntriesMustBeFiniteAndOfAKnownKind) {
    std::vector<CellSetup> cells(5, CellSetup{2, -0.0f});
    EXPECT_EQ(expectedOutcome(qspan(), makeBlob(qspan(), cells).data()).verdict, BlobVerdict::Accepted);
    for (int32_t kind : {-1, 3, std::numeric_limits<int32_t>::min()}) {
        cells[4].kind = kind;
        EXPECT_EQ(expectedOutcome(qspan(), makeBlob(qspan(), cells).data()).verdict, BlobVerdict::Refused) << kind;
    }
    cells[4].kind = 0;
    for (float splay : {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()}) {
        cells[0].splayDeg = splay;
        EXPECT_EQ(expectedOutcome(qspan(), makeBlob(qspan(), cells).data()).verdict, BlobVerdict::Refused);
    }
    // The single-kind products read no kind: 4-byte entries.
    const Bytes ktr = makeBlob(ktr2(), {{5, 1.0f}, {9, 2.0f}});
    EXPECT_EQ(ktr.size(), 16u);
    const BlobOutcome outcome = expectedOutcome(ktr2(), ktr.data());
    ASSERT_EQ(outcome.verdict, BlobVerdict::Accepted);
    EXPECT_EQ(outcome.cells[1].kind, 0);
    EXPECT_EQ(outcome.cells[1].splayDeg, 2.0f);
}

TEST(ReferenceModel, HandsOutTheLowestFreeIdAndKeepsTheCurrentIdWhenFull) {
    ReferenceModel m(ktr2());
    EXPECT_EQ(m.currentId(), -1);
    EXPECT_EQ(m.getFreeId(), 1);
    EXPECT_EQ(m.getFreeId(), 2);
    m.makeCurrent(1);
    EXPECT_EQ(m.release(), 0);
    EXPECT_EQ(m.currentId(), 1);  // release leaves the current id
    EXPECT_EQ(m.getFreeId(), 1);
    while (m.getFreeId() != -1) {
    }
    EXPECT_EQ(m.currentId(), 255);
    EXPECT_EQ(m.idsInUse().size(), 255u);
    m.makeCurrent(256);
    EXPECT_EQ(m.release(), -1);
    EXPECT_EQ(m.current(), nullptr);
}

TEST(ReferenceModel, AReusedSlotGetsDefaultCellsButKeepsFilterPoseAndSeat) {
    ReferenceModel m(qspan());
    m.getFreeId();
    const float seat[3] = {1.0f, 2.0f, 3.0f};
    m.setSeat(seat);
    float gains[kBandCount], phases[kBandCount];
    for (int b = 0; b < kBandCount; ++b) {
        gains[b] = -75.0f;
        phases[b] = 200.0f;
    }
    gains[1] = 3.0f;
    gains[2] = std::numeric_limits<float>::quiet_NaN();
    phases[3] = -0.0f;
    m.setFilter(gains, phases);
    const Bytes six = makeBlob(qspan(), std::vector<CellSetup>(6, CellSetup{2, 4.0f}));
    EXPECT_EQ(m.setBlob(1, six.data()), 0);
    EXPECT_EQ(m.blob(), six);
    m.release();
    EXPECT_EQ(m.getFreeId(), 1);
    const ModelSlot& s = *m.current();
    EXPECT_EQ(s.cellCount, 4);
    EXPECT_EQ(s.cells[0].kind, 1);
    EXPECT_EQ(s.cells[0].splayDeg, 0.0f);
    EXPECT_EQ(s.cells[4].splayDeg, 4.0f);  // beyond the defaults: untouched
    EXPECT_EQ(s.seat[2], 3.0f);
    EXPECT_EQ(s.filterGainDb[0], -60.0f);
    EXPECT_EQ(s.filterGainDb[1], 0.0f);
    EXPECT_TRUE(std::isnan(s.filterGainDb[2]));
    EXPECT_EQ(s.filterPhaseDeg[0], 180.0f);
    EXPECT_TRUE(std::signbit(s.filterPhaseDeg[3]));
}

TEST(ReferenceModel, BlobsAcceptRefuseAndResetAsTheRulesSay) {
    ReferenceModel m(ktr2());
    m.getFreeId();
    EXPECT_EQ(m.setBlob(1, makeBlob(ktr2(), std::vector<CellSetup>(6, CellSetup{0, 1.0f})).data()), 0);
    // Three cells over six: cells 4 to 6 keep their splays but are not counted.
    EXPECT_EQ(m.setBlob(1, makeBlob(ktr2(), std::vector<CellSetup>(3, CellSetup{0, 2.0f})).data()), 0);
    EXPECT_EQ(m.blob().size(), 8u + 12u);
    EXPECT_EQ(m.current()->cells[5].splayDeg, 1.0f);
    EXPECT_EQ(m.setBlob(1, makeBlob(ktr2(), std::vector<CellSetup>(17)).data()), -1);
    EXPECT_EQ(m.current()->cellCount, 3);
    EXPECT_EQ(m.setBlob(2, nullptr), 0);  // another index is not read
    EXPECT_EQ(m.setBlob(1, makeBlob(ktr2(), {}, 1u).data()), -1);
    EXPECT_EQ(m.blob(), makeBlob(ktr2(), defaultCells(ktr2())));
    m.makeCurrent(-1);
    EXPECT_EQ(m.setBlob(1, makeBlob(ktr2(), {}).data()), -1);
}

TEST(ReferenceModel, LayoutForgetsLearnedPosesAndPlacesCellOneAtTheArray) {
    ReferenceModel ktr4(*findProduct("ktr4"));
    ktr4.getFreeId();
    ModelSlot& slot = *ktr4.current();
    // Never laid out: zero poses are known.
    ASSERT_TRUE(slot.position[2].has_value());
    EXPECT_EQ((*slot.position[2])[0], 0.0f);
    const float p[3] = {1.0f, 2.0f, 3.0f};
    ktr4.setArrayPosition(p);
    EXPECT_FALSE(slot.position[2].has_value());
    ASSERT_TRUE(slot.position[0].has_value());
    EXPECT_EQ((*slot.position[0])[2], 3.0f);
    EXPECT_FALSE(slot.position[4].has_value() && (*slot.position[4])[0] != 0.0f);

    // The bumper product places no cell at the array itself, and an empty
    // array writes no pose at all.
    ReferenceModel k2(ktr2());
    k2.getFreeId();
    k2.setBlob(1, makeBlob(ktr2(), {}).data());
    EXPECT_TRUE(k2.current()->position[0].has_value());
    k2.setArrayPosition(p);
    EXPECT_TRUE(k2.current()->position[0].has_value());
    EXPECT_EQ((*k2.current()->position[0])[0], 0.0f);
    // Splay sums: ktr2 counts cell 1's own splay, the others start at cell 2.
    k2.setBlob(1, makeBlob(ktr2(), {{0, 10.0f}, {0, 5.0f}}).data());
    EXPECT_EQ(k2.splaySumDeg(*k2.current(), 2), 15.0);
    ktr4.setBlob(1, makeBlob(*findProduct("ktr4"), {{0, 10.0f}, {0, 5.0f}}).data());
    EXPECT_EQ(ktr4.splaySumDeg(*ktr4.current(), 2), 5.0);
}

TEST(ReferenceModel, FlagsAndRoom) {
    ReferenceModel m(ktr2());
    EXPECT_EQ(m.flag(1), -1);
    EXPECT_EQ(m.flag(2), 0);
    m.setFlag(1, 5);
    EXPECT_EQ(m.flag(1), -1);
    m.setFlag(1, 0);
    EXPECT_EQ(m.flag(1), 0);
    m.setFlag(2, 7);
    EXPECT_EQ(m.flag(2), -1);
    m.setFlag(3, 1);
    EXPECT_FALSE(m.flag(3).has_value());
    EXPECT_TRUE(m.flag(4).has_value());
    m.setRoom(3, 1.0f);
    EXPECT_EQ(m.speedOfSound(), 343.0f);
    m.setRoom(1, 0.5f);  // stored below the reported minimum
    EXPECT_EQ(m.speedOfSound(), 0.5f);
}

}  // namespace
}  // namespace validator

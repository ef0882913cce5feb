#include <gtest/gtest.h>

#include <cstring>

#include "tools/arrayhost/setup_blob.h"

using namespace arrayhost;

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
    std::vector<uint8_t> out;
    for (uint32_t v : values) {
        for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
    }
    return out;
}

uint32_t bitsOf(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

}  // namespace

TEST(SetupBlob, FormatLearntFromAFreshInstance) {
    std::string error;
    // Four cells at splay 0, as a fresh instance of the splay-only products reads.
    const auto splayOnly = blobFormatOf(words({24, 10762383, 0, 0, 0, 0}), 4, error);
    ASSERT_TRUE(splayOnly.has_value()) << error;
    EXPECT_EQ(splayOnly->magic, 10762383u);
    EXPECT_FALSE(splayOnly->cellsCarryKind);
    // Four cells of kind 1 at splay 0.
    const auto withKinds = blobFormatOf(words({40, 10762385, 1, 0, 1, 0, 1, 0, 1, 0}), 4, error);
    ASSERT_TRUE(withKinds.has_value()) << error;
    EXPECT_EQ(withKinds->magic, 10762385u);
    EXPECT_TRUE(withKinds->cellsCarryKind);
    EXPECT_EQ(withKinds->defaultKind, 1);
}

TEST(SetupBlob, FormatRefusedWhenEntriesDoNotFit) {
    std::string error;
    EXPECT_FALSE(blobFormatOf(words({56, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 4, error));  // 12-byte entries
    EXPECT_NE(error.find("neither 4- nor 8-byte entries"), std::string::npos) << error;
    std::vector<uint8_t> ragged = words({26, 1, 0, 0, 0, 0});
    ragged.resize(26);
    EXPECT_FALSE(blobFormatOf(ragged, 4, error));
    EXPECT_FALSE(blobFormatOf(words({4}), 4, error));
    EXPECT_FALSE(blobFormatOf(words({8, 1}), 0, error));
}

TEST(SetupBlob, SplayOnlyBlobIsLittleEndianSizeMagicSplays) {
    const BlobFormat format{10762383u, false, 0};
    const auto blob = makeSetupBlob(format, {0.0, 1.0, -2.5}, {});
    EXPECT_EQ(blob, words({20, 10762383, bitsOf(0.0f), bitsOf(1.0f), bitsOf(-2.5f)}));
    // Byte by byte: 1.0f is 0x3F800000.
    EXPECT_EQ(blob[0], 20);
    EXPECT_EQ(blob[4], 0x8F);
    EXPECT_EQ(blob[6], 0xA4);
    EXPECT_EQ(blob[12], 0x00);
    EXPECT_EQ(blob[14], 0x80);
    EXPECT_EQ(blob[15], 0x3F);
}

TEST(SetupBlob, KindComesBeforeSplayAndDefaultsToTheFreshKind) {
    const BlobFormat format{10762385u, true, 1};
    EXPECT_EQ(makeSetupBlob(format, {0.0, 3.0}, {2, 0}), words({24, 10762385, 2, bitsOf(0.0f), 0, bitsOf(3.0f)}));
    EXPECT_EQ(makeSetupBlob(format, {0.0, 3.0}, {}), words({24, 10762385, 1, bitsOf(0.0f), 1, bitsOf(3.0f)}));
    // A splay-only format ignores kinds.
    EXPECT_EQ(makeSetupBlob({7u, false, 0}, {2.0}, {2}).size(), 12u);
}

TEST(SetupBlob, BlobWeMakeReadsBackAsItsFormat) {
    std::string error;
    for (const BlobFormat& format : {BlobFormat{10762383u, false, 0}, BlobFormat{10762385u, true, 2}}) {
        const auto blob = makeSetupBlob(format, {0, 1, 2, 3, 4, 5, 6}, {});
        const auto back = blobFormatOf(blob, 7, error);
        ASSERT_TRUE(back.has_value()) << error;
        EXPECT_EQ(back->magic, format.magic);
        EXPECT_EQ(back->cellsCarryKind, format.cellsCarryKind);
        EXPECT_EQ(back->defaultKind, format.defaultKind);
    }
}

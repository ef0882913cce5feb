#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/host/plugin_fixture.h"
#include "tests/host/setup_blob.h"

using namespace host_test;

namespace {

class ParameterTest : public PluginTest {
protected:
    std::vector<unsigned char> blobOf(const std::vector<CellSetup>& cells) const {
        return makeBlob(product(), cells);
    }
    std::vector<unsigned char> defaultBlob() const {
        const int32_t kind = product().cellsCarryKind ? 1 : 0;
        return blobOf({{kind, 0}, {kind, 0}, {kind, 0}, {kind, 0}});
    }
    int32_t setBlob(const std::vector<unsigned char>& bytes) const {
        return plugin->IP_SetValue(1, bytes.data());
    }
};

}  // namespace

TEST_F(ParameterTest, InputParameterDescriptors) {
    EXPECT_EQ(plugin->IP_GetNumber(), 1);
    EXPECT_EQ(plugin->IP_GetID(1), 100);
    EXPECT_EQ(plugin->IP_GetID(2), 2);
    EXPECT_EQ(plugin->IP_GetID(-7), -7);
    EXPECT_EQ(plugin->IP_GetType(1), 21);
    EXPECT_EQ(plugin->IP_GetType(0), 0);

    char label[32];
    std::memset(label, '#', sizeof label);
    EXPECT_EQ(plugin->IP_GetLabel(1, label), 0);
    EXPECT_STREQ(label, "Line Array Setup");
    EXPECT_EQ(label[17], '#');  // 16 characters and the NUL, nothing more
    std::memset(label, '#', sizeof label);
    EXPECT_EQ(plugin->IP_GetLabel(2, label), 0);
    EXPECT_EQ(label[0], '#');

    int32_t untouched = 1234;
    for (auto query : {plugin->IP_GetDefault, plugin->IP_GetMinimum, plugin->IP_GetMaximum}) {
        EXPECT_EQ(query(1, &untouched), -1);
        EXPECT_EQ(query(2, &untouched), 0);
        EXPECT_EQ(query(0, &untouched), 0);
    }
    EXPECT_EQ(untouched, 1234);
    const bool shared = plugin->symbol("IP_GetMinimum") == plugin->symbol("IP_GetDefault") &&
                        plugin->symbol("IP_GetMaximum") == plugin->symbol("IP_GetDefault");
    EXPECT_EQ(shared, product().sharesEntryPoints);
}

TEST_F(ParameterTest, RoomParameterDescriptors) {
    EXPECT_EQ(plugin->RP_GetNumber(), 2);
    EXPECT_EQ(plugin->RP_GetID(1), 1);
    EXPECT_EQ(plugin->RP_GetID(7), 7);
    EXPECT_EQ(plugin->RP_GetType(1), 8);
    EXPECT_EQ(plugin->RP_GetType(99), 8);

    char label[32];
    std::memset(label, '#', sizeof label);
    plugin->RP_GetLabel(1, label);
    EXPECT_STREQ(label, "Speed of Sound");
    EXPECT_EQ(label[15], '#');
    std::memset(label, '#', sizeof label);
    plugin->RP_GetLabel(2, label);
    EXPECT_STREQ(label, "Humidity");
    EXPECT_EQ(label[9], '#');  // "Humidity" writes 9 bytes
    std::memset(label, '#', sizeof label);
    EXPECT_EQ(plugin->RP_GetLabel(3, label), 0);
    EXPECT_EQ(label[0], '#');

    struct Expected {
        int32_t index;
        float defaultValue, minimum, maximum;
    };
    for (const Expected& e : {Expected{1, 343.0f, 1.0f, 1000000.0f}, Expected{2, 60.0f, 5.0f, 100.0f}}) {
        float v = 0;
        EXPECT_EQ(plugin->RP_GetDefault(e.index, &v), 0);
        EXPECT_EQ(v, e.defaultValue);
        plugin->RP_GetMinimum(e.index, &v);
        EXPECT_EQ(v, e.minimum);
        plugin->RP_GetMaximum(e.index, &v);
        EXPECT_EQ(v, e.maximum);
    }
    float untouched = -5.5f;
    for (int32_t index : {0, 3, -1}) {
        plugin->RP_GetDefault(index, &untouched);
        plugin->RP_GetMinimum(index, &untouched);
        plugin->RP_GetMaximum(index, &untouched);
    }
    EXPECT_EQ(untouched, -5.5f);
    // Room values are plug-in-wide and need no instance.
    EXPECT_EQ(plugin->RP_SetValue(1, 0.5f), 0);
    EXPECT_EQ(plugin->RP_SetValue(2, NAN), 0);
    EXPECT_EQ(plugin->RP_SetValue(9, 1.0f), 0);
}

TEST_F(ParameterTest, FilterLimits) {
    float gains[22], phases[22];
    gains[21] = phases[21] = 77.0f;
    plugin->IP_GetFilterDef(gains, phases);
    for (int b = 0; b < 21; ++b) EXPECT_TRUE(gains[b] == 0.0f && phases[b] == 0.0f);
    plugin->IP_GetFilterMin(gains, phases);
    for (int b = 0; b < 21; ++b) EXPECT_TRUE(gains[b] == -60.0f && phases[b] == -180.0f);
    plugin->IP_GetFilterMax(gains, phases);
    for (int b = 0; b < 21; ++b) EXPECT_TRUE(gains[b] == 0.0f && phases[b] == 180.0f);
    EXPECT_EQ(gains[21], 77.0f);
    EXPECT_EQ(phases[21], 77.0f);
}

TEST_F(ParameterTest, FreshInstanceBlobIsExactlyTheDefaultCells) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    uint32_t size = 0;
    EXPECT_EQ(plugin->IP_GetValue(1, &size), 0);
    EXPECT_EQ(size, product().cellsCarryKind ? 40u : 24u);
    EXPECT_EQ(readBlob(*plugin), defaultBlob());
    EXPECT_EQ(plugin->CI_GetComponents(), 4);
}

TEST_F(ParameterTest, GetValueKeepsTheCallersSizeWordAndIgnoresOtherIndices) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    std::vector<unsigned char> buffer(64, 0xCC);
    const uint32_t callers = 999;
    std::memcpy(buffer.data(), &callers, 4);
    EXPECT_EQ(plugin->IP_GetValue(1, buffer.data()), 0);
    std::vector<unsigned char> expected = defaultBlob();
    std::memcpy(expected.data(), &callers, 4);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    EXPECT_EQ(buffer[expected.size()], 0xCC);

    std::vector<unsigned char> other(16, 0);
    EXPECT_EQ(plugin->IP_GetValue(2, other.data()), 0);
    EXPECT_EQ(other, std::vector<unsigned char>(16, 0));
}

TEST_F(ParameterTest, GetValueWritesNothingIntoABufferShorterThanTheBlob) {
    // The host asks array A for its size, then array B (16 cells) becomes
    // current before the fetch: the buffer sized for A must not take B.
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    uint32_t sizeOfA = 0;
    ASSERT_EQ(plugin->IP_GetValue(1, &sizeOfA), 0);
    ASSERT_EQ(plugin->CI_GetFreeID(), 2);
    const std::vector<CellSetup> sixteen(16, CellSetup{product().cellsCarryKind ? 1 : 0, 2.0f});
    ASSERT_EQ(setBlob(blobOf(sixteen)), 0);
    uint32_t sizeOfB = 0;
    ASSERT_EQ(plugin->IP_GetValue(1, &sizeOfB), 0);
    ASSERT_GT(sizeOfB, sizeOfA);

    constexpr unsigned char kCanary = 0xA5;
    for (const uint32_t declared : {sizeOfA, 4u, 1u, sizeOfB - 1}) {
        SCOPED_TRACE(declared);
        std::vector<unsigned char> buffer(sizeOfB + 16, kCanary);
        std::memcpy(buffer.data(), &declared, 4);
        EXPECT_EQ(plugin->IP_GetValue(1, buffer.data()), -1);
        std::vector<unsigned char> expected(sizeOfB + 16, kCanary);
        std::memcpy(expected.data(), &declared, 4);
        EXPECT_EQ(buffer, expected);
    }
    // The size asked for, or more, still gets the blob.
    std::vector<unsigned char> buffer(sizeOfB, 0);
    std::memcpy(buffer.data(), &sizeOfB, 4);
    EXPECT_EQ(plugin->IP_GetValue(1, buffer.data()), 0);
    EXPECT_EQ(buffer, blobOf(sixteen));
}

TEST_F(ParameterTest, AcceptedBlobsReplaceTheCellsAndRoundTrip) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    const auto sent = blobOf({{0, 0}, {2, 1.5f}, {1, 3}, {0, 4.5f}, {1, 6}, {2, 7.5f}});
    EXPECT_EQ(setBlob(sent), 0);
    EXPECT_EQ(plugin->CI_GetComponents(), 6);
    EXPECT_EQ(readBlob(*plugin), sent);

    // Three cells after six: the blob carries three again.
    const auto three = product().cellsCarryKind ? blobOf({{2, 1}, {2, 2}, {2, 3}, {2, 4}})
                                                : blobOf({{0, 1}, {0, 2}, {0, 3}});
    EXPECT_EQ(setBlob(three), 0);
    EXPECT_EQ(readBlob(*plugin), three);
}

TEST_F(ParameterTest, ShortAndEmptyBlobs) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    const auto before = readBlob(*plugin);

    std::vector<unsigned char> tooShort = blobOf({});
    tooShort[0] = 7;
    EXPECT_EQ(setBlob(tooShort), -1);
    EXPECT_EQ(readBlob(*plugin), before);

    auto empty = blobOf({});
    if (product().cellsCarryKind) {
        EXPECT_EQ(setBlob(empty), -1);  // fewer than 4 cells: reset
        EXPECT_EQ(readBlob(*plugin), defaultBlob());
        auto one = blobOf({{2, 5}});
        ASSERT_EQ(one.size(), 16u);
        one.resize(20, 0);  // 20 bytes still hold one whole entry
        const uint32_t twenty = 20;
        std::memcpy(one.data(), &twenty, 4);
        EXPECT_EQ(setBlob(one), -1);
        EXPECT_EQ(readBlob(*plugin), defaultBlob());
    } else {
        EXPECT_EQ(setBlob(empty), 0);
        EXPECT_EQ(plugin->CI_GetComponents(), 0);
        EXPECT_EQ(readBlob(*plugin), empty);
        // Ten bytes: two trailing bytes, no whole entry.
        empty.resize(10, 0xFF);
        const uint32_t ten = 10;
        std::memcpy(empty.data(), &ten, 4);
        EXPECT_EQ(setBlob(defaultBlob()), 0);
        EXPECT_EQ(setBlob(empty), 0);
        EXPECT_EQ(plugin->CI_GetComponents(), 0);
    }
}

TEST_F(ParameterTest, RefusedBlobsChangeNothing) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    const int32_t k = product().cellsCarryKind ? 2 : 0;
    const auto good = blobOf({{k, 1}, {k, 2}, {k, 3}, {k, 4}, {k, 5}});
    ASSERT_EQ(setBlob(good), 0);
    float cell5[3];
    plugin->CI_GetCompPosition3fv(5, cell5);

    std::vector<std::vector<unsigned char>> refused;
    std::vector<CellSetup> seventeen(17, CellSetup{k, 1.0f});
    refused.push_back(blobOf(seventeen));
    auto huge = blobOf({{k, 1}, {k, 1}, {k, 1}, {k, 1}});
    const uint32_t hugeSize = 0xFFFFFFFFu;
    std::memcpy(huge.data(), &hugeSize, 4);
    refused.push_back(huge);
    for (float bad : {NAN, INFINITY, -INFINITY}) refused.push_back(blobOf({{k, 0}, {k, bad}, {k, 0}, {k, 0}}));
    if (product().cellsCarryKind) {
        for (int32_t kind : {3, -1, INT32_MIN}) refused.push_back(blobOf({{1, 0}, {1, 0}, {kind, 0}, {1, 0}}));
    }
    for (const auto& bytes : refused) {
        EXPECT_EQ(setBlob(bytes), -1);
        EXPECT_EQ(readBlob(*plugin), good);
    }
    float after[3];
    plugin->CI_GetCompPosition3fv(5, after);
    EXPECT_EQ(std::memcmp(cell5, after, sizeof after), 0);

    // Another index is not the setup blob: nothing is read.
    EXPECT_EQ(plugin->IP_SetValue(2, nullptr), 0);
}

TEST_F(ParameterTest, WrongMagicResetsWithoutLayingOut) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    const int32_t k = 0;
    ASSERT_EQ(setBlob(blobOf({{k, 0}, {k, 5}, {k, 5}, {k, 5}, {k, 5}, {k, 5}})), 0);
    float before[3];
    plugin->CI_GetCompPosition3fv(4, before);

    auto foreign = blobOf({{k, 2}, {k, 2}, {k, 2}, {k, 2}});
    const uint32_t other = product().setupMagic + 1;
    std::memcpy(foreign.data() + 4, &other, 4);
    EXPECT_EQ(setBlob(foreign), -1);
    EXPECT_EQ(readBlob(*plugin), defaultBlob());
    float after[3];
    plugin->CI_GetCompPosition3fv(4, after);
    EXPECT_EQ(std::memcmp(before, after, sizeof after), 0);
}

TEST_F(ParameterTest, BlobsCrossBetweenProductsOfOneFormat) {
    for (const host::Product& donorProduct : host::everyProduct()) {
        const std::string& other = donorProduct.library;
        if (other == product().library) continue;
        std::string error;
        auto donor = host::PluginLibrary::open(host::pluginPath(other), error);
        ASSERT_NE(donor, nullptr) << error;
        ASSERT_EQ(donor->CI_GetFreeID(), 1);
        const bool donorCarriesKind = donorProduct.cellsCarryKind;
        const int32_t k = donorCarriesKind ? 2 : 0;
        const auto sent = makeBlob(donorProduct, {{k, 0}, {k, 2}, {k, 4}, {k, 6}, {k, 8}});
        ASSERT_EQ(donor->IP_SetValue(1, sent.data()), 0);
        const auto stored = readBlob(*donor);

        plugin->CI_MakeCurrent(1);
        plugin->CI_GetFreeID();
        const bool sameFormat = donorCarriesKind == product().cellsCarryKind;
        EXPECT_EQ(plugin->IP_SetValue(1, stored.data()), sameFormat ? 0 : -1) << other;
        EXPECT_EQ(readBlob(*plugin), sameFormat ? stored : defaultBlob()) << other;
    }
}

TEST_F(ParameterTest, RandomValidBlobsRoundTripByteForByte) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> count(product().cellsCarryKind ? 4 : 0, 16), kind(0, 2);
    std::uniform_real_distribution<float> splay(-20.0f, 20.0f);
    for (int trial = 0; trial < 1000; ++trial) {
        std::vector<CellSetup> cells(size_t(count(rng)));
        for (CellSetup& c : cells) c = {product().cellsCarryKind ? kind(rng) : 0, splay(rng)};
        if (trial % 7 == 0 && !cells.empty()) cells[0].splayDeg = -0.0f;
        const auto sent = blobOf(cells);
        ASSERT_EQ(setBlob(sent), 0);
        const auto first = readBlob(*plugin);
        ASSERT_EQ(first, sent) << trial;
        ASSERT_EQ(setBlob(first), 0);
        ASSERT_EQ(readBlob(*plugin), first) << trial;
    }
}

TEST_F(ParameterTest, SetupAndFilterNeedAnInstance) {
    auto blob = defaultBlob();
    std::vector<unsigned char> buffer(64, 0);
    float gains[21] = {}, phases[21] = {};
    EXPECT_EQ(plugin->IP_SetValue(1, blob.data()), -1);
    EXPECT_EQ(plugin->IP_GetValue(1, buffer.data()), -1);
    EXPECT_EQ(buffer, std::vector<unsigned char>(64, 0));
    EXPECT_EQ(plugin->IP_SetFilter(gains, phases), -1);
    plugin->CI_MakeCurrent(256);
    EXPECT_EQ(plugin->IP_SetValue(1, blob.data()), -1);
    // The descriptors answer all the same.
    EXPECT_EQ(plugin->IP_GetNumber(), 1);
    char label[20];
    EXPECT_EQ(plugin->IP_GetLabel(1, label), 0);
}

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
#include "plugin/setup.h"

using namespace plugin;

namespace {

std::vector<unsigned char> blob(uint32_t magic, std::initializer_list<float> splays,
                                const models::ModelDefinition& model, int32_t kind = 1) {
    std::vector<unsigned char> bytes(8);
    for (float s : splays) {
        if (model.cellsCarryKind) {
            bytes.resize(bytes.size() + 4);
            std::memcpy(bytes.data() + bytes.size() - 4, &kind, 4);
        }
        bytes.resize(bytes.size() + 4);
        std::memcpy(bytes.data() + bytes.size() - 4, &s, 4);
    }
    const uint32_t size = uint32_t(bytes.size());
    std::memcpy(bytes.data(), &size, 4);
    std::memcpy(bytes.data() + 4, &magic, 4);
    return bytes;
}

}  // namespace

TEST(SetupBlob, CellsBeyondTheNewCountKeepTheirValues) {
    Instance instance;
    const auto six = blob(models::kKtr4.setupMagic, {0, 1, 2, 3, 4, 5}, models::kKtr4);
    ASSERT_EQ(applySetupBlob(instance, models::kKtr4, six.data()), SetupOutcome::Accepted);
    const geometry::Vector3 sixthCell = instance.cells[5].position;
    const auto three = blob(models::kKtr4.setupMagic, {9, 8, 7}, models::kKtr4);
    ASSERT_EQ(applySetupBlob(instance, models::kKtr4, three.data()), SetupOutcome::Accepted);
    EXPECT_EQ(instance.cellCount, 3);
    EXPECT_EQ(instance.cells[2].splayDeg, 7.0f);
    EXPECT_EQ(instance.cells[3].splayDeg, 3.0f);
    EXPECT_EQ(instance.cells[5].splayDeg, 5.0f);
    EXPECT_EQ(instance.cells[5].position, sixthCell);  // not laid out again
    EXPECT_EQ(setupBlobSize(instance, models::kKtr4), 20u);
}

TEST(SetupBlob, ResetLeavesPosesAndTransitionDistancesStale) {
    Instance instance;
    instance.arrayPosition = {0, 0, 10};
    const auto eight = blob(models::kQspan.setupMagic, {0, 2, 2, 2, 2, 2, 2, 2}, models::kQspan, 2);
    ASSERT_EQ(applySetupBlob(instance, models::kQspan, eight.data()), SetupOutcome::Accepted);
    const geometry::Vector3 lastCell = instance.cells[7].position;
    const float transition = instance.transitionDistanceM[10];
    EXPECT_GT(transition, 0.0f);

    const auto foreign = blob(models::kKtr4.setupMagic, {0, 0, 0, 0}, models::kKtr4);
    EXPECT_EQ(applySetupBlob(instance, models::kQspan, foreign.data()), SetupOutcome::RefusedAndReset);
    EXPECT_EQ(instance.cellCount, 4);
    EXPECT_EQ(instance.cells[0].kind, 1);
    EXPECT_EQ(instance.cells[0].splayDeg, 0.0f);
    EXPECT_EQ(instance.cells[5].kind, 2);
    EXPECT_EQ(instance.cells[7].position, lastCell);
    EXPECT_EQ(instance.transitionDistanceM[10], transition);
}

TEST(SetupBlob, EmptyArrayHasNoTransitionDistance) {
    Instance instance;
    const auto four = blob(models::kKtr2.setupMagic, {0, 5, 5, 5}, models::kKtr2);
    ASSERT_EQ(applySetupBlob(instance, models::kKtr2, four.data()), SetupOutcome::Accepted);
    EXPECT_GT(instance.transitionDistanceM[0], 0.0f);
    const auto empty = blob(models::kKtr2.setupMagic, {}, models::kKtr2);
    ASSERT_EQ(applySetupBlob(instance, models::kKtr2, empty.data()), SetupOutcome::Accepted);
    EXPECT_EQ(instance.cellCount, 0);
    for (float x : instance.transitionDistanceM) EXPECT_EQ(x, 0.0f);
}

TEST(SetupBlob, ReadsUnalignedBlobs) {
    Instance instance;
    const auto three = blob(models::kQspan.setupMagic, {1.5f, 2.5f, 3.5f, 4.5f}, models::kQspan, 0);
    std::vector<unsigned char> shifted(three.size() + 1);
    std::memcpy(shifted.data() + 1, three.data(), three.size());
    ASSERT_EQ(applySetupBlob(instance, models::kQspan, shifted.data() + 1), SetupOutcome::Accepted);
    EXPECT_EQ(instance.cells[3].splayDeg, 4.5f);
    EXPECT_EQ(instance.cells[3].kind, 0);

    std::vector<unsigned char> out(three.size() + 1, 0xEE);
    const uint32_t size = setupBlobSize(instance, models::kQspan);
    std::memcpy(out.data() + 1, &size, 4);
    writeSetupBlobBody(instance, models::kQspan, out.data() + 1);
    EXPECT_EQ(std::memcmp(out.data() + 1, three.data(), three.size()), 0);
    EXPECT_EQ(out[0], 0xEE);
}

TEST(Filter, ClampsGainsAndPhasesButLetsNaNThrough) {
    Instance instance;
    float gains[21], phases[21];
    for (int i = 0; i < 21; ++i) {
        gains[i] = -3.0f;
        phases[i] = 90.0f;
    }
    gains[0] = -75.0f;
    phases[0] = 200.0f;
    gains[1] = 3.0f;
    phases[1] = -181.0f;
    gains[2] = NAN;
    setFilter(instance, gains, phases);
    EXPECT_EQ(instance.filterGainDb[0], -60.0f);
    EXPECT_EQ(instance.filterPhaseDeg[0], 180.0f);
    EXPECT_EQ(instance.filterGainDb[1], 0.0f);
    EXPECT_EQ(instance.filterPhaseDeg[1], -180.0f);
    EXPECT_TRUE(std::isnan(instance.filterGainDb[2]));
    EXPECT_EQ(instance.filterGainDb[20], -3.0f);
    EXPECT_EQ(instance.filterPhaseDeg[20], 90.0f);
}

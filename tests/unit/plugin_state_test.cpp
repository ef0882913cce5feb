#include <gtest/gtest.h>

#include <memory>

#include "tests/every_model.h"
#include "plugin/plugin_state.h"

using namespace plugin;

namespace {

class InstanceTableEveryModel : public model_test::EveryModel {
protected:
    // The table is large; keep it off the stack.
    std::unique_ptr<InstanceTable> table = std::make_unique<InstanceTable>();
};

INSTANTIATE_FOR_EVERY_MODEL(InstanceTableEveryModel);

}  // namespace

TEST_P(InstanceTableEveryModel, AllocatesTheLowestFreeSlotFromOne) {
    EXPECT_EQ(table->current(), nullptr);
    EXPECT_EQ(table->allocate(model()), 1);
    EXPECT_EQ(table->allocate(model()), 2);
    EXPECT_EQ(table->allocate(model()), 3);
    table->slot(2).inUse = false;
    EXPECT_EQ(table->allocate(model()), 2);
    EXPECT_EQ(table->currentId(), 2);
    EXPECT_EQ(table->allocate(model()), 4);
}

TEST_P(InstanceTableEveryModel, FullTableRefusesAndKeepsTheCurrentId) {
    for (int32_t id = 1; id <= 255; ++id) ASSERT_EQ(table->allocate(model()), id);
    table->makeCurrent(17);
    EXPECT_EQ(table->allocate(model()), InstanceTable::kNoInstance);
    EXPECT_EQ(table->currentId(), 17);
    // Slot 0 exists but is never handed out.
    EXPECT_FALSE(table->slot(0).inUse);
}

TEST_P(InstanceTableEveryModel, CurrentNamesOnlyRealSlots) {
    for (int32_t id : {-1, 256, INT32_MIN, INT32_MAX}) {
        table->makeCurrent(id);
        EXPECT_EQ(table->current(), nullptr) << id;
    }
    for (int32_t id : {0, 255}) {
        table->makeCurrent(id);
        EXPECT_EQ(table->current(), &table->slot(id)) << id;
    }
}

TEST_P(InstanceTableEveryModel, ReuseResetsOnlyTheDefaultCells) {
    ASSERT_EQ(table->allocate(model()), 1);
    Instance& slot = table->slot(1);
    slot.arrayPosition = {1, 2, 3};
    slot.seatPosition = {4, 5, 6};
    slot.filterGainDb[3] = -12.0f;
    slot.transitionDistanceM[20] = 9.0f;
    slot.cellCount = 8;
    for (int i = 0; i < 8; ++i) {
        slot.cells[i].splayDeg = 2.0f + float(i);
        slot.cells[i].kind = 2;
        slot.cells[i].position = {0.5f, 0.5f, 0.5f};
    }
    slot.inUse = false;

    ASSERT_EQ(table->allocate(model()), 1);
    EXPECT_EQ(slot.cellCount, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(slot.cells[i].splayDeg, 0.0f);
        EXPECT_EQ(slot.cells[i].kind, model().defaultKind);
        EXPECT_EQ(slot.cells[i].position, (geometry::Vector3{0.5f, 0.5f, 0.5f}));
    }
    for (int i = 4; i < 8; ++i) {
        EXPECT_EQ(slot.cells[i].splayDeg, 2.0f + float(i));
        EXPECT_EQ(slot.cells[i].kind, 2);
    }
    EXPECT_EQ(slot.arrayPosition, (geometry::Vector3{1, 2, 3}));
    EXPECT_EQ(slot.seatPosition, (geometry::Vector3{4, 5, 6}));
    EXPECT_EQ(slot.filterGainDb[3], -12.0f);
    EXPECT_EQ(slot.transitionDistanceM[20], 9.0f);
}

TEST(ModelDefaults, QspanCellsStartAsTheMiddleKind) {
    Instance instance;
    resetToDefaults(instance, models::kQspan);
    EXPECT_EQ(instance.cells[0].kind, 1);
    EXPECT_STREQ(models::kQspan.kindNames[instance.cells[0].kind], "QSB");
    resetToDefaults(instance, models::kKtr4);
    EXPECT_EQ(instance.cells[0].kind, 0);
}

TEST(Flags, FlagOneReadsTrueFromLoadAndStoresNegated) {
    Flags flags;
    int32_t value = 99;
    ASSERT_TRUE(flags.get(1, value));
    EXPECT_EQ(value, -1);
    EXPECT_TRUE(flags.absorptionDisabled());
    flags.set(1, 5);
    flags.get(1, value);
    EXPECT_EQ(value, -1);
    flags.set(1, 0);
    flags.get(1, value);
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(flags.absorptionDisabled());
}

TEST(Flags, FlagsTwoAndFourReadFalseFromLoad) {
    Flags flags;
    for (int32_t type : {2, 4}) {
        int32_t value = 99;
        ASSERT_TRUE(flags.get(type, value));
        EXPECT_EQ(value, 0);
        flags.set(type, 7);
        flags.get(type, value);
        EXPECT_EQ(value, -1);
    }
    // Flag 2 and 4 do not touch flag 1.
    EXPECT_TRUE(flags.absorptionDisabled());
}

TEST(Flags, OtherTypesAreNotFlags) {
    Flags flags;
    for (int32_t type : {0, 3, 5, 8, -1}) {
        EXPECT_FALSE(Flags::isFlagType(type));
        int32_t value = 99;
        EXPECT_FALSE(flags.get(type, value));
        EXPECT_EQ(value, 99);
        flags.set(type, 0);
    }
    EXPECT_TRUE(flags.absorptionDisabled());
}

TEST(Room, StartsAtTheDefaultsWithNoAbsorption) {
    const Room room;
    EXPECT_EQ(room.speedOfSoundMPerS, 343.0f);
    EXPECT_EQ(room.humidityPercent, 60.0f);
    for (float alpha : room.airAbsorptionDbPerM) EXPECT_EQ(alpha, 0.0f);
}

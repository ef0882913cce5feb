#include <cstring>

#include "tests/host/plugin_fixture.h"

using host_test::PluginTest;

TEST_F(PluginTest, AllocationHandsOutTheLowestFreeId) {
    EXPECT_EQ(plugin->CI_GetFreeID(), 1);
    EXPECT_EQ(plugin->CI_GetFreeID(), 2);
    EXPECT_EQ(plugin->CI_MakeCurrent(1), 0);
    EXPECT_EQ(plugin->CI_Release(), 0);
    EXPECT_EQ(plugin->CI_GetFreeID(), 1);
    EXPECT_EQ(plugin->CI_GetFreeID(), 3);
}

TEST_F(PluginTest, FullTableRefusesWithoutChangingTheCurrentInstance) {
    for (int32_t id = 1; id <= 255; ++id) ASSERT_EQ(plugin->CI_GetFreeID(), id);
    plugin->CI_MakeCurrent(200);
    EXPECT_EQ(plugin->CI_GetFreeID(), -1);
    // Still 200: releasing the current slot frees exactly that id.
    EXPECT_EQ(plugin->CI_Release(), 0);
    EXPECT_EQ(plugin->CI_GetFreeID(), 200);
    EXPECT_EQ(plugin->CI_GetFreeID(), -1);
}

TEST_F(PluginTest, ReleaseKeepsTheCurrentId) {
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    ASSERT_EQ(plugin->CI_GetFreeID(), 2);
    EXPECT_EQ(plugin->CI_Release(), 0);
    // Released slot 2 is still current, so a second release acts on it again
    // and slot 1 stays allocated.
    EXPECT_EQ(plugin->CI_Release(), 0);
    EXPECT_EQ(plugin->CI_GetFreeID(), 2);
    EXPECT_EQ(plugin->CI_GetFreeID(), 3);
}

TEST_F(PluginTest, NoCurrentInstanceTouchesNothing) {
    unsigned char sentinel[64];
    std::memset(sentinel, 0xA5, sizeof sentinel);
    auto untouched = [&] {
        for (unsigned char b : sentinel) {
            if (b != 0xA5) return false;
        }
        return true;
    };

    // Before any selection.
    EXPECT_EQ(plugin->CI_Release(), -1);
    EXPECT_EQ(plugin->CI_GetPulse(sentinel, sentinel, sentinel), -1);
    EXPECT_EQ(plugin->CI_GetPulses(sentinel, sentinel), -1);
    EXPECT_TRUE(untouched());

    for (int32_t id : {-1, 256, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(plugin->CI_MakeCurrent(id), 0);
        EXPECT_EQ(plugin->CI_Release(), -1) << id;
        EXPECT_EQ(plugin->CI_GetPulse(sentinel, sentinel, sentinel), -1) << id;
        EXPECT_EQ(plugin->CI_GetPulses(sentinel, sentinel), -1) << id;
    }
    EXPECT_TRUE(untouched());
    // Nothing was freed or taken by those calls.
    EXPECT_EQ(plugin->CI_GetFreeID(), 1);
}

TEST_F(PluginTest, SlotZeroAndFreeSlotsMayBeSelected) {
    EXPECT_EQ(plugin->CI_MakeCurrent(0), 0);
    EXPECT_EQ(plugin->CI_Release(), 0);
    EXPECT_EQ(plugin->CI_MakeCurrent(255), 0);
    EXPECT_EQ(plugin->CI_GetPulse(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(plugin->CI_GetPulses(nullptr, nullptr), 0);
    // Slot 0 is never allocated.
    EXPECT_EQ(plugin->CI_GetFreeID(), 1);
}

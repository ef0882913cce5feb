// The guarded host arrays: what the validator's "no write outside the host's
// arrays" rests on.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/validator/host_memory.h"

namespace validator {
namespace {

TEST(GuardedRegion, AnArrayEndsAtTheGuardAndTheBytesBeforeItAreWatched) {
    GuardedRegion region(100);
    ASSERT_TRUE(region.ok());
    unsigned char* a = region.place(10);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(region.untouched());
    EXPECT_TRUE(region.beforeIntact());
    a[9] = 1;  // the last byte is the array's
    EXPECT_FALSE(region.untouched());
    EXPECT_TRUE(region.untouched(0, 9));
    EXPECT_TRUE(region.beforeIntact());
    a[-1] = 0;
    EXPECT_FALSE(region.beforeIntact());
    // Placing again refills the sentinel.
    a = region.place(4);
    EXPECT_TRUE(region.untouched());
    EXPECT_TRUE(region.beforeIntact());
    EXPECT_EQ(region.place(region.capacity() + 1), nullptr);
}

TEST(GuardedRegion, AZeroLengthArrayIsThePageItself) {
    GuardedRegion region(1);
    unsigned char* a = region.place(0);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(region.beforeIntact());
    a[-4] = 7;
    EXPECT_FALSE(region.beforeIntact());
}

#if !defined(_WIN32)
TEST(GuardedRegionDeathTest, AWritePastTheEndFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    HostArray<float> three(3);
    EXPECT_DEATH(
        {
            volatile float* p = three.data();
            p[3] = 1.0f;
        },
        "");
    EXPECT_DEATH(
        {
            volatile const float* p = three.data();
            (void)p[3];
        },
        "");
}
#endif

}  // namespace
}  // namespace validator

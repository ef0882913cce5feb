#include <cstring>
#include <set>
#include <string>

#include "tests/host/plugin_fixture.h"

using host_test::PluginTest;

namespace {

// Names in the one export list.
std::set<std::string> listedExports() {
    std::set<std::string> names;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) names.insert(#name);
#include "plugin/exports.inc"
    return names;
}

}  // namespace

TEST_F(PluginTest, EveryListedExportResolves) {
    for (const std::string& name : listedExports()) {
        EXPECT_NE(plugin->symbol(name.c_str()), nullptr) << name;
    }
}

TEST_F(PluginTest, SharedEntryPointsAreOneAddress) {
    const bool same = plugin->symbol("RP_GetNumber") == plugin->symbol("DLLClass");
    EXPECT_EQ(same, product().sharesEntryPoints);
    EXPECT_EQ(plugin->RP_GetNumber(), 2);
    EXPECT_EQ(plugin->DLLClass(), 2);
}

TEST_F(PluginTest, DescribesTheProduct) {
    EXPECT_EQ(plugin->DLLVersion(), 1000000);
    EXPECT_EQ(plugin->DLLGetComponents(), 0);

    const char* name = nullptr;
    EXPECT_EQ(plugin->DLLGetName(&name), 0);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, product().displayName);

    const char* maker = nullptr;
    EXPECT_EQ(plugin->DLLGetManufacturer(&maker), 0);
    ASSERT_NE(maker, nullptr);
    EXPECT_STREQ(maker, "Brennick Sound, Inc.");

    const char* resolution = nullptr;
    EXPECT_EQ(plugin->DLLGetDataResolution(&resolution), 0);
    ASSERT_NE(resolution, nullptr);
    // The degree sign is the single Windows-1252 byte 0xB0.
    EXPECT_EQ(std::string(resolution), std::string("Based on 5\xB0 complex full sphere"));
    EXPECT_EQ(std::strlen(resolution), 31u);
}

TEST_F(PluginTest, FixedAnswers) {
    int32_t lock = 77;
    EXPECT_EQ(plugin->DLLLock(&lock), 0);
    EXPECT_EQ(lock, 0);
    int32_t symmetry = 77;
    EXPECT_EQ(plugin->DLLGetSymmetry(&symmetry), 0);
    EXPECT_EQ(symmetry, -1);

    const int32_t expectedCaps[] = {0, -1, -1, 3, 0, -1, 0, 0};
    for (int32_t cap = 0; cap < 8; ++cap) EXPECT_EQ(plugin->DLLGetCaps(cap), expectedCaps[cap]) << cap;
    EXPECT_EQ(plugin->DLLGetCaps(-1), 0);
    EXPECT_EQ(plugin->DLLGetCaps(INT32_MAX), 0);
}

TEST_F(PluginTest, WholeSourceDataIsNotProvided) {
    for (auto query : {plugin->DLLGetSensitivity, plugin->DLLGetDirectivity,
                       plugin->DLLGetImpedence, plugin->DLLGetMaxPower}) {
        float untouched[21];
        std::memset(untouched, 0x5A, sizeof untouched);
        EXPECT_EQ(query(untouched), -1);
        for (float v : untouched) {
            uint32_t bits;
            std::memcpy(&bits, &v, 4);
            EXPECT_EQ(bits, 0x5A5A5A5Au);
        }
    }
}

TEST_F(PluginTest, EveryBandIsValid) {
    int32_t flags[22];
    for (int32_t& f : flags) f = 12345;
    EXPECT_EQ(plugin->DLLGetValidBands(flags), 0);
    for (int band = 0; band < 21; ++band) EXPECT_EQ(flags[band], -1) << band;
    EXPECT_EQ(flags[21], 12345);  // nothing past the 21 bands
}

TEST_F(PluginTest, FlagsAsTheHostSeesThem) {
    int32_t value = 0;
    EXPECT_EQ(plugin->DLLGetFlag(1, &value), 0);
    EXPECT_EQ(value, -1);
    const int32_t five = 5, zero = 0, seven = 7;
    plugin->DLLSetFlag(1, &five);
    plugin->DLLGetFlag(1, &value);
    EXPECT_EQ(value, -1);
    plugin->DLLSetFlag(1, &zero);
    plugin->DLLGetFlag(1, &value);
    EXPECT_EQ(value, 0);

    for (int32_t type : {2, 4}) {
        plugin->DLLGetFlag(type, &value);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(plugin->DLLSetFlag(type, &seven), 0);
        plugin->DLLGetFlag(type, &value);
        EXPECT_EQ(value, -1);
    }

    value = 4242;
    EXPECT_EQ(plugin->DLLGetFlag(3, &value), 0);
    EXPECT_EQ(value, 4242);
    // Other types read nothing through the value pointer, not even a null one.
    EXPECT_EQ(plugin->DLLSetFlag(3, nullptr), 0);
}

TEST_F(PluginTest, StateStartsAfreshWithEveryLoad) {
    const int32_t zero = 0;
    plugin->DLLSetFlag(1, &zero);
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    SetUp();  // unload and load again
    int32_t value = 0;
    plugin->DLLGetFlag(1, &value);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(plugin->CI_GetFreeID(), 1);
}

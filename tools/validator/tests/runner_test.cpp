// The plumbing that carries findings from a check to the summary: result
// files, seeds that make a case replayable, snapshot differences.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <set>

#include "tools/validator/call_sequence.h"
#include "tools/validator/child_process.h"
#include "tools/validator/random.h"
#include "tools/validator/snapshot.h"

namespace validator {
namespace {

// A name of this run's own in the shared temporary folder, so that runs side
// by side (or a stale file of an earlier one) never meet.
std::string tempPath(const char* name) {
    static const std::string run =
        std::to_string(std::random_device{}() ^ uint32_t(std::chrono::steady_clock::now().time_since_epoch().count())) + "-";
    return (std::filesystem::temp_directory_path() / ("validator-test-" + run + name)).string();
}

TEST(ResultFile, FiguresFailuresAndCasesReachTheParent) {
    const std::string path = tempPath("complete.txt");
    Report report("blobs-random");
    report.enterCase(7, "random bytes");
    report.figures.calls = 1234;
    report.figures.blobs = 5;
    report.fail("IP_SetValue returned 0, expected -1");
    report.enterCase(9, "random bytes");
    report.fail("second");
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    writeResult(f, report);
    std::fclose(f);

    ChildOutcome o;
    readResult(path, o);
    std::filesystem::remove(path);
    EXPECT_TRUE(o.completed);
    EXPECT_EQ(o.figures.calls, 1234u);
    EXPECT_EQ(o.figures.blobs, 5u);
    EXPECT_EQ(o.figures.cases, 2u);
    EXPECT_EQ(o.figures.failures, 2u);
    EXPECT_EQ(o.failedCases, (std::vector<uint64_t>{7, 9}));
    ASSERT_EQ(o.failures.size(), 2u);
    EXPECT_EQ(o.failures[0], "blobs-random case 7 (random bytes): IP_SetValue returned 0, expected -1");
}

TEST(ResultFile, FailuresStreamedBeforeACrashSurviveIt) {
    const std::string path = tempPath("crashed.txt");
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    Report report("floats");
    report.stream = f;
    report.enterCase(3, "seat x = NaN");
    report.fail("CI_GetCompFR(2): level of band index 4 is nan");
    // The child dies here: no figures, no "done"; the handler adds its note.
    std::fputs("crash signal 11 in CI_GetCompFR during floats case 3\n", f);
    std::fclose(f);

    ChildOutcome o;
    readResult(path, o);
    std::filesystem::remove(path);
    EXPECT_FALSE(o.completed);
    ASSERT_EQ(o.failures.size(), 1u);
    EXPECT_NE(o.failures[0].find("band index 4"), std::string::npos);
    EXPECT_EQ(o.crash, "signal 11 in CI_GetCompFR during floats case 3");
}

TEST(ResultFile, TheCrashNoteNamesExportCheckAndCase) {
    crashNote().setCase("sequences", 4711);
    crashNote().setExport("IP_SetValue");
    char line[256];
    crashNote().format(line, sizeof line, "signal 11");
    EXPECT_STREQ(line, "crash signal 11 in IP_SetValue during sequences case 4711\n");
}

TEST(Seeds, EachCaseHasItsOwnReplayableStream) {
    EXPECT_EQ(caseSeed(1, "sequence", 5), caseSeed(1, "sequence", 5));
    std::set<uint64_t> seen;
    for (uint64_t i = 0; i < 1000; ++i) seen.insert(caseSeed(1, "sequence", i));
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_NE(caseSeed(1, "sequence", 5), caseSeed(2, "sequence", 5));
    EXPECT_NE(caseSeed(1, "sequence", 5), caseSeed(1, "roundtrip", 5));

    Random r(caseSeed(3, "x", 0));
    bool low = false, high = false;
    for (int i = 0; i < 10000; ++i) {
        const int32_t v = r.between(-3, 3);
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 3);
        low = low || v == -3;
        high = high || v == 3;
        const float f = r.uniform(-1.0f, 1.0f);
        ASSERT_GE(f, -1.0f);
        ASSERT_LT(f, 1.0f);
    }
    EXPECT_TRUE(low && high);
}

TEST(Seeds, ByteChoicesReadTheInputOnceAndThenEnd) {
    const uint8_t bytes[] = {7, 200, 1, 2, 3, 4};
    ByteChoices c(bytes, sizeof bytes);
    EXPECT_EQ(c.below(5), 2u);        // 7 % 5
    EXPECT_EQ(c.below(1000), 51201u % 1000u);  // two bytes for a bound above 256
    EXPECT_FALSE(c.exhausted());
    EXPECT_EQ(c.bits32(), 0x02030400u);  // three bytes left, then zeros
    EXPECT_TRUE(c.exhausted());
    EXPECT_EQ(c.below(9), 0u);
}

int32_t gFlagType = 0, gFlagValue = 0;

int32_t PLUGIN_CALL recordFlag(int32_t type, const int32_t* value) {
    gFlagType = type;
    gFlagValue = *value;
    return 0;
}

TEST(Seeds, AnInputDrawsTheSameCallsWhateverTheCompiler) {
    // No crowding (1), the DLLSetFlag kind (48), then its value (kValues[2],
    // -1) before its type (below 70, so 1 + 5 % 4): GCC and clang evaluate
    // call arguments in opposite orders, and the draw must not depend on it.
    ExportTable table;
    table.DLLSetFlag = recordFlag;
    Report report("sequences");
    Plugin plugin(table, report);
    SequenceRunner runner(plugin, *findProduct("ktr4"));
    const uint8_t bytes[] = {1, 48, 2, 3, 5};
    ByteChoices c(bytes, sizeof bytes);
    EXPECT_TRUE(runner.run(c, 10));
    EXPECT_EQ(report.figures.calls, 1u);
    EXPECT_EQ(gFlagType, 2);
    EXPECT_EQ(gFlagValue, -1);
}

TEST(Snapshots, TheFirstDifferenceIsNamedBySection) {
    Snapshot a;
    a.section("CI_GetComponents");
    a.add(int32_t(4));
    a.section("cell 2 levels");
    for (int i = 0; i < 21; ++i) a.add(float(i));
    Snapshot b = a;
    EXPECT_FALSE(firstDifference(a, b).has_value());
    b.words[1 + 6] = floatBits(-1.0f);
    const auto d = firstDifference(a, b);
    ASSERT_TRUE(d.has_value());
    EXPECT_NE(d->find("cell 2 levels, word 6"), std::string::npos) << *d;
    b = a;
    b.add(int32_t(1));
    ASSERT_TRUE(firstDifference(a, b).has_value());
    EXPECT_NE(firstDifference(a, b)->find("22 words before, 23 after"), std::string::npos);
    // A NaN that keeps its bits is no change.
    a.add(std::numeric_limits<float>::quiet_NaN());
    b = a;
    EXPECT_FALSE(firstDifference(a, b).has_value());
}

}  // namespace
}  // namespace validator

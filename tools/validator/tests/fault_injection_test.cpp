// The validator against faulty plug-ins: each test replaces one export of a
// real plug-in with a broken one and expects the check that should notice to
// fail, and the untouched plug-in to pass that same check. A validator that
// passes everything would fail these tests.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "tools/host/plugin_library.h"
#include "tools/validator/checks.h"
#include "tools/validator/child_process.h"

namespace validator {
namespace {

// The real exports the faulty ones wrap.
ExportTable gReal;

// Small scales: each check still covers its ground.
Options quick() {
    Options o;
    o.sequences = 300;
    o.roundTrips = 100;
    o.randomBlobs = 300;
    o.loadCycles = 3;
    return o;
}

struct Outcome {
    uint64_t failures;
    std::vector<std::string> messages;
    uint64_t calls;
};

Outcome runCheck(const char* product, const char* check, std::function<void(ExportTable&)> fault) {
    Report report(check);
    Context context{*findProduct(product), host::pluginPath(product), quick(), report, std::nullopt, nullptr,
                    [&](ExportTable& table) {
                        gReal = table;
                        if (fault) fault(table);
                    }};
    findCheck(check)->run(context);
    return {report.figures.failures, report.failures, report.figures.calls};
}

std::string joined(const Outcome& o) {
    std::string all;
    for (const std::string& m : o.messages) all += m + "\n";
    return all;
}

// The check failed, and its messages name `text`.
void expectCaught(const Outcome& outcome, const std::string& text) {
    EXPECT_GT(outcome.failures, 0u);
    EXPECT_NE(joined(outcome).find(text), std::string::npos) << joined(outcome);
}

// ---- Faulty exports ----

int32_t PLUGIN_CALL highestFreeId() {
    // Hands out the highest free id instead of the lowest.
    int32_t id = gReal.CI_GetFreeID();
    if (id < 0) return id;
    int32_t last = id;
    while ((id = gReal.CI_GetFreeID()) > 0) last = id;
    return last;
}

int32_t PLUGIN_CALL narrowFilter(const float* gains, const float* phases) {
    float g[21], p[21];
    std::memcpy(g, gains, sizeof g);
    std::memcpy(p, phases, sizeof p);
    for (float& v : p) v = v > 170.0f ? 170.0f : v;  // clamps the phase ten degrees short
    return gReal.IP_SetFilter(g, p);
}

int32_t PLUGIN_CALL sizeWithoutInstance(int32_t index, void* buffer) {
    const int32_t result = gReal.IP_GetValue(index, buffer);
    if (result == -1) static_cast<unsigned char*>(buffer)[0] = 24;
    return result;
}

int32_t PLUGIN_CALL nanLevel(int32_t component, float* levels, float* phases, float* time) {
    const int32_t result = gReal.CI_GetCompFR(component, levels, phases, time);
    if (result == 0 && component == 2) levels[20] = std::numeric_limits<float>::quiet_NaN();
    return result;
}

int32_t PLUGIN_CALL flushToZeroLeft(int32_t* locked) {
#if defined(__i386__) || defined(__x86_64__)
    uint32_t mxcsr;
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr));
    mxcsr |= 0x8000;
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
    return gReal.DLLLock(locked);
}

int32_t PLUGIN_CALL seventeenCells(int32_t index, const void* blob) {
    // Takes a blob of more than 16 entries by cutting it to 16.
    uint32_t size;
    std::memcpy(&size, blob, 4);
    const uint32_t entry = (size - 8) % 8 == 0 && size >= 8 + 17 * 8 ? 8 : 4;
    if (index == 1 && size >= 8 && (size - 8) / entry > 16 && (size - 8) / entry < 100) {
        std::vector<unsigned char> cut(static_cast<const unsigned char*>(blob), static_cast<const unsigned char*>(blob) + 8 + 16 * entry);
        const uint32_t cutSize = 8 + 16 * entry;
        std::memcpy(cut.data(), &cutSize, 4);
        gReal.IP_SetValue(index, cut.data());
        return 0;
    }
    return gReal.IP_SetValue(index, blob);
}

int32_t PLUGIN_CALL releaseWhatever() {
    // Frees slot 1 when no valid instance is current.
    if (gReal.CI_GetComponents() == -1) {
        gReal.CI_MakeCurrent(1);
        gReal.CI_Release();
        gReal.CI_MakeCurrent(-1);
        return -1;
    }
    return gReal.CI_Release();
}

int32_t PLUGIN_CALL hostBytesWritten(plugin_api::VertexRecord* vertices) {
    int32_t count = 0;
    gReal.CS_GetVertexNumber(&count);
    const int32_t result = gReal.CS_GetVertexArray(vertices);
    if (count > 0) vertices[count - 1].hostReserved[3] = 0;
    return result;
}

int32_t PLUGIN_CALL clampedSelection(int32_t id) {
    // Takes an id past the table as the last slot.
    return gReal.CI_MakeCurrent(id == 256 ? 255 : id);
}

int32_t PLUGIN_CALL speedIgnored(int32_t index, float value) {
    return index == 1 ? 0 : gReal.RP_SetValue(index, value);
}

int32_t PLUGIN_CALL oneCellTooMany() {
    const int32_t count = gReal.CI_GetComponents();
    return count == 16 ? 17 : count;
}

// A flag that outlives unloading, as a static in the library would.
int32_t gSurvivingFlag2 = 0;
int32_t PLUGIN_CALL rememberingSetFlag(int32_t type, const int32_t* value) {
    if (type == 2) gSurvivingFlag2 = *value != 0 ? -1 : 0;
    return gReal.DLLSetFlag(type, value);
}
int32_t PLUGIN_CALL rememberingGetFlag(int32_t type, int32_t* value) {
    const int32_t result = gReal.DLLGetFlag(type, value);
    if (type == 2) *value = gSurvivingFlag2;
    return result;
}

// Wrong for one rare argument: cell 7's angles come back with a turned sign.
int32_t PLUGIN_CALL rareAngleFault(int32_t component, float* angles) {
    const int32_t result = gReal.CI_GetCompAngles3fv(component, angles);
    if (result == 0 && component == 7 && angles[1] != 0.0f) angles[1] = -angles[1];
    return result;
}

// Refuses a NULL time, but only after writing the levels.
int32_t PLUGIN_CALL levelsBeforeTheTimeIsChecked(int32_t component, float* levels, float* phases, float* time) {
    if (time == nullptr) {
        if (levels != nullptr) levels[0] = 0.0f;
        return -1;
    }
    return gReal.CI_GetCompFR(component, levels, phases, time);
}

// Takes a NULL blob as one with a wrong magic: the cells go back to the defaults.
int32_t PLUGIN_CALL nullBlobResets(int32_t index, const void* blob) {
    if (blob == nullptr) {
        const unsigned char wrongMagic[8] = {8, 0, 0, 0, 0, 0, 0, 0};
        return gReal.IP_SetValue(index, wrongMagic);
    }
    return gReal.IP_SetValue(index, blob);
}

// ---- Tests ----

TEST(FaultInjection, TheRealPluginsPassTheChecksTheFaultsAreMeantToFail) {
    for (const char* product : {"ktr2", "ktr4", "qspan"}) {
        for (const char* check : {"selection", "indices", "floats", "sequences", "blobs-random", "null-pointers"}) {
            const Outcome o = runCheck(product, check, nullptr);
            EXPECT_EQ(o.failures, 0u) << product << " " << check << "\n" << joined(o);
            EXPECT_GT(o.calls, 100u) << product << " " << check;
        }
    }
}

TEST(FaultInjection, SequencesCatchAllocationFilterAndBlobFaults) {
    const Outcome highest = runCheck("ktr4", "sequences", [](ExportTable& t) { t.CI_GetFreeID = highestFreeId; });
    expectCaught(highest, "CI_GetFreeID returned");

    const Outcome filter = runCheck("qspan", "sequences", [](ExportTable& t) { t.IP_SetFilter = narrowFilter; });
    expectCaught(filter, "phase");

    const Outcome blobs = runCheck("qspan", "blobs-random", [](ExportTable& t) { t.IP_SetValue = seventeenCells; });
    const Outcome flips = runCheck("ktr2", "blobs-bitflips", [](ExportTable& t) { t.IP_SetValue = seventeenCells; });
    EXPECT_GT(blobs.failures + flips.failures, 0u);
    EXPECT_NE((joined(blobs) + joined(flips)).find("IP_SetValue"), std::string::npos);
}

TEST(FaultInjection, SelectionCatchesWritesAndChangesWithoutAnInstance) {
    const Outcome wrote = runCheck("ktr2", "selection", [](ExportTable& t) { t.IP_GetValue = sizeWithoutInstance; });
    expectCaught(wrote, "IP_GetValue");

    const Outcome released = runCheck("ktr4", "selection", [](ExportTable& t) { t.CI_Release = releaseWhatever; });
    expectCaught(released, "CI_GetFreeID");
}

TEST(FaultInjection, NullPointersCatchWritesThroughTheOtherPointersAndResets) {
    const Outcome wrote = runCheck("ktr4", "null-pointers", [](ExportTable& t) { t.CI_GetCompFR = levelsBeforeTheTimeIsChecked; });
    expectCaught(wrote, "CI_GetCompFR with NULL as parameter 4 wrote through parameter 2");

    const Outcome reset = runCheck("qspan", "null-pointers", [](ExportTable& t) { t.IP_SetValue = nullBlobResets; });
    expectCaught(reset, "IP_SetValue with NULL as parameter 2 changed the plug-in");
}

TEST(FaultInjection, LevelsHostBytesAndFloatingPointStateAreWatched) {
    const Outcome nan = runCheck("ktr4", "floats", [](ExportTable& t) { t.CI_GetCompFR = nanLevel; });
    expectCaught(nan, "band index 20");

    const Outcome bytes = runCheck("qspan", "floats", [](ExportTable& t) { t.CS_GetVertexArray = hostBytesWritten; });
    expectCaught(bytes, "host's bytes");

#if defined(__i386__) || defined(__x86_64__)
    const Outcome ftz = runCheck("ktr2", "sequences", [](ExportTable& t) { t.DLLLock = flushToZeroLeft; });
    expectCaught(ftz, "SSE control word");
    uint32_t mxcsr = 0x1F80;
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
}

TEST(FaultInjection, StateThatOutlivesAReloadOrEscapesTheTableIsCaught) {
    const Outcome reload = runCheck("ktr2", "lifecycle", [](ExportTable& t) {
        t.DLLSetFlag = rememberingSetFlag;
        t.DLLGetFlag = rememberingGetFlag;
    });
    expectCaught(reload, "lifecycle case 1");
    EXPECT_NE(joined(reload).find("DLLGetFlag(2)"), std::string::npos) << joined(reload);

    const Outcome clamped = runCheck("qspan", "selection", [](ExportTable& t) { t.CI_MakeCurrent = clampedSelection; });
    expectCaught(clamped, "case 1 (current id 256)");

    const Outcome speed = runCheck("ktr4", "sequences", [](ExportTable& t) { t.RP_SetValue = speedIgnored; });
    expectCaught(speed, "time");

    const Outcome count = runCheck("ktr4", "indices", [](ExportTable& t) { t.CI_GetComponents = oneCellTooMany; });
    expectCaught(count, "16 cells");
}

TEST(FaultInjection, AFailingSequenceFailsAgainWhenReplayedAlone) {
    auto fault = [](ExportTable& t) { t.CI_GetCompAngles3fv = rareAngleFault; };
    Report full("sequences");
    Context all{*findProduct("ktr4"), host::pluginPath("ktr4"), quick(), full, std::nullopt, nullptr,
                [&](ExportTable& table) {
                    gReal = table;
                    fault(table);
                }};
    checkSequences(all);
    ASSERT_FALSE(full.failedCases.empty());
    ASSERT_LT(full.failedCases.size(), full.figures.sequences);  // the fault is rare
    const uint64_t failing = full.failedCases.front();

    Report alone("sequences");
    std::FILE* trace = std::tmpfile();
    Context one{*findProduct("ktr4"), host::pluginPath("ktr4"), quick(), alone, failing, trace,
                [&](ExportTable& table) {
                    gReal = table;
                    fault(table);
                }};
    checkSequences(one);
    EXPECT_EQ(alone.figures.sequences, 1u);
    ASSERT_EQ(alone.failures.size(), 1u);
    EXPECT_EQ(alone.failures[0], full.failures[0]);
    // The trace ends with the call that failed.
    std::fseek(trace, 0, SEEK_SET);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, trace)) > 0;) text.append(buffer, n);
    std::fclose(trace);
    EXPECT_NE(text.find("CI_GetCompAngles3fv(7)"), std::string::npos);
}

#if !defined(_WIN32)
int32_t PLUGIN_CALL onePastTheEnd(int32_t component, float* position) {
    const int32_t result = gReal.CI_GetCompPosition3fv(component, position);
    if (component == INT_MIN) position[3] = 0.0f;  // past the host's three floats
    return result;
}

float PLUGIN_CALL stuckOnNaN(int32_t component) {
    volatile bool forever = component == INT_MAX;
    while (forever) {
    }
    return gReal.CI_GetCompDistance(component);
}

// A crash or a hang ends only the check's own child, which says where it was.
ChildOutcome runInChild(const char* check, bool hang, double timeoutS) {
    auto body = [hang](const ChildJob& job, std::FILE* result) {
        crashNote().installHandlers(result);
        Report report(job.check);
        report.stream = result;
        Context context{*findProduct("ktr4"), host::pluginPath("ktr4"), quick(), report, std::nullopt, nullptr,
                        [&](ExportTable& table) {
                            gReal = table;
                            if (hang) table.CI_GetCompDistance = stuckOnNaN;
                            else table.CI_GetCompPosition3fv = onePastTheEnd;
                        }};
        findCheck(job.check)->run(context);
        writeResult(result, report);
        return 0;
    };
    ChildRunner runner("", {}, body);
    return runner.run({{check}}, 1, timeoutS).at(0);
}

TEST(FaultInjection, ACrashOrAHangIsReportedByTheChildRunner) {
    const ChildOutcome crashed = runInChild("indices", false, 60.0);
    EXPECT_FALSE(crashed.completed);
    EXPECT_EQ(crashed.figures.crashes, 1u);
    EXPECT_NE(crashed.crash.find("in CI_GetCompPosition3fv during indices case"), std::string::npos) << crashed.crash;

    const ChildOutcome hung = runInChild("indices", true, 3.0);
    EXPECT_FALSE(hung.completed);
    EXPECT_NE(hung.crash.find("hung"), std::string::npos) << hung.crash;

    // A check that the fault does not reach runs to the end, its figures
    // coming back through the result file.
    const ChildOutcome clean = runInChild("lifecycle", false, 60.0);
    EXPECT_TRUE(clean.completed) << clean.crash;
    EXPECT_EQ(clean.figures.failures, 0u);
    EXPECT_EQ(clean.figures.cases, 3u);
    EXPECT_GT(clean.figures.calls, 100u);
}
#endif

}  // namespace
}  // namespace validator

// Hosts may run with their own floating-point control state: exceptions
// unmasked, another rounding, flush-to-zero. Every export must hand that state
// back untouched and leave no pending x87 exception behind, and hand back the
// host's exception flags as they were: neither lose the host's own nor add
// those raised in here.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/floating_point_state.h"
#include "tests/host/plugin_fixture.h"
#include "tests/host/setup_blob.h"

using host_test::PluginTest;

#if defined(__i386__) || defined(__x86_64__)

namespace {

using namespace fp_test;

// Invalid, zero-divide and overflow masks (same bits in the x87 control word
// and, shifted by 7, in the MXCSR).
constexpr uint16_t kTrapMasks = 0x0D;

class HostControlState {
public:
    explicit HostControlState(uint16_t x87Control = kUnmaskedX87Control, uint32_t mxcsr = kUnmaskedMxcsr)
        : saved_(readFloatingPointState()) {
        writeControlState(x87Control, mxcsr);
    }
    ~HostControlState() { writeControlState(saved_.x87Control, saved_.mxcsr); }

private:
    FloatingPointState saved_;
};

}  // namespace

TEST_F(PluginTest, ExportsHandBackTheHostsFloatingPointState) {
    int32_t value = 0;
    const char* text = nullptr;
    int32_t bands[21];
    {
        HostControlState host;
        plugin->DLLVersion();
        plugin->DLLGetFlag(1, &value);
        plugin->DLLGetName(&text);
        plugin->DLLGetValidBands(bands);
        plugin->CI_GetFreeID();
        // A response for seats that make logarithms of zero, NaNs and
        // overflows inside the plug-in: none of it may trap in the host.
        float levels[21], phases[21], time = 0;
        const float seats[][3] = {{0, 0, 0}, {NAN, 1, 1}, {INFINITY, -INFINITY, 0}, {3e38f, 3e38f, 3e38f}};
        for (const auto& seat : seats) {
            plugin->CI_SetSeatPosition3fv(seat);
            plugin->CI_GetCompFR(1, levels, phases, &time);
        }
        const float nan3[3] = {NAN, NAN, NAN};
        plugin->CI_SetLspkAngles3fv(nan3);
        plugin->CI_GetCompFR(2, levels, phases, &time);
        plugin->RP_SetValue(2, -1e30f);
        plugin->CI_Release();
        const FloatingPointState after = readFloatingPointState();
        EXPECT_EQ(after.x87Control, kUnmaskedX87Control);
        EXPECT_EQ(after.mxcsr, kUnmaskedMxcsr);
        EXPECT_EQ(after.x87Status & kX87ExceptionFlags, 0);
    }
}

namespace {

// Calls that raise invalid (NaN and infinite seats and angles), overflow
// (3e38 seats and positions) and zero-divide (the propagation time at a speed
// of sound of 0) inside the plug-in. CI_GetCompFR runs each new seat's work
// and the cached path here; it leaves a masked host's x87 status unread, so an
// x87 instruction on its path would show as a flag left behind (on 32-bit
// Windows, where the C library's mathematics uses the x87).
void raiseInside(host::PluginLibrary& plugin) {
    const float zero3[3] = {0, 0, 0};
    const float seat[3] = {3, -20, 1.2f};
    float levels[21], phases[21], time = 0;
    plugin.CI_SetLspkPosition3fv(zero3);
    plugin.CI_SetLspkAngles3fv(zero3);
    plugin.CI_SetSeatPosition3fv(seat);
    plugin.RP_SetValue(1, 0.0f);
    plugin.CI_GetCompFR(1, levels, phases, &time);
    plugin.RP_SetValue(1, 343.0f);
    const float seats[][3] = {{0, 0, 0}, {NAN, 1, 1}, {INFINITY, -INFINITY, 0}, {3e38f, 3e38f, 3e38f}, {-3e38f, 0, 3e38f}};
    for (const auto& s : seats) {
        plugin.CI_SetSeatPosition3fv(s);
        plugin.CI_GetCompFR(1, levels, phases, &time);
        plugin.CI_GetDistance();
        plugin.CI_GetCompDistance(2);
    }
    const float nan3[3] = {NAN, NAN, NAN};
    plugin.CI_SetLspkAngles3fv(nan3);
    plugin.CI_GetCompFR(2, levels, phases, &time);
    const float huge3[3] = {3e38f, -3e38f, 3e38f};
    plugin.CI_SetLspkPosition3fv(huge3);
    plugin.CI_GetCompFR(3, levels, phases, &time);
    for (float humidity : {-1e30f, 0.0f, 3e38f, 50.0f}) plugin.RP_SetValue(2, humidity);
}

}  // namespace

TEST_F(PluginTest, ExportsHandBackTheHostsExceptionFlags) {
    // The first two take the path that writes nothing back unless a flag
    // changed; the last the one that swaps the control words.
    const HostState hosts[] = {
        {"masked, nearest, no flags raised", kMaskedX87Control, kMaskedMxcsr, 0},
        {"masked, nearest, its own flags raised", kMaskedX87Control, kMaskedMxcsr, kHostsOwnFlags},
        {"unmasked, toward zero, its own flags raised", kUnmaskedX87Control, kUnmaskedMxcsr, kHostsOwnFlags},
    };
    ASSERT_EQ(plugin->CI_GetFreeID(), 1);
    for (const HostState& h : hosts) {
        SCOPED_TRACE(h.what);
        HostControlState host(h.x87Control, h.mxcsr | h.flags);
        raiseX87Flags(h.flags);
        const FloatingPointState before = readFloatingPointState();
        raiseInside(*plugin);
        const FloatingPointState after = readFloatingPointState();
        EXPECT_EQ(after.x87Control, before.x87Control);
        EXPECT_EQ(after.mxcsr, before.mxcsr);  // control and flags
        // Checked before the host unmasks, where a flag of ours would trap.
        ASSERT_EQ(after.x87Status & kX87ExceptionFlags, before.x87Status & kX87ExceptionFlags);

        // The host unmasks invalid, zero-divide and overflow and computes on:
        // nothing may be pending for it.
        const uint16_t x87Unmasked = uint16_t(after.x87Control & ~kTrapMasks);
        const uint32_t mxcsrUnmasked = after.mxcsr & ~(uint32_t(kTrapMasks) << 7);
        __asm__ volatile("fldcw %0" : : "m"(x87Unmasked));
        __asm__ volatile("ldmxcsr %0" : : "m"(mxcsrUnmasked));
        volatile float x = 1.5f;
        double sum = 0.0;
        __asm__ volatile("fld1\n\tfadd %%st(0), %%st(0)\n\tfstpl %0" : "=m"(sum));
        x = x * 2.0f;
        EXPECT_EQ(sum + double(x), 5.0);
    }
}

namespace {

// A second copy of the plug-in under another name, so that loading it runs
// its initialisers again while the fixture's copy stays loaded.
class FreshCopy {
public:
    explicit FreshCopy(const std::string& original) {
        const size_t dot = original.rfind('.');
        path_ = original.substr(0, dot) + "-load-probe" + original.substr(dot);
        std::ifstream in(original, std::ios::binary);
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << in.rdbuf();
    }
    ~FreshCopy() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The mesh of a fixed four-cell array, as raw bytes of its vertex records and
// its face areas.
std::vector<unsigned char> meshOf(host::PluginLibrary& plugin, const host::Product& product) {
    std::vector<unsigned char> bytes;
    if (plugin.CI_GetFreeID() < 0 || host_test::setCells(plugin, product, {0.0f, 3.3f, 6.7f, 10.0f}, 2) != 0)
        return bytes;
    int32_t vertexCount = 0, faceCount = 0;
    plugin.CS_GetVertexNumber(&vertexCount);
    plugin.CS_GetFaceNumber(&faceCount);
    std::vector<plugin_api::VertexRecord> vertices(static_cast<size_t>(vertexCount));
    std::vector<plugin_api::FaceRecord> faces(static_cast<size_t>(faceCount));
    plugin.CS_GetVertexArray(vertices.data());
    plugin.CS_GetFaceArray(faces.data());
    for (const auto& v : vertices) {
        const float xyz[3] = {v.x, v.y, v.z};
        bytes.insert(bytes.end(), reinterpret_cast<const unsigned char*>(xyz), reinterpret_cast<const unsigned char*>(xyz + 3));
    }
    for (const auto& f : faces) {
        bytes.insert(bytes.end(), reinterpret_cast<const unsigned char*>(&f.areaM2),
                     reinterpret_cast<const unsigned char*>(&f.areaM2 + 1));
    }
    return bytes;
}

}  // namespace

// The loader runs a library's initialisers outside every export: they must
// leave no flag in the host's units, and loading and unloading must hand back
// the state as it was.
TEST_F(PluginTest, LoadingAndUnloadingLeaveTheHostsFloatingPointStateAsItWas) {
    const FreshCopy copy(plugin->path());
    const FloatingPointState saved = readFloatingPointState();
    writeControlState(kMaskedX87Control, kMaskedMxcsr);  // flags clear in both units
    const FloatingPointState before = readFloatingPointState();
    std::string error;
    auto probe = host::PluginLibrary::open(copy.path(), error);
    const FloatingPointState loaded = readFloatingPointState();
    probe.reset();
    const FloatingPointState unloaded = readFloatingPointState();
    writeControlState(saved.x87Control, saved.mxcsr);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(loaded.x87Control, before.x87Control);
    EXPECT_EQ(loaded.x87Status & kX87ExceptionFlags, 0) << std::hex << loaded.x87Status;
    EXPECT_EQ(loaded.mxcsr, before.mxcsr) << std::hex << loaded.mxcsr;
    EXPECT_EQ(unloaded.x87Status & kX87ExceptionFlags, 0) << std::hex << unloaded.x87Status;
    EXPECT_EQ(unloaded.mxcsr, before.mxcsr) << std::hex << unloaded.mxcsr;
}

// A library loaded while the host rounds down gives the same mesh as one
// loaded under the default rounding: nothing it keeps is worked out at load.
TEST_F(PluginTest, ResultsDoNotDependOnTheRoundingAtLoad) {
    const std::vector<unsigned char> expected = meshOf(*plugin, product());
    ASSERT_FALSE(expected.empty());
    const FreshCopy copy(plugin->path());
    const FloatingPointState saved = readFloatingPointState();
    constexpr uint16_t kRoundDownX87Control = kMaskedX87Control | 0x0400;
    constexpr uint32_t kRoundDownMxcsr = kMaskedMxcsr | 0x2000;
    writeControlState(kRoundDownX87Control, kRoundDownMxcsr);
    std::string error;
    auto probe = host::PluginLibrary::open(copy.path(), error);
    writeControlState(saved.x87Control, saved.mxcsr);
    ASSERT_TRUE(probe) << error;
    EXPECT_EQ(meshOf(*probe, product()), expected);
}

namespace {

// What a host reads from a fresh instance set up the same way: room values
// (the humidity's air absorption worked out with powers and exponentials), a
// splayed array laid out (sines and cosines), every cell's levels at a seat
// (arc tangents, logarithms), the distances, and the cabinet mesh.
std::vector<unsigned char> answersOf(host::PluginLibrary& plugin, const host::Product& product) {
    std::vector<unsigned char> bytes;
    auto keep = [&](const void* data, size_t size) {
        bytes.insert(bytes.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
    };
    plugin.RP_SetValue(1, 343.0f);
    plugin.RP_SetValue(2, 37.5f);
    const int32_t off = 0;
    plugin.DLLSetFlag(1, &off);
    if (plugin.CI_GetFreeID() < 0 || host_test::setCells(plugin, product, {0.0f, 3.3f, 6.7f, 10.0f}, 2) != 0)
        return bytes;
    const float position[3] = {0.3f, -0.7f, 9.1f}, angles[3] = {7.0f, -11.0f, 0.5f}, seat[3] = {4.0f, -23.0f, 1.2f};
    plugin.CI_SetLspkPosition3fv(position);
    plugin.CI_SetLspkAngles3fv(angles);
    plugin.CI_SetSeatPosition3fv(seat);
    const float distance = plugin.CI_GetDistance();
    keep(&distance, sizeof distance);
    for (int32_t cell = 1; cell <= plugin.CI_GetComponents(); ++cell) {
        float levels[21], phases[21], time = 0;
        plugin.CI_GetCompFR(cell, levels, phases, &time);
        const float path = plugin.CI_GetCompDistance(cell);
        keep(levels, sizeof levels);
        keep(&time, sizeof time);
        keep(&path, sizeof path);
    }
    const std::vector<unsigned char> mesh = meshOf(plugin, product);
    bytes.insert(bytes.end(), mesh.begin(), mesh.end());
    return bytes;
}

}  // namespace

// Hosts that run masked but round down, or at 24-bit or 64-bit x87
// precision, get the same answers as the default host, from a library loaded
// and used entirely in their state: on 32-bit Windows the C library's x87
// routines run under the control word the exports hold, not the host's.
TEST_F(PluginTest, AnswersDoNotDependOnTheHostsRoundingOrPrecision) {
    const FloatingPointState saved = readFloatingPointState();
    std::vector<unsigned char> expected;
    {
        const FreshCopy copy(plugin->path());
        writeControlState(kMaskedX87Control, kMaskedMxcsr);
        std::string error;
        auto probe = host::PluginLibrary::open(copy.path(), error);
        ASSERT_TRUE(probe) << error;
        expected = answersOf(*probe, product());
    }
    ASSERT_FALSE(expected.empty());
    const struct {
        const char* what;
        uint16_t x87Control;
        uint32_t mxcsr;
    } hosts[] = {
        {"rounding down", uint16_t(kMaskedX87Control | 0x0400), kMaskedMxcsr | 0x2000},
        {"24-bit precision", uint16_t(kMaskedX87Control & ~0x0300), kMaskedMxcsr},
        {"64-bit precision", uint16_t(kMaskedX87Control | 0x0300), kMaskedMxcsr},
    };
    for (const auto& host : hosts) {
        SCOPED_TRACE(host.what);
        const FreshCopy copy(plugin->path());
        writeControlState(host.x87Control, host.mxcsr);
        std::string error;
        auto probe = host::PluginLibrary::open(copy.path(), error);
        const std::vector<unsigned char> answers = probe ? answersOf(*probe, product()) : std::vector<unsigned char>{};
        probe.reset();
        writeControlState(saved.x87Control, saved.mxcsr);
        ASSERT_TRUE(error.empty()) << error;
        EXPECT_EQ(answers, expected);
    }
    writeControlState(saved.x87Control, saved.mxcsr);
}

#endif

// Hosts may run with their own floating-point control state: exceptions
// unmasked, another rounding, flush-to-zero. Every export must hand that state
// back untouched and leave no pending x87 exception behind.
#include <cmath>
#include <cstdint>

#include "tests/host/plugin_fixture.h"

using host_test::PluginTest;

#if defined(__i386__) || defined(__x86_64__)

namespace {

struct ControlState {
    uint16_t x87Control;
    uint16_t x87Status;
    uint32_t mxcsr;
};

ControlState readControlState() {
    ControlState s{};
    __asm__ volatile("fnstcw %0" : "=m"(s.x87Control));
    __asm__ volatile("fnstsw %0" : "=m"(s.x87Status));
    __asm__ volatile("stmxcsr %0" : "=m"(s.mxcsr));
    return s;
}

void writeControlState(uint16_t x87Control, uint32_t mxcsr) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87Control));
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// Invalid and zero-divide unmasked, 53-bit precision; SSE rounding toward
// zero with flush-to-zero, invalid unmasked.
constexpr uint16_t kHostX87Control = 0x027A;
constexpr uint32_t kHostMxcsr = 0x7F00 | 0x8000;
constexpr uint16_t kX87ExceptionFlags = 0x3F;

class HostControlState {
public:
    HostControlState() : saved_(readControlState()) { writeControlState(kHostX87Control, kHostMxcsr); }
    ~HostControlState() { writeControlState(saved_.x87Control, saved_.mxcsr); }

private:
    ControlState saved_;
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
        const ControlState after = readControlState();
        EXPECT_EQ(after.x87Control, kHostX87Control);
        EXPECT_EQ(after.mxcsr, kHostMxcsr);
        EXPECT_EQ(after.x87Status & kX87ExceptionFlags, 0);
    }
}

#endif

// What the Windows loader sees of a plug-in DLL: its export table holds exactly
// the listed names, undecorated; it imports nothing but system libraries; its
// version resource names the product and its maker.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "tests/host/plugin_fixture.h"
#include "tools/host/module_tables.h"
#include "tools/host/pe_image.h"

using host_test::PluginTest;

TEST_F(PluginTest, ExportTableHoldsExactlyTheListedNames) {
    std::set<std::string> expected;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) expected.insert(#name);
#include "plugin/exports.inc"
    EXPECT_EQ(host::exportedNames(*plugin), expected);
}

TEST_F(PluginTest, ImportsOnlySystemLibraries) {
    const std::vector<std::string> imports = host::importedLibraries(*plugin);
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports) EXPECT_TRUE(host::isWindowsSystemLibrary(name)) << name;
}

TEST_F(PluginTest, VersionResourceNamesTheProduct) {
    const std::string& path = plugin->path();
    EXPECT_EQ(host::versionString(path, "ProductName"), product().displayName);
    EXPECT_EQ(host::versionString(path, "CompanyName"), "Brennick Sound, Inc.");
    EXPECT_EQ(host::versionString(path, "FileVersion"), PLUGIN_VERSION_TEXT);
    EXPECT_EQ(host::versionString(path, "OriginalFilename"), product().library + ".dll");
}

#if defined(__i386__)

namespace {

struct RawCall {
    uint32_t result;
    int32_t bytesLeftOnStack;  // what the callee failed to pop
};

// Calls fn the way a host written in another language might: arguments pushed
// by hand, the stack pointer `misalignment` bytes below a 16-byte boundary.
RawCall callRaw(void* fn, const uint32_t* args, int32_t count, uint32_t misalignment) {
    uint32_t eax = misalignment;
    int32_t ecx = count;
    void* edx = fn;
    __asm__ volatile(
        "movl %%esp, %%edi\n\t"
        "andl $-16, %%esp\n\t"
        "subl %%eax, %%esp\n\t"
        "movl %%esp, %%esi\n\t"
        "1:\n\t"
        "testl %%ecx, %%ecx\n\t"
        "jz 2f\n\t"
        "pushl -4(%%ebx,%%ecx,4)\n\t"
        "decl %%ecx\n\t"
        "jmp 1b\n\t"
        "2:\n\t"
        "call *%%edx\n\t"
        "movl %%esi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "+a"(eax), "+c"(ecx), "+d"(edx)
        : "b"(args)
        : "esi", "edi", "memory", "cc");
    return {eax, ecx};
}

}  // namespace

TEST_F(PluginTest, CalleePopsItsArgumentsAtAnyStackAlignment) {
    int32_t flag = 0;
    const uint32_t capArgs[] = {3};
    const uint32_t flagArgs[] = {1, uint32_t(reinterpret_cast<uintptr_t>(&flag))};
    const uint32_t pulseArgs[] = {0, 0, 0};
    for (uint32_t misalignment : {0u, 4u, 8u, 12u}) {
        RawCall call = callRaw(reinterpret_cast<void*>(plugin->DLLGetCaps), capArgs, 1, misalignment);
        EXPECT_EQ(call.result, 3u);
        EXPECT_EQ(call.bytesLeftOnStack, 0) << misalignment;

        call = callRaw(reinterpret_cast<void*>(plugin->DLLGetFlag), flagArgs, 2, misalignment);
        EXPECT_EQ(call.result, 0u);
        EXPECT_EQ(flag, -1);
        EXPECT_EQ(call.bytesLeftOnStack, 0) << misalignment;

        call = callRaw(reinterpret_cast<void*>(plugin->CI_GetPulse), pulseArgs, 3, misalignment);
        EXPECT_EQ(call.bytesLeftOnStack, 0) << misalignment;
    }
}

#endif

// What the Windows loader sees of a plug-in DLL: its export table holds exactly
// the listed names, undecorated; it imports nothing but system libraries; its
// version resource names the product and its maker.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "tests/host/plugin_fixture.h"

using host_test::PluginTest;

namespace {

HMODULE moduleOf(const host::PluginLibrary& plugin) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(plugin.DLLVersion), &module);
    return module;
}

const IMAGE_DATA_DIRECTORY& directory(HMODULE module, int which) {
    auto base = reinterpret_cast<const BYTE*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[which];
}

std::set<std::string> exportedNames(HMODULE module) {
    auto base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir = directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        result.insert(reinterpret_cast<const char*>(base + names[i]));
    }
    return result;
}

std::vector<std::string> importedLibraries(HMODULE module) {
    auto base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_DATA_DIRECTORY& dir = directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    std::vector<std::string> result;
    if (dir.VirtualAddress == 0) return result;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         d->Name != 0; ++d) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        result.push_back(name);
    }
    return result;
}

std::string versionString(const std::string& path, const char* key) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return "<no version resource>";
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return "<unreadable>";
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904E4\\") + key;
    if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) {
        return "<missing>";
    }
    return std::string(value);
}

}  // namespace

TEST_F(PluginTest, ExportTableHoldsExactlyTheListedNames) {
    std::set<std::string> expected;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) expected.insert(#name);
#include "plugin/exports.inc"
    const HMODULE module = moduleOf(*plugin);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(exportedNames(module), expected);
}

TEST_F(PluginTest, ImportsOnlySystemLibraries) {
    const std::set<std::string> system = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                          "shell32.dll",  "comctl32.dll", "msvcrt.dll",
                                          "advapi32.dll"};
    const HMODULE module = moduleOf(*plugin);
    ASSERT_NE(module, nullptr);
    const std::vector<std::string> imports = importedLibraries(module);
    EXPECT_FALSE(imports.empty());
    for (const std::string& name : imports) EXPECT_TRUE(system.count(name)) << name;
}

TEST_F(PluginTest, VersionResourceNamesTheProduct) {
    const std::string& path = plugin->path();
    EXPECT_EQ(versionString(path, "ProductName"), product().displayName);
    EXPECT_EQ(versionString(path, "CompanyName"), "Brennick Sound, Inc.");
    EXPECT_EQ(versionString(path, "FileVersion"), PLUGIN_VERSION_TEXT);
    EXPECT_EQ(versionString(path, "OriginalFilename"), product().library + ".dll");
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

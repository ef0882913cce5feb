// A fresh process that loads a plug-in as a host's first LoadLibrary of it
// does, and checks that loading it leaves the host's floating-point state as
// it was: control words unchanged, no flag raised in either unit.
//
// The Windows libraries the plug-in imports (user32, gdi32, comctl32,
// shell32) are loaded first, with the state read before and after. Under
// Wine their own initialisation raises the precision flag the first time a
// process loads them; every windowed host has loaded them long before it
// loads a plug-in. What the plug-in's own load adds (its entry point, its
// TLS callbacks, its runtime's start-up) is what this probe judges.
//
//   load_probe PLUGIN.dll
// Prints what it saw; exits 0 when the plug-in's load changed nothing.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include "tests/floating_point_state.h"

namespace {

void print(const char* when, const fp_test::FloatingPointState& s) {
    std::printf("%-34s x87 control %04x, x87 status %04x, MXCSR %04x\n", when, unsigned(s.x87Control),
                unsigned(s.x87Status), unsigned(s.mxcsr));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: load_probe PLUGIN.dll\n");
        return 2;
    }
    using namespace fp_test;
    writeControlState(kMaskedX87Control, kMaskedMxcsr);
    const FloatingPointState fresh = readFloatingPointState();
    for (const char* library : {"user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll"}) {
        if (LoadLibraryA(library) == nullptr) {
            std::fprintf(stderr, "load_probe: cannot load %s\n", library);
            return 2;
        }
    }
    const FloatingPointState windows = readFloatingPointState();
    print("fresh process", fresh);
    print("after the Windows libraries", windows);
    writeControlState(kMaskedX87Control, kMaskedMxcsr);  // flags clear again
    const FloatingPointState before = readFloatingPointState();
    HMODULE plugin = LoadLibraryA(argv[1]);
    const FloatingPointState loaded = readFloatingPointState();
    print("before the plug-in", before);
    print("after loading the plug-in", loaded);
    if (plugin == nullptr) {
        std::fprintf(stderr, "load_probe: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 2;
    }
    FreeLibrary(plugin);
    const FloatingPointState unloaded = readFloatingPointState();
    print("after unloading it", unloaded);
    const bool same = loaded.x87Control == before.x87Control && loaded.mxcsr == before.mxcsr &&
                      (loaded.x87Status & kX87ExceptionFlags) == 0 && unloaded.mxcsr == before.mxcsr &&
                      (unloaded.x87Status & kX87ExceptionFlags) == 0 && unloaded.x87Control == before.x87Control;
    std::printf("%s\n", same ? "the plug-in's load and unload changed nothing"
                             : "FAILED: the plug-in's load or unload changed the host's floating-point state");
    return same ? 0 : 1;
}

// A stand-in plug-in with every listed export and trivial bodies, built once
// correct and once per deliberate fault, so that each static check of the
// 32-bit DLLs is shown to fail on the fault it exists for. One of:
//   ABI_FAULT_CDECL          DLLGetCaps compiled __cdecl: it pops nothing
//   ABI_FAULT_EXTRA_ARGUMENT CI_GetCompFR takes a fifth argument and pops 20 bytes
//   ABI_FAULT_X87            CI_GetCompFR calls a helper that computes on the x87
//   ABI_FAULT_FOREIGN_IMPORT DLLVersion calls into a library of our own
//   ABI_FAULT_OUTSIDE_SCOPE  CI_GetCompSPL1m computes after handing the host's
//                            MXCSR back
// An extra export and a damaged checksum are made by the build.
// The module-definition file made from the export list decides what is
// exported, as for the real plug-ins.
#include <cstdint>

#include "geometry/mesh_records.h"
#include "plugin/export_scope.h"

// The bodies ignore their arguments: only the calling convention is on trial.
#pragma GCC diagnostic ignored "-Wunused-parameter"

// An export a fault replaces gets its default body under another name.
#if defined(ABI_FAULT_CDECL)
#define DLLGetCaps DLLGetCaps_replaced
#endif
#if defined(ABI_FAULT_EXTRA_ARGUMENT) || defined(ABI_FAULT_X87)
#define CI_GetCompFR CI_GetCompFR_replaced
#endif
#if defined(ABI_FAULT_FOREIGN_IMPORT)
#define DLLVersion DLLVersion_replaced
#endif
#if defined(ABI_FAULT_OUTSIDE_SCOPE)
#define CI_GetCompSPL1m CI_GetCompSPL1m_replaced
#endif

// Every body opens the export scope, as the plug-ins' do.
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    extern "C" result __stdcall name parameters {            \
        plugin::ExportScope scope;                           \
        return result();                                     \
    }
#include "plugin/exports.inc"

#if defined(ABI_FAULT_CDECL)
#undef DLLGetCaps
// The mistake of a declaration without the convention: the body is cdecl
// while the module-definition file binds the export to the stdcall symbol.
extern "C" int32_t __cdecl DLLGetCaps(int32_t cap) __asm__("_DLLGetCaps@4");
extern "C" int32_t __cdecl DLLGetCaps(int32_t cap) { return cap == 3 ? 3 : 0; }
#endif

#if defined(ABI_FAULT_EXTRA_ARGUMENT)
#undef CI_GetCompFR
extern "C" int32_t __stdcall CI_GetCompFR(int32_t component, float* levelsDb, float* phasesDeg, float* timeS,
                                          int32_t extra) __asm__("_CI_GetCompFR@16");
extern "C" int32_t __stdcall CI_GetCompFR(int32_t component, float* levelsDb, float* phasesDeg, float* timeS,
                                          int32_t extra) {
    return component + extra;
}
#endif

#if defined(ABI_FAULT_X87)
#undef CI_GetCompFR
// long double is the x87's own format: no SSE2 instruction computes it. The
// helper is a function of its own, so the check must follow the call.
__attribute__((noinline)) static float x87Sum(float a, float b) {
    volatile long double wide = a;
    return float(wide + b);
}
extern "C" int32_t __stdcall CI_GetCompFR(int32_t component, float* levelsDb, float* phasesDeg, float* timeS) {
    if (levelsDb != nullptr) levelsDb[0] = x87Sum(levelsDb[0], 1.0f);
    return component;
}
#endif

#if defined(ABI_FAULT_FOREIGN_IMPORT)
#undef DLLVersion
extern "C" __declspec(dllimport) int32_t __stdcall abi_helper_value();
extern "C" int32_t __stdcall DLLVersion() { return abi_helper_value(); }
#endif

#if defined(ABI_FAULT_OUTSIDE_SCOPE)
#undef CI_GetCompSPL1m
// A scope written out by hand that hands the host's MXCSR back before the
// arithmetic: the conversion and the product run in the host's state.
extern "C" int32_t __stdcall CI_GetCompSPL1m(int32_t number, int32_t band, float* levelDb) {
    uint32_t host = 0;
    __asm__ volatile("stmxcsr %0" : "=m"(host) : : "memory");
    __asm__ volatile("ldmxcsr %0" : : "m"(host) : "memory");
    *levelDb = float(number) * 0.5f + float(band);
    return 0;
}
#endif

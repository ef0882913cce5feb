// A stand-in plug-in with every listed export and trivial bodies, built once
// correct and once per deliberate fault, so that each static check of the
// 32-bit DLLs is shown to fail on the fault it exists for. One of:
//   ABI_FAULT_CDECL          DLLGetCaps compiled __cdecl: it pops nothing
//   ABI_FAULT_EXTRA_ARGUMENT CI_GetCompFR takes a fifth argument and pops 20 bytes
//   ABI_FAULT_X87            CI_GetCompFR calls a helper that computes on the x87
//   ABI_FAULT_FOREIGN_IMPORT DLLVersion calls into a library of our own
//   ABI_FAULT_OUTSIDE_SCOPE  CI_GetCompSPL1m computes after handing the host's
//                            MXCSR back
//   ABI_FAULT_COMPARE_OUTSIDE CI_GetCompDirectivity compares (cmpltss) after
//                            the scope
//   ABI_FAULT_X87_AFTER_RESTORE CI_GetCompSPL1m runs x87 work after loading the
//                            host's x87 control word back, before its MXCSR
//   ABI_FAULT_ROUNDING_STORE CI_GetDistance rounds through an x87 store after
//                            the scope, before handing its result over
//   ABI_FAULT_CALLBACK       a function reached only through a pointer the
//                            library holds computes, and opens no scope
//   ABI_FAULT_TLS_CALLBACK   a TLS callback, which the loader runs, computes
//   ABI_FAULT_MMX            CS_GetSymmetry uses MMX and returns without emms
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
#if defined(ABI_FAULT_OUTSIDE_SCOPE) || defined(ABI_FAULT_X87_AFTER_RESTORE)
#define CI_GetCompSPL1m CI_GetCompSPL1m_replaced
#endif
#if defined(ABI_FAULT_COMPARE_OUTSIDE)
#define CI_GetCompDirectivity CI_GetCompDirectivity_replaced
#endif
#if defined(ABI_FAULT_ROUNDING_STORE)
#define CI_GetDistance CI_GetDistance_replaced
#endif
#if defined(ABI_FAULT_MMX)
#define CS_GetSymmetry CS_GetSymmetry_replaced
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
    uint16_t x87 = 0;
    uint32_t host = 0;
    __asm__ volatile("fnstcw %0\n\tstmxcsr %1" : "=m"(x87), "=m"(host) : : "memory");
    __asm__ volatile("ldmxcsr %0" : : "m"(host) : "memory");
    *levelDb = float(number) * 0.5f + float(band);
    return 0;
}
#endif

#if defined(ABI_FAULT_COMPARE_OUTSIDE) || defined(ABI_FAULT_X87_AFTER_RESTORE) || defined(ABI_FAULT_ROUNDING_STORE)
// Scopes written out by hand, each wrong in one place.
namespace {
struct HostState {
    uint16_t x87 = 0;
    uint32_t mxcsr = 0;
};
inline HostState save() {
    HostState host;
    __asm__ volatile("fnstcw %0\n\tstmxcsr %1" : "=m"(host.x87), "=m"(host.mxcsr) : : "memory");
    return host;
}
}  // namespace
#endif

#if defined(ABI_FAULT_COMPARE_OUTSIDE)
#undef CI_GetCompDirectivity
// A compare that raises invalid on a NaN, after the host's MXCSR is back.
extern "C" int32_t __stdcall CI_GetCompDirectivity(int32_t number, int32_t band, float* factor) {
    HostState host = save();
    __asm__ volatile("ldmxcsr %0" : : "m"(host.mxcsr) : "memory");
    __asm__ volatile("cmpltss %%xmm1, %%xmm0" : : : "xmm0");
    return 0;
}
#endif

#if defined(ABI_FAULT_X87_AFTER_RESTORE)
#undef CI_GetCompSPL1m
// The x87's control word handed back first, then x87 work, then the MXCSR.
extern "C" int32_t __stdcall CI_GetCompSPL1m(int32_t number, int32_t band, float* levelDb) {
    HostState host = save();
    __asm__ volatile("fldcw %0" : : "m"(host.x87) : "memory");
    __asm__ volatile("fld1\n\tfstp %%st(0)" : : : "memory");
    __asm__ volatile("ldmxcsr %0" : : "m"(host.mxcsr) : "memory");
    return 0;
}
#endif

#if defined(ABI_FAULT_ROUNDING_STORE)
#undef CI_GetDistance
// After the scope the result goes through an x87 store that rounds it to
// single precision (precision, underflow, overflow) before it is loaded.
extern "C" float __stdcall CI_GetDistance() {
    HostState host = save();
    volatile float result = 0;
    __asm__ volatile("ldmxcsr %0" : : "m"(host.mxcsr) : "memory");
    __asm__ volatile("fld1\n\tfstps %0" : "=m"(result) : : "memory");
    return result;
}
#endif

#if defined(ABI_FAULT_CALLBACK)
// Reached only through the pointer below, as a window procedure is reached
// through the address handed to Windows: no export calls it.
extern "C" __attribute__((noinline, used)) float abi_callback(float value) { return value * 3.0f + 1.0f; }
__attribute__((used)) float (*volatile abi_callback_pointer)(float) = abi_callback;
#endif

#if defined(ABI_FAULT_TLS_CALLBACK)
#include <windows.h>
// Run by the loader on every thread's start, in the host's state.
extern "C" __attribute__((noinline, used)) void NTAPI abi_tls_callback(PVOID, DWORD, PVOID) {
    volatile float x = 1.5f;
    x = x * 3.0f;
}
__attribute__((section(".CRT$XLC"), used)) PIMAGE_TLS_CALLBACK abi_tls_callback_entry = abi_tls_callback;
#endif

#if defined(ABI_FAULT_MMX)
#undef CS_GetSymmetry
// MMX in the scope, but no emms: the host's next x87 load finds its
// registers in use.
extern "C" int32_t __stdcall CS_GetSymmetry(int32_t* symmetry, float* offset) {
    plugin::ExportScope scope;
    __asm__ volatile("pxor %%mm0, %%mm0" : : : "mm0");
    return 0;
}
#endif

// The plug-in's exported interface as the host sees it: every export declared
// with the host's calling convention, and the pointer type a host uses to call
// it (plugin_api::DLLVersion and so on), both made from exports.inc.
#pragma once

#include <cstdint>

#include "geometry/mesh_records.h"

#if defined(_WIN32)
#define PLUGIN_CALL __stdcall
#define PLUGIN_API extern "C"
#else
#define PLUGIN_CALL
#define PLUGIN_API extern "C" __attribute__((visibility("default")))
#endif

#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    PLUGIN_API result PLUGIN_CALL name parameters noexcept;
#include "plugin/exports.inc"

namespace plugin_api {

#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    using name = result(PLUGIN_CALL*) parameters;
#include "plugin/exports.inc"

// Bytes a __stdcall callee pops for this pointer type's arguments: every
// argument takes a whole number of 4-byte stack slots.
template <typename T>
struct StackBytes;
template <typename R, typename... Args>
struct StackBytes<R(PLUGIN_CALL*)(Args...)> {
    static constexpr int value = (0 + ... + int((sizeof(Args) + 3) / 4 * 4));
};

}  // namespace plugin_api

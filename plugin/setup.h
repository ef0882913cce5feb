// The setup value of an instance: its layout, the setup blob the host stores
// in its project files, and the per-band filter.
#pragma once

#include <cstdint>

#include "plugin/plugin_state.h"

namespace plugin {

// Lays the cells out from the array pose and splays, and refreshes the
// transition distances and what is kept of the seat. Runs when the host sets the array position, the array
// angles or an accepted setup blob, and nowhere else.
void layOut(Instance& instance, const models::ModelDefinition& model);

// Setup blob, little-endian: u32 total size, u32 magic, then one entry per
// cell from cell 1: f32 splay, or i32 cabinet kind and f32 splay in products
// whose cells carry a kind.
inline constexpr uint32_t kSetupHeaderBytes = 8;

enum class SetupOutcome {
    Accepted,         // cells stored and laid out
    Refused,          // nothing changed
    RefusedAndReset,  // wrong magic or too few cells: default cells, no layout
};

// Checks and applies a blob. Refused without change: a size below the header,
// more entries than the cell table holds, a cabinet kind the product does not
// have, a splay that is not finite. Trailing bytes short of an entry are ignored.
SetupOutcome applySetupBlob(Instance& instance, const models::ModelDefinition& model,
                            const unsigned char* blob);

// Size in bytes of the blob for the instance's current cells.
uint32_t setupBlobSize(const Instance& instance, const models::ModelDefinition& model);

// Writes the magic and the cell entries from byte 4 on; the size word at
// byte 0 stays as the caller wrote it.
void writeSetupBlobBody(const Instance& instance, const models::ModelDefinition& model,
                        unsigned char* blob);

// Per-band filter limits, the same in every band.
inline constexpr float kFilterGainDefaultDb = 0.0f;
inline constexpr float kFilterGainMinDb = -60.0f;
inline constexpr float kFilterGainMaxDb = 0.0f;
inline constexpr float kFilterPhaseDefaultDeg = 0.0f;
inline constexpr float kFilterPhaseMinDeg = -180.0f;
inline constexpr float kFilterPhaseMaxDeg = 180.0f;

// Stores 21 gains and phases, each clamped to its limits (a NaN passes).
void setFilter(Instance& instance, const float* gainsDb, const float* phasesDeg);

}  // namespace plugin

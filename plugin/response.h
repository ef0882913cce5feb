// The levels a cell of an instance radiates toward the instance's seat, with
// the plug-in-wide room and flags: the whole of the host's per-cell query.
#pragma once

#include "acoustics/component_response.h"
#include "plugin/plugin_state.h"

namespace plugin {

// What the response keeps of one instance's present seat for the whole
// array. The host asks for every cell at one seat before it moves on, so the
// first response after a change this depends on works it out for all cells
// at once: four cells' directions share each square root, division and arc
// tangent instruction, and the direction-free part of the levels is worked
// out once per cabinet kind.
//
// Kept apart from the instances, one per slot: zero is a valid start, so
// the table costs the library no file space. It holds while the versions it
// was made with are current, that is unless exactly a multiple of 2^32
// changes happened between two responses.
struct SeatResponse {
    uint32_t instanceVersion;
    uint32_t roomVersion;
    // Cells 0 .. sampledCells - 1 hold samples; 0 until first worked out.
    int32_t sampledCells;
    acoustics::BalloonSample samples[kCellCapacity];
    float baseLevelDb[models::kMaxCabinetKinds][kBandCount];
};

// Writes 21 levels (dB), 21 phases (degrees) and the propagation time (s) of
// cell cellIndex (0-based, below the cell count), with `kept` the seat
// response of this instance alone.
void componentResponse(const PluginState& state, const Instance& instance, SeatResponse& kept, int32_t cellIndex,
                       float* levelsDb, float* phasesDeg, float* timeS);

}  // namespace plugin

// The levels a cell of an instance radiates toward the instance's seat, with
// the plug-in-wide room and flags: the whole of the host's per-cell query.
#pragma once

#include "plugin/plugin_state.h"

namespace plugin {

// Writes 21 levels (dB), 21 phases (degrees) and the propagation time (s).
void componentResponse(const PluginState& state, const Instance& instance, const Cell& cell,
                       float* levelsDb, float* phasesDeg, float* timeS);

}  // namespace plugin

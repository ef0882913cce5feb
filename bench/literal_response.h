// The component response written as the acoustic model reads, with nothing
// hoisted: every call recomputes the cell's rotation from its degrees, the
// transition distances from the cell positions, the grid nodes and weights in
// every band, and takes two base-10 logarithms per band. It is the yardstick
// for the plug-in's own response, which must agree with it and beat it.
#pragma once

#include "plugin/plugin_state.h"

namespace bench {

void literalResponse(const plugin::PluginState& state, const plugin::Instance& instance, int cellIndex,
                     float* levelsDb, float* phasesDeg, float* timeS);

}  // namespace bench

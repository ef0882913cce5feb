// The coherent sum evaluated as written down: a sine, a cosine and a power of
// ten for every cell at every frequency, in double precision. It is the
// definition the vectorised CoherentSum is held to, by the tests and the
// summation benchmark; nothing in the program's own path uses it.
#pragma once

#include "tools/arrayhost/summation.h"

namespace arrayhost {

BandValues directCoherentSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode);

// The `cells` sum as written down: each level with the law taken back off,
// 1/r and the absorption over the cell's own path, then the coherent sum.
BandValues directPointSourceSum(const CellResponse* cells, int count, double speedOfSoundMPerS, CoherentMode mode,
                                const InterfaceLaw& law);

}  // namespace arrayhost

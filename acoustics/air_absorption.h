// Pure-tone atmospheric absorption after ISO 9613-1, at 22 degrees C and the
// reference pressure, in dB per metre at the band centres.
#pragma once

#include "acoustics/bands.h"

namespace acoustics {

// Fills the table for a relative humidity in percent. A negative humidity is
// taken as dry air. A humidity that is not finite has no meaning: the table
// is left as it was and the result is false.
bool computeAirAbsorption(float relativeHumidityPercent, float (&dbPerM)[kBandCount]);

}  // namespace acoustics

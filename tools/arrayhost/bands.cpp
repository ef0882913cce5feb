#include "tools/arrayhost/bands.h"

#include <cmath>
#include <cstdio>

namespace arrayhost {

int bandIndexOfHz(double hz) {
    for (int i = 0; i < kBandCount; ++i) {
        if (std::fabs(hz - kBandCentresHz[i]) < 0.5) return i;
    }
    return -1;
}

std::string bandLabel(int bandIndex) {
    const double hz = kBandCentresHz[bandIndex];
    char text[32];
    if (hz < 1000) {
        std::snprintf(text, sizeof text, "%g Hz", hz);
    } else {
        std::snprintf(text, sizeof text, "%g kHz", hz / 1000);
    }
    return text;
}

}  // namespace arrayhost

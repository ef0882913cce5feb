// Fixed answers of the descriptor exports. Their meaning lies with the host.
#pragma once

#include <cstdint>

namespace plugin {

inline constexpr int32_t kPluginClass = 2;
inline constexpr int32_t kRoomParameterCount = 2;
inline constexpr int32_t kBandCarriesData = -1;

// Caps 1, 2 and 5 answer -1, cap 3 answers 3, everything else 0.
inline constexpr int32_t capability(int32_t cap) {
    switch (cap) {
    case 1:
    case 2:
    case 5: return -1;
    case 3: return 3;
    default: return 0;
    }
}

}  // namespace plugin

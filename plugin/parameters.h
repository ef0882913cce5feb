// Descriptors of the host's parameters: one input parameter per instance (the
// setup blob) and two room parameters shared by the whole plug-in. Ids, type
// codes and the blob's lack of limits mean what the host makes of them.
#pragma once

#include <cstdint>

namespace plugin {

inline constexpr int32_t kInputParameterCount = 1;
inline constexpr int32_t kSetupParameterIndex = 1;
inline constexpr int32_t kSetupParameterId = 100;
inline constexpr int32_t kSetupParameterType = 21;
inline constexpr char kSetupParameterLabel[] = "Line Array Setup";

inline constexpr int32_t kRoomParameterType = 8;
inline constexpr int32_t kSpeedOfSoundIndex = 1;
inline constexpr int32_t kHumidityIndex = 2;

struct RoomParameter {
    const char* label;
    float defaultValue;
    float minimum;
    float maximum;
};

// Indexed by room parameter index - 1. The limits are reported, not enforced.
inline constexpr RoomParameter kRoomParameters[] = {
    {"Speed of Sound", 343.0f, 1.0f, 1000000.0f},
    {"Humidity", 60.0f, 5.0f, 100.0f},
};

inline constexpr const RoomParameter* roomParameter(int32_t index) {
    return index == kSpeedOfSoundIndex || index == kHumidityIndex ? &kRoomParameters[index - 1] : nullptr;
}

}  // namespace plugin

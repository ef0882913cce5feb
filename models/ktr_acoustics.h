// Acoustic data shared by KTR2 and KTR4: one cabinet kind, one balloon and one
// set of directivity factors. Only the on-axis levels differ.
#pragma once

#include "models/balloon_data.h"
#include "models/imported_tables.h"
#include "models/model_definition.h"

namespace models {

inline constexpr float kKtrDirectivityFactor[kBandCount] =
#if MODEL_IMPORTED_TABLES_KTR
    MODEL_IMPORTED_DIRECTIVITY_FACTOR_KTR;
#else
{
    1.412f,  2.776f,  3.169f,  3.448f,  3.506f,  3.679f,  3.969f,
    4.375f,  4.798f,  5.894f,  7.686f,  12.979f, 20.56f,  25.205f,
    28.507f, 35.45f,  39.166f, 39.166f, 36.989f, 47.259f, 61.774f,
};
#endif

}  // namespace models

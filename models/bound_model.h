// The one model definition a deliverable is built for, chosen by the build
// through PLUGIN_MODEL_KTR2, PLUGIN_MODEL_KTR4 or PLUGIN_MODEL_QSPAN.
#pragma once

#if defined(PLUGIN_MODEL_KTR2) + defined(PLUGIN_MODEL_KTR4) + defined(PLUGIN_MODEL_QSPAN) != 1
#error "build with exactly one of PLUGIN_MODEL_KTR2, PLUGIN_MODEL_KTR4, PLUGIN_MODEL_QSPAN"
#endif

#if defined(PLUGIN_MODEL_KTR2)
#include "models/ktr2.h"
namespace models {
inline constexpr const ModelDefinition& kBoundModel = kKtr2;
}
#elif defined(PLUGIN_MODEL_KTR4)
#include "models/ktr4.h"
namespace models {
inline constexpr const ModelDefinition& kBoundModel = kKtr4;
}
#else
#include "models/qspan.h"
namespace models {
inline constexpr const ModelDefinition& kBoundModel = kQspan;
}
#endif

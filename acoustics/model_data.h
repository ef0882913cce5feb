// Read-only access to the acoustic tables of a model: on-axis level,
// directivity factor and directivity balloon per cabinet kind and band, the
// valid-band flags and the data resolution text. Every access is a plain
// indexed read of constant data.
//
// Band indices are 0 to 20, meridian indices 0 to 71 (the caller folds 72 to
// 0), polar indices 0 to 36; callers keep them in range. A cabinet kind
// outside the model's kinds reads the nearest kind that exists, so no call
// reads outside the tables.
#pragma once

#include <cstdint>

#include "acoustics/balloon_grid.h"
#include "acoustics/bands.h"
#include "models/model_definition.h"

namespace acoustics {

inline int32_t cabinetKindCount(const models::ModelDefinition& model) { return model.kindCount; }

inline int existingKind(const models::ModelDefinition& model, int kind) {
    return kind < 0 ? 0 : kind >= model.kindCount ? model.kindCount - 1 : kind;
}

// Sound pressure level at 1 m on the cabinet's axis, dB, filter at 0 dB.
inline float onAxisLevelDb(const models::ModelDefinition& model, int kind, int band) {
    return model.acoustic.onAxisLevelDb[existingKind(model, kind)][band];
}

// The 21 on-axis levels of a kind, band 0 first.
inline const float* onAxisLevelsDb(const models::ModelDefinition& model, int kind) {
    return model.acoustic.onAxisLevelDb[existingKind(model, kind)];
}

// On-axis intensity over the mean over the sphere, at least 1.
inline float directivityFactor(const models::ModelDefinition& model, int kind, int band) {
    return model.acoustic.directivityFactor[existingKind(model, kind)][band];
}

// The 72 x 37 values of one band, meridian-major: value (m, p) is at
// m * kPolarCount + p. The next band's block follows at kBalloonBandStride.
inline const float* balloonBlock(const models::ModelDefinition& model, int kind, int band) {
    return model.acoustic.balloonDb[existingKind(model, kind)] + band * kBalloonBandStride;
}

// Level in dB relative to on axis at one node of the balloon.
inline float balloonDb(const models::ModelDefinition& model, int kind, int band, int meridian, int polar) {
    return balloonBlock(model, kind, band)[meridian * kPolarCount + polar];
}

// 21 flags, -1 for a band that carries data.
inline const int32_t* validBandFlags(const models::ModelDefinition& model) { return model.acoustic.validBandFlags; }

// Constant NUL-terminated Windows-1252 text owned by the library.
inline const char* dataResolutionText(const models::ModelDefinition& model) {
    return model.acoustic.dataResolutionText;
}

}  // namespace acoustics

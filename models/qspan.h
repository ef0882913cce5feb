// Q.SPAN: rear-notch cabinet in three kinds, cell 1 takes the array pose,
// order Z-X-Y.
#pragma once

#include "models/balloon_data.h"
#include "models/identity.h"
#include "models/imported_tables.h"
#include "models/model_definition.h"

namespace models {

// Kinds QSA, QSB, QSC: the same up to 1600 Hz, their own from 2000 Hz.
inline constexpr float kQspanOnAxisLevelDb[kMaxCabinetKinds][kBandCount] = {
#if MODEL_IMPORTED_TABLES_QSA
    MODEL_IMPORTED_ON_AXIS_DB_QSA,
#else
    {126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f,
     126.0f, 126.0f, 128.0f, 128.0f, 128.0f, 128.0f, 128.0f, 128.0f, 128.0f, 128.0f},
#endif
#if MODEL_IMPORTED_TABLES_QSB
    MODEL_IMPORTED_ON_AXIS_DB_QSB,
#else
    {126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f,
     126.0f, 126.0f, 127.0f, 127.0f, 127.0f, 127.0f, 127.0f, 127.0f, 127.0f, 127.0f},
#endif
#if MODEL_IMPORTED_TABLES_QSC
    MODEL_IMPORTED_ON_AXIS_DB_QSC,
#else
    {126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f,
     126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f, 126.0f},
#endif
};

inline constexpr float kQspanDirectivityFactor[kMaxCabinetKinds][kBandCount] = {
#if MODEL_IMPORTED_TABLES_QSA
    MODEL_IMPORTED_DIRECTIVITY_FACTOR_QSA,
#else
    {1.412f, 1.736f, 2.376f, 2.549f, 2.733f, 3.819f, 4.571f, 7.112f, 5.399f, 5.894f, 7.686f,
     8.124f, 9.654f, 14.639f, 19.716f, 24.443f, 24.526f, 30.09f, 38.779f, 59.486f, 76.04f},
#endif
#if MODEL_IMPORTED_TABLES_QSB
    MODEL_IMPORTED_DIRECTIVITY_FACTOR_QSB,
#else
    {1.412f, 1.736f, 2.376f, 2.549f, 2.733f, 3.819f, 4.571f, 7.112f, 5.399f, 5.894f, 7.686f,
     8.124f, 9.654f, 13.006f, 16.208f, 20.891f, 22.273f, 24.123f, 28.494f, 35.701f, 45.095f},
#endif
#if MODEL_IMPORTED_TABLES_QSC
    MODEL_IMPORTED_DIRECTIVITY_FACTOR_QSC,
#else
    {1.412f, 1.736f, 2.376f, 2.549f, 2.733f, 3.819f, 4.571f, 7.112f, 5.399f, 5.894f, 7.686f,
     8.124f, 9.654f, 11.898f, 14.629f, 18.219f, 19.126f, 21.055f, 27.101f, 38.421f, 40.269f},
#endif
};

inline constexpr ModelDefinition kQspan{
    .displayName = QSPAN_DISPLAY_NAME,
    .manufacturer = MAKER_NAME,
    .setupMagic = 10762385u,
    .cellsCarryKind = true,
    .fewestSetupEntries = 4,
    .defaultCellCount = 4,
    .defaultKind = 1,
    .kindCount = 3,
    .kindNames = {"QSA", "QSB", "QSC"},
    .shape = CabinetShape::RearNotch,
    .cabinet = {.depthM = 0.5159f, .frontHeightM = 0.258f, .rearHeightM = 0.1637f, .widthM = 0.69407022f},
    .recess = {},
    .notch = {.widthM = 0.5923f, .floorHeightM = 0.174f, .depthM = 0.0587f},
    .meshEdgesPerCell = 14,
    .angles = {RotationOrder::ZXY, DirectionForm::Polar},
    .firstCell = FirstCellRule::TakesArrayPose,
    .transitionDivision = TransitionDivision::MultiplyBySinglePrecisionReciprocal,
    .dialog = {.title = "Setup Brennick " QSPAN_DISPLAY_NAME,
               .firstCell = {1.0f, -5.0f, 5.0f},
               .otherCells = {1.0f, 0.0f, 10.0f},
               .snapsToWholeDegree = false},
    .preview = {.bitmapWidthPx = 510, .bitmapHeightPx = 672, .spanXPx = 480, .spanYPx = 642,
                .marginPx = 15, .aspectWidth = 159, .aspectHeight = 213,
                .previewRect = {441, 75, 611, 299}, .destination = {441, 75, 170, 224}},
    .acoustic = {.onAxisLevelDb = {kQspanOnAxisLevelDb[0], kQspanOnAxisLevelDb[1], kQspanOnAxisLevelDb[2]},
                 .directivityFactor = {kQspanDirectivityFactor[0], kQspanDirectivityFactor[1],
                                       kQspanDirectivityFactor[2]},
                 .balloonDb = {models_balloon_qsa, models_balloon_qsb, models_balloon_qsc}},
};

}  // namespace models

// VESTRA KTR4: front-recess cabinet, cell 1 takes the array pose, order Z-X-Y.
#pragma once

#include "models/identity.h"
#include "models/ktr_acoustics.h"
#include "models/model_definition.h"

namespace models {

inline constexpr float kKtr4OnAxisLevelDb[kBandCount] =
#if MODEL_IMPORTED_TABLES_KTR
    MODEL_IMPORTED_ON_AXIS_DB_KTR;
#else
{
    136.0f, 136.0f, 136.0f, 136.0f, 136.0f, 133.0f, 133.0f,
    133.0f, 133.0f, 133.0f, 133.0f, 133.0f, 135.0f, 135.0f,
    135.0f, 135.0f, 135.0f, 135.0f, 135.0f, 135.0f, 135.0f,
};
#endif

inline constexpr ModelDefinition kKtr4{
    .displayName = KTR4_DISPLAY_NAME,
    .manufacturer = MAKER_NAME,
    .setupMagic = 10762383u,
    .cellsCarryKind = false,
    .fewestSetupEntries = 0,
    .defaultCellCount = 4,
    .defaultKind = 0,
    .kindCount = 1,
    .kindNames = {"", "", ""},
    .shape = CabinetShape::FrontRecess,
    .cabinet = {.depthM = 0.7112f, .frontHeightM = 0.3556f, .rearHeightM = 0.2413f, .widthM = 1.4732f},
    .recess = {.mouthHalfWidthM = 0.23f, .floorHalfWidthM = 0.09f, .floorHalfHeightM = 0.17f,
               .floorForwardM = 0.2456f},
    .notch = {},
    .meshEdgesPerCell = 15,
    .angles = {RotationOrder::ZXY, DirectionForm::Polar},
    .firstCell = FirstCellRule::TakesArrayPose,
    .transitionDivision = TransitionDivision::MultiplyBySinglePrecisionReciprocal,
    // 1.666 is meant as written, not as 5/3.
    .dialog = {.title = "Setup Brennick " KTR4_DISPLAY_NAME,
               .firstCell = {1.666f, -5.0f, 5.0f},
               .otherCells = {1.666f, 0.0f, 10.0f},
               .snapsToWholeDegree = true},
    .preview = {.bitmapWidthPx = 510, .bitmapHeightPx = 675, .spanXPx = 480, .spanYPx = 645,
                .marginPx = 15, .aspectWidth = 159, .aspectHeight = 214,
                .previewRect = {378, 75, 548, 300}, .destination = {378, 75, 170, 225}},
    .acoustic = {.onAxisLevelDb = {kKtr4OnAxisLevelDb},
                 .directivityFactor = {kKtrDirectivityFactor},
                 .balloonDb = {models_balloon_ktr}},
};

}  // namespace models

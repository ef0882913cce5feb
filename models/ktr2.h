// VESTRA KTR2: front-recess cabinet hung from a bumper, rotations in order Y-X-Z.
#pragma once

#include "models/identity.h"
#include "models/ktr_acoustics.h"
#include "models/model_definition.h"

namespace models {

inline constexpr float kKtr2OnAxisLevelDb[kBandCount] =
#if MODEL_IMPORTED_TABLES_KTR
    MODEL_IMPORTED_ON_AXIS_DB_KTR;
#else
{
    130.0f, 130.0f, 130.0f, 130.0f, 130.0f, 130.5f, 131.0f,
    131.5f, 132.0f, 132.5f, 133.0f, 133.0f, 133.0f, 133.0f,
    133.0f, 133.0f, 133.0f, 133.0f, 133.0f, 133.0f, 133.0f,
};
#endif

inline constexpr ModelDefinition kKtr2{
    .displayName = KTR2_DISPLAY_NAME,
    .manufacturer = MAKER_NAME,
    .setupMagic = 10762383u,
    .cellsCarryKind = false,
    .fewestSetupEntries = 0,
    .defaultCellCount = 4,
    .defaultKind = 0,
    .kindCount = 1,
    .kindNames = {"", "", ""},
    .shape = CabinetShape::FrontRecess,
    .cabinet = {.depthM = 0.6248f, .frontHeightM = 0.2769f, .rearHeightM = 0.2033f, .widthM = 1.1905f},
    .recess = {.mouthHalfWidthM = 0.21f, .floorHalfWidthM = 0.09f, .floorHalfHeightM = 0.1307f,
               .floorForwardM = 0.2024f},
    .notch = {},
    .meshEdgesPerCell = 15,
    .angles = {RotationOrder::YXZ, DirectionForm::PanTilt},
    .firstCell = FirstCellRule::HangsFromBumper,
    .transitionDivision = TransitionDivision::DivideBy700,
    .dialog = {.title = "Setup Brennick " KTR2_DISPLAY_NAME,
               .firstCell = {1.5f, -1.3f, 2.8f},
               .otherCells = {1.0f, 0.0f, 7.0f},
               .snapsToWholeDegree = true},
    .preview = {.bitmapWidthPx = 510, .bitmapHeightPx = 675, .spanXPx = 480, .spanYPx = 645,
                .marginPx = 15, .aspectWidth = 159, .aspectHeight = 214,
                .previewRect = {378, 75, 548, 300}, .destination = {378, 75, 170, 225}},
    // The same balloon and directivity factors as KTR4.
    .acoustic = {.onAxisLevelDb = {kKtr2OnAxisLevelDb},
                 .directivityFactor = {kKtrDirectivityFactor},
                 .balloonDb = {models_balloon_ktr}},
};

}  // namespace models

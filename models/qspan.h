// Q.SPAN: rear-notch cabinet in three kinds, cell 1 takes the array pose,
// order Z-X-Y.
#pragma once

#include "models/identity.h"
#include "models/model_definition.h"

namespace models {

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
    .angles = {geometry::RotationOrder::ZXY, geometry::DirectionForm::Polar},
    .firstCell = FirstCellRule::TakesArrayPose,
    .transitionDivision = TransitionDivision::MultiplyBySinglePrecisionReciprocal,
    .dialog = {.title = "Setup Brennick " QSPAN_DISPLAY_NAME,
               .firstCell = {1.0f, -5.0f, 5.0f},
               .otherCells = {1.0f, 0.0f, 10.0f},
               .snapsToWholeDegree = false},
    .preview = {.bitmapWidthPx = 510, .bitmapHeightPx = 672, .spanXPx = 480, .spanYPx = 642,
                .marginPx = 15, .aspectWidth = 159, .aspectHeight = 213,
                .previewRect = {441, 75, 611, 299}, .destination = {441, 75, 170, 224}},
};

}  // namespace models

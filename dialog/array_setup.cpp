#include "dialog/array_setup.h"

#include <algorithm>

#include "geometry/scalar.h"

namespace dialog {

ArraySetup::ArraySetup(const models::ModelDefinition& model) : model_(model), preview_(model) {
    fill(0, nullptr);
}

void ArraySetup::fill(int32_t cellCount, const SetupCell* cells) {
    cellCount_ = std::clamp<int32_t>(cellCount, 0, models::kCellCapacity);
    for (int32_t i = 0; i < models::kCellCapacity; ++i) {
        cells_[i] = i < cellCount_ ? cells[i] : SetupCell{model_.defaultKind, 0.0f};
    }
    updatePreview();
}

void ArraySetup::stepCount(Step step) {
    if (step == Step::Down) {
        cellCount_ = cellCount_ - 1 > kFewestCellsAfterStep ? cellCount_ - 1 : kFewestCellsAfterStep;
    } else if (cellCount_ < models::kCellCapacity) {
        ++cellCount_;
        // With no cell before it, the first cell starts like an empty slot
        // rather than copying from outside the table.
        cells_[cellCount_ - 1] =
            cellCount_ >= 2 ? cells_[cellCount_ - 2] : SetupCell{model_.defaultKind, 0.0f};
    }
    updatePreview();
}

void ArraySetup::stepSplay(int32_t n, Step step) {
    const models::SplayRule& rule = n == 1 ? model_.dialog.firstCell : model_.dialog.otherCells;
    float& splay = cells_[n - 1].splayDeg;
    if (step == Step::Down) {
        const float t = splay - rule.stepDeg;
        splay = t > rule.lowDeg ? t : rule.lowDeg;
    } else {
        const float t = splay + rule.stepDeg;
        splay = t < rule.highDeg ? t : rule.highDeg;
    }
    if (model_.dialog.snapsToWholeDegree) {
        splay = geometry::snapToWholeNumber(splay, kWholeDegreeToleranceDeg);
    }
    updatePreview();
}

void ArraySetup::stepKind(int32_t n, Step step) {
    const int32_t highest = model_.kindCount - 1;
    int32_t& kind = cells_[n - 1].kind;
    // Written so that a stored kind far outside the table neither overflows
    // nor stays outside it.
    if (step == Step::Up) {
        kind = kind < 0 ? 0 : (kind >= highest ? highest : kind + 1);
    } else {
        kind = kind > highest ? highest : (kind <= 0 ? 0 : kind - 1);
    }
    updatePreview();
}

RowView ArraySetup::row(int32_t n) const {
    RowView view;
    view.visible = n <= cellCount_;
    if (!view.visible) return view;
    const SetupCell& c = cell(n);
    view.splay = angleText(c.splayDeg, false);
    view.aim = angleText(preview_.aimDeg(n), true);
    if (model_.cellsCarryKind) {
        view.kindName = c.kind >= 0 && c.kind < model_.kindCount ? model_.kindNames[c.kind]
                                                                 : kUnknownKindName;
    }
    return view;
}

void ArraySetup::updatePreview() {
    float splays[models::kCellCapacity];
    for (int32_t i = 0; i < models::kCellCapacity; ++i) splays[i] = cells_[i].splayDeg;
    preview_.run(cellCount_, splays);
}

}  // namespace dialog

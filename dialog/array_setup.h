// The setup dialog's working copy of an instance's cells and every rule that
// changes it: the cell count steps, the splay steps with their limits and the
// whole-degree snap, the cabinet kind steps, and what each cell row shows.
// Plain logic, so that the dialog's behaviour is tested without a window.
#pragma once

#include <cstdint>

#include "dialog/angle_text.h"
#include "dialog/array_preview.h"
#include "models/model_definition.h"

namespace dialog {

struct SetupCell {
    int32_t kind = 0;  // cabinet kind; only products with kinds read or show it
    float splayDeg = 0.0f;
};

enum class Step { Down, Up };

// An up-down that every refresh resets to 0 and that keeps its default range
// reports 1 for its down arrow and 0 for its up arrow.
constexpr Step stepFromUpDownPosition(int32_t position) {
    return position == 1 ? Step::Down : Step::Up;
}

// What one cell row of the dialog shows. A hidden row's controls keep
// whatever text they last showed, so the texts only matter when visible.
struct RowView {
    bool visible = false;
    AngleText splay{};      // "1.7\xB0"
    AngleText aim{};        // "(-1.7\xB0)"
    const char* kindName = nullptr;  // products with kinds only
};

class ArraySetup {
public:
    static constexpr int32_t kFewestCellsAfterStep = 4;
    static constexpr float kWholeDegreeToleranceDeg = 0.05f;
    // Shown for a kind outside the model's table (possible only through a
    // stored setup value): the table is never indexed with it.
    static constexpr const char* kUnknownKindName = "?";

    explicit ArraySetup(const models::ModelDefinition& model);

    // Copies cells 1..cellCount (count taken within 0..16); the slots beyond
    // start at splay 0.0 and the model's default kind.
    void fill(int32_t cellCount, const SetupCell* cells);

    // Down: one fewer, but never below 4 (any count of 4 or less becomes 4).
    // Up: one more, up to 16, the new last cell a copy of the one before it;
    // a first cell after none starts at splay 0.0 and the default kind.
    void stepCount(Step step);
    // Cell n (1-based) by the model's step, held within its limits, then
    // snapped to a whole degree within 0.05 where the model does so.
    void stepSplay(int32_t n, Step step);
    // Cell n's cabinet kind by one, held within the model's kinds.
    void stepKind(int32_t n, Step step);

    int32_t cellCount() const { return cellCount_; }
    // n from 1 to 16.
    const SetupCell& cell(int32_t n) const { return cells_[n - 1]; }
    // Kept current with every change.
    const ArrayPreview& preview() const { return preview_; }
    // Row n from 1 to 16.
    RowView row(int32_t n) const;

    const models::ModelDefinition& model() const { return model_; }

private:
    void updatePreview();

    const models::ModelDefinition& model_;
    int32_t cellCount_ = 0;
    SetupCell cells_[models::kCellCapacity] = {};
    ArrayPreview preview_;
};

}  // namespace dialog

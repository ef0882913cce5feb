// What a design may choose: the values the product's setup dialog reaches,
// and the rigging's rules (splays that never shrink down the array, kinds
// from the narrowest to the widest, locked cells, a total splay, a top
// angle).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "models/model_definition.h"
#include "tools/arrayhost/design_measure.h"

namespace arrayhost {

// Tilts tried when the design chooses the tilt.
inline constexpr double kTiltStepDeg = 0.5;
// Dialog values closer than this are one value (the dialog shows both as the
// same text; stepping up and stepping down reach them by different roundings).
inline constexpr double kTwinSplayDeg = 0.01;
// A locked splay or a top angle names a dialog value by its one-decimal text.
inline constexpr double kDialogTextToleranceDeg = 0.05;

// The model a product is bound to, or nullptr for an unknown library.
const models::ModelDefinition* modelOf(const std::string& plugin);
// The same from the name the plug-in gives itself (DLLGetName).
const models::ModelDefinition* modelOfProductName(const std::string& displayName);

// Every splay the dialog reaches for cell n (1-based) by its arrows from a
// fresh cell at 0, ascending; of twins within kTwinSplayDeg the one reached
// by stepping away from 0.
std::vector<double> allowedSplaysDeg(const models::ModelDefinition& model, int n);

// An angle as the setup dialog shows it, without the degree sign: "1.7".
std::string dialogAngleText(double deg);

// Cabinet kinds from the narrowest to the widest: by their directivity
// factor from 2 to 8 kHz, highest first.
std::vector<int> kindsNarrowToWide(const models::ModelDefinition& model);

// Position in `values` of the value nearest `v`.
size_t nearestIndex(const std::vector<double>& values, double v);

class Rigging {
public:
    // `defaultKind` fills the kinds where cells carry one and the scenario
    // gives none.
    Rigging(const Scenario& scenario, const models::ModelDefinition& model, bool cellsCarryKind, int defaultKind,
            const DesignOptions& options);

    // Why the scenario's rigging limits cannot be met ("lock: ..."), or
    // empty; and the scenario key it concerns.
    const std::string& fault() const { return fault_; }
    const std::string& faultKey() const { return faultKey_; }

    // The dialog's values for each cell, from cell 1.
    const std::vector<std::vector<double>>& allowed() const { return allowed_; }
    // Cell 1's splay tilts it (the product hangs it from a bumper).
    bool firstSplayTilts() const { return firstSplayTilts_; }
    bool splayMatters(size_t cell) const { return cell > 0 || firstSplayTilts_; }
    const std::optional<double>& locked(size_t cell) const { return lockedDeg_[cell]; }
    bool movable(size_t cell) const { return splayMatters(cell) && !lockedDeg_[cell]; }
    // The kinds every baseline starts from: the scenario's, or where cells
    // carry a kind and it gives none, the plug-in's default in every cell.
    const std::vector<int>& kinds() const { return kinds_; }
    // The tilts the design may choose: the scenario's, the top angle's, or
    // every kTiltStepDeg of --tilt.
    std::vector<double> tilts() const;

    bool freeOrder() const { return options_.freeOrder; }
    // How often the splays may shrink down the array: once where the line
    // has a gap, else never.
    int reversalsAllowed() const { return reversalsAllowed_; }
    // Splays that shrink down the array, counted over the cells whose splay
    // matters.
    int reversals(const ArrayChoice& choice) const;
    bool meets(const ArrayChoice& choice) const;
    // `choice` taken into the rigging: locks and the top angle set, kinds
    // and splays raised into order, the largest splay stepped down until the
    // total fits; nothing when it cannot be.
    std::optional<ArrayChoice> rigged(ArrayChoice choice) const;
    // Each splay taken to the nearest value the dialog reaches for its cell,
    // kinds() where the choice has none, and the tilt to the nearest of
    // tilts(): an array a user could set, in the range asked for.
    ArrayChoice onDialogValues(ArrayChoice choice) const;
    // Every cell at splay 0, in kinds(), at the first tilt tried.
    ArrayChoice leastArray() const;

private:
    std::optional<ArrayChoice> rigged(ArrayChoice choice, bool withTotal) const;
    bool meets(const ArrayChoice& choice, bool withTotal) const;
    void lock(int n, double wantedDeg, const std::string& key);

    const Scenario& scenario_;
    DesignOptions options_;
    std::string fault_, faultKey_;
    bool firstSplayTilts_ = false;
    int reversalsAllowed_ = 0;
    std::vector<int> kindRank_;  // by kind: 0 the narrowest
    std::vector<std::optional<double>> lockedDeg_;  // per cell
    std::vector<int> kinds_;
    std::optional<double> fixedTiltDeg_;
    std::vector<std::vector<double>> allowed_;  // per cell
};

}  // namespace arrayhost

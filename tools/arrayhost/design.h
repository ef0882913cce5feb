// Choosing an array's splays (and, where cells carry one, their cabinet
// kinds, and if asked its tilt) for an even level along an audience line,
// from the values the product's setup dialog lets a user reach.
//
// The measure (design_measure.h), the rigging's rules (design_rigging.h) and
// the baselines (design_baselines.h) are the search's parts; this is the
// search.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/arrayhost/design_baselines.h"
#include "tools/arrayhost/design_measure.h"
#include "tools/arrayhost/design_rigging.h"

namespace arrayhost {

struct DesignResult {
    ArrayChoice start, chosen, uniform, scenario, palc;
    Evenness startEvenness, chosenEvenness, uniformEvenness, scenarioEvenness, palcEvenness;
    LevelProfile palcProfile, chosenProfile;
    // The chosen array in the two host views of the plug-in's levels: what a
    // user who checks it in a host that adds the cells that way would see.
    Evenness chosenPowerView, chosenInterfaceView;
    int seats = 0;            // audience seats, per perturbation
    int reversalJoint = -1;   // cell below the one joint whose splay shrinks, or -1
    long evaluations = 0;
    double seconds = 0;
};

class Designer {
public:
    // `session` set up with `scenario`, which holds an audience line.
    Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
             DesignOptions options);
    // Why the scenario's rigging limits cannot be met ("lock: ..."), or
    // empty; and the scenario key it concerns.
    const std::string& fault() const { return rigging_.fault(); }
    const std::string& faultKey() const { return rigging_.faultKey(); }
    Evenness evaluate(const ArrayChoice& choice, LevelProfile* profile = nullptr) {
        return measure_.evaluate(choice, profile);
    }
    DesignResult run();

    // PALC2 at a tilt (see palc2Plan), taken to the dialog's values and
    // made progressive.
    ArrayChoice palc2(double tiltDeg) const;
    Palc2Plan palc2Plan(double tiltDeg) const;
    int reversals(const ArrayChoice& choice) const { return rigging_.reversals(choice); }
    bool meetsRigging(const ArrayChoice& choice) const { return rigging_.meets(choice); }
    const Rigging& rigging() const { return rigging_; }

private:
    const Session& session_;
    const Scenario& scenario_;
    const models::ModelDefinition& model_;
    DesignOptions options_;
    Rigging rigging_;
    Measure measure_;
};

}  // namespace arrayhost

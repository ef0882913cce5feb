// Arrays a design is measured against and starts from: PALC2 and equal
// shares of the seats by angle (the search scans the uniform splays itself),
// and the geometry they rest on.
#pragma once

#include <optional>
#include <vector>

#include "models/model_definition.h"
#include "tools/arrayhost/design_measure.h"
#include "tools/arrayhost/design_rigging.h"

namespace arrayhost {

// A point in the array's vertical plane: ahead of the array position along
// its aim, and height.
struct PlanePoint {
    double aheadM = 0, heightM = 0;
};

// The cells' reference points as the layout hangs them, in the array's
// vertical plane: each cell hinged to the one above at their front edge and
// turned by its splay, its reference point half its depth behind the middle
// of its front face. `aimsDeg` are the cells' depressions (down positive),
// cell 1 first; `tiltDeg` the array's second angle. Cells after the first
// whose aim is not yet known may be left out: the chain stops there.
std::vector<PlanePoint> chainedCellPositions(const models::ModelDefinition& model, const Scenario& scenario,
                                             double tiltDeg, const std::vector<double>& aimsDeg);

// PALC2: every cell a point source at its place in the chain, covering an
// equal length of the audience line (its aperture angle times its distance
// along its aim the same for every cell), the top cell at the array's tilt
// (where cell 1's splay tilts it, its upper edge at the farthest seat), each
// next cell's upper edge at the lower edge of the cell above, past any gap of
// the line, and the bottom cell's lower edge at the nearest seat.
struct Palc2Plan {
    std::vector<double> aimsDeg;        // depressions, down positive
    std::vector<double> aperturesDeg;   // each cell's coverage angle, centred on its aim
    std::vector<double> upperEdgesDeg;  // the depression of each coverage's upper edge
    std::vector<double> distancesM;     // from each source along its aim to the line
    std::vector<PlanePoint> sources;
    double apertureTimesDistance = 0;   // radians times metres
};
Palc2Plan palc2Plan(const models::ModelDefinition& model, const Scenario& scenario, const Rigging& rigging,
                    double tiltDeg);

// The dialog's splays whose aims come nearest wanted aims (depressions,
// degrees, cell 1 first) within the rigging's order, locks and total: the
// least sum of squared aim errors, each aim the sum of the splays above it,
// so that the rounding of one splay is carried down to every cell below.
std::vector<double> dialogSplaysForAims(const std::vector<double>& aimsDeg, double tiltDeg, const Rigging& rigging,
                                        std::optional<double> maxTotalSplayDeg);

// The splays that give each cell its wanted aim (depression, degrees, top
// cell first), each taken to the nearest value the dialog allows with the
// rounding carried on to the next cell.
std::vector<double> splaysForAims(const std::vector<double>& aimsDeg, double tiltDeg, bool firstSplayTilts,
                                  const std::vector<std::vector<double>>& allowed);

// Each cell aims at the middle of an equal share of the seats by angle,
// counted from the farthest (the top cell) to the nearest (the bottom cell).
ArrayChoice equalShares(const Scenario& scenario, const Rigging& rigging, const std::vector<Measure::LineSeat>& line,
                        double tiltDeg);

// PALC2's aims on the dialog's values (dialogSplaysForAims), taken into the
// rigging.
ArrayChoice palc2(const models::ModelDefinition& model, const Scenario& scenario, const Rigging& rigging,
                  double tiltDeg);

}  // namespace arrayhost

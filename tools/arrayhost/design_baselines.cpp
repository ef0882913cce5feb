#include "tools/arrayhost/design_baselines.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
// PALC2's search for aperture times distance: bisection steps between the
// bounds (radians times metres), and fixed-point steps for one cell's aim,
// whose source moves as it turns about its hinge.
constexpr double kLeastApertureTimesDistance = 1e-4, kMostApertureTimesDistance = 1e3;
constexpr int kBisectionSteps = 64, kMostAimSteps = 40;
constexpr double kAimConvergedRad = 1e-12;
// The rounding to the dialog's values looks no further from a wanted aim.
constexpr double kFarthestAimErrorDeg = 10.0;

// In the vertical plane, depression angles (down positive) in radians.
PlanePoint along(const PlanePoint& p, double depressionRad, double lengthM) {
    return {p.aheadM + lengthM * std::cos(depressionRad), p.heightM - lengthM * std::sin(depressionRad)};
}
// The cell's own "down": its aim turned 90 degrees down.
PlanePoint downFrom(const PlanePoint& p, double depressionRad, double lengthM) {
    return along(p, depressionRad + kPi / 2, lengthM);
}

struct Hinge {
    double halfDepthM, halfFrontHeightM;
    // From a cell's reference point to the pivot below it: forward to the
    // front face, then down half the front height.
    PlanePoint pivotBelow(const PlanePoint& reference, double aimRad) const {
        return downFrom(along(reference, aimRad, halfDepthM), aimRad, halfFrontHeightM);
    }
    // From the pivot above a cell to its reference point.
    PlanePoint referenceBelow(const PlanePoint& pivot, double aimRad) const {
        return along(downFrom(pivot, aimRad, halfFrontHeightM), aimRad, -halfDepthM);
    }
};

Hinge hingeOf(const models::ModelDefinition& model) {
    return {double(model.cabinet.depthM) / 2, double(model.cabinet.frontHeightM) / 2};
}

// The audience line as the sources see it: the corners of its segments in
// the vertical plane. Along a straight piece the direction from a source
// turns one way only, so the farthest and nearest seats, and the edges of a
// gap, are corners.
class PlaneLine {
public:
    explicit PlaneLine(const Scenario& scenario) {
        for (size_t segment = 0; segment < scenario.audienceLine->segments.size(); ++segment) {
            for (const Vec3& point : scenario.audienceLine->segments[segment]) {
                points_.push_back({aheadOfArrayM(scenario, point), point.z});
                segments_.push_back(int(segment));
            }
        }
    }

    static double depression(const PlanePoint& from, const PlanePoint& to) {
        return std::atan2(from.heightM - to.heightM, to.aheadM - from.aheadM);
    }
    // Distance from `source` along the ray at `aimRad` to its nearest
    // crossing of a piece of the line, each piece taken `slack` of its
    // length longer at both ends; HUGE_VAL where it crosses none.
    double nearestCrossing(const PlanePoint& source, double aimRad, double slack) const {
        const double dx = std::cos(aimRad), dz = -std::sin(aimRad);
        double best = HUGE_VAL;
        for (size_t i = 1; i < points_.size(); ++i) {
            if (segments_[i] != segments_[i - 1]) continue;
            const PlanePoint &a = points_[i - 1], &b = points_[i];
            const double ex = b.aheadM - a.aheadM, ez = b.heightM - a.heightM;
            const double det = ex * dz - ez * dx;
            if (det == 0) continue;
            const double wx = a.aheadM - source.aheadM, wz = a.heightM - source.heightM;
            const double t = (ex * wz - ez * wx) / det;  // along the ray
            const double s = (dx * wz - dz * wx) / det;  // along the piece
            if (t > 0 && s >= -slack && s <= 1 + slack) best = std::min(best, t);
        }
        return best;
    }
    // Distance from `source` along the ray at `aimRad` to the nearest
    // crossing of the line; where the ray crosses none (a gap, past an end),
    // the distance of the seat nearest that direction.
    double distanceAlong(const PlanePoint& source, double aimRad) const {
        double best = nearestCrossing(source, aimRad, 0.0);
        if (best < HUGE_VAL) return best;
        double nearest = HUGE_VAL;
        for (const PlanePoint& p : points_) {
            const double off = std::fabs(depression(source, p) - aimRad);
            if (off < nearest) nearest = off, best = std::hypot(p.aheadM - source.aheadM, p.heightM - source.heightM);
        }
        return best;
    }
    bool meetsSeats(const PlanePoint& source, double aimRad) const {
        return nearestCrossing(source, aimRad, 1e-9) < HUGE_VAL;
    }
    // Where an upper edge falls in a gap between segments: the next
    // direction down that meets seats (a hard margin); above the farthest
    // seat, the farthest seat.
    double pastGap(const PlanePoint& source, double edgeRad) const {
        if (meetsSeats(source, edgeRad)) return edgeRad;
        double next = HUGE_VAL, highest = HUGE_VAL;
        for (const PlanePoint& p : points_) {
            const double angle = depression(source, p);
            highest = std::min(highest, angle);
            if (angle > edgeRad) next = std::min(next, angle);
        }
        if (edgeRad < highest) return highest;
        return next < HUGE_VAL ? next : edgeRad;
    }
    double farthest(const PlanePoint& source) const {
        double angle = HUGE_VAL;
        for (const PlanePoint& p : points_) angle = std::min(angle, depression(source, p));
        return angle;
    }
    double nearest(const PlanePoint& source) const {
        double angle = -HUGE_VAL;
        for (const PlanePoint& p : points_) angle = std::max(angle, depression(source, p));
        return angle;
    }

private:
    std::vector<PlanePoint> points_;
    std::vector<int> segments_;
};

}  // namespace

std::vector<PlanePoint> chainedCellPositions(const models::ModelDefinition& model, const Scenario& scenario,
                                             double tiltDeg, const std::vector<double>& aimsDeg) {
    const Hinge hinge = hingeOf(model);
    const PlanePoint array{0, scenario.arrayPositionM.z};
    const double arrayAimRad = -tiltDeg / kDegreesPerRadian;
    std::vector<PlanePoint> out;
    if (model.firstCell == models::FirstCellRule::HangsFromBumper) {
        // The bumper pivot: where cell 1's front top edge would be at the
        // array pose.
        PlanePoint pivot = downFrom(along(array, arrayAimRad, hinge.halfDepthM), arrayAimRad, -hinge.halfFrontHeightM);
        for (double aimDeg : aimsDeg) {
            const double aim = aimDeg / kDegreesPerRadian;
            out.push_back(hinge.referenceBelow(pivot, aim));
            pivot = hinge.pivotBelow(out.back(), aim);
        }
        return out;
    }
    for (size_t k = 0; k < aimsDeg.size(); ++k) {
        if (k == 0) {
            out.push_back(array);
            continue;
        }
        const PlanePoint pivot = hinge.pivotBelow(out.back(), aimsDeg[k - 1] / kDegreesPerRadian);
        out.push_back(hinge.referenceBelow(pivot, aimsDeg[k] / kDegreesPerRadian));
    }
    return out;
}

Palc2Plan palc2Plan(const models::ModelDefinition& model, const Scenario& scenario, const Rigging& rigging,
                    double tiltDeg) {
    const int cells = scenario.cellCount();
    const Hinge hinge = hingeOf(model);
    const PlaneLine audience(scenario);
    const bool bumper = rigging.firstSplayTilts();
    const bool topFixed = !bumper || rigging.locked(0).has_value();
    const double arrayAimRad = -tiltDeg / kDegreesPerRadian;
    const double topAimRad = arrayAimRad + (bumper && rigging.locked(0) ? *rigging.locked(0) / kDegreesPerRadian : 0);
    const PlanePoint array{0, scenario.arrayPositionM.z};
    const PlanePoint bumperPivot =
        downFrom(along(array, arrayAimRad, hinge.halfDepthM), arrayAimRad, -hinge.halfFrontHeightM);

    Palc2Plan plan;
    auto cover = [&](double k) {
        plan = Palc2Plan{};
        plan.apertureTimesDistance = k;
        PlanePoint pivot = bumperPivot;
        double lowerRad = 0;
        for (int i = 0; i < cells; ++i) {
            // Where cell i sits when it aims at `aim`: below the pivot of the
            // cell above (or the bumper), except a cell 1 at the array pose.
            auto sourceAt = [&](double aim) { return i == 0 && !bumper ? array : hinge.referenceBelow(pivot, aim); };
            double aim, aperture, upper;
            if (i == 0 && topFixed) {
                aim = topAimRad;
                aperture = k / audience.distanceAlong(sourceAt(aim), aim);
                upper = aim - aperture / 2;
            } else {
                const PlanePoint guess = sourceAt(i == 0 ? arrayAimRad : lowerRad);
                upper = i == 0 ? audience.farthest(guess) : audience.pastGap(guess, lowerRad);
                aperture = k / audience.distanceAlong(guess, upper);
                aim = upper + aperture / 2;
                for (int step = 0; step < kMostAimSteps; ++step) {
                    // The edge as the cell sees it from where it now hangs.
                    const PlanePoint source = sourceAt(aim);
                    upper = i == 0 ? audience.farthest(source) : audience.pastGap(source, lowerRad);
                    aperture = k / audience.distanceAlong(source, aim);
                    const double next = upper + aperture / 2;
                    const bool converged = std::fabs(next - aim) < kAimConvergedRad;
                    aim = next;
                    if (converged) break;
                }
            }
            const PlanePoint source = sourceAt(aim);
            lowerRad = upper + aperture;
            plan.aimsDeg.push_back(aim * kDegreesPerRadian);
            plan.aperturesDeg.push_back(aperture * kDegreesPerRadian);
            plan.upperEdgesDeg.push_back(upper * kDegreesPerRadian);
            plan.distancesM.push_back(k / aperture);
            plan.sources.push_back(source);
            pivot = hinge.pivotBelow(source, aim);
        }
        return lowerRad - audience.nearest(plan.sources.back());
    };
    double low = kLeastApertureTimesDistance, high = kMostApertureTimesDistance;
    for (int step = 0; step < kBisectionSteps; ++step) {
        const double k = std::sqrt(low * high);
        (cover(k) < 0 ? low : high) = k;
    }
    cover(std::sqrt(low * high));
    return plan;
}

std::vector<double> dialogSplaysForAims(const std::vector<double>& aimsDeg, double tiltDeg, const Rigging& rigging,
                                        std::optional<double> maxTotalSplayDeg) {
    // Dynamic programming down the array. A state is a cell's splay, the aim
    // it reaches (the sum of the splays so far), the total of the splays of
    // cells 2 on (which the limit bounds) and whether the one shrinking joint
    // a gap allows is spent; of the ways to one state the cheapest is kept.
    // Aims far from the wanted ones are left out, and the window widens
    // until some array gets through.
    struct State {
        double splayDeg, aimDeg, totalDeg, cost;
        int shrunk;
        long from;  // index of the state above, -1 for cell 1
    };
    const size_t cells = aimsDeg.size();
    auto valuesFor = [&](size_t i) {
        if (rigging.locked(i)) return std::vector<double>{*rigging.locked(i)};
        if (!rigging.splayMatters(i)) return std::vector<double>{0.0};
        return rigging.allowed()[i];
    };
    const double limitDeg = maxTotalSplayDeg.value_or(HUGE_VAL) + 1e-9;
    for (double windowDeg = kFarthestAimErrorDeg; windowDeg < 1e4; windowDeg *= 4) {
        std::vector<std::vector<State>> layers(cells);
        for (double v : valuesFor(0)) {
            const double aim = -tiltDeg + (rigging.splayMatters(0) ? v : 0.0);
            layers[0].push_back({v, aim, 0.0, (aim - aimsDeg[0]) * (aim - aimsDeg[0]), 0, -1});
        }
        for (size_t i = 1; i < cells; ++i) {
            std::map<std::tuple<double, long long, long long, int>, size_t> seen;
            const std::vector<State>& above = layers[i - 1];
            for (size_t a = 0; a < above.size(); ++a) {
                for (double v : valuesFor(i)) {
                    int shrunk = above[a].shrunk;
                    if (!rigging.freeOrder() && i >= 2 && v < above[a].splayDeg) {
                        if (++shrunk > rigging.reversalsAllowed()) continue;
                    }
                    const double aim = above[a].aimDeg + v, total = above[a].totalDeg + v;
                    // An aim this far off cannot lie on the best way: every
                    // splay below would have to make up for it.
                    if (std::fabs(aim - aimsDeg[i]) > windowDeg || total > limitDeg) continue;
                    const double cost = above[a].cost + (aim - aimsDeg[i]) * (aim - aimsDeg[i]);
                    const auto key = std::make_tuple(v, std::llround(aim * 1e6), std::llround(total * 1e6), shrunk);
                    const auto it = seen.find(key);
                    if (it == seen.end()) {
                        seen[key] = layers[i].size();
                        layers[i].push_back({v, aim, total, cost, shrunk, long(a)});
                    } else if (cost < layers[i][it->second].cost) {
                        layers[i][it->second] = {v, aim, total, cost, shrunk, long(a)};
                    }
                }
            }
        }
        if (layers.back().empty()) continue;
        long best = 0;
        for (size_t s = 1; s < layers.back().size(); ++s) {
            if (layers.back()[s].cost < layers.back()[size_t(best)].cost) best = long(s);
        }
        std::vector<double> splays(cells, 0.0);
        for (long at = best, i = long(cells) - 1; i >= 0; at = layers[size_t(i)][size_t(at)].from, --i) {
            splays[size_t(i)] = layers[size_t(i)][size_t(at)].splayDeg;
        }
        return splays;
    }
    // No array of the dialog's values meets the rigging: the nearest values,
    // which the rigging then refuses.
    return splaysForAims(aimsDeg, tiltDeg, rigging.firstSplayTilts(), rigging.allowed());
}

std::vector<double> splaysForAims(const std::vector<double>& aimsDeg, double tiltDeg, bool firstSplayTilts,
                                  const std::vector<std::vector<double>>& allowed) {
    std::vector<double> splays;
    double aimDownDeg = -tiltDeg;
    for (size_t i = 0; i < aimsDeg.size(); ++i) {
        double splay = 0;
        if (i > 0 || firstSplayTilts) {
            splay = allowed[i][nearestIndex(allowed[i], aimsDeg[i] - aimDownDeg)];
            aimDownDeg += splay;
        }
        splays.push_back(splay);
    }
    return splays;
}

ArrayChoice equalShares(const Scenario& scenario, const Rigging& rigging, const std::vector<Measure::LineSeat>& line,
                        double tiltDeg) {
    std::vector<double> depressionsDeg;
    for (const Measure::LineSeat& seat : line) {
        depressionsDeg.push_back(std::atan2(scenario.arrayPositionM.z - seat.seatM.z, aheadOfArrayM(scenario, seat.seatM)) *
                                 kDegreesPerRadian);
    }
    std::sort(depressionsDeg.begin(), depressionsDeg.end());
    const int cells = scenario.cellCount();
    std::vector<double> aims;
    for (int n = 1; n <= cells; ++n) aims.push_back(percentile(depressionsDeg, (n - 0.5) / cells));
    ArrayChoice choice;
    choice.kinds = rigging.kinds();
    choice.tiltDeg = tiltDeg;
    choice.splaysDeg = splaysForAims(aims, tiltDeg, rigging.firstSplayTilts(), rigging.allowed());
    return choice;
}

ArrayChoice palc2(const models::ModelDefinition& model, const Scenario& scenario, const Rigging& rigging,
                  double tiltDeg) {
    const Palc2Plan plan = palc2Plan(model, scenario, rigging, tiltDeg);
    ArrayChoice choice;
    choice.tiltDeg = tiltDeg;
    choice.kinds = rigging.kinds();
    choice.splaysDeg = dialogSplaysForAims(plan.aimsDeg, tiltDeg, rigging, scenario.maxTotalSplayDeg);
    return rigging.rigged(choice).value_or(choice);
}

}  // namespace arrayhost

#include "tools/arrayhost/design.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <map>
#include <random>

#include "tools/arrayhost/progress.h"

namespace arrayhost {

namespace {

constexpr int kMostSearchPasses = 6;
constexpr double kGiveUpAboveBestDb = 5.0;
// The tilts a baseline is first measured at, when the design chooses the
// tilt: every eighth (4 degrees apart).
constexpr size_t kCoarseTiltStride = 8;
constexpr int kKicks = 30;
constexpr uint32_t kKickSeed = 20261208;

}  // namespace

Designer::Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                   DesignOptions options)
    : session_(session),
      scenario_(scenario),
      model_(model),
      options_(options),
      rigging_(scenario, model, session.blobFormat().cellsCarryKind, session.blobFormat().defaultKind, options),
      measure_(session, scenario, options) {}

ArrayChoice Designer::palc2(double tiltDeg) const {
    return arrayhost::palc2(model_, scenario_, rigging_, tiltDeg);
}

Palc2Plan Designer::palc2Plan(double tiltDeg) const {
    return arrayhost::palc2Plan(model_, scenario_, rigging_, tiltDeg);
}

DesignResult Designer::run() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const long evaluationsBefore = measure_.evaluations();
    DesignResult result;
    result.seats = int(measure_.audienceSeats());
    const int cells = scenario_.cellCount();
    const bool withKinds = session_.blobFormat().cellsCarryKind;
    const std::vector<double> tiltValues = rigging_.tilts();
    const std::vector<Measure::LineSeat> line = measure_.centreLine();

    // Position of a value in a sorted list of them.
    auto indexOf = [](const std::vector<double>& values, double v) {
        return long(std::lower_bound(values.begin(), values.end(), v) - values.begin());
    };
    // Every array the search looks at is measured once.
    std::map<std::vector<double>, Evenness> known;
    auto score = [&](const ArrayChoice& choice) {
        std::vector<double> key = choice.splaysDeg;
        for (int kind : choice.kinds) key.push_back(kind);
        key.push_back(choice.tiltDeg);
        const auto it = known.find(key);
        if (it != known.end()) return it->second;
        return known[key] = measure_.evaluate(choice);
    };

    result.scenario = {scenario_.splaysDeg, scenario_.kinds, scenario_.arrayAnglesDeg.y};
    result.scenarioEvenness = score(result.scenario);

    // The baselines, each at its best tilt when the tilt is the design's to
    // choose: at every few tilts first (`stride`), then either side of the
    // best of those at half the step, a quarter, down to one tilt step.
    auto atBestTilt = [&](size_t stride, bool refine, auto&& arrayAt, ArrayChoice& chosen, Evenness& evenness) {
        std::vector<bool> tried(tiltValues.size(), false);
        // Refining a baseline already scanned: around its best tilt.
        size_t bestIndex = chosen.splaysDeg.empty() ? 0 : size_t(indexOf(tiltValues, chosen.tiltDeg));
        auto tryTilt = [&](size_t t) {
            if (tried[t]) return;
            tried[t] = true;
            Evenness e;
            const ArrayChoice choice = arrayAt(tiltValues[t], e);
            if (chosen.splaysDeg.empty() || e.objectiveDb < evenness.objectiveDb) {
                chosen = choice, evenness = e, bestIndex = t;
            }
        };
        for (size_t t = 0; t < tiltValues.size(); t += stride) tryTilt(t);
        tryTilt(tiltValues.size() - 1);
        // Then halving the step around the best so far.
        for (size_t step = stride / 2; refine && step >= 1; step /= 2) {
            const size_t at = bestIndex;
            if (at >= step) tryTilt(at - step);
            if (at + step < tiltValues.size()) tryTilt(at + step);
        }
    };
    // The best uniform splay: every value of the dialog at the coarsest
    // tilts, then the best of them at every tilt near its best.
    const auto& others = rigging_.allowed().size() > 1 ? rigging_.allowed()[1] : rigging_.allowed()[0];
    auto uniformAt = [&](double splay) {
        return [&, splay](double tilt, Evenness& e) {
            ArrayChoice uniform{std::vector<double>(size_t(cells), splay), rigging_.kinds(), tilt};
            uniform.splaysDeg[0] = 0;
            // Where the rigging takes no uniform array, the array at 0.
            const ArrayChoice fitting =
                rigging_.rigged(uniform).value_or(ArrayChoice{std::vector<double>(size_t(cells), 0.0), rigging_.kinds(), tilt});
            e = score(fitting);
            return fitting;
        };
    };
    double bestSplay = others.front();
    for (double splay : others) {
        ArrayChoice best;
        Evenness bestEvenness;
        atBestTilt(kCoarseTiltStride, false, uniformAt(splay), best, bestEvenness);
        if (result.uniform.splaysDeg.empty() || bestEvenness.objectiveDb < result.uniformEvenness.objectiveDb) {
            result.uniform = best, result.uniformEvenness = bestEvenness, bestSplay = splay;
        }
    }
    atBestTilt(kCoarseTiltStride, true, uniformAt(bestSplay), result.uniform, result.uniformEvenness);
    atBestTilt(
        kCoarseTiltStride, true,
        [&](double tilt, Evenness& e) {
            const ArrayChoice palc = palc2(tilt);
            e = score(palc);
            return palc;
        },
        result.palc, result.palcEvenness);
    atBestTilt(
        kCoarseTiltStride, true,
        [&](double tilt, Evenness& e) {
            std::optional<ArrayChoice> start = rigging_.rigged(equalShares(scenario_, rigging_, line, tilt));
            if (!start) start = palc2(tilt);
            e = score(*start);
            return *start;
        },
        result.start, result.startEvenness);

    // The search descends from every baseline that meets the rigging, the
    // scenario's own array taken into it among them (the landscape has many
    // valleys, and which one a start leads into differs), or failing all,
    // from the least array that does; then kicks the best.
    std::vector<ArrayChoice> starts;
    for (const ArrayChoice* choice : {&result.palc, &result.start, &result.uniform}) {
        if (rigging_.meets(*choice)) starts.push_back(*choice);
    }
    if (std::optional<ArrayChoice> own = rigging_.rigged(rigging_.onDialogValues(result.scenario))) {
        starts.push_back(*own);
    }
    if (starts.empty()) starts.push_back(rigging_.rigged(rigging_.leastArray()).value_or(rigging_.leastArray()));
    // The most promising first: its valley then tells how far a later start
    // may stray before it gives up.
    std::stable_sort(starts.begin(), starts.end(), [&](const ArrayChoice& a, const ArrayChoice& b) {
        return score(a).objectiveDb < score(b).objectiveDb;
    });
    ArrayChoice best;
    Evenness bestEvenness;
    bestEvenness.objectiveDb = HUGE_VAL;

    // Coordinate descent: one cell at a time, every value it may take; each
    // pair of neighbours turned one step in opposite directions, which moves
    // one cell's aim and leaves the cells below it where they were; every
    // cell from one down turned a step, which bends the array's curve there;
    // then the kinds and the tilt; passes until none improves. Only arrays
    // that meet the rigging (progressive unless --free-order, locks, the
    // total) are tried. A trial is kept only when strictly better, so the
    // order decides ties and the result never falls below where it started.
    const auto& allowed = rigging_.allowed();
    auto movable = [&](size_t i) { return rigging_.movable(i); };
    // A descent gives up after a pass that leaves it more than
    // kGiveUpAboveBestDb above `bestSoFar`: it is in a valley of its own that
    // the rest of the descent is unlikely to leave.
    auto descend = [&](ArrayChoice& current, Evenness& currentEvenness, double bestSoFar, long stopAt) {
        bool improved = false;
        auto keepIfBetter = [&](const ArrayChoice& trial) {
            if (!rigging_.meets(trial)) return;
            const Evenness e = score(trial);
            if (e.objectiveDb < currentEvenness.objectiveDb) {
                current = trial;
                currentEvenness = e;
                improved = true;
            }
        };
        auto stepped = [&](ArrayChoice& trial, size_t i, long step) {
            const long to = indexOf(allowed[i], trial.splaysDeg[i]) + step;
            if (to < 0 || to >= long(allowed[i].size())) return false;
            trial.splaysDeg[i] = allowed[i][size_t(to)];
            return true;
        };
        for (int pass = 0; pass < kMostSearchPasses; ++pass) {
            improved = false;
            for (size_t i = 0; i < size_t(cells); ++i) {
                for (long step : {-1L, 1L, -2L, 2L}) {
                    if (!movable(i)) break;
                    ArrayChoice trial = current;
                    if (stepped(trial, i, step)) keepIfBetter(trial);
                }
                for (long step : {-1L, 1L}) {
                    if (!movable(i) || i + 1 == size_t(cells) || !movable(i + 1)) break;
                    ArrayChoice trial = current;
                    if (stepped(trial, i, step) && stepped(trial, i + 1, -step)) keepIfBetter(trial);
                }
                for (long step : {-1L, 1L}) {
                    if (!movable(i) || i + 1 == size_t(cells)) break;
                    ArrayChoice trial = current;
                    bool any = false;
                    for (size_t k = i; k < size_t(cells); ++k) any = (movable(k) && stepped(trial, k, step)) || any;
                    if (any) keepIfBetter(trial);
                }
                for (int kind = 0; withKinds && kind < model_.kindCount; ++kind) {
                    if (kind == current.kinds[i]) continue;
                    ArrayChoice trial = current;
                    trial.kinds[i] = kind;
                    keepIfBetter(trial);
                }
            }
            // The tilt a few steps either way, near and farther.
            const long at = indexOf(tiltValues, current.tiltDeg);
            for (long step : {-1L, 1L, -2L, 2L, -4L, 4L, -8L, 8L}) {
                if (tiltValues.size() < 2 || at + step < 0 || at + step >= long(tiltValues.size())) continue;
                ArrayChoice trial = current;
                trial.tiltDeg = tiltValues[size_t(at + step)];
                keepIfBetter(trial);
            }
            if (!improved || currentEvenness.objectiveDb > bestSoFar + kGiveUpAboveBestDb) break;
            if (measure_.evaluations() >= stopAt) break;
        }
    };

    // Then kicks from the best so far: a few cells moved a step or two at
    // random (a fixed sequence, so the design is the same every run), taken
    // back within the rigging, and the descent again; a better result
    // becomes the new best. The number of kicks is bounded by the responses
    // they may ask for, which keeps large designs in time.
    std::unique_ptr<ProgressBar> progress;
    if (options_.showProgress) progress = std::make_unique<ProgressBar>(kKicks + 1);
    for (ArrayChoice start : starts) {
        Evenness startEvenness = score(start);
        descend(start, startEvenness, bestEvenness.objectiveDb, LONG_MAX);
        // The first start is kept even when no evaluation was worth anything.
        if (best.splaysDeg.empty() || startEvenness.objectiveDb < bestEvenness.objectiveDb) {
            best = start;
            bestEvenness = startEvenness;
        }
    }
    if (progress) progress->update(1);
    std::mt19937 random(kKickSeed);
    auto draw = [&](uint32_t below) { return long(random() % below); };
    const long budget =
        measure_.evaluations() + long(options_.kickResponseBudget / double(measure_.responsesPerEvaluation()));
    for (int kick = 0; kick < kKicks && measure_.evaluations() < budget; ++kick) {
        ArrayChoice trial = best;
        const int moved = 2 + int(draw(3));
        const int firstMovable = rigging_.firstSplayTilts() ? 0 : 1;
        for (int m = 0; m < moved && firstMovable < cells; ++m) {
            const size_t i = size_t(firstMovable + draw(uint32_t(cells - firstMovable)));
            const long size = long(allowed[i].size());
            const long step = (draw(2) == 0 ? -1 : 1) * (1 + draw(2));
            const long to = std::clamp(indexOf(allowed[i], trial.splaysDeg[i]) + step, 0L, size - 1);
            trial.splaysDeg[i] = allowed[i][size_t(to)];
            if (withKinds && draw(4) == 0) trial.kinds[i] = int(draw(uint32_t(model_.kindCount)));
        }
        if (progress) progress->update(kick + 2);
        const std::optional<ArrayChoice> fitting = rigging_.rigged(trial);
        if (!fitting) continue;
        trial = *fitting;
        Evenness trialEvenness = score(trial);
        descend(trial, trialEvenness, bestEvenness.objectiveDb, budget);
        if (trialEvenness.objectiveDb < bestEvenness.objectiveDb) {
            best = trial;
            bestEvenness = trialEvenness;
        }
    }
    if (progress) progress->finish();
    result.chosen = best;
    result.chosenEvenness = measure_.evaluate(best, &result.chosenProfile);
    measure_.evaluate(result.palc, &result.palcProfile);
    // The chosen array as a host that adds the plug-in's levels as they
    // stand would show it.
    for (const auto& [sum, view] : {std::pair{CellSum::Power, &result.chosenPowerView},
                                    std::pair{CellSum::InterfaceCoherent, &result.chosenInterfaceView}}) {
        DesignOptions hostView = options_;
        hostView.sum = sum;
        hostView.showProgress = false;
        *view = Measure(session_, scenario_, hostView).evaluate(best);
    }
    for (size_t i = 2; i < best.splaysDeg.size(); ++i) {
        if (best.splaysDeg[i] < best.splaysDeg[i - 1]) result.reversalJoint = int(i);
    }
    result.evaluations = measure_.evaluations() - evaluationsBefore;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // Leave the instance holding the chosen array.
    session_.applyCells(best.splaysDeg, best.kinds);
    session_.aimArray({scenario_.arrayAnglesDeg.x, best.tiltDeg, scenario_.arrayAnglesDeg.z});
    return result;
}

}  // namespace arrayhost

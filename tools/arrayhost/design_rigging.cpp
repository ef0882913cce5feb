#include "tools/arrayhost/design_rigging.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <set>

#include "dialog/angle_text.h"
#include "dialog/array_setup.h"
#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
#include "tools/host/product.h"

namespace arrayhost {

namespace {

// The arrows of a dialog reach finitely many values; past this the rules
// would be producing a continuum, which no dialog does.
constexpr size_t kMostAllowedSplays = 1024;
// Where the kinds differ: their directivity from 2 to 8 kHz.
constexpr int kNarrowingFirstBand = 13, kNarrowingLastBand = 19;

}  // namespace

const models::ModelDefinition* modelOf(const std::string& plugin) {
    const host::Product* product = host::findProduct(plugin);
    const std::string name = product != nullptr ? plugin : std::string();
    if (name == "ktr2") return &models::kKtr2;
    if (name == "ktr4") return &models::kKtr4;
    if (name == "qspan") return &models::kQspan;
    return nullptr;
}

const models::ModelDefinition* modelOfProductName(const std::string& displayName) {
    for (const host::Product& product : host::everyProduct())
        if (displayName == product.displayName) return modelOf(product.library);
    return nullptr;
}

std::vector<double> allowedSplaysDeg(const models::ModelDefinition& model, int n) {
    dialog::ArraySetup setup(model);
    std::vector<dialog::SetupCell> cells(size_t(n), dialog::SetupCell{model.defaultKind, 0.0f});
    auto stepped = [&](float from, dialog::Step step) {
        cells[size_t(n - 1)].splayDeg = from;
        setup.fill(n, cells.data());
        setup.stepSplay(n, step);
        return setup.cell(n).splayDeg;
    };
    std::set<float> seen{0.0f};
    std::deque<float> queue{0.0f};
    while (!queue.empty() && seen.size() < kMostAllowedSplays) {
        const float from = queue.front();
        queue.pop_front();
        for (dialog::Step step : {dialog::Step::Down, dialog::Step::Up}) {
            const float to = stepped(from, step);
            if (seen.insert(to).second) queue.push_back(to);
        }
    }
    // The values a user meets pressing one arrow from 0, up and down: of a
    // pair of twins, the one to keep.
    std::set<float> walked{0.0f};
    for (dialog::Step step : {dialog::Step::Down, dialog::Step::Up}) {
        for (float at = 0.0f; walked.size() < kMostAllowedSplays;) {
            const float next = stepped(at, step);
            if (next == at || !walked.insert(next).second) break;
            at = next;
        }
    }
    std::vector<double> out;
    for (auto it = seen.begin(); it != seen.end();) {
        // A run of values each within kTwinSplayDeg of the one before.
        auto end = std::next(it);
        while (end != seen.end() && double(*end) - double(*std::prev(end)) <= kTwinSplayDeg) ++end;
        float keep = *it;
        for (auto twin = it; twin != end; ++twin) {
            if (walked.count(*twin) != 0) {
                keep = *twin;
                break;
            }
        }
        out.push_back(keep);
        it = end;
    }
    return out;
}

std::string dialogAngleText(double deg) {
    std::string text = dialog::angleText(float(deg), false).text;
    if (!text.empty() && text.back() == '\xB0') text.pop_back();
    return text;
}

std::vector<int> kindsNarrowToWide(const models::ModelDefinition& model) {
    std::vector<int> kinds;
    std::vector<double> meanQ;
    for (int kind = 0; kind < std::max(model.kindCount, 1); ++kind) {
        kinds.push_back(kind);
        double sum = 0;
        for (int band = kNarrowingFirstBand; band <= kNarrowingLastBand; ++band) {
            sum += double(model.acoustic.directivityFactor[kind][band]);
        }
        meanQ.push_back(sum);
    }
    std::stable_sort(kinds.begin(), kinds.end(), [&](int a, int b) { return meanQ[size_t(a)] > meanQ[size_t(b)]; });
    return kinds;
}

size_t nearestIndex(const std::vector<double>& values, double v) {
    size_t best = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        if (std::fabs(values[i] - v) < std::fabs(values[best] - v)) best = i;
    }
    return best;
}

Rigging::Rigging(const Scenario& scenario, const models::ModelDefinition& model, bool cellsCarryKind,
                 int defaultKind, const DesignOptions& options)
    : scenario_(scenario),
      options_(options),
      firstSplayTilts_(model.firstCell == models::FirstCellRule::HangsFromBumper) {
    const int cells = scenario.cellCount();
    reversalsAllowed_ = scenario.audienceLine->segments.size() > 1 ? 1 : 0;
    kinds_ = scenario.kinds;
    if (cellsCarryKind && kinds_.empty()) kinds_.assign(size_t(cells), defaultKind);
    const std::vector<int> order = kindsNarrowToWide(model);
    kindRank_.assign(order.size(), 0);
    for (size_t rank = 0; rank < order.size(); ++rank) kindRank_[size_t(order[rank])] = int(rank);
    for (int n = 1; n <= cells; ++n) allowed_.push_back(allowedSplaysDeg(model, n));

    // Locked cells, a top angle, the most the splays may add up to.
    lockedDeg_.assign(size_t(cells), std::nullopt);
    for (const auto& [cell, splay] : scenario.locks) lock(cell, splay, "lock");
    if (scenario.topAngleDeg) {
        if (options_.tiltRangeDeg) {
            faultKey_ = "top_angle";
            fault_ = "top_angle fixes the top cell's aim, so the tilt is not the design's to choose: leave out --tilt";
        } else if (firstSplayTilts_) {
            // Cell 1 aims at the tilt less its own splay.
            lock(1, scenario.arrayAnglesDeg.y - *scenario.topAngleDeg, "top_angle");
        } else {
            fixedTiltDeg_ = *scenario.topAngleDeg;
        }
    }
    if (!fault_.empty()) return;
    // The least array the rigging allows: every free cell at its lowest
    // splay, then in order; if the limits cannot all be met even so, say
    // which: the locks against the order, or the total.
    if (rigged(leastArray())) return;
    if (!rigged(leastArray(), false)) {
        // The locks themselves shrink down the array: name the first pair.
        faultKey_ = "lock";
        fault_ = "lock: the locked splays shrink down the array more often than the order allows";
        for (size_t j = 2; j < size_t(cells); ++j) {
            for (size_t i = 1; i < j && lockedDeg_[j]; ++i) {
                if (!lockedDeg_[i] || *lockedDeg_[i] <= *lockedDeg_[j]) continue;
                fault_ = "lock: cell " + std::to_string(j + 1) + " is locked at " + dialogAngleText(*lockedDeg_[j]) +
                         " degrees, below cell " + std::to_string(i + 1) + "'s " + dialogAngleText(*lockedDeg_[i]) +
                         ", and splays may not shrink down the array" +
                         (reversalsAllowed_ > 0 ? " but once, where the line has a gap" : "") +
                         " (--free-order lifts the rule)";
                return;
            }
        }
        return;
    }
    double total = 0;
    for (size_t i = 1; i < size_t(cells); ++i) total += lockedDeg_[i] ? *lockedDeg_[i] : 0.0;
    faultKey_ = "max_total_splay";
    fault_ = "max_total_splay: " + dialogAngleText(scenario.maxTotalSplayDeg.value_or(0)) +
             " degrees cannot be met: the locked cells add up to " + dialogAngleText(total) +
             " degrees, and the cells below a locked one may not splay less than it";
}

void Rigging::lock(int n, double wantedDeg, const std::string& key) {
    const auto& allowed = allowed_[size_t(n - 1)];
    const double nearest = allowed[nearestIndex(allowed, wantedDeg)];
    if (std::fabs(nearest - wantedDeg) > kDialogTextToleranceDeg) {
        faultKey_ = key;
        fault_ = key + ": cell " + std::to_string(n) + " cannot be set to " + dialogAngleText(wantedDeg) +
                 " degrees in the setup dialog; the nearest it reaches is " + dialogAngleText(nearest);
        return;
    }
    if (lockedDeg_[size_t(n - 1)] && *lockedDeg_[size_t(n - 1)] != nearest) {
        faultKey_ = key;
        fault_ = key + ": cell " + std::to_string(n) + " is already locked at " +
                 dialogAngleText(*lockedDeg_[size_t(n - 1)]) + " degrees";
        return;
    }
    lockedDeg_[size_t(n - 1)] = nearest;
}

std::vector<double> Rigging::tilts() const {
    if (fixedTiltDeg_) return {*fixedTiltDeg_};
    if (!options_.tiltRangeDeg) return {scenario_.arrayAnglesDeg.y};
    std::vector<double> out;
    const auto [low, high] = *options_.tiltRangeDeg;
    for (int i = 0; low + i * kTiltStepDeg <= high + 1e-9; ++i) out.push_back(low + i * kTiltStepDeg);
    return out;
}

ArrayChoice Rigging::onDialogValues(ArrayChoice choice) const {
    for (size_t i = 0; i < choice.splaysDeg.size() && i < allowed_.size(); ++i) {
        choice.splaysDeg[i] = splayMatters(i) ? allowed_[i][nearestIndex(allowed_[i], choice.splaysDeg[i])] : 0.0;
    }
    if (choice.kinds.empty()) choice.kinds = kinds_;
    const std::vector<double> range = tilts();
    choice.tiltDeg = range[nearestIndex(range, choice.tiltDeg)];
    return choice;
}

ArrayChoice Rigging::leastArray() const {
    return {std::vector<double>(size_t(scenario_.cellCount()), 0.0), kinds_, tilts().front()};
}

int Rigging::reversals(const ArrayChoice& choice) const {
    int count = 0;
    for (size_t i = 2; i < choice.splaysDeg.size(); ++i) count += choice.splaysDeg[i] < choice.splaysDeg[i - 1];
    return count;
}

bool Rigging::meets(const ArrayChoice& choice) const { return meets(choice, true); }

bool Rigging::meets(const ArrayChoice& choice, bool withTotal) const {
    for (size_t i = 0; i < lockedDeg_.size(); ++i) {
        if (lockedDeg_[i] && choice.splaysDeg[i] != *lockedDeg_[i]) return false;
    }
    if (fixedTiltDeg_ && choice.tiltDeg != *fixedTiltDeg_) return false;
    const std::vector<double> range = tilts();
    if (std::fabs(range[nearestIndex(range, choice.tiltDeg)] - choice.tiltDeg) > 1e-9) return false;
    if (withTotal && scenario_.maxTotalSplayDeg) {
        double total = 0;
        for (size_t i = 1; i < choice.splaysDeg.size(); ++i) total += choice.splaysDeg[i];
        if (total > *scenario_.maxTotalSplayDeg + 1e-9) return false;
    }
    if (options_.freeOrder) return true;
    for (size_t i = 1; i < choice.kinds.size(); ++i) {
        if (kindRank_[size_t(choice.kinds[i])] < kindRank_[size_t(choice.kinds[i - 1])]) return false;
    }
    return reversals(choice) <= reversalsAllowed_;
}

std::optional<ArrayChoice> Rigging::rigged(ArrayChoice choice) const { return rigged(std::move(choice), true); }

std::optional<ArrayChoice> Rigging::rigged(ArrayChoice choice, bool withTotal) const {
    const size_t cells = choice.splaysDeg.size();
    for (size_t i = 0; i < cells; ++i) {
        if (lockedDeg_[i]) choice.splaysDeg[i] = *lockedDeg_[i];
    }
    if (fixedTiltDeg_) choice.tiltDeg = *fixedTiltDeg_;
    auto locked = [&](size_t i) { return lockedDeg_[i].has_value(); };
    if (!options_.freeOrder) {
        // Kinds from the narrowest down: a kind wider than the one above
        // stays, a narrower one is widened to it.
        for (size_t i = 1; i < choice.kinds.size(); ++i) {
            if (kindRank_[size_t(choice.kinds[i])] < kindRank_[size_t(choice.kinds[i - 1])]) {
                choice.kinds[i] = choice.kinds[i - 1];
            }
        }
        // Where the line has a gap, the joint that shrinks most may stay.
        size_t gapJoint = 0;
        if (reversalsAllowed_ > 0) {
            double most = 0;
            for (size_t i = 2; i < cells; ++i) {
                const double drop = choice.splaysDeg[i - 1] - choice.splaysDeg[i];
                if (drop > most) most = drop, gapJoint = i;
            }
        }
        for (size_t i = 2; i < cells; ++i) {
            if (i == gapJoint || locked(i) || choice.splaysDeg[i] >= choice.splaysDeg[i - 1]) continue;
            const auto& allowed = allowed_[i];
            const auto up = std::lower_bound(allowed.begin(), allowed.end(), choice.splaysDeg[i - 1]);
            choice.splaysDeg[i] = up == allowed.end() ? allowed.back() : *up;
        }
        // A locked cell holds the cells above it down to its splay.
        for (size_t i = cells - 1; i >= 2; --i) {
            if (i == gapJoint || locked(i - 1) || choice.splaysDeg[i - 1] <= choice.splaysDeg[i]) continue;
            const auto& allowed = allowed_[i - 1];
            const auto down = std::upper_bound(allowed.begin(), allowed.end(), choice.splaysDeg[i]);
            choice.splaysDeg[i - 1] = down == allowed.begin() ? allowed.front() : *std::prev(down);
        }
    }
    if (withTotal && scenario_.maxTotalSplayDeg) {
        // Take the largest splay a step down, the first of equals, until the
        // splays add up to no more than the limit.
        for (;;) {
            double total = 0;
            size_t largest = cells;
            for (size_t i = 1; i < cells; ++i) {
                total += choice.splaysDeg[i];
                if (!locked(i) && (largest == cells || choice.splaysDeg[i] > choice.splaysDeg[largest])) largest = i;
            }
            if (total <= *scenario_.maxTotalSplayDeg + 1e-9) break;
            if (largest == cells) return std::nullopt;
            const auto& allowed = allowed_[largest];
            const auto at = std::lower_bound(allowed.begin(), allowed.end(), choice.splaysDeg[largest]);
            if (at == allowed.begin()) return std::nullopt;
            choice.splaysDeg[largest] = *std::prev(at);
        }
    }
    if (!meets(choice, withTotal)) return std::nullopt;
    return choice;
}

}  // namespace arrayhost

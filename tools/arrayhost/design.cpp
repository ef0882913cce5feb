#include "tools/arrayhost/design.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
#include "dialog/angle_text.h"
#include "tools/arrayhost/progress.h"
#include "tools/arrayhost/workers.h"
#include "tools/host/product.h"

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
constexpr double kLowPercentile = 0.10, kHighPercentile = 0.90;
// The arrows of a dialog reach finitely many values; past this the rules
// would be producing a continuum, which no dialog does.
constexpr size_t kMostAllowedSplays = 1024;
constexpr int kMostSearchPasses = 6;
// The objective's weight of the broadband spread against each band figure.
constexpr double kBroadbandWeight = 2.0;
constexpr int kKicks = 30;
constexpr uint32_t kKickSeed = 20261208;
// Where the kinds differ: their directivity from 2 to 8 kHz.
constexpr int kNarrowingFirstBand = 13, kNarrowingLastBand = 19;

double distanceM(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

}  // namespace

std::vector<Vec3> seatsAlong(const AudienceLine& line, double spacingM) {
    std::vector<Vec3> seats;
    for (const auto& segment : line.segments) {
        // Distance still to go to the next seat, carried across corners.
        double untilNextM = 0;
        for (size_t i = 1; i < segment.size(); ++i) {
            const Vec3 &a = segment[i - 1], &b = segment[i];
            const double lengthM = distanceM(a, b);
            double atM = untilNextM;
            for (; atM <= lengthM + 1e-9; atM += spacingM) {
                const double t = atM / lengthM;
                seats.push_back({a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)});
            }
            untilNextM = atM - lengthM;
        }
        // The segment's end is a seat even off the spacing.
        const Vec3& end = segment.back();
        if (distanceM(seats.back(), end) > 1e-6) seats.push_back(end);
    }
    return seats;
}

namespace {

// percentile() on values it may reorder: the two ranks it reads are put in
// place instead of sorting them all, for the 43 spreads of every evaluation.
double percentileInPlace(std::vector<double>& values, double p) {
    const double rank = p * double(values.size() - 1);
    const size_t below = size_t(std::floor(rank));
    std::nth_element(values.begin(), values.begin() + long(below), values.end());
    const double low = values[below];
    const double high =
        below + 1 < values.size() ? *std::min_element(values.begin() + long(below) + 1, values.end()) : low;
    return low + (rank - double(below)) * (high - low);
}

}  // namespace

double percentile(std::vector<double> values, double p) { return percentileInPlace(values, p); }

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

std::string Perturbation::name() const {
    char text[96];
    if (heightM != 0) std::snprintf(text, sizeof text, "line %+.2f m in height", heightM);
    else if (distanceM != 0) std::snprintf(text, sizeof text, "line %+.2f m in distance", distanceM);
    else if (tiltDeg != 0) std::snprintf(text, sizeof text, "tilt %+.1f deg", tiltDeg);
    else if (speedOfSoundScale != 1)
        std::snprintf(text, sizeof text, "speed of sound %+.0f %%", 100 * (speedOfSoundScale - 1));
    else std::snprintf(text, sizeof text, "nominal");
    return text;
}

std::vector<Perturbation> robustPerturbations() {
    std::vector<Perturbation> out{Perturbation{}};
    for (double sign : {1.0, -1.0}) {
        out.push_back({sign * kPerturbLineM, 0, 0, 1});
        out.push_back({0, sign * kPerturbLineM, 0, 1});
        out.push_back({0, 0, sign * kPerturbTiltDeg, 1});
        out.push_back({0, 0, 0, 1 + sign * kPerturbSpeedOfSound});
    }
    return out;
}

std::pair<double, double> meanAndWorst(const BandValues& spreadDb, int first, int last) {
    double sum = 0, worst = 0;
    for (int band = first; band <= last; ++band) {
        sum += spreadDb[size_t(band)];
        worst = std::max(worst, spreadDb[size_t(band)]);
    }
    return {sum / (last - first + 1), worst};
}

struct Designer::Geometry {
    double tiltDeg = 0;      // added to the choice's tilt
    std::vector<Vec3> seats;  // the audience's, and in the nominal geometry the surfaces to avoid too
};

namespace {

// The scene's horizontal directions: along the array's aim, and across it.
struct PlaneAxes {
    double aheadX, aheadY, acrossX, acrossY;
};
PlaneAxes planeAxesOf(const Scenario& scenario) {
    const double turn = scenario.arrayAnglesDeg.x / kDegreesPerRadian;
    return {std::sin(turn), -std::cos(turn), std::cos(turn), std::sin(turn)};
}

Vec3 moved(const Vec3& seat, const PlaneAxes& axes, double heightM, double distanceM, double acrossM) {
    return {seat.x + distanceM * axes.aheadX + acrossM * axes.acrossX,
            seat.y + distanceM * axes.aheadY + acrossM * axes.acrossY, seat.z + heightM};
}

// Position in `values` of the value nearest `v`.
size_t nearestIndex(const std::vector<double>& values, double v) {
    size_t best = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        if (std::fabs(values[i] - v) < std::fabs(values[best] - v)) best = i;
    }
    return best;
}

}  // namespace

Designer::Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                   DesignOptions options)
    : session_(session),
      scenario_(scenario),
      model_(model),
      options_(options),
      firstSplayTilts_(model.firstCell == models::FirstCellRule::HangsFromBumper),
      workers_(std::make_unique<Workers>()) {
    const int cells = scenario.cellCount();
    const PlaneAxes axes = planeAxesOf(scenario);
    const Perturbation& scene = options_.scene;
    reversalsAllowed_ = scenario.audienceLine->segments.size() > 1 ? 1 : 0;
    kinds_ = scenario.kinds;
    if (session.blobFormat().cellsCarryKind && kinds_.empty()) {
        kinds_.assign(size_t(cells), session.blobFormat().defaultKind);
    }
    const std::vector<int> order = kindsNarrowToWide(model);
    kindRank_.assign(order.size(), 0);
    for (size_t rank = 0; rank < order.size(); ++rank) kindRank_[size_t(order[rank])] = int(rank);

    // The audience: its centre line, then, for a width, both its edges.
    std::vector<double> acrossM{0.0};
    if (scenario.audienceWidthM > 0) acrossM = {0.0, scenario.audienceWidthM / 2, -scenario.audienceWidthM / 2};
    for (double across : acrossM) {
        for (size_t segment = 0; segment < scenario.audienceLine->segments.size(); ++segment) {
            AudienceLine one;
            one.segments.push_back(scenario.audienceLine->segments[segment]);
            for (const Vec3& seat : seatsAlong(one, options_.seatSpacingM)) {
                seats_.push_back(moved(seat, axes, scene.heightM, scene.distanceM, across));
                segmentOfSeat_.push_back(int(segment));
            }
        }
        if (across == 0.0) centreSeats_ = seats_.size();
    }
    audienceSeats_ = seats_.size();
    for (const Vec3& seat : seats_) {
        log2DistanceFromArray_.push_back(std::log2(std::max(distanceM(seat, scenario.arrayPositionM), 1e-3)));
    }
    if (scenario.avoidLine) {
        for (const Vec3& seat : seatsAlong(*scenario.avoidLine, options_.seatSpacingM)) {
            seats_.push_back(moved(seat, axes, scene.heightM, scene.distanceM, 0));
        }
    }

    // The perturbations: seats moved and tilts make geometries that the
    // plug-in answers for; speeds of sound only change the sums.
    perturbations_ = options_.robust ? robustPerturbations() : std::vector<Perturbation>{Perturbation{}};
    std::vector<double> speeds;
    for (const Perturbation& p : perturbations_) {
        int g = 0;
        for (; g < int(geometries_.size()); ++g) {
            const Geometry& known = geometries_[size_t(g)];
            if (known.tiltDeg == scene.tiltDeg + p.tiltDeg &&
                distanceM(known.seats[0], moved(seats_[0], axes, p.heightM, p.distanceM, 0)) < 1e-12) {
                break;
            }
        }
        if (g == int(geometries_.size())) {
            Geometry geometry;
            geometry.tiltDeg = scene.tiltDeg + p.tiltDeg;
            const size_t count = g == 0 ? seats_.size() : audienceSeats_;
            for (size_t s = 0; s < count; ++s) {
                geometry.seats.push_back(moved(seats_[s], axes, p.heightM, p.distanceM, 0));
            }
            geometries_.push_back(std::move(geometry));
        }
        geometryOf_.push_back(g);
        const double speed = scenario.speedOfSoundMPerS * scene.speedOfSoundScale * p.speedOfSoundScale;
        const auto known = std::find(speeds.begin(), speeds.end(), speed);
        sumOf_.push_back(int(known - speeds.begin()));
        if (known == speeds.end()) {
            speeds.push_back(speed);
            sums_.emplace_back(speed, CoherentMode::BandAverage);
        }
    }
    responses_.resize(geometries_.size());
    for (size_t p = 0; p < perturbations_.size(); ++p) {
        energies_.emplace_back(geometries_[size_t(geometryOf_[p])].seats.size());
    }
    for (int n = 1; n <= cells; ++n) allowed_.push_back(allowedSplaysDeg(model, n));

    // Rigging: locked cells, a top angle, the most the splays may add up to.
    lockedDeg_.assign(size_t(cells), std::nullopt);
    auto lock = [&](int n, double wantedDeg, const std::string& why) {
        const auto& allowed = allowed_[size_t(n - 1)];
        const double nearest = allowed[nearestIndex(allowed, wantedDeg)];
        if (std::fabs(nearest - wantedDeg) > kDialogTextToleranceDeg) {
            faultKey_ = why;
            fault_ = why + ": cell " + std::to_string(n) + " cannot be set to " + dialogAngleText(wantedDeg) +
                     " degrees in the setup dialog; the nearest it reaches is " + dialogAngleText(nearest);
            return;
        }
        if (lockedDeg_[size_t(n - 1)] && *lockedDeg_[size_t(n - 1)] != nearest) {
            faultKey_ = why;
            fault_ = why + ": cell " + std::to_string(n) + " is already locked at " +
                     dialogAngleText(*lockedDeg_[size_t(n - 1)]) + " degrees";
            return;
        }
        lockedDeg_[size_t(n - 1)] = nearest;
    };
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
    // The least array the rigging allows: every free cell at its lowest
    // splay, then in order; if the limits cannot all be met even so, say so.
    if (fault_.empty()) {
        if (!rigged(leastArray())) {
            double total = 0;
            for (size_t i = 1; i < size_t(cells); ++i) total += lockedDeg_[i] ? *lockedDeg_[i] : 0.0;
            faultKey_ = "max_total_splay";
            fault_ = "max_total_splay: " + dialogAngleText(scenario.maxTotalSplayDeg.value_or(0)) +
                     " degrees cannot be met: the locked cells add up to " + dialogAngleText(total) +
                     " degrees, and the cells below a locked one may not splay less than it";
        }
    }
}

Designer::~Designer() = default;

ArrayChoice Designer::leastArray() const {
    return {std::vector<double>(size_t(scenario_.cellCount()), 0.0), kinds_, tilts().front()};
}

double Designer::aheadOfArrayM(const Vec3& seat) const {
    const PlaneAxes axes = planeAxesOf(scenario_);
    return (seat.x - scenario_.arrayPositionM.x) * axes.aheadX + (seat.y - scenario_.arrayPositionM.y) * axes.aheadY;
}

bool Designer::splayMatters(size_t cell) const { return cell > 0 || firstSplayTilts_; }

int Designer::reversals(const ArrayChoice& choice) const {
    int count = 0;
    for (size_t i = 2; i < choice.splaysDeg.size(); ++i) count += choice.splaysDeg[i] < choice.splaysDeg[i - 1];
    return count;
}

bool Designer::meetsRigging(const ArrayChoice& choice) const {
    for (size_t i = 0; i < lockedDeg_.size(); ++i) {
        if (lockedDeg_[i] && choice.splaysDeg[i] != *lockedDeg_[i]) return false;
    }
    if (fixedTiltDeg_ && choice.tiltDeg != *fixedTiltDeg_) return false;
    if (scenario_.maxTotalSplayDeg) {
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

std::optional<ArrayChoice> Designer::rigged(ArrayChoice choice) const {
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
    if (scenario_.maxTotalSplayDeg) {
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
    if (!meetsRigging(choice)) return std::nullopt;
    return choice;
}

Evenness Designer::evaluate(const ArrayChoice& choice, LevelProfile* profile) {
    ++evaluations_;
    Evenness out;
    auto worthless = [&out] {
        out.objectiveDb = out.broadbandSpreadDb = HUGE_VAL;
        return out;
    };
    if (!session_.applyCells(choice.splaysDeg, choice.kinds)) {
        out.refusedCalls = 1;
        return worthless();
    }
    const int cells = session_.cellCount();
    std::vector<CellPose> poses(static_cast<size_t>(cells));
    // The plug-in answers on this thread, seat after seat and geometry after
    // geometry; the workers sum each batch of seats already read meanwhile,
    // once per speed of sound that geometry is summed at.
    constexpr size_t kSeatsPerBatch = 32;
    long refused = 0;
    for (size_t g = 0; g < geometries_.size(); ++g) {
        const Geometry& geometry = geometries_[g];
        session_.aimArray({scenario_.arrayAnglesDeg.x, choice.tiltDeg + geometry.tiltDeg, scenario_.arrayAnglesDeg.z});
        const size_t seats = geometry.seats.size();
        responses_[g].resize(seats * size_t(cells));
        CellResponse* responses = responses_[g].data();
        for (size_t first = 0; first < seats; first += kSeatsPerBatch) {
            const size_t end = std::min(first + kSeatsPerBatch, seats);
            for (size_t s = first; s < end; ++s) {
                session_.setSeat(geometry.seats[s]);
                refused += session_.respond(poses.data(), responses + s * size_t(cells));
            }
            workers_->submit([this, g, first, end, cells, responses] {
                for (size_t p = 0; p < perturbations_.size(); ++p) {
                    if (geometryOf_[p] != int(g)) continue;
                    const CoherentSum& sum = sums_[size_t(sumOf_[p])];
                    for (size_t s = first; s < end; ++s) {
                        energies_[p][s] = sum.energies(responses + s * size_t(cells), cells);
                    }
                }
            });
        }
    }
    workers_->wait();
    out.refusedCalls = refused;

    // Each audience seat's level: the energy mean over the perturbations.
    const size_t seats = audienceSeats_;
    const double share = 1.0 / double(perturbations_.size());
    std::vector<SeatLevels> levels(seats);
    for (size_t s = 0; s < seats; ++s) {
        SeatEnergies mean;
        for (size_t p = 0; p < perturbations_.size(); ++p) {
            const SeatEnergies& e = energies_[p][s];
            for (size_t b = 0; b < size_t(kBandCount); ++b) {
                mean.power[b] += share * e.power[b];
                mean.coherent[b] += share * e.coherent[b];
            }
            mean.powerA += share * e.powerA;
            mean.coherentA += share * e.coherentA;
        }
        levels[s] = levelsOf(mean);
        bool nan = std::isnan(levels[s].coherentDbA) || std::isnan(levels[s].powerDbA);
        for (size_t b = 0; b < size_t(kBandCount); ++b) nan = nan || std::isnan(levels[s].coherentDb[b]);
        out.notANumberSeats += nan;
    }
    if (profile != nullptr) {
        *profile = LevelProfile{};
        for (size_t s = 0; s < centreSeats_; ++s) {
            profile->distanceM.push_back(std::exp2(log2DistanceFromArray_[s]));
            profile->broadbandDbA.push_back(levels[s].coherentDbA);
            profile->bandDb.push_back(levels[s].coherentDb);
            profile->segment.push_back(segmentOfSeat_[s]);
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (size_t p = 0; p < perturbations_.size(); ++p) {
                const double level = powerToDb(energies_[p][s].coherentA);
                low = std::min(low, level), high = std::max(high, level);
            }
            profile->broadbandLowDbA.push_back(low);
            profile->broadbandHighDbA.push_back(high);
        }
    }
    if (!out.valid()) return worthless();

    // Residuals against the target slope: the level a seat would have on the
    // target line, up to a constant that the spread ignores.
    std::vector<double> broadband(seats);
    std::vector<std::vector<double>> bands(kBandCount, std::vector<double>(seats));
    std::vector<std::vector<double>> powerBands(kBandCount, std::vector<double>(seats));
    double audienceSumDbA = 0;
    for (size_t s = 0; s < seats; ++s) {
        const double target = options_.slopeDbPerDoubling * log2DistanceFromArray_[s];
        broadband[s] = levels[s].coherentDbA - target;
        audienceSumDbA += levels[s].coherentDbA;
        for (int b = 0; b < kBandCount; ++b) {
            bands[size_t(b)][s] = levels[s].coherentDb[size_t(b)] - target;
            powerBands[size_t(b)][s] = levels[s].powerDb[size_t(b)] - target;
        }
    }
    // The slope actually reached along the centre line: the residual's
    // least-squares line on log2 distance, plus the target's own slope.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t s = 0; s < centreSeats_; ++s) {
        const double x = log2DistanceFromArray_[s];
        sx += x, sy += broadband[s], sxx += x * x, sxy += x * broadband[s];
    }
    const double n = double(centreSeats_), denominator = n * sxx - sx * sx;
    out.fittedSlopeDbPerDoubling =
        options_.slopeDbPerDoubling + (denominator > 0 ? (n * sxy - sx * sy) / denominator : 0.0);

    // The surfaces to avoid, at their loudest, in the nominal scene.
    double avoidPenaltyDb = 0;
    if (seats_.size() > audienceSeats_) {
        double loudest = -HUGE_VAL;
        for (size_t s = audienceSeats_; s < seats_.size(); ++s) {
            const double level = powerToDb(energies_[0][s].coherentA);
            if (std::isnan(level)) {
                ++out.notANumberSeats;
                return worthless();
            }
            loudest = std::max(loudest, level);
        }
        out.avoidAboveAudienceDb = loudest - audienceSumDbA / double(seats);
        avoidPenaltyDb = std::max(0.0, out.avoidAboveAudienceDb + kAvoidBelowAudienceDb);
    }

    // The spreads reorder the residuals, so they come after the fit.
    auto spread = [](std::vector<double>& v) {
        return percentileInPlace(v, kHighPercentile) - percentileInPlace(v, kLowPercentile);
    };
    out.broadbandSpreadDb = spread(broadband);
    for (int b = 0; b < kBandCount; ++b) {
        out.bandSpreadDb[size_t(b)] = spread(bands[size_t(b)]);
        out.powerBandSpreadDb[size_t(b)] = spread(powerBands[size_t(b)]);
    }
    std::tie(out.meanBandSpreadDb, out.worstBandSpreadDb) =
        meanAndWorst(out.bandSpreadDb, options_.firstBand, options_.lastBand);
    // Broadband evenness, what the audience hears, counted twice, and how
    // far its fitted slope strays from the target's beyond a quarter dB per
    // doubling; the bands on average
    // and at their worst, so that no band is given up for the others; and
    // every dB a surface to avoid comes closer than its margin.
    const double slopeMissDb =
        std::max(0.0, std::fabs(out.fittedSlopeDbPerDoubling - options_.slopeDbPerDoubling) - kSlopeToleranceDb);
    out.objectiveDb = (options_.aloneBand >= 0 ? out.bandSpreadDb[size_t(options_.aloneBand)]
                                               : kBroadbandWeight * out.broadbandSpreadDb + slopeMissDb +
                                                     out.meanBandSpreadDb + out.worstBandSpreadDb) +
                      avoidPenaltyDb;
    return out;
}

std::vector<double> Designer::tilts() const {
    if (fixedTiltDeg_) return {*fixedTiltDeg_};
    if (!options_.tiltRangeDeg) return {scenario_.arrayAnglesDeg.y};
    std::vector<double> out;
    const auto [low, high] = *options_.tiltRangeDeg;
    for (int i = 0; low + i * kTiltStepDeg <= high + 1e-9; ++i) out.push_back(low + i * kTiltStepDeg);
    return out;
}

namespace {

// The splays that give each cell its wanted aim (depression, degrees, top
// cell first), each taken to the nearest value the dialog allows with the
// rounding carried on to the next cell.
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

}  // namespace

ArrayChoice Designer::equalShares(double tiltDeg) const {
    // Each cell aims at the middle of an equal share of the seats, counted
    // from the farthest (the top cell) to the nearest (the bottom cell).
    std::vector<double> depressionsDeg;
    for (size_t s = 0; s < centreSeats_; ++s) {
        const Vec3& seat = seats_[s];
        depressionsDeg.push_back(std::atan2(scenario_.arrayPositionM.z - seat.z, aheadOfArrayM(seat)) *
                                 kDegreesPerRadian);
    }
    std::sort(depressionsDeg.begin(), depressionsDeg.end());
    const int cells = scenario_.cellCount();
    std::vector<double> aims;
    for (int n = 1; n <= cells; ++n) aims.push_back(percentile(depressionsDeg, (n - 0.5) / cells));
    ArrayChoice choice;
    choice.kinds = kinds_;
    choice.tiltDeg = tiltDeg;
    choice.splaysDeg = splaysForAims(aims, tiltDeg, firstSplayTilts_, allowed_);
    return choice;
}

ArrayChoice Designer::palc2(double tiltDeg) const {
    // In the array's vertical plane: each cell a point source stacked below
    // the array position by the cabinet's front height; the audience the
    // centre line's seats. Angles are depressions (down positive), radians.
    const int cells = scenario_.cellCount();
    const double pitchM = double(model_.cabinet.frontHeightM);
    struct Sample {
        double angle, distance;
        int segment;
    };
    // Per cell: the seats as it sees them, by angle.
    std::vector<std::vector<Sample>> seen(static_cast<size_t>(cells));
    for (int i = 0; i < cells; ++i) {
        const double sourceZ = scenario_.arrayPositionM.z - (i + 0.5) * pitchM;
        for (size_t s = 0; s < centreSeats_; ++s) {
            const Vec3& seat = seats_[s];
            const double aheadM = aheadOfArrayM(seat);
            const double drop = sourceZ - seat.z;
            seen[size_t(i)].push_back({std::atan2(drop, aheadM), std::hypot(drop, aheadM), segmentOfSeat_[s]});
        }
        std::sort(seen[size_t(i)].begin(), seen[size_t(i)].end(),
                  [](const Sample& a, const Sample& b) { return a.angle < b.angle; });
    }
    // The audience's nearest sample to an angle: its distance; and where an
    // angle falls between segments (a gap), the next angle that meets seats.
    auto distanceAt = [&](int i, double angle) {
        const auto& v = seen[size_t(i)];
        auto at = std::lower_bound(v.begin(), v.end(), angle, [](const Sample& a, double x) { return a.angle < x; });
        if (at == v.end()) return v.back().distance;
        if (at != v.begin() && angle - std::prev(at)->angle < at->angle - angle) --at;
        return at->distance;
    };
    auto pastGap = [&](int i, double angle) {
        const auto& v = seen[size_t(i)];
        auto at = std::lower_bound(v.begin(), v.end(), angle, [](const Sample& a, double x) { return a.angle < x; });
        if (at == v.begin() || at == v.end()) return at == v.begin() ? v.front().angle : angle;
        // Between two seats of different segments lies a gap: jump it.
        return at->segment != std::prev(at)->segment ? at->angle : angle;
    };
    const bool topFixed = !firstSplayTilts_ || lockedDeg_[0].has_value();
    const double topAimRad =
        (-tiltDeg + (firstSplayTilts_ && lockedDeg_[0] ? *lockedDeg_[0] : 0.0)) / kDegreesPerRadian;
    // With aperture times distance equal to k for every cell: the aims, and
    // the lower edge of the bottom cell's coverage.
    std::vector<double> aims(static_cast<size_t>(cells));
    auto cover = [&](double k) {
        double upper = seen[0].front().angle;
        for (int i = 0; i < cells; ++i) {
            double aperture;
            if (i == 0 && topFixed) {
                aperture = k / distanceAt(0, topAimRad);
                aims[0] = topAimRad;
                upper = topAimRad + aperture / 2;  // the lower edge
                continue;
            }
            upper = pastGap(i, upper);
            aperture = k / distanceAt(i, upper);
            for (int iteration = 0; iteration < 30; ++iteration) aperture = k / distanceAt(i, upper + aperture / 2);
            aims[size_t(i)] = upper + aperture / 2;
            upper += aperture;
        }
        return upper;
    };
    const double nearest = seen[size_t(cells - 1)].back().angle;
    double low = 1e-4, high = 1e3;
    for (int iteration = 0; iteration < 80; ++iteration) {
        const double k = std::sqrt(low * high);
        (cover(k) < nearest ? low : high) = k;
    }
    cover(std::sqrt(low * high));
    std::vector<double> aimsDeg;
    for (double aim : aims) aimsDeg.push_back(aim * kDegreesPerRadian);
    ArrayChoice choice;
    choice.tiltDeg = tiltDeg;
    choice.kinds = kinds_;
    choice.splaysDeg = splaysForAims(aimsDeg, tiltDeg, firstSplayTilts_, allowed_);
    return rigged(choice).value_or(choice);
}

ArrayChoice Designer::bestUniform(double tiltDeg, Evenness& evenness) {
    // Cell 1 at 0, every other cell alike (locked cells excepted).
    const int cells = scenario_.cellCount();
    const auto& others = allowed_.size() > 1 ? allowed_[1] : allowed_[0];
    ArrayChoice best;
    bool first = true;
    for (double splay : others) {
        ArrayChoice uniform{std::vector<double>(size_t(cells), splay), kinds_, tiltDeg};
        uniform.splaysDeg[0] = 0;
        const std::optional<ArrayChoice> fitting = rigged(uniform);
        if (!fitting) continue;
        const Evenness e = evaluate(*fitting);
        if (first || e.objectiveDb < evenness.objectiveDb) {
            best = *fitting;
            evenness = e;
            first = false;
        }
    }
    if (first) {
        best = ArrayChoice{std::vector<double>(size_t(cells), 0.0), kinds_, tiltDeg};
        evenness = evaluate(best);
    }
    return best;
}

DesignResult Designer::run() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    evaluations_ = 0;
    DesignResult result;
    result.seats = int(audienceSeats_);
    const int cells = scenario_.cellCount();
    const bool withKinds = session_.blobFormat().cellsCarryKind;
    const std::vector<double> tiltValues = tilts();

    // Every array the search looks at is measured once.
    std::map<std::vector<double>, Evenness> known;
    auto score = [&](const ArrayChoice& choice) {
        std::vector<double> key = choice.splaysDeg;
        for (int kind : choice.kinds) key.push_back(kind);
        key.push_back(choice.tiltDeg);
        const auto it = known.find(key);
        if (it != known.end()) return it->second;
        return known[key] = evaluate(choice);
    };

    result.scenario = {scenario_.splaysDeg, scenario_.kinds, scenario_.arrayAnglesDeg.y};
    result.scenarioEvenness = evaluate(result.scenario);

    // The baselines, at the best tilt for each when the tilt is the
    // design's to choose.
    bool first = true;
    for (double tilt : tiltValues) {
        Evenness uniformEvenness;
        const ArrayChoice uniform = bestUniform(tilt, uniformEvenness);
        if (first || uniformEvenness.objectiveDb < result.uniformEvenness.objectiveDb) {
            result.uniform = uniform;
            result.uniformEvenness = uniformEvenness;
        }
        const ArrayChoice palc = palc2(tilt);
        const Evenness palcEvenness = score(palc);
        if (first || palcEvenness.objectiveDb < result.palcEvenness.objectiveDb) {
            result.palc = palc;
            result.palcEvenness = palcEvenness;
        }
        const ArrayChoice start = rigged(equalShares(tilt)).value_or(palc);
        const Evenness startEvenness = score(start);
        if (first || startEvenness.objectiveDb < result.startEvenness.objectiveDb) {
            result.start = start;
            result.startEvenness = startEvenness;
        }
        first = false;
    }

    // The search descends from every baseline that meets the rigging (the
    // landscape has many valleys, and which one a start leads into differs),
    // or failing all, from the least array that does; then kicks the best.
    std::vector<ArrayChoice> starts;
    for (const ArrayChoice* choice : {&result.palc, &result.start, &result.uniform}) {
        if (meetsRigging(*choice)) starts.push_back(*choice);
    }
    if (starts.empty()) starts.push_back(rigged(leastArray()).value_or(leastArray()));
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
    auto indexOf = [](const std::vector<double>& values, double v) {
        return long(std::lower_bound(values.begin(), values.end(), v) - values.begin());
    };
    auto movable = [&](size_t i) { return splayMatters(i) && !lockedDeg_[i]; };
    auto descend = [&](ArrayChoice& current, Evenness& currentEvenness) {
        bool improved = false;
        auto keepIfBetter = [&](const ArrayChoice& trial) {
            if (!meetsRigging(trial)) return;
            const Evenness e = score(trial);
            if (e.objectiveDb < currentEvenness.objectiveDb) {
                current = trial;
                currentEvenness = e;
                improved = true;
            }
        };
        auto stepped = [&](ArrayChoice& trial, size_t i, long step) {
            const long to = indexOf(allowed_[i], trial.splaysDeg[i]) + step;
            if (to < 0 || to >= long(allowed_[i].size())) return false;
            trial.splaysDeg[i] = allowed_[i][size_t(to)];
            return true;
        };
        for (int pass = 0; pass < kMostSearchPasses; ++pass) {
            improved = false;
            for (size_t i = 0; i < size_t(cells); ++i) {
                for (double splay : movable(i) ? allowed_[i] : std::vector<double>{}) {
                    if (splay == current.splaysDeg[i]) continue;
                    ArrayChoice trial = current;
                    trial.splaysDeg[i] = splay;
                    keepIfBetter(trial);
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
            for (double tilt : tiltValues.size() > 1 ? tiltValues : std::vector<double>{}) {
                if (tilt == current.tiltDeg) continue;
                ArrayChoice trial = current;
                trial.tiltDeg = tilt;
                keepIfBetter(trial);
            }
            if (!improved) break;
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
        descend(start, startEvenness);
        // The first start is kept even when no evaluation was worth anything.
        if (best.splaysDeg.empty() || startEvenness.objectiveDb < bestEvenness.objectiveDb) {
            best = start;
            bestEvenness = startEvenness;
        }
    }
    if (progress) progress->update(1);
    std::mt19937 random(kKickSeed);
    auto draw = [&](uint32_t below) { return long(random() % below); };
    size_t responsesPerEvaluation = 0;
    for (const Geometry& geometry : geometries_) responsesPerEvaluation += geometry.seats.size() * size_t(cells);
    const long budget = evaluations_ + long(options_.kickResponseBudget / double(responsesPerEvaluation));
    for (int kick = 0; kick < kKicks && evaluations_ < budget; ++kick) {
        ArrayChoice trial = best;
        const int moved = 2 + int(draw(3));
        const int firstMovable = firstSplayTilts_ ? 0 : 1;
        for (int m = 0; m < moved && firstMovable < cells; ++m) {
            const size_t i = size_t(firstMovable + draw(uint32_t(cells - firstMovable)));
            const long size = long(allowed_[i].size());
            const long step = (draw(2) == 0 ? -1 : 1) * (1 + draw(2));
            const long to = std::clamp(indexOf(allowed_[i], trial.splaysDeg[i]) + step, 0L, size - 1);
            trial.splaysDeg[i] = allowed_[i][size_t(to)];
            if (withKinds && draw(4) == 0) trial.kinds[i] = int(draw(uint32_t(model_.kindCount)));
        }
        if (progress) progress->update(kick + 2);
        const std::optional<ArrayChoice> fitting = rigged(trial);
        if (!fitting) continue;
        trial = *fitting;
        Evenness trialEvenness = score(trial);
        descend(trial, trialEvenness);
        if (trialEvenness.objectiveDb < bestEvenness.objectiveDb) {
            best = trial;
            bestEvenness = trialEvenness;
        }
    }
    if (progress) progress->finish();
    result.chosen = best;
    result.chosenEvenness = evaluate(best, &result.chosenProfile);
    evaluate(result.palc, &result.palcProfile);
    for (size_t i = 2; i < best.splaysDeg.size(); ++i) {
        if (best.splaysDeg[i] < best.splaysDeg[i - 1]) result.reversalJoint = int(i);
    }
    result.evaluations = evaluations_;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // Leave the instance holding the chosen array.
    session_.applyCells(best.splaysDeg, best.kinds);
    session_.aimArray({scenario_.arrayAnglesDeg.x, best.tiltDeg, scenario_.arrayAnglesDeg.z});
    return result;
}

Robustness checkRobustness(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                           const DesignOptions& options, const ArrayChoice& choice, const Evenness& reported) {
    Robustness out;
    const double reportedComb = meanAndWorst(reported.bandSpreadDb, kCombFirstBand, kCombLastBand).first;
    auto shift = [&](const Evenness& e, const std::string& what) {
        const double comb = meanAndWorst(e.bandSpreadDb, kCombFirstBand, kCombLastBand).first;
        const double change =
            std::max(std::fabs(e.broadbandSpreadDb - reported.broadbandSpreadDb), std::fabs(comb - reportedComb));
        if (change > out.worstShiftDb || out.worstWhat.empty()) out.worstShiftDb = change, out.worstWhat = what;
        return comb;
    };
    DesignOptions dense = options;
    dense.showProgress = false;
    dense.seatSpacingM = options.seatSpacingM / 4;
    const Evenness denseEvenness = Designer(session, scenario, model, dense).evaluate(choice);
    out.denseBroadbandDb = denseEvenness.broadbandSpreadDb;
    out.denseCombMeanDb = shift(denseEvenness, "grid x4");
    out.lowBroadbandDb = out.lowCombMeanDb = HUGE_VAL;
    out.highBroadbandDb = out.highCombMeanDb = -HUGE_VAL;
    const std::vector<Perturbation> moves = robustPerturbations();
    for (size_t p = 1; p < moves.size(); ++p) {
        DesignOptions moved = options;
        moved.showProgress = false;
        moved.scene = moves[p];
        const Evenness e = Designer(session, scenario, model, moved).evaluate(choice);
        const double comb = shift(e, moves[p].name());
        out.lowBroadbandDb = std::min(out.lowBroadbandDb, e.broadbandSpreadDb);
        out.highBroadbandDb = std::max(out.highBroadbandDb, e.broadbandSpreadDb);
        out.lowCombMeanDb = std::min(out.lowCombMeanDb, comb);
        out.highCombMeanDb = std::max(out.highCombMeanDb, comb);
    }
    return out;
}

}  // namespace arrayhost

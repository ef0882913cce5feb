#include "tools/arrayhost/design.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
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
constexpr int kKicks = 30;
constexpr uint32_t kKickSeed = 20261208;

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
    std::set<float> seen{0.0f};
    std::deque<float> queue{0.0f};
    while (!queue.empty() && seen.size() < kMostAllowedSplays) {
        const float from = queue.front();
        queue.pop_front();
        for (dialog::Step step : {dialog::Step::Down, dialog::Step::Up}) {
            cells[size_t(n - 1)].splayDeg = from;
            setup.fill(n, cells.data());
            setup.stepSplay(n, step);
            const float to = setup.cell(n).splayDeg;
            if (seen.insert(to).second) queue.push_back(to);
        }
    }
    return std::vector<double>(seen.begin(), seen.end());
}

std::pair<double, double> meanAndWorst(const BandValues& spreadDb, int first, int last) {
    double sum = 0, worst = 0;
    for (int band = first; band <= last; ++band) {
        sum += spreadDb[size_t(band)];
        worst = std::max(worst, spreadDb[size_t(band)]);
    }
    return {sum / (last - first + 1), worst};
}

Designer::Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                   DesignOptions options)
    : session_(session),
      scenario_(scenario),
      model_(model),
      options_(options),
      coherent_(scenario.speedOfSoundMPerS, CoherentMode::BandAverage),
      workers_(std::make_unique<Workers>()) {
    for (size_t segment = 0; segment < scenario.audienceLine->segments.size(); ++segment) {
        AudienceLine one;
        one.segments.push_back(scenario.audienceLine->segments[segment]);
        for (const Vec3& seat : seatsAlong(one)) {
            seats_.push_back(seat);
            segmentOfSeat_.push_back(int(segment));
        }
    }
    for (const Vec3& seat : seats_) {
        log2DistanceFromArray_.push_back(std::log2(std::max(distanceM(seat, scenario.arrayPositionM), 1e-3)));
    }
    for (int n = 1; n <= scenario.cellCount(); ++n) allowed_.push_back(allowedSplaysDeg(model, n));
}

Designer::~Designer() = default;

Evenness Designer::evaluate(const ArrayChoice& choice, LevelProfile* profile) {
    ++evaluations_;
    Evenness out;
    if (!session_.applyCells(choice.splaysDeg, choice.kinds)) {
        out.objectiveDb = out.broadbandSpreadDb = HUGE_VAL;
        return out;
    }
    session_.aimArray({scenario_.arrayAnglesDeg.x, choice.tiltDeg, scenario_.arrayAnglesDeg.z});
    const int cells = session_.cellCount();
    const size_t seats = seats_.size();
    std::vector<CellPose> poses(static_cast<size_t>(cells));
    responses_.resize(seats * size_t(cells));
    levels_.resize(seats);
    // The plug-in answers on this thread, seat after seat; the workers sum
    // each batch of seats already read meanwhile.
    constexpr size_t kSeatsPerBatch = 16;
    for (size_t first = 0; first < seats; first += kSeatsPerBatch) {
        const size_t end = std::min(first + kSeatsPerBatch, seats);
        for (size_t s = first; s < end; ++s) {
            session_.setSeat(seats_[s]);
            session_.respond(poses.data(), responses_.data() + s * size_t(cells));
        }
        workers_->submit([this, first, end, cells] {
            for (size_t s = first; s < end; ++s) levels_[s] = coherent_.both(responses_.data() + s * size_t(cells), cells);
        });
    }
    workers_->wait();
    // Residuals against the target slope: the level a seat would have on the
    // target line, up to a constant that the spread ignores.
    std::vector<double> broadband(seats);
    std::vector<std::vector<double>> bands(kBandCount, std::vector<double>(seats));
    std::vector<std::vector<double>> powerBands(kBandCount, std::vector<double>(seats));
    if (profile != nullptr) *profile = LevelProfile{};
    for (size_t s = 0; s < seats; ++s) {
        const SeatLevels& levels = levels_[s];
        const double target = options_.slopeDbPerDoubling * log2DistanceFromArray_[s];
        broadband[s] = levels.coherentDbA - target;
        for (int b = 0; b < kBandCount; ++b) {
            bands[size_t(b)][s] = levels.coherentDb[size_t(b)] - target;
            powerBands[size_t(b)][s] = levels.powerDb[size_t(b)] - target;
        }
        if (profile != nullptr) {
            profile->distanceM.push_back(std::exp2(log2DistanceFromArray_[s]));
            profile->broadbandDbA.push_back(levels.coherentDbA);
            profile->bandDb.push_back(levels.coherentDb);
            profile->segment.push_back(segmentOfSeat_[s]);
        }
    }
    // The slope actually reached: the residual's least-squares line on
    // log2 distance, plus the target's own slope.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t s = 0; s < seats; ++s) {
        const double x = log2DistanceFromArray_[s];
        sx += x, sy += broadband[s], sxx += x * x, sxy += x * broadband[s];
    }
    const double n = double(seats), denominator = n * sxx - sx * sx;
    out.fittedSlopeDbPerDoubling =
        options_.slopeDbPerDoubling + (denominator > 0 ? (n * sxy - sx * sy) / denominator : 0.0);

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
    // Broadband evenness, and the bands on average and at their worst, so
    // that no band is given up for the others.
    out.objectiveDb = options_.aloneBand >= 0
                          ? out.bandSpreadDb[size_t(options_.aloneBand)]
                          : out.broadbandSpreadDb + out.meanBandSpreadDb + out.worstBandSpreadDb;
    return out;
}

std::vector<double> Designer::tilts() const {
    if (!options_.tiltRangeDeg) return {scenario_.arrayAnglesDeg.y};
    std::vector<double> out;
    const auto [low, high] = *options_.tiltRangeDeg;
    for (int i = 0; low + i * kTiltStepDeg <= high + 1e-9; ++i) out.push_back(low + i * kTiltStepDeg);
    return out;
}

ArrayChoice Designer::palcStart(double tiltDeg) const {
    // Each cell aims at the middle of an equal share of the seats, counted
    // from the farthest (the top cell) to the nearest (the bottom cell); the
    // splay between neighbours is the difference of their aims, taken to the
    // nearest value the dialog allows, with the rounding carried on.
    const double turn = scenario_.arrayAnglesDeg.x / kDegreesPerRadian;
    const double aimX = std::sin(turn), aimY = -std::cos(turn);
    std::vector<double> depressionsDeg;
    for (const Vec3& seat : seats_) {
        const double aheadM = (seat.x - scenario_.arrayPositionM.x) * aimX + (seat.y - scenario_.arrayPositionM.y) * aimY;
        depressionsDeg.push_back(std::atan2(scenario_.arrayPositionM.z - seat.z, aheadM) * kDegreesPerRadian);
    }
    std::sort(depressionsDeg.begin(), depressionsDeg.end());
    const int cells = scenario_.cellCount();
    const bool firstSplayTilts = model_.firstCell == models::FirstCellRule::HangsFromBumper;
    ArrayChoice choice;
    choice.kinds = scenario_.kinds;
    choice.tiltDeg = tiltDeg;
    double aimDownDeg = -tiltDeg;
    for (int n = 1; n <= cells; ++n) {
        const double share = (n - 0.5) / cells;
        const double wantDeg = percentile(depressionsDeg, share);
        const auto& allowed = allowed_[size_t(n - 1)];
        double splay = 0;
        if (n > 1 || firstSplayTilts) {
            const double wanted = wantDeg - aimDownDeg;
            splay = *std::min_element(allowed.begin(), allowed.end(), [&](double a, double b) {
                return std::fabs(a - wanted) < std::fabs(b - wanted);
            });
            aimDownDeg += splay;
        }
        choice.splaysDeg.push_back(splay);
    }
    return choice;
}

ArrayChoice Designer::bestUniform(double tiltDeg, Evenness& evenness) {
    // Cell 1 at 0, every other cell alike.
    const int cells = scenario_.cellCount();
    const auto& others = allowed_.size() > 1 ? allowed_[1] : allowed_[0];
    ArrayChoice best;
    bool first = true;
    for (double splay : others) {
        ArrayChoice uniform{std::vector<double>(size_t(cells), splay), scenario_.kinds, tiltDeg};
        uniform.splaysDeg[0] = 0;
        const Evenness e = evaluate(uniform);
        if (first || e.objectiveDb < evenness.objectiveDb) {
            best = uniform;
            evenness = e;
            first = false;
        }
    }
    return best;
}

DesignResult Designer::run() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    evaluations_ = 0;
    DesignResult result;
    result.seats = int(seats_.size());
    const int cells = scenario_.cellCount();
    const bool withKinds = session_.blobFormat().cellsCarryKind;
    const std::vector<double> tiltValues = tilts();

    result.scenario = {scenario_.splaysDeg, scenario_.kinds, scenario_.arrayAnglesDeg.y};
    result.scenarioEvenness = evaluate(result.scenario);

    // The baselines and the start, at the best tilt for each when the tilt
    // is the design's to choose.
    bool first = true;
    for (double tilt : tiltValues) {
        Evenness uniformEvenness;
        const ArrayChoice uniform = bestUniform(tilt, uniformEvenness);
        if (first || uniformEvenness.objectiveDb < result.uniformEvenness.objectiveDb) {
            result.uniform = uniform;
            result.uniformEvenness = uniformEvenness;
        }
        const ArrayChoice start = palcStart(tilt);
        const Evenness startEvenness = evaluate(start);
        if (first || startEvenness.objectiveDb < result.startEvenness.objectiveDb) {
            result.start = start;
            result.startEvenness = startEvenness;
        }
        first = false;
    }

    ArrayChoice best = result.start;
    Evenness bestEvenness = result.startEvenness;
    if (result.uniformEvenness.objectiveDb < bestEvenness.objectiveDb) {
        best = result.uniform;
        bestEvenness = result.uniformEvenness;
    }
    if (withKinds && best.kinds.empty()) best.kinds.assign(size_t(cells), session_.blobFormat().defaultKind);

    // Coordinate descent: one cell at a time, every value it may take; then
    // each pair of neighbours turned one step in opposite directions, which
    // moves one cell's aim and leaves the cells below it where they were;
    // then the kinds and the tilt; passes until none improves. A trial is
    // kept only when strictly better, so the order decides ties and the
    // result never falls below where it started.
    auto indexOf = [](const std::vector<double>& values, double v) {
        return long(std::lower_bound(values.begin(), values.end(), v) - values.begin());
    };
    const bool firstSplayTilts = model_.firstCell == models::FirstCellRule::HangsFromBumper;
    auto descend = [&](ArrayChoice& current, Evenness& currentEvenness) {
        bool improved = false;
        auto keepIfBetter = [&](const ArrayChoice& trial) {
            const Evenness e = evaluate(trial);
            if (e.objectiveDb < currentEvenness.objectiveDb) {
                current = trial;
                currentEvenness = e;
                improved = true;
            }
        };
        for (int pass = 0; pass < kMostSearchPasses; ++pass) {
            improved = false;
            for (int n = 1; n <= cells; ++n) {
                const size_t i = size_t(n - 1);
                // In products where cell 1 follows the array's pose its
                // splay changes nothing; it stays at the start's value.
                const bool splayMatters = n > 1 || firstSplayTilts;
                for (double splay : allowed_[i]) {
                    if (!splayMatters || splay == current.splaysDeg[i]) continue;
                    ArrayChoice trial = current;
                    trial.splaysDeg[i] = splay;
                    keepIfBetter(trial);
                }
                for (long step : {-1L, 1L}) {
                    if (!splayMatters || n == cells) break;
                    const long here = indexOf(allowed_[i], current.splaysDeg[i]) + step;
                    const long next = indexOf(allowed_[i + 1], current.splaysDeg[i + 1]) - step;
                    if (here < 0 || here >= long(allowed_[i].size()) || next < 0 ||
                        next >= long(allowed_[i + 1].size())) {
                        continue;
                    }
                    ArrayChoice trial = current;
                    trial.splaysDeg[i] = allowed_[i][size_t(here)];
                    trial.splaysDeg[i + 1] = allowed_[i + 1][size_t(next)];
                    keepIfBetter(trial);
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
    // random (a fixed sequence, so the design is the same every run), and
    // the descent again; a better result becomes the new best. The number
    // of kicks is bounded by evaluations, which keeps large designs in time.
    std::unique_ptr<ProgressBar> progress;
    if (options_.showProgress) progress = std::make_unique<ProgressBar>(kKicks + 1);
    descend(best, bestEvenness);
    if (progress) progress->update(1);
    std::mt19937 random(kKickSeed);
    auto draw = [&](uint32_t below) { return long(random() % below); };
    const long budget = evaluations_ + long(options_.kickResponseBudget / double(seats_.size() * size_t(cells)));
    for (int kick = 0; kick < kKicks && evaluations_ < budget; ++kick) {
        ArrayChoice trial = best;
        const int moved = 2 + int(draw(3));
        // The cells whose splay counts: all, or all but the first.
        const int firstMovable = firstSplayTilts ? 0 : 1;
        for (int m = 0; m < moved && firstMovable < cells; ++m) {
            const size_t i = size_t(firstMovable + draw(uint32_t(cells - firstMovable)));
            const long size = long(allowed_[i].size());
            const long step = (draw(2) == 0 ? -1 : 1) * (1 + draw(2));
            const long to = std::clamp(indexOf(allowed_[i], trial.splaysDeg[i]) + step, 0L, size - 1);
            trial.splaysDeg[i] = allowed_[i][size_t(to)];
            if (withKinds && draw(4) == 0) trial.kinds[i] = int(draw(uint32_t(model_.kindCount)));
        }
        Evenness trialEvenness = evaluate(trial);
        descend(trial, trialEvenness);
        if (trialEvenness.objectiveDb < bestEvenness.objectiveDb) {
            best = trial;
            bestEvenness = trialEvenness;
        }
        if (progress) progress->update(kick + 2);
    }
    if (progress) progress->finish();
    result.chosen = best;
    result.chosenEvenness = evaluate(best, &result.chosenProfile);
    evaluate(result.start, &result.startProfile);
    result.evaluations = evaluations_;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // Leave the instance holding the chosen array.
    session_.applyCells(best.splaysDeg, best.kinds);
    session_.aimArray({scenario_.arrayAnglesDeg.x, best.tiltDeg, scenario_.arrayAnglesDeg.z});
    return result;
}

}  // namespace arrayhost

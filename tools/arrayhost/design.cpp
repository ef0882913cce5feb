#include "tools/arrayhost/design.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <set>
#include <sstream>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
#include "tools/arrayhost/progress.h"
#include "tools/host/setup_blob.h"

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
constexpr double kLowPercentile = 0.10, kHighPercentile = 0.90;
// The arrows of a dialog reach finitely many values; past this the rules
// would be producing a continuum, which no dialog does.
constexpr size_t kMostAllowedSplays = 1024;
constexpr int kMostSearchPasses = 6;

double distanceM(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

std::string fixed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// Shortest text that reads back as the same single-precision splay.
std::string splayText(double v) {
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strchr(text, 'e') == nullptr && float(std::strtod(text, nullptr)) == float(v)) break;
    }
    return text;
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

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const double rank = p * double(values.size() - 1);
    const size_t below = size_t(std::floor(rank));
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (rank - double(below)) * (values[above] - values[below]);
}

const models::ModelDefinition* modelOf(const std::string& plugin) {
    const host::Product* product = host::findProduct(plugin);
    const std::string name = product != nullptr ? plugin : std::string();
    if (name == "ktr2") return &models::kKtr2;
    if (name == "ktr4") return &models::kKtr4;
    if (name == "qspan") return &models::kQspan;
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

Designer::Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                   DesignOptions options)
    : session_(session), scenario_(scenario), model_(model), options_(options) {
    seats_ = seatsAlong(*scenario.audienceLine);
    for (const Vec3& seat : seats_) {
        log2DistanceFromArray_.push_back(std::log2(std::max(distanceM(seat, scenario.arrayPositionM), 1e-3)));
    }
    for (int n = 1; n <= scenario.cellCount(); ++n) allowed_.push_back(allowedSplaysDeg(model, n));
}

Evenness Designer::evaluate(const ArrayChoice& choice) {
    ++evaluations_;
    Evenness out;
    if (!session_.applyCells(choice.splaysDeg, choice.kinds)) {
        out.objectiveDb = out.broadbandSpreadDb = HUGE_VAL;
        return out;
    }
    const int cells = session_.cellCount();
    std::vector<CellPose> poses(static_cast<size_t>(cells));
    std::vector<CellResponse> responses(static_cast<size_t>(cells));
    const CoherentSum coherent(scenario_.speedOfSoundMPerS, CoherentMode::BandAverage);
    std::vector<double> broadband(seats_.size());
    std::vector<std::vector<double>> bands(kDesignBandCount, std::vector<double>(seats_.size()));
    for (size_t s = 0; s < seats_.size(); ++s) {
        session_.setSeat(seats_[s]);
        session_.respond(poses.data(), responses.data());
        const BandValues levels = coherent(responses.data(), cells);
        // The residual against the target slope: the level a seat would have
        // on the target line, up to a constant that the spread ignores.
        const double target = options_.slopeDbPerDoubling * log2DistanceFromArray_[s];
        broadband[s] = aWeightedDb(levels) - target;
        for (int b = 0; b < kDesignBandCount; ++b) bands[size_t(b)][s] = levels[kDesignFirstBand + b] - target;
    }
    auto spread = [](const std::vector<double>& v) {
        return percentile(v, kHighPercentile) - percentile(v, kLowPercentile);
    };
    out.broadbandSpreadDb = spread(broadband);
    double bandSum = 0;
    for (int b = 0; b < kDesignBandCount; ++b) {
        out.bandSpreadDb[size_t(b)] = spread(bands[size_t(b)]);
        bandSum += out.bandSpreadDb[size_t(b)];
    }
    out.objectiveDb = 0.5 * (out.broadbandSpreadDb + bandSum / kDesignBandCount);
    return out;
}

ArrayChoice Designer::palcStart() const {
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
    double aimDownDeg = -scenario_.arrayAnglesDeg.y;
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

DesignResult Designer::run() {
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    evaluations_ = 0;
    DesignResult result;
    result.seats = int(seats_.size());
    const int cells = scenario_.cellCount();
    const bool withKinds = session_.blobFormat().cellsCarryKind;

    result.scenario = {scenario_.splaysDeg, scenario_.kinds};
    result.scenarioEvenness = evaluate(result.scenario);

    // Best uniform splay: cell 1 at 0, every other cell alike.
    const auto& others = allowed_.size() > 1 ? allowed_[1] : allowed_[0];
    bool first = true;
    for (double splay : others) {
        ArrayChoice uniform{std::vector<double>(size_t(cells), splay), scenario_.kinds};
        uniform.splaysDeg[0] = 0;
        const Evenness e = evaluate(uniform);
        if (first || e.objectiveDb < result.uniformEvenness.objectiveDb) {
            result.uniform = uniform;
            result.uniformEvenness = e;
            first = false;
        }
    }

    result.start = palcStart();
    result.startEvenness = evaluate(result.start);

    ArrayChoice best = result.start;
    Evenness bestEvenness = result.startEvenness;
    if (result.uniformEvenness.objectiveDb < bestEvenness.objectiveDb) {
        best = result.uniform;
        bestEvenness = result.uniformEvenness;
    }
    if (withKinds && best.kinds.empty()) best.kinds.assign(size_t(cells), session_.blobFormat().defaultKind);

    long perPass = 0;
    for (const auto& values : allowed_) perPass += long(values.size()) + (withKinds ? model_.kindCount : 0);
    std::unique_ptr<ProgressBar> progress;
    if (options_.showProgress) progress = std::make_unique<ProgressBar>(perPass * kMostSearchPasses);
    long done = 0;
    // Coordinate search: one cell at a time, every value it may take, kept
    // only when strictly better, so the order decides ties and the result
    // never falls below where it started.
    bool improved = false;
    auto keepIfBetter = [&](const ArrayChoice& trial) {
        const Evenness e = evaluate(trial);
        if (e.objectiveDb < bestEvenness.objectiveDb) {
            best = trial;
            bestEvenness = e;
            improved = true;
        }
    };
    for (int pass = 0; pass < kMostSearchPasses; ++pass) {
        improved = false;
        for (int n = 1; n <= cells; ++n) {
            // In products where cell 1 follows the array's pose its splay
            // changes nothing; it stays at the start's value.
            const bool splayMatters = n > 1 || model_.firstCell == models::FirstCellRule::HangsFromBumper;
            for (double splay : allowed_[size_t(n - 1)]) {
                if (!splayMatters || splay == best.splaysDeg[size_t(n - 1)]) continue;
                ArrayChoice trial = best;
                trial.splaysDeg[size_t(n - 1)] = splay;
                keepIfBetter(trial);
            }
            done += long(allowed_[size_t(n - 1)].size());
            for (int kind = 0; withKinds && kind < model_.kindCount; ++kind) {
                if (kind == best.kinds[size_t(n - 1)]) continue;
                ArrayChoice trial = best;
                trial.kinds[size_t(n - 1)] = kind;
                keepIfBetter(trial);
            }
            done += withKinds ? model_.kindCount : 0;
            if (progress) progress->update(done);
        }
        if (!improved) break;
    }
    if (progress) progress->finish();
    result.chosen = best;
    result.chosenEvenness = bestEvenness;
    result.evaluations = evaluations_;
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    // Leave the instance holding the chosen array.
    session_.applyCells(best.splaysDeg, best.kinds);
    return result;
}

namespace {

std::string choiceText(const ArrayChoice& choice) {
    std::string out = "splays";
    for (double s : choice.splaysDeg) out += " " + splayText(s);
    if (!choice.kinds.empty()) {
        out += "; kinds";
        for (int k : choice.kinds) out += std::string(" ") + kCabinetKindNames[k];
    }
    return out;
}

std::string evennessLine(const char* name, const ArrayChoice& choice, const Evenness& e) {
    return std::string("  ") + name + ": objective " + fixed(e.objectiveDb, 2) + " dB, broadband spread " +
           fixed(e.broadbandSpreadDb, 2) + " dB(A)\n    " + choiceText(choice) + "\n";
}

}  // namespace

std::string formatDesign(const DesignResult& r, const DesignOptions& options, const Scenario& scenario) {
    std::string out = "Design along the audience line: " + std::to_string(r.seats) + " seats every " +
                      fixed(kDesignSeatSpacingM, 1) + " m, band-averaged coherent sums\n";
    out += "Objective: the 90th minus the 10th percentile of the level's residual against " +
           fixed(options.slopeDbPerDoubling, 1) +
           " dB per doubling of the distance from the array position; the mean of the broadband (A-weighted)\n"
           "spread and the mean spread of the bands 500 Hz to 8 kHz.\n";
    out += evennessLine("scenario's own splays", r.scenario, r.scenarioEvenness);
    out += evennessLine("best uniform splay", r.uniform, r.uniformEvenness);
    out += evennessLine("start (equal shares of the line)", r.start, r.startEvenness);
    out += evennessLine("chosen", r.chosen, r.chosenEvenness);
    out += "Spread per band, dB (scenario / uniform / start / chosen):\n";
    for (int b = 0; b < kDesignBandCount; ++b) {
        char line[128];
        std::snprintf(line, sizeof line, "  %9s  %6.2f  %6.2f  %6.2f  %6.2f\n",
                      bandLabel(kDesignFirstBand + b).c_str(), r.scenarioEvenness.bandSpreadDb[size_t(b)],
                      r.uniformEvenness.bandSpreadDb[size_t(b)], r.startEvenness.bandSpreadDb[size_t(b)],
                      r.chosenEvenness.bandSpreadDb[size_t(b)]);
        out += line;
    }
    out += "Search: " + std::to_string(r.evaluations) + " arrays evaluated in " + fixed(r.seconds, 2) + " s (" +
           scenario.plugin + ")\n";
    return out;
}

std::string designedScenarioText(const std::string& text, const Scenario& scenario, const ArrayChoice& choice,
                                 const std::vector<uint8_t>& blob) {
    std::string splays = "splays =", kinds = "kinds =";
    for (double s : choice.splaysDeg) splays += " " + splayText(s);
    for (int k : choice.kinds) kinds += std::string(" ") + kCabinetKindNames[k];
    const auto lineOf = [&](const char* key) {
        const auto it = scenario.keyLines.find(key);
        return it == scenario.keyLines.end() ? 0 : it->second;
    };
    const int splaysLine = lineOf("splays"), kindsLine = lineOf("kinds");
    std::istringstream in(text);
    std::string out, raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (number == splaysLine) raw = splays;
        else if (number == kindsLine) raw = choice.kinds.empty() ? "" : kinds;
        out += raw + "\n";
    }
    if (splaysLine == 0) out += splays + "\n";
    if (kindsLine == 0 && !choice.kinds.empty()) out += kinds + "\n";
    out += "# The setup blob of this array, as handed to IP_SetValue(1, ...):\n#";
    for (size_t i = 0; i < blob.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", blob[i]);
        out += hex;
        if (i % 16 == 15 && i + 1 < blob.size()) out += "\n#";
    }
    return out + "\n";
}

}  // namespace arrayhost

#include "tools/arrayhost/design_measure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "tools/arrayhost/workers.h"

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegreesPerRadian = 180.0 / kPi;
constexpr double kLowPercentile = 0.10, kHighPercentile = 0.90;
// The objective's weights of the broadband spread, and of each dB per
// doubling the fitted slope strays beyond kSlopeToleranceDb, against each
// band figure.
constexpr double kBroadbandWeight = 2.0, kSlopeMissWeight = 4.0;
// Seats a worker sums at a time.
constexpr size_t kSeatsPerBatch = 128;

double distanceM(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

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

double spreadOf(std::vector<double>& values) {
    return percentileInPlace(values, kHighPercentile) - percentileInPlace(values, kLowPercentile);
}

Vec3 moved(const Vec3& seat, const PlaneAxes& axes, double heightM, double distanceM, double acrossM) {
    return {seat.x + distanceM * axes.aheadX + acrossM * axes.acrossX,
            seat.y + distanceM * axes.aheadY + acrossM * axes.acrossY, seat.z + heightM};
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

double percentile(std::vector<double> values, double p) { return percentileInPlace(values, p); }

PlaneAxes planeAxesOf(const Scenario& scenario) {
    const double turn = scenario.arrayAnglesDeg.x / kDegreesPerRadian;
    return {std::sin(turn), -std::cos(turn), std::cos(turn), std::sin(turn)};
}

double aheadOfArrayM(const Scenario& scenario, const Vec3& point) {
    const PlaneAxes axes = planeAxesOf(scenario);
    return (point.x - scenario.arrayPositionM.x) * axes.aheadX + (point.y - scenario.arrayPositionM.y) * axes.aheadY;
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

struct Measure::Geometry {
    double tiltDeg = 0;       // added to the choice's tilt
    std::vector<Vec3> seats;  // the audience's, and in the nominal geometry the surfaces to avoid too
};

Measure::Measure(const Session& session, const Scenario& scenario, const DesignOptions& options)
    : session_(session), scenario_(scenario), options_(options), workers_(std::make_unique<Workers>()) {
    setSeats();
    setScenes();
}

Measure::~Measure() = default;

void Measure::setSeats() {
    const PlaneAxes axes = planeAxesOf(scenario_);
    const Perturbation& scene = options_.scene;
    // The audience: its centre line, then, for a width, both its edges.
    std::vector<double> acrossM{0.0};
    if (scenario_.audienceWidthM > 0) acrossM = {0.0, scenario_.audienceWidthM / 2, -scenario_.audienceWidthM / 2};
    for (double across : acrossM) {
        for (size_t segment = 0; segment < scenario_.audienceLine->segments.size(); ++segment) {
            AudienceLine one;
            one.segments.push_back(scenario_.audienceLine->segments[segment]);
            for (const Vec3& seat : seatsAlong(one, options_.seatSpacingM)) {
                seats_.push_back(moved(seat, axes, scene.heightM, scene.distanceM, across));
                segmentOfSeat_.push_back(int(segment));
            }
        }
        if (across == 0.0) centreSeats_ = seats_.size();
    }
    audienceSeats_ = seats_.size();
    for (const Vec3& seat : seats_) {
        log2DistanceFromArray_.push_back(std::log2(std::max(distanceM(seat, scenario_.arrayPositionM), 1e-3)));
    }
    if (scenario_.avoidLine) {
        for (const Vec3& seat : seatsAlong(*scenario_.avoidLine, options_.seatSpacingM)) {
            seats_.push_back(moved(seat, axes, scene.heightM, scene.distanceM, 0));
        }
    }
}

void Measure::setScenes() {
    // The perturbations: seats moved and tilts make geometries that the
    // plug-in answers for; speeds of sound only change the sums.
    const PlaneAxes axes = planeAxesOf(scenario_);
    const Perturbation& scene = options_.scene;
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
        const double speed = scenario_.speedOfSoundMPerS * scene.speedOfSoundScale * p.speedOfSoundScale;
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
}

size_t Measure::responsesPerEvaluation() const {
    size_t responses = 0;
    for (const Geometry& geometry : geometries_) responses += geometry.seats.size() * size_t(scenario_.cellCount());
    return responses;
}

std::vector<Measure::LineSeat> Measure::centreLine() const {
    std::vector<LineSeat> out;
    for (size_t s = 0; s < centreSeats_; ++s) out.push_back({seats_[s], segmentOfSeat_[s]});
    return out;
}

Figures Measure::figuresOf(const std::vector<SeatLevels>& levels, std::vector<double>* broadbandResiduals) const {
    // Residuals against the target slope: the level a seat would have on the
    // target line, up to a constant that the spread ignores.
    Figures out;
    const size_t seats = audienceSeats_;
    std::vector<double> broadband(seats);
    std::vector<std::vector<double>> bands(kBandCount, std::vector<double>(seats));
    for (size_t s = 0; s < seats; ++s) {
        const double target = options_.slopeDbPerDoubling * log2DistanceFromArray_[s];
        broadband[s] = levels[s].coherentDbA - target;
        for (int b = 0; b < kBandCount; ++b) bands[size_t(b)][s] = levels[s].coherentDb[size_t(b)] - target;
    }
    // The slope actually reached along the centre line: the level's
    // least-squares line on log2 distance.
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t s = 0; s < centreSeats_; ++s) {
        const double x = log2DistanceFromArray_[s], y = levels[s].coherentDbA;
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double n = double(centreSeats_), denominator = n * sxx - sx * sx;
    out.fittedSlopeDbPerDoubling = denominator > 0 ? (n * sxy - sx * sy) / denominator : 0.0;
    if (broadbandResiduals != nullptr) *broadbandResiduals = broadband;
    // The spreads reorder the residuals, so they come after the fit.
    out.broadbandSpreadDb = spreadOf(broadband);
    for (int b = 0; b < kBandCount; ++b) out.bandSpreadDb[size_t(b)] = spreadOf(bands[size_t(b)]);
    std::tie(out.meanBandSpreadDb, out.worstBandSpreadDb) =
        meanAndWorst(out.bandSpreadDb, options_.firstBand, options_.lastBand);
    return out;
}

Evenness Measure::evaluate(const ArrayChoice& choice, LevelProfile* profile) {
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
    // The array's length, and so the law the plug-in applied, is the same in
    // every geometry (tilting the array turns it without stretching it):
    // taken once, in the first, so that it does not depend on the tilt the
    // instance had before.
    InterfaceLaw law;
    const CellSum sumKind = options_.sum;
    // The plug-in answers on this thread, seat after seat and geometry after
    // geometry; the workers sum each batch of seats already read meanwhile,
    // once per speed of sound that geometry is summed at.
    long refused = 0;
    // Should the plug-in throw part-way, the sums already queued finish
    // before the buffers they write are used again.
    struct FinishQueued {
        Workers& workers;
        ~FinishQueued() { workers.wait(); }
    } finishQueued{*workers_};
    for (size_t g = 0; g < geometries_.size(); ++g) {
        const Geometry& geometry = geometries_[g];
        session_.aimArray({scenario_.arrayAnglesDeg.x, choice.tiltDeg + geometry.tiltDeg, scenario_.arrayAnglesDeg.z});
        int posesRefused = 0;
        const std::vector<CellPose> poses = session_.cellPoses(&posesRefused);
        refused += posesRefused;
        if (g == 0) law = session_.interfaceLaw(poses.data());
        const size_t seats = geometry.seats.size();
        responses_[g].resize(seats * size_t(cells));
        CellResponse* responses = responses_[g].data();
        for (size_t first = 0; first < seats; first += kSeatsPerBatch) {
            const size_t end = std::min(first + kSeatsPerBatch, seats);
            for (size_t s = first; s < end; ++s) {
                session_.setSeat(geometry.seats[s]);
                refused += session_.respond(poses.data(), geometry.seats[s], responses + s * size_t(cells));
            }
            workers_->submit([this, g, first, end, cells, responses, law, sumKind] {
                for (size_t p = 0; p < perturbations_.size(); ++p) {
                    if (geometryOf_[p] != int(g)) continue;
                    const CoherentSum& sum = sums_[size_t(sumOf_[p])];
                    for (size_t s = first; s < end; ++s) {
                        const CellResponse* seat = responses + s * size_t(cells);
                        SeatEnergies& e = energies_[p][s];
                        if (sumKind == CellSum::Cells) {
                            e = sum.pointSourceEnergies(seat, cells, law);
                        } else {
                            e = sum.energies(seat, cells);
                            // The power view is its own level and its own coverage.
                            if (sumKind == CellSum::Power) e.coherent = e.power, e.coherentA = e.powerA;
                        }
                    }
                }
            });
        }
    }
    workers_->wait();
    out.refusedCalls = refused;

    // Each audience seat's level: the energy mean over the perturbations.
    // The workers take the seats in batches: the levels are 84 logarithms a
    // seat.
    const size_t seats = audienceSeats_;
    const double share = 1.0 / double(perturbations_.size());
    // Kept from one evaluation to the next: a fresh quarter megabyte each
    // time costs more in page faults than the sums that fill it.
    std::vector<SeatLevels>& levels = levels_;
    std::vector<SeatLevels>& nominal = nominalLevels_;
    levels.resize(seats);
    nominal.resize(seats);
    for (size_t first = 0; first < seats; first += kSeatsPerBatch) {
        workers_->submit([&, first] {
            for (size_t s = first; s < std::min(first + kSeatsPerBatch, seats); ++s) {
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
                nominal[s] = levelsOf(energies_[0][s]);
            }
        });
    }
    workers_->wait();
    for (size_t s = 0; s < seats; ++s) {
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

    static_cast<Figures&>(out) = figuresOf(levels, nullptr);
    out.nominal = figuresOf(nominal, nullptr);
    std::vector<std::vector<double>> powerBands(kBandCount, std::vector<double>(seats));
    double audienceSumDbA = 0;
    for (size_t s = 0; s < seats; ++s) {
        const double target = options_.slopeDbPerDoubling * log2DistanceFromArray_[s];
        audienceSumDbA += levels[s].coherentDbA;
        for (int b = 0; b < kBandCount; ++b) powerBands[size_t(b)][s] = levels[s].powerDb[size_t(b)] - target;
    }
    for (int b = 0; b < kBandCount; ++b) out.powerBandSpreadDb[size_t(b)] = spreadOf(powerBands[size_t(b)]);

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

    // Broadband evenness, what the audience hears, counted twice, and how
    // far its fitted slope strays from the target's beyond kSlopeToleranceDb
    // per doubling; the bands on average and at their worst, so that no
    // band is given up for the others; and every dB a surface to avoid comes
    // closer than its margin.
    const double slopeMissDb =
        std::max(0.0, std::fabs(out.fittedSlopeDbPerDoubling - options_.slopeDbPerDoubling) - kSlopeToleranceDb);
    out.objectiveDb = (options_.aloneBand >= 0 ? out.bandSpreadDb[size_t(options_.aloneBand)]
                                               : kBroadbandWeight * out.broadbandSpreadDb + kSlopeMissWeight * slopeMissDb +
                                                     out.meanBandSpreadDb + out.worstBandSpreadDb) +
                      avoidPenaltyDb;
    return out;
}

Robustness checkRobustness(const Session& session, const Scenario& scenario, const DesignOptions& options,
                           const ArrayChoice& choice, const Evenness& reported) {
    Robustness out;
    const double reportedComb = meanAndWorst(reported.bandSpreadDb, kCombFirstBand, kCombLastBand).first;
    auto shift = [&](const Evenness& e, const std::string& what) {
        out.measured = out.measured && e.valid();
        const double comb = meanAndWorst(e.bandSpreadDb, kCombFirstBand, kCombLastBand).first;
        const double change =
            std::max(std::fabs(e.broadbandSpreadDb - reported.broadbandSpreadDb), std::fabs(comb - reportedComb));
        if (change > out.worstShiftDb || out.worstWhat.empty()) out.worstShiftDb = change, out.worstWhat = what;
        return comb;
    };
    out.measured = reported.valid();
    DesignOptions dense = options;
    dense.showProgress = false;
    dense.seatSpacingM = options.seatSpacingM / 4;
    const Evenness denseEvenness = Measure(session, scenario, dense).evaluate(choice);
    out.denseBroadbandDb = denseEvenness.broadbandSpreadDb;
    out.denseCombMeanDb = shift(denseEvenness, "grid x4");
    out.lowBroadbandDb = out.lowCombMeanDb = HUGE_VAL;
    out.highBroadbandDb = out.highCombMeanDb = -HUGE_VAL;
    const std::vector<Perturbation> moves = robustPerturbations();
    for (size_t p = 1; p < moves.size(); ++p) {
        DesignOptions moved = options;
        moved.showProgress = false;
        moved.scene = moves[p];
        const Evenness e = Measure(session, scenario, moved).evaluate(choice);
        const double comb = shift(e, moves[p].name());
        out.lowBroadbandDb = std::min(out.lowBroadbandDb, e.broadbandSpreadDb);
        out.highBroadbandDb = std::max(out.highBroadbandDb, e.broadbandSpreadDb);
        out.lowCombMeanDb = std::min(out.lowCombMeanDb, comb);
        out.highCombMeanDb = std::max(out.highCombMeanDb, comb);
    }
    return out;
}

}  // namespace arrayhost

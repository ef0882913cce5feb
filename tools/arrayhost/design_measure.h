// How even an array's level is along an audience line: the seats, the scenes
// they are heard in, and the spreads and slope of their levels.
//
// The figure holds between the seats: ten seats per metre, each seat's level
// the energy mean over the nominal scene and the scene moved a little (the
// line up and down, nearer and farther, the array tilted a little either
// way, the air's speed of sound a little off), so that no choice can live off
// one comb of the cells' interference. The cells are added as point sources
// (the `cells` sum) unless a host view is asked for.
#pragma once

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace arrayhost {

// Ten seats per metre: the comb of neighbouring cells repeats about every
// metre along a line, so a coarser grid could be fitted between its teeth.
inline constexpr double kDesignSeatSpacingM = 0.1;
// How far the robust figure moves the line, tilts the array and changes the
// speed of sound, each way.
inline constexpr double kPerturbLineM = 0.25, kPerturbTiltDeg = 0.5, kPerturbSpeedOfSound = 0.01;
// Bands whose spread the design weighs by default: 500 Hz to 8 kHz.
inline constexpr int kDesignFirstBand = 7, kDesignLastBand = 19;
// The comb of a coherent sum matters most from 1 to 8 kHz; the report always
// sums those bands up too.
inline constexpr int kCombFirstBand = 10, kCombLastBand = 19;
// A fitted slope this close to the target's costs the objective nothing (dB
// per doubling).
inline constexpr double kSlopeToleranceDb = 0.4;
// Surfaces to avoid are kept at least this far below the audience's mean.
inline constexpr double kAvoidBelowAudienceDb = 10.0;

// Seats every `spacingM` along each segment, both ends included.
std::vector<Vec3> seatsAlong(const AudienceLine& line, double spacingM = kDesignSeatSpacingM);

// Value at fraction p (0 to 1) of the sorted values, linear between ranks.
double percentile(std::vector<double> values, double p);

// The scene's horizontal directions: along the array's aim, and across it.
struct PlaneAxes {
    double aheadX, aheadY, acrossX, acrossY;
};
PlaneAxes planeAxesOf(const Scenario& scenario);
// How far a point lies ahead of the array position, along its aim.
double aheadOfArrayM(const Scenario& scenario, const Vec3& point);

// The scene moved as a whole: the line up (+) or down, away from the array
// (+) or toward it, the array tilted up (+) or down, the speed of sound
// scaled.
struct Perturbation {
    double heightM = 0, distanceM = 0, tiltDeg = 0, speedOfSoundScale = 1;
    std::string name() const;
};
// The nominal scene first, then each quantity moved alone, both ways.
std::vector<Perturbation> robustPerturbations();

struct ArrayChoice {
    std::vector<double> splaysDeg;
    std::vector<int> kinds;  // empty for products whose cells carry no kind
    double tiltDeg = 0;      // the array's second angle (negative aims down)
};

// Level along the centre of the audience line, seat by seat.
struct LevelProfile {
    std::vector<double> distanceM;  // from the array position
    std::vector<double> broadbandDbA;
    std::vector<BandValues> bandDb;
    std::vector<int> segment;  // of the audience line, from 0
    // The broadband level's lowest and highest over the perturbations.
    std::vector<double> broadbandLowDbA, broadbandHighDbA;
};

// The spreads and slope of one set of seat levels.
struct Figures {
    double broadbandSpreadDb = 0;  // 90th minus 10th percentile of the residual, dB(A)
    BandValues bandSpreadDb{};     // the same per band, every band
    double meanBandSpreadDb = 0, worstBandSpreadDb = 0;  // over the design's bands
    double fittedSlopeDbPerDoubling = 0;  // least squares of the broadband level on log2 distance
};

struct Evenness : Figures {
    // Per band for the power sum of the cells: the coverage without their
    // interference, which no choice of splays can smooth away.
    BandValues powerBandSpreadDb{};
    double objectiveDb = 0;
    // The loudest point of the surfaces to avoid against the audience's mean
    // level, dB(A); NaN without such surfaces.
    double avoidAboveAudienceDb = std::nan("");
    // The nominal scene alone, unaveraged, on the same seats: what the
    // averaging over the perturbations leaves out.
    Figures nominal;
    // Calls the plug-in refused and seats whose level came out NaN: either
    // makes the evaluation worthless, and its objective infinite.
    long refusedCalls = 0, notANumberSeats = 0;
    bool valid() const { return refusedCalls == 0 && notANumberSeats == 0; }
};

struct DesignOptions {
    double slopeDbPerDoubling = 0;  // target level change per doubling of distance
    int firstBand = kDesignFirstBand, lastBand = kDesignLastBand;
    std::optional<std::pair<double, double>> tiltRangeDeg;  // choose the tilt within, both ends included
    int aloneBand = -1;  // >= 0: that band's spread alone is the objective
    bool freeOrder = false;  // splays and kinds in any order down the array
    double seatSpacingM = kDesignSeatSpacingM;
    bool robust = true;        // average over robustPerturbations(), or the nominal scene alone
    Perturbation scene;        // the whole scene moved, for checking a figure
    CellSum sum = CellSum::Cells;  // how the cells are added; the host views only to report them
    // Responses (cells times seats, every geometry counted) the search may
    // ask for after its first descents: about 100 arrays of 16 cells along
    // the default floor.
    double kickResponseBudget = 4e6;
    bool showProgress = true;
};

// Mean and worst spread over bands first..last.
std::pair<double, double> meanAndWorst(const BandValues& spreadDb, int first, int last);

class Workers;

// Measures arrays through the plug-in along a scenario's audience line.
class Measure {
public:
    // `session` set up with `scenario`, which holds an audience line.
    Measure(const Session& session, const Scenario& scenario, const DesignOptions& options);
    ~Measure();

    // Hands the plug-in the array, reads every seat in every geometry and
    // sums them; `profile`, if given, receives the centre line's levels.
    Evenness evaluate(const ArrayChoice& choice, LevelProfile* profile = nullptr);
    long evaluations() const { return evaluations_; }
    size_t audienceSeats() const { return audienceSeats_; }
    // Cell responses one evaluation asks the plug-in for.
    size_t responsesPerEvaluation() const;

    struct LineSeat {
        Vec3 seatM;
        int segment;
    };
    // The centre line's seats in the scene measured, nearest segment first.
    std::vector<LineSeat> centreLine() const;

private:
    struct Geometry;
    void setSeats();
    void setScenes();
    Figures figuresOf(const std::vector<SeatLevels>& levels, std::vector<double>* broadbandResiduals) const;

    const Session& session_;
    const Scenario& scenario_;
    DesignOptions options_;
    // Seats: the audience's (centre line first, then its edges), then the
    // surfaces to avoid; per audience seat its segment and log2 distance.
    std::vector<Vec3> seats_;
    size_t audienceSeats_ = 0, centreSeats_ = 0;
    std::vector<int> segmentOfSeat_;
    std::vector<double> log2DistanceFromArray_;
    std::vector<Perturbation> perturbations_;
    std::vector<Geometry> geometries_;
    std::vector<CoherentSum> sums_;        // per speed of sound
    std::vector<int> geometryOf_, sumOf_;  // per perturbation
    long evaluations_ = 0;
    std::vector<std::vector<CellResponse>> responses_;  // per geometry, seat by seat
    std::vector<std::vector<SeatEnergies>> energies_;   // per perturbation, seat by seat
    std::vector<SeatLevels> levels_, nominalLevels_;    // per audience seat: the mean, the nominal scene
    // Last, so that it is destroyed first: its threads write into the
    // buffers above, and must have stopped before those go.
    std::unique_ptr<Workers> workers_;
};

// How a figure holds: the same array measured on a grid four times denser,
// and with the whole scene moved by each perturbation.
struct Robustness {
    double denseBroadbandDb = 0, denseCombMeanDb = 0;
    double lowBroadbandDb = 0, highBroadbandDb = 0;  // over the perturbations
    double lowCombMeanDb = 0, highCombMeanDb = 0;
    double worstShiftDb = 0;  // largest change of broadband or comb mean from the reported figure
    std::string worstWhat;    // what made it: "grid x4" or the perturbation's name
    bool measured = true;     // false when any of those measurements was worthless
};

// How `choice`'s figure holds (see Robustness).
Robustness checkRobustness(const Session& session, const Scenario& scenario, const DesignOptions& options,
                           const ArrayChoice& choice, const Evenness& reported);

}  // namespace arrayhost

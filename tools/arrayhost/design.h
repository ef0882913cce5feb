// Choosing an array's splays (and, where cells carry one, their cabinet
// kinds, and if asked its tilt) for an even level along an audience line,
// from the values the product's setup dialog lets a user reach.
//
// The figure the design optimises holds between the seats: ten seats per
// metre, each seat's level the energy mean over the nominal line and the
// line moved a little (up and down, nearer and farther, the array tilted a
// little either way, the air's speed of sound a little off), so that no
// choice can live off one comb of the cells' interference.
#pragma once

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog/array_setup.h"
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
// Tilts tried when the design chooses the tilt.
inline constexpr double kTiltStepDeg = 0.5;
// Dialog values closer than this are one value (the dialog shows both as the
// same text; stepping up and stepping down reach them by different roundings).
inline constexpr double kTwinSplayDeg = 0.01;
// A locked splay or a top angle names a dialog value by its one-decimal text.
inline constexpr double kDialogTextToleranceDeg = 0.05;
// A fitted slope this close to the target's costs the objective nothing (dB
// per doubling).
inline constexpr double kSlopeToleranceDb = 0.4;
// Surfaces to avoid are kept at least this far below the audience's mean.
inline constexpr double kAvoidBelowAudienceDb = 10.0;

// Seats every `spacingM` along each segment, both ends included.
std::vector<Vec3> seatsAlong(const AudienceLine& line, double spacingM = kDesignSeatSpacingM);

// Value at fraction p (0 to 1) of the sorted values, linear between ranks.
double percentile(std::vector<double> values, double p);

// The model a product is bound to, or nullptr for an unknown library.
const models::ModelDefinition* modelOf(const std::string& plugin);
// The same from the name the plug-in gives itself (DLLGetName).
const models::ModelDefinition* modelOfProductName(const std::string& displayName);

// Every splay the dialog reaches for cell n (1-based) by its arrows from a
// fresh cell at 0, ascending; of twins within kTwinSplayDeg the one reached
// by stepping away from 0.
std::vector<double> allowedSplaysDeg(const models::ModelDefinition& model, int n);

// An angle as the setup dialog shows it, without the degree sign: "1.7".
std::string dialogAngleText(double deg);

// Cabinet kinds from the narrowest to the widest: by their directivity
// factor from 2 to 8 kHz, highest first.
std::vector<int> kindsNarrowToWide(const models::ModelDefinition& model);

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

struct Evenness {
    double broadbandSpreadDb = 0;  // 90th minus 10th percentile of the residual, dB(A)
    BandValues bandSpreadDb{};     // the same per band, every band
    // Per band for the power sum of the cells: the coverage without their
    // interference, which no choice of splays can smooth away.
    BandValues powerBandSpreadDb{};
    double meanBandSpreadDb = 0, worstBandSpreadDb = 0;  // over the design's bands
    double objectiveDb = 0;
    double fittedSlopeDbPerDoubling = 0;  // least squares of the broadband level on log2 distance
    // The loudest point of the surfaces to avoid against the audience's mean
    // level, dB(A); NaN without such surfaces.
    double avoidAboveAudienceDb = std::nan("");
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
    // Responses (cells times seats, every geometry counted) the search may
    // ask for after its first descents: about 190 arrays of 16 cells along
    // the default floor.
    double kickResponseBudget = 8e6;
    bool showProgress = true;
};

// Mean and worst spread over bands first..last.
std::pair<double, double> meanAndWorst(const BandValues& spreadDb, int first, int last);

// How a figure holds: the same array measured on a grid four times denser,
// and with the whole scene moved by each perturbation.
struct Robustness {
    double denseBroadbandDb = 0, denseCombMeanDb = 0;
    double lowBroadbandDb = 0, highBroadbandDb = 0;  // over the perturbations
    double lowCombMeanDb = 0, highCombMeanDb = 0;
    double worstShiftDb = 0;  // largest change of broadband or comb mean from the reported figure
    std::string worstWhat;    // what made it: "grid x4" or the perturbation's name
};

struct DesignResult {
    ArrayChoice start, chosen, uniform, scenario, palc;
    Evenness startEvenness, chosenEvenness, uniformEvenness, scenarioEvenness, palcEvenness;
    LevelProfile palcProfile, chosenProfile;
    int seats = 0;            // audience seats, per perturbation
    int reversalJoint = -1;   // cell below the one joint whose splay shrinks, or -1
    long evaluations = 0;
    double seconds = 0;
};

class Workers;

class Designer {
public:
    // `session` set up with `scenario`, which holds an audience line.
    Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
             DesignOptions options);
    ~Designer();
    // Why the scenario's rigging limits cannot be met ("lock: ..."), or
    // empty; and the scenario key it concerns.
    const std::string& fault() const { return fault_; }
    const std::string& faultKey() const { return faultKey_; }
    Evenness evaluate(const ArrayChoice& choice, LevelProfile* profile = nullptr);
    DesignResult run();

    // PALC2: every cell covers an equal length of the audience line (its
    // aperture angle times its distance constant), the gaps of the line
    // skipped, then taken to the dialog's values and made progressive.
    ArrayChoice palc2(double tiltDeg) const;
    // Splays that shrink down the array, counted over the cells whose splay
    // matters.
    int reversals(const ArrayChoice& choice) const;
    bool meetsRigging(const ArrayChoice& choice) const;

private:
    struct Geometry;
    ArrayChoice equalShares(double tiltDeg) const;
    ArrayChoice bestUniform(double tiltDeg, Evenness& evenness);
    std::optional<ArrayChoice> rigged(ArrayChoice choice) const;
    std::vector<double> tilts() const;
    bool splayMatters(size_t cell) const;
    // Every cell at splay 0, in kinds_, at the first tilt tried.
    ArrayChoice leastArray() const;
    // How far a point lies ahead of the array position, along its aim.
    double aheadOfArrayM(const Vec3& point) const;

    const Session& session_;
    const Scenario& scenario_;
    const models::ModelDefinition& model_;
    DesignOptions options_;
    std::string fault_, faultKey_;
    bool firstSplayTilts_ = false;
    int reversalsAllowed_ = 0;
    std::vector<int> kindRank_;  // by kind: 0 the narrowest
    std::vector<std::optional<double>> lockedDeg_;  // per cell
    // The kinds every baseline starts from: the scenario's, or where cells
    // carry a kind and it gives none, the plug-in's default in every cell.
    std::vector<int> kinds_;
    std::optional<double> fixedTiltDeg_;
    // Seats: the audience's (centre line first, then its edges), then the
    // surfaces to avoid; per audience seat its segment and log2 distance.
    std::vector<Vec3> seats_;
    size_t audienceSeats_ = 0, centreSeats_ = 0;
    std::vector<int> segmentOfSeat_;
    std::vector<double> log2DistanceFromArray_;
    std::vector<std::vector<double>> allowed_;  // per cell
    std::vector<Perturbation> perturbations_;
    std::vector<Geometry> geometries_;
    std::vector<CoherentSum> sums_;               // per speed of sound
    std::vector<int> geometryOf_, sumOf_;         // per perturbation
    long evaluations_ = 0;
    std::vector<std::vector<CellResponse>> responses_;  // per geometry, seat by seat
    std::vector<std::vector<SeatEnergies>> energies_;   // per perturbation, seat by seat
    // Last, so that it is destroyed first: its threads write into the
    // buffers above, and must have stopped before those go.
    std::unique_ptr<Workers> workers_;
};

// How `choice`'s figure holds (see Robustness).
Robustness checkRobustness(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
                           const DesignOptions& options, const ArrayChoice& choice, const Evenness& reported);

}  // namespace arrayhost

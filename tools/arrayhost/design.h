// Choosing an array's splays (and, where cells carry one, their cabinet
// kinds, and if asked its tilt) for an even level along an audience line,
// from the values the product's setup dialog lets a user reach.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dialog/array_setup.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace arrayhost {

inline constexpr double kDesignSeatSpacingM = 0.5;
// Bands whose spread the design weighs by default: 500 Hz to 8 kHz.
inline constexpr int kDesignFirstBand = 7, kDesignLastBand = 19;
// The comb of a coherent sum matters most from 1 to 8 kHz; the report always
// sums those bands up too.
inline constexpr int kCombFirstBand = 10, kCombLastBand = 19;
// Tilts tried when the design chooses the tilt.
inline constexpr double kTiltStepDeg = 0.5;

// Seats every kDesignSeatSpacingM along each segment, both ends included.
std::vector<Vec3> seatsAlong(const AudienceLine& line, double spacingM = kDesignSeatSpacingM);

// Value at fraction p (0 to 1) of the sorted values, linear between ranks.
double percentile(std::vector<double> values, double p);

// The model a product is bound to, or nullptr for an unknown library.
const models::ModelDefinition* modelOf(const std::string& plugin);
// The same from the name the plug-in gives itself (DLLGetName).
const models::ModelDefinition* modelOfProductName(const std::string& displayName);

// Every splay the dialog reaches for cell n (1-based) by its arrows from a
// fresh cell at 0, ascending.
std::vector<double> allowedSplaysDeg(const models::ModelDefinition& model, int n);

struct ArrayChoice {
    std::vector<double> splaysDeg;
    std::vector<int> kinds;  // empty for products whose cells carry no kind
    double tiltDeg = 0;      // the array's second angle (negative aims down)
};

// Level along the audience line, seat by seat.
struct LevelProfile {
    std::vector<double> distanceM;  // from the array position
    std::vector<double> broadbandDbA;
    std::vector<BandValues> bandDb;
    std::vector<int> segment;  // of the audience line, from 0
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
};

struct DesignOptions {
    double slopeDbPerDoubling = 0;  // target level change per doubling of distance
    int firstBand = kDesignFirstBand, lastBand = kDesignLastBand;
    std::optional<std::pair<double, double>> tiltRangeDeg;  // choose the tilt within, both ends included
    int aloneBand = -1;  // >= 0: that band's spread alone is the objective
    // Responses (cells times seats) the kicks after the first descent may ask
    // for in all: 6000 arrays of the default scenario, 1700 of 16 cells at
    // 200 seats.
    double kickResponseBudget = 5.4e6;
    bool showProgress = true;
};

// Mean and worst spread over bands first..last.
std::pair<double, double> meanAndWorst(const BandValues& spreadDb, int first, int last);

struct DesignResult {
    ArrayChoice start, chosen, uniform, scenario;
    Evenness startEvenness, chosenEvenness, uniformEvenness, scenarioEvenness;
    LevelProfile startProfile, chosenProfile;
    int seats = 0;
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
    Evenness evaluate(const ArrayChoice& choice, LevelProfile* profile = nullptr);
    DesignResult run();

private:
    ArrayChoice palcStart(double tiltDeg) const;
    ArrayChoice bestUniform(double tiltDeg, Evenness& evenness);
    std::vector<double> tilts() const;

    const Session& session_;
    const Scenario& scenario_;
    const models::ModelDefinition& model_;
    DesignOptions options_;
    std::vector<Vec3> seats_;
    std::vector<int> segmentOfSeat_;
    std::vector<double> log2DistanceFromArray_;
    std::vector<std::vector<double>> allowed_;  // per cell
    long evaluations_ = 0;
    CoherentSum coherent_;
    std::vector<CellResponse> responses_;  // seat by seat, cellCount() each
    std::vector<SeatLevels> levels_;
    // Last, so that it is destroyed first: its threads write into the
    // buffers above, and must have stopped before those go.
    std::unique_ptr<Workers> workers_;
};

}  // namespace arrayhost

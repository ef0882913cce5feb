// Choosing an array's splays (and, where cells carry one, their cabinet
// kinds) for an even level along an audience line, from the values the
// product's setup dialog lets a user reach.
#pragma once

#include <string>
#include <vector>

#include "dialog/array_setup.h"
#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"

namespace arrayhost {

inline constexpr double kDesignSeatSpacingM = 0.5;
// Bands whose spread the design reports and weighs: 500 Hz to 8 kHz.
inline constexpr int kDesignFirstBand = 7, kDesignLastBand = 19;
inline constexpr int kDesignBandCount = kDesignLastBand - kDesignFirstBand + 1;

// Seats every kDesignSeatSpacingM along each segment, both ends included.
std::vector<Vec3> seatsAlong(const AudienceLine& line, double spacingM = kDesignSeatSpacingM);

// Value at fraction p (0 to 1) of the sorted values, linear between ranks.
double percentile(std::vector<double> values, double p);

// The model a product is bound to, or nullptr for an unknown library.
const models::ModelDefinition* modelOf(const std::string& plugin);

// Every splay the dialog reaches for cell n (1-based) by its arrows from a
// fresh cell at 0, ascending.
std::vector<double> allowedSplaysDeg(const models::ModelDefinition& model, int n);

struct ArrayChoice {
    std::vector<double> splaysDeg;
    std::vector<int> kinds;  // empty for products whose cells carry no kind
};

struct Evenness {
    double broadbandSpreadDb = 0;                    // 90th minus 10th percentile, dB(A)
    std::array<double, kDesignBandCount> bandSpreadDb{};  // 500 Hz to 8 kHz
    double objectiveDb = 0;  // mean of the broadband spread and the mean band spread
};

struct DesignOptions {
    double slopeDbPerDoubling = 0;  // target level change per doubling of distance
    bool showProgress = true;
};

struct DesignResult {
    ArrayChoice start, chosen, uniform, scenario;
    Evenness startEvenness, chosenEvenness, uniformEvenness, scenarioEvenness;
    int seats = 0;
    long evaluations = 0;
    double seconds = 0;
};

class Designer {
public:
    // `session` set up with `scenario`, which holds an audience line.
    Designer(const Session& session, const Scenario& scenario, const models::ModelDefinition& model,
             DesignOptions options);
    Evenness evaluate(const ArrayChoice& choice);
    DesignResult run();

private:
    ArrayChoice palcStart() const;

    const Session& session_;
    const Scenario& scenario_;
    const models::ModelDefinition& model_;
    DesignOptions options_;
    std::vector<Vec3> seats_;
    std::vector<double> log2DistanceFromArray_;
    std::vector<std::vector<double>> allowed_;  // per cell
    long evaluations_ = 0;
};

std::string formatDesign(const DesignResult& result, const DesignOptions& options, const Scenario& scenario);

// The scenario text with its `splays` (and `kinds`) replaced by the choice.
std::string designedScenarioText(const std::string& text, const Scenario& scenario, const ArrayChoice& choice,
                                 const std::vector<uint8_t>& blob);

}  // namespace arrayhost

// A scenario: everything the stand-in host hands a plug-in before it asks for
// levels. Read from a small text file of `key = value` lines (README.md beside
// this file documents the keys) or taken from the built-in default.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/arrayhost/bands.h"
#include "tools/arrayhost/summation.h"
#include "tools/host/product.h"

namespace arrayhost {

inline constexpr int kMaxCells = host::kCellCapacity;
// Cabinet kind names of the product whose cells carry a kind, by kind number.
inline constexpr const char* kCabinetKindNames[] = {"QSA", "QSB", "QSC"};
inline constexpr int kCabinetKindCount = 3;
// Limits of the filter a plug-in accepts; the host refuses values it would clamp.
inline constexpr double kFilterGainMinDb = -60.0, kFilterGainMaxDb = 0.0;
inline constexpr double kFilterPhaseMinDeg = -180.0, kFilterPhaseMaxDeg = 180.0;
// Largest audience grid a scenario may ask for.
inline constexpr long kMaxGridPoints = 2000000;

struct Vec3 {
    double x = 0, y = 0, z = 0;
};

// A horizontal rectangle of seats at one height, sampled on a square grid
// whose points include both edges' corners.
struct AudiencePlane {
    double xMinM = 0, yMinM = 0, xMaxM = 0, yMaxM = 0;
    double heightM = 0;
    double resolutionM = 0;

    int columns() const;  // grid points along x
    int rows() const;     // grid points along y
    Vec3 point(int column, int row) const;
};

// Seats along a line in the array's vertical plane, seat height included:
// one or more segments, each a polyline of at least two points, with gaps
// between segments (aisles, a balcony front).
struct AudienceLine {
    std::vector<std::vector<Vec3>> segments;
};
inline constexpr int kFewestAudienceLinePoints = 2, kMostAudienceLinePoints = 16;
// How far a point may lie off the array's vertical plane.
inline constexpr double kAudienceLinePlaneToleranceM = 0.05;
inline constexpr double kMostAudienceWidthM = 200.0;

struct Filter {
    BandValues gainsDb{};
    BandValues phasesDeg{};
};

struct Scenario {
    std::string source;          // file it came from, or "default scenario"
    std::string plugin = "ktr4";  // deliverable name or library path
    double speedOfSoundMPerS = 343.0;
    double humidityPercent = 50.0;
    bool airAbsorption = true;   // flag 1 false: the plug-in subtracts air absorption
    std::vector<double> splaysDeg;  // one per cell, cell 1 first
    std::vector<int> kinds;      // one per cell, or empty for the plug-in's own default
    Vec3 arrayPositionM;
    Vec3 arrayAnglesDeg;
    std::optional<Filter> filter;
    std::optional<Vec3> seatM;
    std::optional<AudiencePlane> audience;
    std::optional<AudienceLine> audienceLine;
    // For --design only: how wide the audience is across the centre line
    // (seats at both edges count too), surfaces in the array's vertical
    // plane to keep quiet, cells held at a splay, the most the splays may add
    // up to, and the aim of the top cell.
    double audienceWidthM = 0;
    std::optional<AudienceLine> avoidLine;
    std::vector<std::pair<int, double>> locks;  // cell (1-based), splay
    std::optional<double> maxTotalSplayDeg;
    std::optional<double> topAngleDeg;
    std::vector<int> mapBands;   // band indices drawn as maps besides the broadband one
    CellSum mapSum = CellSum::Cells;
    CoherentMode coherentSum = CoherentMode::BandAverage;
    double mapRangeDb = 30.0;    // span of the colour scale below the map's maximum
    std::map<std::string, int> keyLines;  // line of each key given, for later complaints

    int cellCount() const { return int(splaysDeg.size()); }
    // "file:line: " for a key given in the file, "file: " otherwise.
    std::string where(const std::string& key) const;
};

struct ScenarioError {
    std::string file;
    int line = 0;  // 0 when the fault is no single line (a key that is missing)
    std::string key;
    std::string reason;

    std::string message() const;
};

// Parses scenario text; `fileName` names it in errors. On a fault returns
// nothing and describes the first fault in `error`.
std::optional<Scenario> parseScenario(const std::string& text, const std::string& fileName,
                                      ScenarioError& error);
std::optional<Scenario> loadScenario(const std::string& path, ScenarioError& error);

// 12 cells of the four-inch product, progressive splay, 10 m up, over a
// 30 m wide and 40 m deep floor in front of it.
Scenario defaultScenario();
// The default as scenario text, the same format as a file.
const char* defaultScenarioText();

}  // namespace arrayhost

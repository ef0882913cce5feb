// The audience plane swept seat by seat, and what the host learns at one seat.
#pragma once

#include <iterator>
#include <string>
#include <vector>

#include "tools/arrayhost/scenario.h"
#include "tools/arrayhost/session.h"
#include "tools/arrayhost/summation.h"

namespace arrayhost {

// Everything read at one seat, with the array's level in every sum.
struct SeatResult {
    Vec3 seatM;
    int refusedCalls = 0;  // calls that answered other than 0
    float arrayDistanceM = 0;  // CI_GetDistance
    std::vector<CellPose> poses;
    std::vector<CellResponse> cells;
    InterfaceLaw law;  // the plug-in's, taken off for the point sources
    SeatSums sums;
};

SeatResult measureSeat(const Session& session, const Vec3& seatM, double speedOfSoundMPerS, CoherentMode mode);

// Levels over the audience grid in layers: per map band its three sums
// (cells, power, interface-coherent), then the A-weighted broadband level of
// each.
class CoverageMap {
public:
    CoverageMap(const AudiencePlane& plane, std::vector<int> bands);

    static constexpr int kSums = int(std::size(kEveryCellSum));
    const AudiencePlane& plane() const { return plane_; }
    const std::vector<int>& bands() const { return bands_; }
    int layerCount() const { return kSums * (int(bands_.size()) + 1); }
    int bandLayer(size_t mapBand, CellSum sum) const { return kSums * int(mapBand) + int(sum); }
    int broadbandLayer(CellSum sum) const { return kSums * int(bands_.size()) + int(sum); }
    std::string layerName(int layer) const;  // "1kHz_cells_dB", "broadband_power_dBA"

    float& at(int layer, int column, int row);
    float at(int layer, int column, int row) const;
    // Bilinear between grid points, at a point of the plane (metres).
    double interpolate(int layer, double xM, double yM) const;

    struct Extreme {
        float levelDb;
        int column, row;
    };
    Extreme loudest(int layer) const;
    Extreme quietest(int layer) const;
    // Seats where the plug-in's answers summed to NaN.
    long notANumber(int layer) const;

private:
    template <typename Beats>
    Extreme extreme(int layer, Beats beats) const;

    AudiencePlane plane_;
    std::vector<int> bands_;
    int columns_, rows_;
    std::vector<float> values_;
};

struct SweepTiming {
    long seats = 0, responses = 0;  // responses: cell-seat pairs
    double seconds = 0;             // the whole sweep, summing included
    double pluginSeconds = 0;       // in the plug-in's exports only
    long refusedCalls = 0;          // per-cell calls that answered other than 0
};

// Sweeps every grid seat: CI_SetSeatPosition3fv, then per cell its pose,
// CI_GetCompFR and CI_GetCompDistance; sums and stores the layers.
CoverageMap sweepAudience(const Session& session, const Scenario& scenario, SweepTiming& timing,
                          bool showProgress);

// One line per seat: x, y, then every layer.
bool writeCoverageCsv(const CoverageMap& map, const std::string& path, std::string& error);

}  // namespace arrayhost

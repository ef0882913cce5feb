// Adding up the cells of an array at one seat, band by band. This is the one
// place where cells are added.
//
// The physical sum (`cells`) treats every cell as a point source: its level
// toward the seat as the plug-in reports it, with the plug-in's distance law
// and air absorption taken back off (both stand for the whole array and are
// measured from the array position), then spherical spreading and the air
// absorption over the cell's own path, and the pressures added with phase.
// The line source's near field comes out of that sum; it is not applied
// twice.
//
// Two further sums are what a host might do with the plug-in's levels as
// they stand: add them by power, as if the cells were unrelated sources, or
// coherently with each cell's path phase (`interface-coherent`), which counts
// the array's gain twice, once in the law and once in the sum.
//
// A coherent sum gives cell c in band i the pressure amplitude
// 10^(L_ci/20) and the phase phi_ci - 2*pi*f_i*r_c/c0, where L_ci and phi_ci
// are the level (as the plug-in reports it, or as a point source) and phase
// the plug-in reports, f_i the band's nominal centre, r_c the cell's own
// distance to the seat (CI_GetCompDistance, or the same worked out from the
// cell's reported position) and c0 the speed of sound. The
// propagation time CI_GetCompFR reports is one per array, taken from the
// array position, so it cannot tell the cells apart.
//
// One frequency per band shows that frequency's interference pattern, which
// a third of an octave of programme material smears out. The band average
// instead sums coherently at kBandAverageFrequencies frequencies spread
// evenly (linearly) across the band's base-ten edges, fm 10^(-1/20) to
// fm 10^(1/20) around the exact midband fm = 1000 10^((i-10)/10) Hz, and
// averages the energies of those sums.
#pragma once

#include <array>

#include "tools/arrayhost/bands.h"

namespace arrayhost {

// What the host reads for one cell toward one seat.
struct CellResponse {
    std::array<float, kBandCount> levelsDb{};
    std::array<float, kBandCount> phasesDeg{};
    float reportedTimeS = 0;   // CI_GetCompFR's time, from the array position
    float pathM = 0;           // CI_GetCompDistance, from the cell itself
    float arrayDistanceM = 0;  // CI_GetDistance: the distance the plug-in's law took
};

// The plug-in's distance law and air absorption, as it applied them to every
// cell's level: for the seat's distance d from the array position, no loss
// within 1 m, then 3 dB per doubling up to the array's transition distance
// X_i = L^2 f_i / 700 (L from cell 1 to cell n) and 6 dB per doubling beyond
// it, a transition distance below 1 m counting as 1 m; and while flag 1 asks
// for it, the absorption over d. Taken back off, a level is the cell's own
// at 1 m in its direction toward the seat.
struct InterfaceLaw {
    BandValues farFieldOffsetDb{};     // 10 log10 max(X_i, 1 m)
    BandValues airAbsorptionDbPerM{};  // zero where the plug-in leaves absorption out
};
// From the array's length, and the humidity and flag the host set: the same
// ISO 9613-1 table the plug-in computes.
InterfaceLaw interfaceLaw(double arrayLengthM, double humidityPercent, bool airAbsorption);
// The law's loss at distance d: max(t, 2t - x), t = 10 log10 d beyond 1 m.
double interfaceLossDb(double distanceM, double farFieldOffsetDb);
// A point source's level this close to its centre is taken at this distance:
// a seat inside a cabinet has no meaningful level, but must not have an
// infinite one.
inline constexpr double kNearestPathM = 0.01;

// Level of a zero sum: far below anything a plug-in reports.
inline constexpr double kSilenceDb = -300.0;

// 10*log10 of a power ratio, with kSilenceDb for zero and NaN for NaN: a
// plug-in's NaN level must show as such, never as silence.
double powerToDb(double power);

BandValues sumByPower(const CellResponse* cells, int count);

enum class CoherentMode { BandAverage, CentreOnly };

inline constexpr int kBandAverageFrequencies = 8;
inline constexpr double kBandAverageErrorDb = 1e-4, kBandAverageCancellationErrorDb = 2e-6;

// The frequencies the band average sums at in band `band`, lowest first.
std::array<double, kBandAverageFrequencies> bandAverageFrequenciesHz(int band);

// One set of levels summed both ways, as energies (squared pressure
// amplitudes, 10^(L/10)), for averaging several sums before taking their
// level: the plug-in's levels (power and interface-coherent), or the cells
// as point sources (their power sum, without interference, and `cells`).
struct SeatEnergies {
    BandValues power{}, coherent{};
    double powerA = 0, coherentA = 0;
};

struct SeatLevels {
    BandValues powerDb{}, coherentDb{};
    double powerDbA = 0, coherentDbA = 0;  // broadband, as aWeightedDb gives them
};

// The three sums of one seat: `cells`, the physical one, and the two host
// views of the plug-in's levels.
enum class CellSum { Cells, Power, InterfaceCoherent };
inline constexpr CellSum kEveryCellSum[] = {CellSum::Cells, CellSum::Power, CellSum::InterfaceCoherent};
// "cells", "power", "interface-coherent": the names a scenario and the CSV use.
const char* cellSumName(CellSum sum);

struct SeatSums {
    SeatLevels hostView;      // the plug-in's levels: power, interface-coherent
    SeatLevels pointSources;  // power of the point sources, and cells
    const BandValues& bandsDb(CellSum sum) const;
    double broadbandDbA(CellSum sum) const;
};

// Both sums at once, several bands at a time in vector lanes, with the sines,
// cosines and powers of ten as polynomials, so that the stand-in host's sweep
// costs little more than the plug-in's answers. Against the straightforward
// evaluation (directCoherentSum) it agrees centre-only, in double precision,
// to 1e-8 dB; the band average runs in single precision and agrees to
// kBandAverageErrorDb + kBandAverageCancellationErrorDb 10^(D/20), where D
// is how deep the band's sum cancels: the level of the cells' amplitudes
// added without phase, less the level of the sum. Without cancellation that
// is 1e-4 dB; two 110 dB cells in antiphase over a 40 dB one (D = 76 dB)
// may be 0.013 dB off (5e-3 seen in tests).
class CoherentSum {
public:
    CoherentSum(double speedOfSoundMPerS, CoherentMode mode);
    // The plug-in's levels as they stand: by power and interface-coherent.
    BandValues operator()(const CellResponse* cells, int count) const;
    SeatLevels both(const CellResponse* cells, int count) const;
    SeatEnergies energies(const CellResponse* cells, int count) const;
    // Every cell a point source, `law` taken back off its level: the power
    // sum of the point sources, and the `cells` sum.
    SeatLevels pointSources(const CellResponse* cells, int count, const InterfaceLaw& law) const;
    SeatEnergies pointSourceEnergies(const CellResponse* cells, int count, const InterfaceLaw& law) const;
    SeatSums all(const CellResponse* cells, int count, const InterfaceLaw& law) const;

private:
    SeatEnergies sum(const CellResponse* cells, int count, const InterfaceLaw* law) const;

    int frequencies_;  // summed per band: 1 (the centre) or kBandAverageFrequencies
    // Per band: the first frequency summed over c0, and the spacing of the
    // band average's frequencies over c0.
    BandValues firstCyclesPerMetre_{};
    BandValues stepCyclesPerMetre_{};
    BandValues aWeightingPower_{};  // 10^(A/10) per band
};

SeatLevels levelsOf(const SeatEnergies& energies);

// Broadband level of 21 band levels: their energy sum after A-weighting, dB(A).
double aWeightedDb(const BandValues& bandLevelsDb);

}  // namespace arrayhost

// Adding up the cells of an array at one seat, band by band: by power, as if
// the cells were unrelated sources, and coherently, as pressures with phase.
//
// The coherent sum gives cell c in band i the pressure amplitude
// 10^(L_ci/20) and the phase phi_ci - 2*pi*f_i*r_c/c0, where L_ci and phi_ci
// are the level and phase the plug-in reports, f_i the band's nominal centre,
// r_c the cell's own distance to the seat (CI_GetCompDistance) and c0 the
// speed of sound. The propagation time CI_GetCompFR reports is one per array,
// taken from the array position, so it cannot tell the cells apart.
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
    float reportedTimeS = 0;  // CI_GetCompFR's time, from the array position
    float pathM = 0;          // CI_GetCompDistance, from the cell itself
};

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

// The same as energies (squared pressure amplitudes, 10^(L/10)), for
// averaging several sums before taking their level.
struct SeatEnergies {
    BandValues power{}, coherent{};
    double powerA = 0, coherentA = 0;
};

struct SeatLevels {
    BandValues powerDb{}, coherentDb{};
    double powerDbA = 0, coherentDbA = 0;  // broadband, as aWeightedDb gives them
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
    BandValues operator()(const CellResponse* cells, int count) const;
    SeatLevels both(const CellResponse* cells, int count) const;
    SeatEnergies energies(const CellResponse* cells, int count) const;

private:
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

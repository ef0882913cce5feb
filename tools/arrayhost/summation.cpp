#include "tools/arrayhost/summation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "acoustics/air_absorption.h"

namespace arrayhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLog2Of10 = 3.32192809488736234787;
constexpr double kLn2 = 0.69314718055994530942;
constexpr double kTurnsPerDegree = 1.0 / 360.0;
// exp(level * k) is 10^(level / 10), for the scalar A-weighting.
constexpr double kPowerPerDb = 0.23025850929940458;  // ln(10) / 10

// Sixteen bytes of lanes at a time: SSE2 on both the native and the 32-bit
// Windows builds, whatever the compiler has elsewhere (the band average on
// x86-64 Linux also in 32 bytes for AVX2). The sums run per band, a cell's 21
// bands filling six vectors of four floats (three of eight) or eleven of
// doubles.
//
// The band average sums in single precision, four bands at a time: over
// 420 000 random band sums (1 to 16 cells of 40 to 110 dB, sums above 40 dB)
// it stayed within 1e-4 dB of the double-precision evaluation. The
// centre-only sum shows a pure tone's nulls, which may be deeper than single
// precision resolves, so it sums in double (within 1e-8 dB). Either way the phases are first reduced
// to a fraction of a turn in double: a path of 100 m is 3000 turns at 10 kHz.
// Where the band average is compiled for AVX2 as well (x86-64 Linux, see
// bandAverageSum), a vector holds eight floats; elsewhere four, the SSE2
// register.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define BAND_AVERAGE_CLONES __attribute__((target_clones("avx2", "default")))
constexpr int kFloatLaneBytes = 32;
#else
#define BAND_AVERAGE_CLONES
constexpr int kFloatLaneBytes = 16;
#endif

// The helpers and the sum are inlined into each compiled copy of the band
// average below, so that each copy runs them with its own instructions.
#define ALWAYS_INLINE __attribute__((always_inline)) inline

template <typename Scalar>
struct Precision;

template <>
struct Precision<float> {
    typedef float Lanes __attribute__((vector_size(kFloatLaneBytes)));
    typedef int32_t Bits __attribute__((vector_size(kFloatLaneBytes)));
    static constexpr int kLanes = kFloatLaneBytes / 4;
    // Adding and subtracting 1.5 2^23 rounds to an integer without a
    // conversion; the exponent field and its bias; Taylor terms of e^x for
    // |x| <= ln 2 / 2, of cos x and of sin(x)/x for |x| <= pi/2, each with
    // a remainder below the precision.
    static constexpr float kRoundingMagic = 12582912.0f;
    static constexpr int kMantissaBits = 23, kExponentBias = 127;
    static constexpr int kExpTerms = 8, kCosTerms = 7, kSinTerms = 6;
};

template <>
struct Precision<double> {
    typedef double Lanes __attribute__((vector_size(16)));
    typedef int64_t Bits __attribute__((vector_size(16)));
    static constexpr int kLanes = 2;
    static constexpr double kRoundingMagic = 6755399441055744.0;
    static constexpr int kMantissaBits = 52, kExponentBias = 1023;
    static constexpr int kExpTerms = 13, kCosTerms = 10, kSinTerms = 9;
};

double fractionOfTurn(double turns) {
    const double magic = Precision<double>::kRoundingMagic;
    return turns - ((turns + magic) - magic);
}

// Taylor coefficients, highest power first for Horner's rule.
template <typename Scalar, int Terms>
struct Series {
    Scalar c[Terms];
};
constexpr double factorial(int n) { return n <= 1 ? 1.0 : n * factorial(n - 1); }
template <typename Scalar, int Terms>
constexpr Series<Scalar, Terms> seriesOf(int firstPower, int powerStep, bool alternating) {
    Series<Scalar, Terms> s{};
    for (int i = 0; i < Terms; ++i) {
        const int k = Terms - 1 - i;  // term index, from the highest
        const double sign = alternating && k % 2 == 1 ? -1.0 : 1.0;
        s.c[i] = Scalar(sign / factorial(firstPower + powerStep * k));
    }
    return s;
}

template <typename Scalar>
struct Vectorised {
    using P = Precision<Scalar>;
    using Lanes = typename P::Lanes;
    using Bits = typename P::Bits;
    static constexpr int kLanes = P::kLanes;
    static constexpr int kChunks = (kBandCount + kLanes - 1) / kLanes;
    static constexpr int kPaddedBands = kChunks * kLanes;

    static constexpr auto kExp = seriesOf<Scalar, P::kExpTerms>(0, 1, false);
    static constexpr auto kCos = seriesOf<Scalar, P::kCosTerms>(0, 2, true);
    static constexpr auto kSinOverX = seriesOf<Scalar, P::kSinTerms>(1, 2, true);

    ALWAYS_INLINE static Lanes broadcast(Scalar v) { return Lanes{} + v; }
    ALWAYS_INLINE static Lanes load(const Scalar* p) {
        Lanes v;
        for (int i = 0; i < kLanes; ++i) v[i] = p[i];
        return v;
    }
    ALWAYS_INLINE static Lanes select(Bits mask, Lanes yes, Lanes no) {
        return (Lanes)(((Bits)yes & mask) | ((Bits)no & ~mask));
    }
    template <int Terms>
    ALWAYS_INLINE static Lanes horner(const Series<Scalar, Terms>& s, Lanes x) {
        Lanes p = broadcast(s.c[0]);
        for (int i = 1; i < Terms; ++i) p = p * x + s.c[i];
        return p;
    }

    // 2^y: 2^n from the exponent bits, 2^f = e^(f ln 2) for |f| <= 1/2.
    // Far below any level a plug-in reports (-750 dB in single precision)
    // it gives zero: a floored level is silence.
    ALWAYS_INLINE static Lanes exp2(Lanes y) {
        const Scalar lowest = Scalar(1 - P::kExponentBias), highest = Scalar(P::kExponentBias);
        const Bits belowNormal = y < lowest;
        y = select(belowNormal, broadcast(lowest), y);
        y = select(y > highest, broadcast(highest), y);
        const Lanes shifted = y + P::kRoundingMagic;
        const Lanes n = shifted - P::kRoundingMagic;
        // The low bits of `shifted` hold n in two's complement.
        const Bits exponent = ((Bits)shifted - (Bits)broadcast(P::kRoundingMagic) + P::kExponentBias)
                              << P::kMantissaBits;
        return select(belowNormal, broadcast(0), horner(kExp, (y - n) * Scalar(kLn2)) * (Lanes)exponent);
    }

    // cos and sin of 2 pi t for |t| <= 1/2: both of the half angle, within
    // +-pi/2 where the series converge fast, then doubled.
    ALWAYS_INLINE static void cosSinOfTurns(Lanes t, Lanes& cosOut, Lanes& sinOut) {
        const Lanes h = t * Scalar(kPi), h2 = h * h;
        const Lanes s = horner(kSinOverX, h2) * h, c = horner(kCos, h2);
        cosOut = c * c - s * s;
        sinOut = Scalar(2) * s * c;
    }

    static SeatEnergies sum(const CellResponse* cells, int count, int frequencies, const BandValues& firstCyclesPerMetre,
                          const BandValues& stepCyclesPerMetre, const BandValues& aWeightingPower,
                          const InterfaceLaw* law);
};

// A level the plug-in floored at 0 dB carries nothing but silence: far below
// the smallest amplitude exp2 gives, so that its energy is zero.
constexpr double kFlooredLevelDb = -1e4;

// Per band, what turns a level the plug-in reported at a seat `d` from the
// array position into the cell's level at 1 m: the law's loss and the
// absorption over d put back.
template <typename Scalar>
void undoLaw(const InterfaceLaw& law, double arrayDistanceM, Scalar* restoreDb) {
    // interfaceLossDb with its logarithm taken once for every band.
    const double t = arrayDistanceM > 1.0 ? 10.0 * std::log10(arrayDistanceM) : 0.0;
    for (int band = 0; band < kBandCount; ++band) {
        restoreDb[band] = Scalar(std::max(t, 2 * t - law.farFieldOffsetDb[size_t(band)]) +
                                 law.airAbsorptionDbPerM[size_t(band)] * arrayDistanceM);
    }
}


template <typename Scalar>
ALWAYS_INLINE SeatEnergies Vectorised<Scalar>::sum(const CellResponse* cells, int count, int frequencies,
                                   const BandValues& firstCyclesPerMetre, const BandValues& stepCyclesPerMetre,
                                   const BandValues& aWeightingPower, const InterfaceLaw* law) {
    using Padded = Scalar[kPaddedBands];
    Lanes power[kChunks], re[kBandAverageFrequencies][kChunks], im[kBandAverageFrequencies][kChunks];
    for (int q = 0; q < kChunks; ++q) {
        power[q] = broadcast(0);
        for (int k = 0; k < frequencies; ++k) re[k][q] = im[k][q] = broadcast(0);
    }
    // As point sources: per band the law taken back off, the same for every
    // cell that the plug-in measured from the same distance (all of them, at
    // one seat).
    Padded restoreDb{}, absorptionDbPerM{};
    double restoredAtM = std::nan("");
    for (int band = 0; law != nullptr && band < kBandCount; ++band) {
        absorptionDbPerM[band] = Scalar(law->airAbsorptionDbPerM[size_t(band)]);
    }
    // Stage by stage over all bands of a cell, so that the polynomials of
    // different bands, each a chain of dependent steps, overlap in the
    // processor instead of waiting on one another.
    for (int c = 0; c < count; ++c) {
        const CellResponse& cell = cells[c];
        const double pathM = cell.pathM;
        // A point source spreads spherically over its own path (1/r in
        // pressure, applied to the amplitude below) and loses the air's
        // absorption along it.
        Scalar spreading = 1;
        if (law != nullptr) {
            if (!(double(cell.arrayDistanceM) == restoredAtM)) {
                restoredAtM = cell.arrayDistanceM;
                undoLaw(*law, restoredAtM, restoreDb);
            }
            spreading = Scalar(1.0 / std::max(pathM, kNearestPathM));
        }
        // The phase at the first frequency, and the turn from one frequency
        // to the next: the phase falls linearly with frequency (a delay), so
        // each further frequency is one rotation away.
        Padded level{}, firstTurns{}, stepTurns{};
        for (int band = 0; band < kBandCount; ++band) {
            level[band] = Scalar(cell.levelsDb[size_t(band)]);
            const double travelled = fractionOfTurn(firstCyclesPerMetre[size_t(band)] * pathM);
            firstTurns[band] = Scalar(fractionOfTurn(cell.phasesDeg[size_t(band)] * kTurnsPerDegree - travelled));
            stepTurns[band] = Scalar(-fractionOfTurn(stepCyclesPerMetre[size_t(band)] * pathM));
        }
        Lanes zr[kChunks], zi[kChunks], wr[kChunks], wi[kChunks];
        for (int q = 0; q < kChunks; ++q) {
            Lanes levelDb = load(level + q * kLanes);
            if (law != nullptr) {
                // A NaN level fails `<= 0` and stays NaN.
                const Lanes restored =
                    levelDb + load(restoreDb + q * kLanes) - load(absorptionDbPerM + q * kLanes) * Scalar(pathM);
                levelDb = select(levelDb <= Scalar(0), broadcast(Scalar(kFlooredLevelDb)), restored);
            }
            const Lanes amplitude = exp2(levelDb * Scalar(kLog2Of10 / 20.0)) * spreading;
            power[q] += amplitude * amplitude;
            cosSinOfTurns(load(firstTurns + q * kLanes), zr[q], zi[q]);
            zr[q] *= amplitude;
            zi[q] *= amplitude;
        }
        if (frequencies == 1) {
            for (int q = 0; q < kChunks; ++q) re[0][q] += zr[q], im[0][q] += zi[q];
            continue;
        }
        for (int q = 0; q < kChunks; ++q) cosSinOfTurns(load(stepTurns + q * kLanes), wr[q], wi[q]);
        for (int k = 0; k < kBandAverageFrequencies; ++k) {
            for (int q = 0; q < kChunks; ++q) {
                re[k][q] += zr[q];
                im[k][q] += zi[q];
                const Lanes nr = zr[q] * wr[q] - zi[q] * wi[q];
                zi[q] = zr[q] * wi[q] + zi[q] * wr[q];
                zr[q] = nr;
            }
        }
    }
    SeatEnergies out;
    for (int q = 0; q < kChunks; ++q) {
        for (int lane = 0; lane < kLanes && q * kLanes + lane < kBandCount; ++lane) {
            double energy = 0;
            for (int k = 0; k < frequencies; ++k) {
                energy += double(re[k][q][lane]) * re[k][q][lane] + double(im[k][q][lane]) * im[k][q][lane];
            }
            energy /= frequencies;
            const size_t band = size_t(q * kLanes + lane);
            out.power[band] = power[q][lane];
            out.coherent[band] = energy;
            out.powerA += aWeightingPower[band] * power[q][lane];
            out.coherentA += aWeightingPower[band] * energy;
        }
    }
    return out;
}

// The band average in single precision. On x86-64 Linux it is compiled
// twice, eight bands to a vector: for AVX2, one instruction per vector, and
// for the baseline, two SSE2 instructions; the loader picks the one the
// processor runs.
BAND_AVERAGE_CLONES SeatEnergies bandAverageSum(const CellResponse* cells, int count, int frequencies,
                                                const BandValues& firstCyclesPerMetre,
                                                const BandValues& stepCyclesPerMetre,
                                                const BandValues& aWeightingPower, const InterfaceLaw* law) {
    return Vectorised<float>::sum(cells, count, frequencies, firstCyclesPerMetre, stepCyclesPerMetre, aWeightingPower,
                                  law);
}

}  // namespace

double interfaceLossDb(double distanceM, double farFieldOffsetDb) {
    const double t = distanceM > 1.0 ? 10.0 * std::log10(distanceM) : 0.0;
    return std::max(t, 2 * t - farFieldOffsetDb);
}

InterfaceLaw interfaceLaw(double arrayLengthM, double humidityPercent, bool airAbsorption) {
    constexpr double kTransitionDivisorMPerS = 700.0;
    InterfaceLaw law;
    float absorption[kBandCount] = {};
    if (airAbsorption) acoustics::computeAirAbsorption(float(humidityPercent), absorption);
    for (size_t band = 0; band < size_t(kBandCount); ++band) {
        const double transitionM = arrayLengthM * arrayLengthM * kBandCentresHz[band] / kTransitionDivisorMPerS;
        law.farFieldOffsetDb[band] = 10.0 * std::log10(std::max(transitionM, 1.0));
        law.airAbsorptionDbPerM[band] = absorption[band];
    }
    return law;
}

const char* cellSumName(CellSum sum) {
    switch (sum) {
        case CellSum::Cells: return "cells";
        case CellSum::Power: return "power";
        case CellSum::InterfaceCoherent: return "interface-coherent";
    }
    return "";
}

const BandValues& SeatSums::bandsDb(CellSum sum) const {
    return sum == CellSum::Cells ? pointSources.coherentDb
                                 : sum == CellSum::Power ? hostView.powerDb : hostView.coherentDb;
}

double SeatSums::broadbandDbA(CellSum sum) const {
    return sum == CellSum::Cells ? pointSources.coherentDbA
                                 : sum == CellSum::Power ? hostView.powerDbA : hostView.coherentDbA;
}

double powerToDb(double power) {
    if (std::isnan(power)) return power;  // a level that is not a number stays one
    return power > 0 ? 10.0 * std::log10(power) : kSilenceDb;
}

std::array<double, kBandAverageFrequencies> bandAverageFrequenciesHz(int band) {
    constexpr double kReferenceHz = 1000.0;
    constexpr int kReferenceBand = 10;
    const double midHz = kReferenceHz * std::pow(10.0, (band - kReferenceBand) / 10.0);
    const double lowHz = midHz * std::pow(10.0, -1.0 / 20.0), highHz = midHz * std::pow(10.0, 1.0 / 20.0);
    // Midpoints of equal slices of the band, so the band's edges are shared
    // with no neighbour.
    const double stepHz = (highHz - lowHz) / kBandAverageFrequencies;
    std::array<double, kBandAverageFrequencies> out{};
    for (int k = 0; k < kBandAverageFrequencies; ++k) out[size_t(k)] = lowHz + (k + 0.5) * stepHz;
    return out;
}

CoherentSum::CoherentSum(double speedOfSoundMPerS, CoherentMode mode)
    : frequencies_(mode == CoherentMode::CentreOnly ? 1 : kBandAverageFrequencies) {
    firstCyclesPerMetre_.fill(0);
    stepCyclesPerMetre_.fill(0);
    for (int band = 0; band < kBandCount; ++band) {
        aWeightingPower_[size_t(band)] = std::pow(10.0, kAWeightingDb[band] / 10.0);
        if (mode == CoherentMode::CentreOnly) {
            firstCyclesPerMetre_[size_t(band)] = kBandCentresHz[band] / speedOfSoundMPerS;
        } else {
            const auto hz = bandAverageFrequenciesHz(band);
            firstCyclesPerMetre_[size_t(band)] = hz[0] / speedOfSoundMPerS;
            stepCyclesPerMetre_[size_t(band)] = (hz[1] - hz[0]) / speedOfSoundMPerS;
        }
    }
}

SeatLevels levelsOf(const SeatEnergies& e) {
    SeatLevels out;
    for (size_t band = 0; band < size_t(kBandCount); ++band) {
        out.powerDb[band] = powerToDb(e.power[band]);
        out.coherentDb[band] = powerToDb(e.coherent[band]);
    }
    out.powerDbA = powerToDb(e.powerA);
    out.coherentDbA = powerToDb(e.coherentA);
    return out;
}

SeatLevels CoherentSum::both(const CellResponse* cells, int count) const { return levelsOf(energies(cells, count)); }

SeatEnergies CoherentSum::sum(const CellResponse* cells, int count, const InterfaceLaw* law) const {
    if (frequencies_ == 1) {
        return Vectorised<double>::sum(cells, count, 1, firstCyclesPerMetre_, stepCyclesPerMetre_, aWeightingPower_,
                                       law);
    }
    return bandAverageSum(cells, count, frequencies_, firstCyclesPerMetre_, stepCyclesPerMetre_, aWeightingPower_, law);
}

SeatEnergies CoherentSum::energies(const CellResponse* cells, int count) const { return sum(cells, count, nullptr); }

SeatEnergies CoherentSum::pointSourceEnergies(const CellResponse* cells, int count, const InterfaceLaw& law) const {
    return sum(cells, count, &law);
}

SeatLevels CoherentSum::pointSources(const CellResponse* cells, int count, const InterfaceLaw& law) const {
    return levelsOf(pointSourceEnergies(cells, count, law));
}

SeatSums CoherentSum::all(const CellResponse* cells, int count, const InterfaceLaw& law) const {
    return {both(cells, count), pointSources(cells, count, law)};
}

BandValues CoherentSum::operator()(const CellResponse* cells, int count) const {
    return both(cells, count).coherentDb;
}

BandValues sumByPower(const CellResponse* cells, int count) {
    // The power sum does not depend on the speed of sound.
    return CoherentSum(343.0, CoherentMode::CentreOnly).both(cells, count).powerDb;
}

double aWeightedDb(const BandValues& bandLevelsDb) {
    double power = 0;
    for (int band = 0; band < kBandCount; ++band) {
        power += std::exp(kPowerPerDb * (bandLevelsDb[band] + kAWeightingDb[band]));
    }
    return powerToDb(power);
}

}  // namespace arrayhost

// Reads measured directivity from an AES69 (SOFA) file: the conventions
// FreeFieldDirectivityTF 1.0 and 1.1 (directions in ReceiverPosition, the
// measurements played together or chosen) and GeneralTF 1.0 and 2.0 (one
// direction per measurement, in SourcePosition), and reduces it to band
// energies at 1 m per measured direction in the source's frame. tools/balloon/README.md lists what is accepted.
#pragma once

#include <string>
#include <vector>

#include "tools/balloon/sphere_resample.h"

namespace balloon {

enum class MeasurementSum {
    Complex,  // the measurements play together: pressures add
    Power,    // they are uncorrelated: energies add
};

struct SofaOptions {
    int measurement = 0;  // 1-based measurement to take alone; 0 combines all
    MeasurementSum sum = MeasurementSum::Complex;
    double pascalPerUnit = 1.0;  // the data's unit in pascal
    bool sumGiven = false;       // the sum was asked for, not defaulted
};

struct SofaDirectivity {
    std::vector<Direction> directions;       // unit vectors, the source's frame
    std::vector<BandEnergies> energies;      // mean-square pressure per band at 1 m, Pa^2
    bool bandCentreValues = false;           // the file held one value per band centre
    std::string combination;                 // how the measurements became one balloon
    std::string directionVariable;           // ReceiverPosition or SourcePosition
    std::string error;                       // "file: variable or attribute: reason", empty when accepted
};

// Frequencies closer than this to a third-octave centre count as that centre.
inline constexpr double kCentreMatchRatio = 0.02;

// Base-10 band edges of band index b (0 = 100 Hz).
double bandLowerEdgeHz(int band);
double bandUpperEdgeHz(int band);

SofaDirectivity readSofaDirectivity(const std::string& path, const SofaOptions& options);
// The same from the bytes of a file already in memory, named `name` in refusals.
SofaDirectivity readSofaDirectivity(const std::string& name, std::vector<unsigned char> bytes,
                                    const SofaOptions& options);

}  // namespace balloon

// Reads measured directivity from an AES69 (SOFA) file: the conventions
// FreeFieldDirectivityTF 1.0 and 1.1 (directions in ReceiverPosition, the
// measurements played together or chosen) and GeneralTF 1.0 and 2.0 (one
// direction per measurement, in SourcePosition), and reduces it to band
// energies at 1 m per measured direction in the source's frame. tools/balloon/README.md lists what is accepted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/balloon/sphere_resample.h"

namespace balloon {

enum class MeasurementSum {
    Complex,  // the measurements play together: pressures add
    Power,    // they are uncorrelated: energies add
};

// The most values the importer reads from one variable, and so the most it
// allocates for one: 2^28 doubles, 2 GiB. A 1-degree measurement grid
// (65,160 directions) with 4,096 frequency bins holds 267 million; a file
// that declares more is refused before anything is allocated for it.
inline constexpr size_t kMaxValuesPerVariable = size_t(1) << 28;

// The most pressures a file may hold in all (M x R x N): 2^32, 32 GiB as
// doubles, read one receiver at a time. A 0.5-degree grid (259,200
// directions) with 4,096 bins and four drivers holds 4.2 billion.
inline constexpr size_t kMaxDataValues = size_t(1) << 32;

// The isolated reader's address space: one receiver's pressures (real and
// imaginary parts, 2^28 doubles each, 4 GiB) and the libraries' own memory.
// A file that needs more is refused as running out of memory.
inline constexpr size_t kReaderAddressSpaceBytes = size_t(6) << 30;
// Except under AddressSanitizer, whose shadow memory alone is terabytes of
// address space.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kReaderAddressSpaceLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kReaderAddressSpaceLimited = false;
#else
inline constexpr bool kReaderAddressSpaceLimited = true;
#endif
#else
inline constexpr bool kReaderAddressSpaceLimited = true;
#endif

// One measurement (1-based) taken for the bands whose centres lie within
// [lowHz, highHz]: a driver's own range, in a file of one measurement per
// driver.
struct BandUse {
    int measurement = 0;
    double lowHz = 0, highHz = 0;
};

struct SofaOptions {
    int measurement = 0;  // 1-based measurement to take alone; 0 combines all
    MeasurementSum sum = MeasurementSum::Complex;
    double pascalPerUnit = 1.0;  // the data's unit in pascal
    bool sumGiven = false;       // the sum was asked for, not defaulted
    // Lower these to bound what one file may take (the fuzz target does).
    size_t maxValuesPerVariable = kMaxValuesPerVariable;
    size_t maxDataValues = kMaxDataValues;
    // How long the isolated reader may take before it is stopped and the file
    // refused; 0: a minute plus a second per 10 MB of file.
    double readerSeconds = 0.0;
    // The isolated reader's address space; 0: kReaderAddressSpaceBytes.
    size_t readerAddressSpaceBytes = 0;
    // When not empty, each band from the measurements whose range holds its
    // centre; where ranges overlap (a crossover) they add as energies, or as
    // pressures when a complex sum is asked for (they share a reference).
    std::vector<BandUse> use = {};
};

struct SofaDirectivity {
    std::vector<Direction> directions;       // unit vectors, the source's frame
    std::vector<BandEnergies> energies;      // mean-square pressure per band at 1 m, Pa^2
    bool bandCentreValues = false;           // the file held one value per band centre
    std::string combination;                 // how the measurements became one balloon
    std::string directionVariable;           // ReceiverPosition or SourcePosition
    std::string dataUnits;                   // Data.Real's Units attribute; empty when it has none
    // The file's own account of itself, for the provenance of what is made
    // from it: each of kProvenanceAttributes with its text, empty if absent.
    std::vector<std::string> provenance;
    // With a complex sum of several measurements, the same directions'
    // energies as a power sum: where the two differ much on axis, the
    // drivers cancel there.
    std::vector<BandEnergies> powerSumEnergies;
    std::string error;                       // "file: variable or attribute: reason", empty when accepted
};

// The global attributes the provenance of an import records.
inline constexpr const char* kProvenanceAttributes[] = {"Title",         "Organization", "AuthorContact", "License",
                                                       "DatabaseName", "DateCreated",  "Comment"};

// Frequencies closer than this to a third-octave centre count as that centre.
inline constexpr double kCentreMatchRatio = 0.02;

// Base-10 band edges of band index b (0 = 100 Hz).
double bandLowerEdgeHz(int band);
double bandUpperEdgeHz(int band);

SofaDirectivity readSofaDirectivity(const std::string& path, const SofaOptions& options);
// The same in a child process: the netCDF and HDF5 libraries can fault on a
// damaged file (HDF5 1.10 reads past a heap block on some, and loops
// without end on others), and a fault there becomes a refusal of the file
// instead of the end of the importer; so does a read that outlasts
// options.readerSeconds.
SofaDirectivity readSofaDirectivityIsolated(const std::string& path, const SofaOptions& options);
// The same from the bytes of a file already in memory, named `name` in refusals.
SofaDirectivity readSofaDirectivity(const std::string& name, std::vector<unsigned char> bytes,
                                    const SofaOptions& options);

}  // namespace balloon

// Fuzz target: the AES69 (SOFA) reader of `balloon import-sofa`, on files in
// memory, and what the command does with what it accepts: resampling to the
// balloon grid and the tables. Whatever the bytes, the reader must accept
// them or refuse them naming the file, and what it accepts must be finite
// all the way to the balloon.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef SOFA_FUZZ_PROBE_LIBRARY
#include <sanitizer/asan_interface.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#endif

#include "tools/balloon/balloon_io.h"
#include "tools/balloon/balloon_tables.h"
#include "tools/balloon/sofa_reader.h"
#include "tools/balloon/sphere_resample.h"

namespace {

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "sofa fuzzer: %s\n", what.c_str());
    std::abort();
}

// A file may declare up to the importer's caps and have the library fill
// the rest; 2^20 values (8 MiB) per variable and 2^24 pressures in all keep
// each input quick, and the caps themselves are the same code.
constexpr size_t kFuzzValuesPerVariable = size_t(1) << 20;
constexpr size_t kFuzzDataValues = size_t(1) << 24;

void check(const std::vector<unsigned char>& bytes, const balloon::SofaOptions& options) {
    const std::string name = "input.sofa";
    const balloon::SofaDirectivity read = balloon::readSofaDirectivity(name, bytes, options);
    if (!read.error.empty()) {
        if (read.error.rfind(name + ": ", 0) != 0) fault("a refusal that does not name the file: " + read.error);
        if (!read.directions.empty() || !read.energies.empty()) fault("a refusal that keeps data");
        return;
    }
    if (read.directions.empty() || read.directions.size() != read.energies.size())
        fault("accepted with " + std::to_string(read.directions.size()) + " directions and " +
              std::to_string(read.energies.size()) + " energies");
    for (size_t i = 0; i < read.directions.size(); ++i) {
        const balloon::Direction& d = read.directions[i];
        if (!(std::fabs(d.x * d.x + d.y * d.y + d.z * d.z - 1.0) < 1e-6)) fault("a direction that is not a unit vector");
        for (double e : read.energies[i])
            if (!std::isfinite(e) || e < 0) fault("an accepted energy that is negative or not finite");
    }
    const balloon::ResampleResult resampled = balloon::resampleToGrid(read.directions, read.energies);
    if (!resampled.error.empty()) return;
    if (!balloon::nonFiniteNode(resampled.balloon).empty()) fault("a resampled balloon with a value not finite");
    const balloon::BandTables tables = balloon::bandTables(resampled.balloon, &resampled.onAxisEnergy);
    for (double h : tables.horizontalCoverageDeg)
        if (!(h >= 0 && h <= 360)) fault("a coverage angle outside 0-360");
}

}  // namespace

// The netCDF library asks for memory by the header's words before it finds
// a file too short for them; a malloc of tens of gigabytes fails, and the
// library refuses the file. Under AddressSanitizer the failure must return
// NULL, as the C library's does, rather than end the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=512"; }
// The netCDF library keeps small allocations of a damaged file that fails to
// open; leaks through this project's code still fail.
extern "C" const char* __lsan_default_suppressions() { return "leak:libnetcdf.so\nleak:libhdf5_serial.so\n"; }

#ifdef SOFA_FUZZ_PROBE_LIBRARY
namespace {

// The netCDF and HDF5 libraries fault on some damaged files: a null
// pointer freed in the classic header reader, a read past a heap block in
// HDF5. Those faults are not this project's to find or fix (the command
// reads through a child process for them), but a fault of the reader's own
// must still end the run. So each input is first read in a forked child;
// when the child dies of a fault that the sanitizer places in a library,
// the input is set aside; otherwise it runs again here, where the fuzzer
// sees its coverage and any fault of ours.
constexpr int kLibraryFaultExit = 86;
constexpr int kProbeSeconds = 10;

bool mentions(const std::string& line, const char* what) { return line.find(what) != std::string::npos; }

// Whose a frame of a sanitizer report is: 1 this project's, -1 a
// library's, 0 neither (the sanitizer's runtime, the C and C++ libraries).
int ownerOf(const std::string& frame) {
    const size_t in = frame.find(" in ");
    const std::string function = in == std::string::npos ? "" : frame.substr(in + 4);
    for (const char* runtime : {"__interceptor_", "__asan", "__sanitizer", "malloc ", "calloc ", "realloc ", "free ",
                                "operator new", "operator delete"})
        if (function.rfind(runtime, 0) == 0) return 0;
    if (mentions(frame, "libnetcdf") || mentions(frame, "libhdf5")) return -1;
    if (mentions(frame, SOFA_FUZZ_SOURCE_ROOT)) return 1;
    return 0;
}

// A memory fault belongs to whoever allocated the memory (our buffer that
// a library call overran is ours); a fault with no allocation to whoever
// ran first in the stack.
bool libraryFault(const std::string& report) {
    std::vector<std::string> error, allocation;
    std::vector<std::string>* section = &error;
    size_t start = 0;
    while (start < report.size()) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) end = report.size();
        const std::string line = report.substr(start, end - start);
        start = end + 1;
        if (mentions(line, "allocated by thread") || mentions(line, "freed by thread")) section = &allocation;
        else if (mentions(line, "    #")) section->push_back(line);
    }
    for (const std::vector<std::string>* frames : {&allocation, &error})
        for (const std::string& frame : *frames)
            if (const int owner = ownerOf(frame); owner != 0) return owner < 0;
    return false;
}

void onReport(const char* report) {
    if (report && libraryFault(report)) _exit(kLibraryFaultExit);
}

// True when the libraries fault on these bytes, read as the target reads them.
bool libraryFaultsOn(const std::vector<unsigned char>& bytes, const std::vector<balloon::SofaOptions>& ways) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the parent, even stuck in a library
        __asan_set_error_report_callback(onReport);
        for (const balloon::SofaOptions& options : ways) balloon::readSofaDirectivity("input.sofa", bytes, options);
        _exit(0);
    }
    // HDF5 loops without end on some damaged files. The reader's own loops
    // are bounded by the caps above (a read here takes milliseconds), so a
    // child still running after kProbeSeconds is stuck in a library.
    int status = 0;
    for (int waitedMs = 0;; ++waitedMs) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return false;
        if (waitedMs >= kProbeSeconds * 1000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return true;
        }
        usleep(1000);
    }
    // A signal the sanitizer did not report comes from code it does not
    // see: the libraries (their own abort on a corrupt heap, say).
    return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == kLibraryFaultExit);
}

}  // namespace
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: a read past the end is a sanitizer report.
    const std::vector<unsigned char> bytes(data, data + size);
    // The file as read by default, one driver alone, and the drivers of a
    // FreeFieldDirectivityTF file as a power sum: other paths through the
    // same data.
    std::vector<balloon::SofaOptions> ways(3);
    for (balloon::SofaOptions& options : ways) {
        options.maxValuesPerVariable = kFuzzValuesPerVariable;
        options.maxDataValues = kFuzzDataValues;
    }
    ways[1].measurement = 1;
    ways[2].sum = balloon::MeasurementSum::Power;
    ways[2].sumGiven = true;
#ifdef SOFA_FUZZ_PROBE_LIBRARY
    if (libraryFaultsOn(bytes, ways)) return -1;  // not kept in the corpus
#endif
    for (const balloon::SofaOptions& options : ways) check(bytes, options);
    return 0;
}

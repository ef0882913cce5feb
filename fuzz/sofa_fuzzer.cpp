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
#include <execinfo.h>
#include <poll.h>
#include <sanitizer/asan_interface.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "fuzz/fault_owner.h"
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
// HDF5, a loop without end. Those faults are not this project's to find or
// fix (the command reads through a child process for them), but a fault of
// the reader's own must still end the run. So each input is first read in a
// forked child. An input is set aside only when the fault is placed in a
// library (fault_owner.h): by the sanitizer's report, or, for a signal the
// sanitizer does not report (an abort, a trap) and for a read that outlasts
// kProbeSeconds, by the child's stack at that moment, which the child hands
// to the parent to read. Every other input runs again here, where the
// fuzzer sees its coverage and any fault of ours.
constexpr int kLibraryFaultExit = 86;
constexpr int kOwnFaultExit = 87;
constexpr int kStackExit = 88;  // the child's stack follows on the pipe
constexpr int kMaxFrames = 64;
int probeSeconds = 10;
int stackPipe = -1;

fuzz::Owner ownerOfReport(const char* report) {
    return report ? fuzz::reportOwner(report, SOFA_FUZZ_SOURCE_ROOT) : fuzz::Owner::Nobody;
}

void onReport(const char* report) {
    const fuzz::Owner owner = ownerOfReport(report);
    if (owner == fuzz::Owner::Library) _exit(kLibraryFaultExit);
    if (owner == fuzz::Owner::Ours) _exit(kOwnFaultExit);
}

// In the child, on a signal the sanitizer does not report, and on the
// alarm that ends a read running too long: the interrupted instruction and
// the stack's return addresses, to the parent. Nothing here allocates.
void onSignal(int, siginfo_t*, void* context) {
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    const auto* uc = static_cast<const ucontext_t*>(context);
    const uintptr_t at = static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
    if (write(stackPipe, &at, sizeof at) == sizeof at)
        (void)!write(stackPipe, frames, sizeof(void*) * static_cast<size_t>(count));
    _exit(kStackExit);
}

// The owner of the stack the child sent: from the interrupted instruction
// outward, symbolized here (the child is a copy of this process, its code
// at the same addresses), as the sanitizer would print it.
fuzz::Owner ownerOfStack(const std::vector<uintptr_t>& stack) {
    if (stack.empty()) return fuzz::Owner::Nobody;
    std::vector<std::string> frames;
    size_t interrupted = 0;  // the frame of the interrupted instruction, past the handler's own
    for (size_t i = 1; i < stack.size(); ++i) {
        char text[1024] = "";
        // A return address is the instruction after the call.
        const uintptr_t pc = stack[i] == stack[0] ? stack[i] : stack[i] - 1;
        __sanitizer_symbolize_pc(reinterpret_cast<void*>(pc), "%p in %f %L %m", text, sizeof text);
        frames.push_back("    #" + std::to_string(i - 1) + " " + text);
        if (stack[i] == stack[0] && interrupted == 0) interrupted = frames.size() - 1;
        if (interrupted == 0 && frames.back().find(" in onSignal") != std::string::npos) interrupted = frames.size();
    }
    if (interrupted == 0 || interrupted >= frames.size()) return fuzz::Owner::Nobody;  // not placed: kept
    frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(interrupted));
    return fuzz::firstOwner(frames, SOFA_FUZZ_SOURCE_ROOT);
}

// Whose fault it is when `work` is run in a child: Nobody when it ends
// cleanly or its fault cannot be placed.
template <typename Work>
fuzz::Owner faultOwnerInChild(Work work) {
    int fds[2];
    if (pipe(fds) != 0) return fuzz::Owner::Nobody;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return fuzz::Owner::Nobody;
    }
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the parent, even stuck in a library
        close(fds[0]);
        stackPipe = fds[1];
        void* warm[1];
        backtrace(warm, 1);  // loads the unwinder now, not in the handler
        struct sigaction action {};
        action.sa_sigaction = onSignal;
        action.sa_flags = SA_SIGINFO;
        for (int signal : {SIGABRT, SIGILL, SIGTRAP, SIGALRM}) sigaction(signal, &action, nullptr);
        __asan_set_error_report_callback(onReport);
        alarm(static_cast<unsigned>(probeSeconds));
        work();
        _exit(0);
    }
    close(fds[1]);
    // The child's stack, if it sends one; a child that neither ends nor
    // answers its alarm is stopped a little later, its fault unplaced.
    std::vector<uintptr_t> stack;
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(probeSeconds + 10);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fds[0], POLLIN, 0};
        const int polled = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status)) return fuzz::Owner::Nobody;
    switch (WEXITSTATUS(status)) {
        case kLibraryFaultExit: return fuzz::Owner::Library;
        case kOwnFaultExit: return fuzz::Owner::Ours;
        case kStackExit:
            for (size_t at = 0; at + sizeof(uintptr_t) <= bytes.size(); at += sizeof(uintptr_t)) {
                uintptr_t pc;
                std::memcpy(&pc, bytes.data() + at, sizeof pc);
                stack.push_back(pc);
            }
            return ownerOfStack(stack);
        default: return fuzz::Owner::Nobody;
    }
}

// True when the libraries fault on these bytes, read as the target reads them.
bool libraryFaultsOn(const std::vector<unsigned char>& bytes, const std::vector<balloon::SofaOptions>& ways) {
    return faultOwnerInChild([&] {
               for (const balloon::SofaOptions& options : ways) balloon::readSofaDirectivity("input.sofa", bytes, options);
           }) == fuzz::Owner::Library;
}

// The probe's own check (SOFA_FUZZ_PROBE_SELF_TEST=<folder of damaged
// files>): faults of ours, an abort, a thrown exception and a loop, are
// placed as ours and kept; the libraries' fault and loop on the damaged
// files are placed in the library; a sound read is no fault.
[[gnu::noinline]] void ownAbort() {
    std::abort();
}
[[gnu::noinline]] void ownThrow() {
    throw std::out_of_range("the reader's own fault");
}
[[gnu::noinline]] void ownLoop() {
    for (volatile unsigned spin = 0;; spin = spin + 1) {
    }
}

std::vector<unsigned char> fileBytes(const std::string& path) {
    std::vector<unsigned char> bytes;
    if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
        std::fclose(in);
    }
    return bytes;
}

int probeSelfTest(const std::string& damaged) {
    probeSeconds = 2;
    auto readFile = [&](const std::string& name) {
        const std::vector<unsigned char> bytes = fileBytes(damaged + "/" + name);
        if (bytes.empty()) std::fprintf(stderr, "sofa fuzzer probe: cannot read %s/%s\n", damaged.c_str(), name.c_str());
        return [bytes] { balloon::readSofaDirectivity("input.sofa", bytes, {}); };
    };
    struct Case {
        const char* what;
        std::function<void()> work;
        fuzz::Owner expected;
    };
    const Case cases[] = {
        {"an abort in the reader's code", ownAbort, fuzz::Owner::Ours},
        {"an exception thrown by the reader and not caught", ownThrow, fuzz::Owner::Ours},
        {"a loop in the reader's code", ownLoop, fuzz::Owner::Ours},
        {"HDF5 reading past a heap block", readFile("hdf5-global-heap-read-past-its-buffer.nc4"), fuzz::Owner::Library},
        {"HDF5 looping on an attribute", readFile("hdf5-attribute-read-that-never-ends.nc4"), fuzz::Owner::Library},
        {"a sound read", [] {}, fuzz::Owner::Nobody},
    };
    const char* names[] = {"nobody", "ours", "the library's"};
    int wrong = 0;
    for (const Case& c : cases) {
        const fuzz::Owner owner = faultOwnerInChild(c.work);
        const bool right = owner == c.expected;
        wrong += !right;
        std::printf("sofa fuzzer probe: %s: %s (%s)\n", c.what, names[static_cast<int>(owner)], right ? "right" : "WRONG");
    }
    return wrong == 0 ? 0 : 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* damaged = std::getenv("SOFA_FUZZ_PROBE_SELF_TEST")) std::exit(probeSelfTest(damaged));
    return 0;
}
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

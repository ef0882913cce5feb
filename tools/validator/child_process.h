// Runs each check in a child process of its own, so that a crash or a hang in
// the plug-in is reported as that check's failure instead of ending the run:
// natively by fork, on Windows by CreateProcess of this program with the
// check's name. A child writes its figures and failures to a result file; a
// crash handler in the child adds where it died.
//
// child_process.cpp holds the portable part (result files, scheduling,
// timeouts); child_process_posix.cpp and child_process_win32.cpp each start,
// watch and end a child on their platform.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/validator/report.h"

namespace validator {

struct ChildJob {
    std::string check;
    uint64_t first = 0;  // a range of cases, for a check split between children
    uint64_t count = 0;

    std::string label() const;
};

struct ChildOutcome {
    ChildJob job;
    Figures figures;
    std::vector<std::string> failures;
    std::vector<uint64_t> failedCases;
    std::string crash;       // the crash handler's note, or how the child ended
    bool completed = false;  // the child ran its check to the end
    double seconds = 0.0;
};

struct ChildProcess;

// The body of a child: runs `job`, writing through writeResult(), and
// returns its exit code.
using ChildBody = std::function<int(const ChildJob& job, std::FILE* result)>;

// Writes a report's figures and failures in the result file format.
void writeResult(std::FILE* result, const Report& report);

class ChildRunner {
public:
    // On Windows the child re-runs this program (`program`, or when empty the
    // running executable) with `arguments` and the job's --child, --first,
    // --count and --result; natively the child is a fork that calls `body`.
    ChildRunner(std::string program, std::vector<std::string> arguments, ChildBody body)
        : program_(std::move(program)), arguments_(std::move(arguments)), body_(std::move(body)) {}

    // Runs the jobs, at most `parallel` at a time; a child still running
    // after timeoutS seconds is ended and reported as hung. Calls onDone as
    // each child ends.
    std::vector<ChildOutcome> run(const std::vector<ChildJob>& jobs, int parallel, double timeoutS,
                                  const std::function<void(const ChildOutcome&)>& onDone = {});

private:
    // Starts a child that runs `job` and writes `resultPath`; false with the
    // reason in `error` when no child could be started.
    bool start(const ChildJob& job, const std::string& resultPath, ChildProcess& child, std::string& error) const;

    std::string program_;
    std::vector<std::string> arguments_;
    ChildBody body_;
};

// Reads a result file into `outcome`.
void readResult(const std::string& path, ChildOutcome& outcome);

// ---- Defined by each platform's file ----

// A started child: a pid natively, a process handle on Windows.
struct ChildProcess {
    intptr_t id = -1;
};

// The running program's process id, which keeps result file names apart.
unsigned long thisProcessId();

// Nothing while the child runs. Once it has ended (and its process is
// released): empty after a clean exit, else how it ended ("killed by
// signal 11", "exit code 0xc0000005").
std::optional<std::string> childEnding(ChildProcess& child);

// Ends a child that still runs and releases its process.
void endChild(ChildProcess& child);

}  // namespace validator

// Runs each check in a child process of its own, so that a crash or a hang in
// the plug-in is reported as that check's failure instead of ending the run:
// natively by fork, on Windows by CreateProcess of this program with the
// check's name. A child writes its figures and failures to a result file; a
// crash handler in the child adds where it died.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
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
    std::string program_;
    std::vector<std::string> arguments_;
    ChildBody body_;
};

// Reads a result file into `outcome`.
void readResult(const std::string& path, ChildOutcome& outcome);

}  // namespace validator

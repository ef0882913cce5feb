// The portable part of running checks in child processes: result files, and
// the loop that keeps `parallel` children going, waits for them and ends
// those that hang. Starting, watching and ending a child is per platform.
#include "tools/validator/child_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace validator {

namespace {

using Clock = std::chrono::steady_clock;

struct Running {
    size_t job;
    std::string resultPath;
    Clock::time_point started;
    ChildProcess child;
};

std::string resultPathFor(size_t job) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    return (dir / ("validator-" + std::to_string(thisProcessId()) + "-" + std::to_string(job) + ".txt")).string();
}

}  // namespace

std::string ChildJob::label() const {
    if (count == 0) return check;
    return check + "[" + std::to_string(first) + ".." + std::to_string(first + count - 1) + "]";
}

void writeResult(std::FILE* result, const Report& report) {
    const Figures& f = report.figures;
    std::fprintf(result, "figures %llu %llu %llu %llu %llu\n", static_cast<unsigned long long>(f.calls),
                 static_cast<unsigned long long>(f.cases), static_cast<unsigned long long>(f.sequences),
                 static_cast<unsigned long long>(f.blobs), static_cast<unsigned long long>(f.failures));
    for (uint64_t c : report.failedCases) std::fprintf(result, "case %llu\n", static_cast<unsigned long long>(c));
    if (report.stream == nullptr) {
        for (const std::string& line : report.failures) std::fprintf(result, "fail %s\n", line.c_str());
    }
    std::fprintf(result, "done\n");
    std::fflush(result);
}

void readResult(const std::string& path, ChildOutcome& outcome) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("fail ", 0) == 0) {
            outcome.failures.push_back(line.substr(5));
        } else if (line.rfind("crash ", 0) == 0) {
            outcome.crash = line.substr(6);
        } else if (line.rfind("case ", 0) == 0) {
            outcome.failedCases.push_back(std::stoull(line.substr(5)));
        } else if (line.rfind("figures ", 0) == 0) {
            std::istringstream words(line.substr(8));
            unsigned long long calls = 0, cases = 0, sequences = 0, blobs = 0, failures = 0;
            words >> calls >> cases >> sequences >> blobs >> failures;
            outcome.figures.calls = calls;
            outcome.figures.cases = cases;
            outcome.figures.sequences = sequences;
            outcome.figures.blobs = blobs;
            outcome.figures.failures = failures;
        } else if (line == "done") {
            outcome.completed = true;
        }
    }
}

std::vector<ChildOutcome> ChildRunner::run(const std::vector<ChildJob>& jobs, int parallel, double timeoutS,
                                           const std::function<void(const ChildOutcome&)>& onDone) {
    std::vector<ChildOutcome> outcomes(jobs.size());
    std::vector<Running> running;
    size_t next = 0;
    if (parallel < 1) parallel = 1;

    auto finish = [&](const Running& r, const std::string& ending, bool ended) {
        ChildOutcome& o = outcomes[r.job];
        o.job = jobs[r.job];
        o.seconds = std::chrono::duration<double>(Clock::now() - r.started).count();
        readResult(r.resultPath, o);
        std::error_code ignored;
        std::filesystem::remove(r.resultPath, ignored);
        if (!ended || !o.completed) {
            o.completed = false;
            if (o.crash.empty()) o.crash = ending;
            else o.crash += " (" + ending + ")";
            ++o.figures.crashes;
            ++o.figures.failures;
        }
        if (onDone) onDone(o);
    };

    while (next < jobs.size() || !running.empty()) {
        while (next < jobs.size() && int(running.size()) < parallel) {
            Running r{next, resultPathFor(next), Clock::now(), {}};
            const ChildJob& job = jobs[next];
            std::fflush(nullptr);
            std::string error;
            if (!start(job, r.resultPath, r.child, error)) {
                ChildOutcome& o = outcomes[next];
                o.job = job;
                o.crash = error;
                ++o.figures.failures;
                ++next;
                continue;
            }
            running.push_back(r);
            ++next;
        }

        bool any = false;
        for (size_t i = 0; i < running.size();) {
            Running& r = running[i];
            const double elapsed = std::chrono::duration<double>(Clock::now() - r.started).count();
            if (const std::optional<std::string> ending = childEnding(r.child)) {
                // A child that exits cleanly without writing "done" ended early.
                const bool clean = ending->empty();
                finish(r, clean ? "ended early" : *ending, clean);
            } else if (elapsed > timeoutS) {
                endChild(r.child);
                finish(r, "hung: ended after " + std::to_string(int(timeoutS)) + " s", false);
            } else {
                ++i;
                continue;
            }
            running.erase(running.begin() + long(i));
            any = true;
        }
        if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return outcomes;
}

}  // namespace validator

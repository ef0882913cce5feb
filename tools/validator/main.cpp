// validator: loads a plug-in the way the host does and runs every check, each
// in a child process of its own, then prints the figures. Exit code 0 when
// every check passed, 1 when one failed or crashed, 2 on a usage error.
//
//   validator --plugin=ktr4                  every check, seed 1
//   validator --plugin=qspan --seed=7        other cases
//   validator --plugin=ktr2 --reproduce=sequences:4711   one case, traced
//
// Its modes: --list names the checks; --reproduce runs one case in this
// process; by default every check runs, each in a child. On Windows a child
// is this program started again in the internal child mode.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"
#include "tools/validator/checks.h"
#include "tools/validator/child_process.h"
#include "tools/validator/crash_note.h"

using namespace validator;

namespace {

void usage() {
    std::fprintf(stderr,
                 "usage: validator --plugin=ktr2|ktr4|qspan [options]\n"
                 "  --library=PATH          the library to load (default: beside this program)\n"
                 "  --seed=N                seed of every random case (default 1)\n"
                 "  --sequences=N           random call sequences (default 10000)\n"
                 "  --calls=N               calls per sequence (default 200)\n"
                 "  --round-trips=N         random valid setups read back (default 1000)\n"
                 "  --random-blobs=N        random byte strings as blobs (default 2000)\n"
                 "  --load-cycles=N         load and unload cycles (default 100)\n"
                 "  --check=NAME            run only this check (repeatable)\n"
                 "  --jobs=N                child processes at a time (default 2)\n"
                 "  --timeout=SECONDS       a child still running then has hung (default 900)\n"
                 "  --reproduce=CHECK:CASE  run one case in this process, printing its calls\n"
                 "  --list                  name the checks\n");
}

// ---- The command line ----

struct Arguments {
    std::string pluginName;
    std::string library;  // empty: the product's library beside this program
    Options options;
    std::vector<std::string> only;  // --check: only these checks
    uint64_t jobs = 2;
    uint64_t timeout = 900;
    std::string reproduce;  // CHECK:CASE
    bool list = false;
    // The options that choose the plug-in and the cases, as written: a
    // Windows child is started with them again.
    std::vector<std::string> passOn;

    // Internal, left out of the usage: the parent on Windows starts each
    // child as this program with --child=CHECK --first=N --count=N
    // --result=PATH (child_process_win32.cpp). A non-empty check selects
    // the child mode.
    ChildJob child;
    std::string resultPath;
};

bool numberOption(const char* arg, const char* name, uint64_t& out) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    out = std::strtoull(arg + n + 1, nullptr, 10);
    return true;
}

bool textOption(const char* arg, const char* name, std::string& out) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    out = arg + n + 1;
    return true;
}

// False on an argument it does not know.
bool parseArguments(int argc, char** argv, Arguments& out) {
    Options& o = out.options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        std::string check;
        if (textOption(a, "--plugin", out.pluginName) || textOption(a, "--library", out.library) ||
            numberOption(a, "--seed", o.seed) || numberOption(a, "--sequences", o.sequences) ||
            numberOption(a, "--calls", o.callsPerSequence) || numberOption(a, "--round-trips", o.roundTrips) ||
            numberOption(a, "--random-blobs", o.randomBlobs) || numberOption(a, "--load-cycles", o.loadCycles)) {
            out.passOn.push_back(a);
        } else if (textOption(a, "--check", check)) {
            out.only.push_back(check);
        } else if (numberOption(a, "--jobs", out.jobs) || numberOption(a, "--timeout", out.timeout) ||
                   textOption(a, "--reproduce", out.reproduce)) {
        } else if (textOption(a, "--child", out.child.check) || numberOption(a, "--first", out.child.first) ||
                   numberOption(a, "--count", out.child.count) || textOption(a, "--result", out.resultPath)) {
            // internal: see Arguments::child
        } else if (std::strcmp(a, "--list") == 0) {
            out.list = true;
        } else {
            return false;
        }
    }
    return true;
}

std::string withCommas(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// ---- Running checks ----

// Runs check `name` against the library, into `report`: one case
// (`onlyCase`), a range of it (`from`, `howMany`; 0 for all) or all of it.
void runCheck(const Arguments& args, const Product& product, const std::string& name, Report& report,
              std::optional<uint64_t> onlyCase, uint64_t from, uint64_t howMany, std::FILE* trace) {
    const Check* check = findCheck(name);
    if (check == nullptr) {
        report.fail("no check named " + name);
        return;
    }
    Context context{product, args.library, args.options, report, onlyCase, trace, {}, from, howMany};
    check->run(context);
}

// What a child process does, whether forked or started again on Windows:
// runs its job and writes the figures, failures and any crash to `result`.
int runJob(const Arguments& args, const Product& product, const ChildJob& job, std::FILE* result) {
    crashNote().installHandlers(result);
    Report report(job.check);
    report.stream = result;
    runCheck(args, product, job.check, report, std::nullopt, job.first, job.count, nullptr);
    writeResult(result, report);
    return 0;
}

// ---- The modes ----

int listChecks() {
    for (const Check& c : allChecks()) std::printf("%-18s %s\n", c.name.c_str(), c.summary);
    return 0;
}

// The internal child mode: one check, or one range of it, figures to the
// result file the parent reads.
int runAsChild(const Arguments& args, const Product& product) {
    std::FILE* result = std::fopen(args.resultPath.c_str(), "w");
    if (result == nullptr) return 3;
    runJob(args, product, args.child, result);
    std::fclose(result);
    return 0;
}

// --reproduce=CHECK:CASE: one case in this process, its calls printed.
int reproduceCase(const Arguments& args, const Product& product) {
    const size_t colon = args.reproduce.rfind(':');
    if (colon == std::string::npos) {
        usage();
        return 2;
    }
    const std::string name = args.reproduce.substr(0, colon);
    const uint64_t index = std::strtoull(args.reproduce.c_str() + colon + 1, nullptr, 10);
    Report report(name);
    report.echo = true;
    runCheck(args, product, name, report, index, 0, 0, stdout);
    std::printf("%s case %llu of %s: %s calls, %s\n", name.c_str(), static_cast<unsigned long long>(index),
                args.pluginName.c_str(), withCommas(report.figures.calls).c_str(),
                report.figures.failures == 0 ? "passed" : "FAILED");
    return report.figures.failures == 0 ? 0 : 1;
}

// The checks to run, the sequences split between children.
std::vector<ChildJob> jobsOf(const Arguments& args) {
    const Options& o = args.options;
    std::vector<ChildJob> jobs;
    for (const Check& c : allChecks()) {
        if (!args.only.empty() && std::find(args.only.begin(), args.only.end(), c.name) == args.only.end()) continue;
        if (c.name == "sequences") {
            for (uint64_t s = 0; s < o.sequences; s += o.sequencesPerChild) {
                jobs.push_back({c.name, s, std::min(o.sequencesPerChild, o.sequences - s)});
            }
        } else {
            jobs.push_back({c.name, 0, 0});
        }
    }
    return jobs;
}

// The default mode: every check (or those of --check) in a child of its own,
// a line as each ends, then the totals.
int runAllChecks(const Arguments& args, const Product& product) {
    const std::vector<ChildJob> jobs = jobsOf(args);
    std::printf("validator: %s (%s), seed %llu\n", args.pluginName.c_str(), args.library.c_str(),
                static_cast<unsigned long long>(args.options.seed));
    ChildRunner runner("", args.passOn,
                       [&](const ChildJob& job, std::FILE* result) { return runJob(args, product, job, result); });
    Figures total;
    int passed = 0, failed = 0;
    const std::string again =
        std::string("validator --plugin=") + args.pluginName + " --seed=" + std::to_string(args.options.seed);
    runner.run(jobs, int(args.jobs), double(args.timeout), [&](const ChildOutcome& o) {
        total += o.figures;
        const bool ok = o.completed && o.figures.failures == 0;
        (ok ? passed : failed) += 1;
        std::printf("  %-6s %-26s %8s cases %12s calls %7.1f s\n", ok ? "ok" : o.completed ? "FAIL" : "CRASH",
                    o.job.label().c_str(), withCommas(o.figures.cases).c_str(), withCommas(o.figures.calls).c_str(),
                    o.seconds);
        if (!o.crash.empty()) std::printf("         %s\n", o.crash.c_str());
        for (const std::string& f : o.failures) std::printf("         %s\n", f.c_str());
        for (size_t i = 0; i < o.failedCases.size() && i < 5; ++i) {
            std::printf("         reproduce: %s --reproduce=%s:%llu\n", again.c_str(), o.job.check.c_str(),
                        static_cast<unsigned long long>(o.failedCases[i]));
        }
        std::fflush(stdout);
    });
    std::printf("validator: %s: %d checks passed, %d failed; %s calls, %s sequences, %s blobs, %s crashes\n",
                args.pluginName.c_str(), passed, failed, withCommas(total.calls).c_str(),
                withCommas(total.sequences).c_str(), withCommas(total.blobs).c_str(),
                withCommas(total.crashes).c_str());
    std::printf("figures plugin=%s calls=%llu sequences=%llu blobs=%llu cases=%llu crashes=%llu failures=%llu\n",
                args.pluginName.c_str(), static_cast<unsigned long long>(total.calls),
                static_cast<unsigned long long>(total.sequences), static_cast<unsigned long long>(total.blobs),
                static_cast<unsigned long long>(total.cases), static_cast<unsigned long long>(total.crashes),
                static_cast<unsigned long long>(total.failures));
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    if (!parseArguments(argc, argv, args)) {
        usage();
        return 2;
    }
    if (args.list) return listChecks();
    const Product* product = findProduct(args.pluginName);
    if (product == nullptr) {
        usage();
        return 2;
    }
    if (args.library.empty()) args.library = host::pluginPath(args.pluginName);
    // A misspelt --check would otherwise run nothing and pass.
    for (const std::string& name : args.only) {
        if (findCheck(name) == nullptr) {
            std::fprintf(stderr, "validator: no check named %s (--list names them)\n", name.c_str());
            return 2;
        }
    }

    if (!args.child.check.empty()) return runAsChild(args, *product);
    if (!args.reproduce.empty()) return reproduceCase(args, *product);
    return runAllChecks(args, *product);
}

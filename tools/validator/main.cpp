// validator: loads a plug-in the way the host does and runs every check, each
// in a child process of its own, then prints the figures. Exit code 0 when
// every check passed, 1 when one failed or crashed, 2 on a usage error.
//
//   validator --plugin=ktr4                  every check, seed 1
//   validator --plugin=qspan --seed=7        other cases
//   validator --plugin=ktr2 --reproduce=sequences:4711   one case, traced
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

std::string withCommas(uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pluginName, library, child, resultPath, reproduce;
    std::vector<std::string> only;
    Options options;
    uint64_t jobs = 2, timeout = 900, first = 0, count = 0;
    bool list = false;
    std::vector<std::string> passOn;  // options a Windows child gets again
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        std::string check;
        if (textOption(a, "--plugin", pluginName) || textOption(a, "--library", library) ||
            numberOption(a, "--seed", options.seed) || numberOption(a, "--sequences", options.sequences) ||
            numberOption(a, "--calls", options.callsPerSequence) || numberOption(a, "--round-trips", options.roundTrips) ||
            numberOption(a, "--random-blobs", options.randomBlobs) || numberOption(a, "--load-cycles", options.loadCycles)) {
            passOn.push_back(a);
        } else if (textOption(a, "--check", check)) {
            only.push_back(check);
        } else if (numberOption(a, "--jobs", jobs) || numberOption(a, "--timeout", timeout) ||
                   numberOption(a, "--first", first) || numberOption(a, "--count", count) ||
                   textOption(a, "--child", child) || textOption(a, "--result", resultPath) ||
                   textOption(a, "--reproduce", reproduce)) {
        } else if (std::strcmp(a, "--list") == 0) {
            list = true;
        } else {
            usage();
            return 2;
        }
    }
    if (list) {
        for (const Check& c : allChecks()) std::printf("%-18s %s\n", c.name.c_str(), c.summary);
        return 0;
    }
    const Product* product = findProduct(pluginName);
    if (product == nullptr) {
        usage();
        return 2;
    }
    if (library.empty()) library = host::pluginPath(pluginName);

    auto runCheck = [&](const std::string& name, Report& report, std::optional<uint64_t> onlyCase, uint64_t from,
                        uint64_t howMany, std::FILE* trace) {
        const Check* check = findCheck(name);
        if (check == nullptr) {
            report.fail("no check named " + name);
            return;
        }
        Context context{*product, library, options, report, onlyCase, trace, {}, from, howMany};
        check->run(context);
    };

    // A child: one check (or one range of it), figures to the result file.
    if (!child.empty()) {
        std::FILE* result = std::fopen(resultPath.c_str(), "w");
        if (result == nullptr) return 3;
        crashNote().installHandlers(result);
        Report report(child);
        report.stream = result;
        runCheck(child, report, std::nullopt, first, count, nullptr);
        writeResult(result, report);
        std::fclose(result);
        return 0;
    }

    // One case in this process, its calls printed.
    if (!reproduce.empty()) {
        const size_t colon = reproduce.rfind(':');
        if (colon == std::string::npos) {
            usage();
            return 2;
        }
        const std::string name = reproduce.substr(0, colon);
        const uint64_t index = std::strtoull(reproduce.c_str() + colon + 1, nullptr, 10);
        Report report(name);
        report.echo = true;
        runCheck(name, report, index, 0, 0, stdout);
        std::printf("%s case %llu of %s: %s calls, %s\n", name.c_str(), static_cast<unsigned long long>(index),
                    pluginName.c_str(), withCommas(report.figures.calls).c_str(),
                    report.figures.failures == 0 ? "passed" : "FAILED");
        return report.figures.failures == 0 ? 0 : 1;
    }

    // The parent: every check in a child of its own.
    std::vector<ChildJob> jobList;
    for (const Check& c : allChecks()) {
        if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
        if (c.name == "sequences") {
            for (uint64_t s = 0; s < options.sequences; s += options.sequencesPerChild) {
                jobList.push_back({c.name, s, std::min(options.sequencesPerChild, options.sequences - s)});
            }
        } else {
            jobList.push_back({c.name, 0, 0});
        }
    }
    std::printf("validator: %s (%s), seed %llu\n", pluginName.c_str(), library.c_str(),
                static_cast<unsigned long long>(options.seed));
    ChildRunner runner("", passOn, [&](const ChildJob& job, std::FILE* result) {
        crashNote().installHandlers(result);
        Report report(job.check);
        report.stream = result;
        runCheck(job.check, report, std::nullopt, job.first, job.count, nullptr);
        writeResult(result, report);
        return 0;
    });
    Figures total;
    int passed = 0, failed = 0;
    std::string again = std::string("validator --plugin=") + pluginName + " --seed=" + std::to_string(options.seed);
    runner.run(jobList, int(jobs), double(timeout), [&](const ChildOutcome& o) {
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
                pluginName.c_str(), passed, failed, withCommas(total.calls).c_str(), withCommas(total.sequences).c_str(),
                withCommas(total.blobs).c_str(), withCommas(total.crashes).c_str());
    std::printf("figures plugin=%s calls=%llu sequences=%llu blobs=%llu cases=%llu crashes=%llu failures=%llu\n",
                pluginName.c_str(), static_cast<unsigned long long>(total.calls),
                static_cast<unsigned long long>(total.sequences), static_cast<unsigned long long>(total.blobs),
                static_cast<unsigned long long>(total.cases), static_cast<unsigned long long>(total.crashes),
                static_cast<unsigned long long>(total.failures));
    return failed == 0 ? 0 : 1;
}

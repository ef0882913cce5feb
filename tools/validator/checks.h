// The validator's checks. Each runs against a freshly loaded library (the
// runner gives each its own child process) and enumerates its cases in a
// fixed order, each case drawn from the seed and its own index, so that
// `--reproduce=<check>:<case>` runs one case alone.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"
#include "tools/validator/call_sequence.h"
#include "tools/validator/plugin_calls.h"
#include "tools/validator/product.h"
#include "tools/validator/report.h"

namespace validator {

struct Options {
    uint64_t seed = 1;
    uint64_t sequences = 10000;
    uint64_t callsPerSequence = 200;
    uint64_t sequencesPerChild = 2500;
    uint64_t roundTrips = 1000;
    uint64_t randomBlobs = 2000;
    uint64_t loadCycles = 100;
};

struct Context {
    const Product& product;
    std::string libraryPath;
    Options options;
    Report& report;
    // Only this case, when reproducing one.
    std::optional<uint64_t> onlyCase;
    // Where a reproduced case prints its calls.
    std::FILE* trace = nullptr;
    // Replaces exports after loading: the tests use it to give the validator
    // a faulty plug-in.
    std::function<void(ExportTable&)> inject;
    // Range of a check that is split between children (the sequences).
    uint64_t first = 0;
    uint64_t count = 0;

    // Whether case `index` is to run, and if so enters it.
    bool enter(uint64_t index, const std::string& what = {});
};

// A loaded plug-in with the validator's wrapper and a model-checked caller.
class Session {
public:
    explicit Session(Context& context);
    bool ok() const { return library_ != nullptr; }
    Plugin& plugin() { return *plugin_; }
    SequenceRunner& checked() { return *runner_; }

private:
    std::unique_ptr<host::PluginLibrary> library_;
    std::unique_ptr<Plugin> plugin_;
    std::unique_ptr<SequenceRunner> runner_;
};

struct Check {
    std::string name;
    void (*run)(Context&);
    const char* summary;
};

const std::vector<Check>& allChecks();
const Check* findCheck(const std::string& name);

void checkExports(Context& context);
void checkLifecycle(Context& context);
void checkSelection(Context& context);

// Instances 1 (6 cells, placed, aimed, filtered), 2 (the defaults), 3 (16
// cells) and slot 0 (4 cells) set up differently, slot 0 current, flags and
// room values away from their defaults, so that a reset or a stray write
// shows in a snapshot of them. False when the plug-in disagreed with the
// model on the way.
bool setUpDistinctInstances(SequenceRunner& r, const Product& product);
void checkIndices(Context& context);
void checkFloats(Context& context);
void checkFloatsUnmasked(Context& context);
void checkBlobRoundTrips(Context& context);
void checkBlobTruncation(Context& context);
void checkBlobBitFlips(Context& context);
void checkBlobRandom(Context& context);
void checkSequences(Context& context);
void checkNullPointers(Context& context);

}  // namespace validator

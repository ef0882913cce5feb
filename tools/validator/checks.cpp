#include "tools/validator/checks.h"

namespace validator {

bool Context::enter(uint64_t index, const std::string& what) {
    if (onlyCase && *onlyCase != index) return false;
    report.enterCase(index, what);
    return true;
}

Session::Session(Context& context) {
    std::string error;
    library_ = host::PluginLibrary::open(context.libraryPath, error);
    if (!library_) {
        context.report.fail(error);
        return;
    }
    ExportTable table = exportTableOf(*library_);
    if (context.inject) context.inject(table);
    plugin_ = std::make_unique<Plugin>(table, context.report);
    runner_ = std::make_unique<SequenceRunner>(*plugin_, context.product);
    if (context.trace != nullptr) runner_->traceTo(context.trace);
}

const std::vector<Check>& allChecks() {
    static const std::vector<Check> checks = {
        {"exports", checkExports, "all exports resolve"},
        {"lifecycle", checkLifecycle, "load and unload cycles, each answering with the state at load"},
        {"selection", checkSelection, "no instance current, and a released one current"},
        {"indices", checkIndices, "every indexed argument at its edges"},
        {"floats", checkFloats, "every float argument at NaN, infinities, -0, a denormal and +-1e38"},
        {"floats-unmasked", checkFloatsUnmasked, "the same with the host's floating-point exceptions unmasked"},
        {"blobs-roundtrip", checkBlobRoundTrips, "random valid setups read back byte for byte"},
        {"blobs-truncation", checkBlobTruncation, "setup blobs cut at every length"},
        {"blobs-bitflips", checkBlobBitFlips, "setup blobs with every single bit flipped"},
        {"blobs-random", checkBlobRandom, "random byte strings as setup blobs"},
        {"sequences", checkSequences, "random call sequences against the reference model"},
        {"null-pointers", checkNullPointers, "NULL in every pointer parameter of every export"},
    };
    return checks;
}

const Check* findCheck(const std::string& name) {
    for (const Check& c : allChecks()) {
        if (c.name == name) return &c;
    }
    return nullptr;
}

}  // namespace validator

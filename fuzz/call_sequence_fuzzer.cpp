// Fuzz target: call sequences through the exports of one product (named by
// FUZZ_PRODUCT). The input bytes choose the calls and their arguments; the
// validator's reference model checks every answer, and any disagreement
// aborts. Under libFuzzer the exports are linked in and reset to the state at
// load before each input; the replay build instead loads the product's
// library afresh for each input, as the host does.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tools/host/plugin_library.h"
#include "tools/host/product.h"
#include "tools/validator/call_sequence.h"

#if defined(FUZZ_LINKED_EXPORTS)
#include "plugin/bound_state.h"
#endif

namespace {

// The calls of one input, at most.
constexpr uint64_t kCallsPerInput = 400;

void check(validator::SequenceRunner& runner, validator::Report& report, const uint8_t* data, size_t size) {
    validator::ByteChoices choices(data, size);
    if (!runner.run(choices, kCallsPerInput) || report.figures.failures != 0) {
        for (const std::string& line : report.failures) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "call sequence fuzzer (" FUZZ_PRODUCT "): the plug-in disagreed with the model\n");
        std::abort();
    }
}

#if defined(FUZZ_LINKED_EXPORTS)
host::ExportTable linkedExports() {
    host::ExportTable table;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) table.name = &::name;
#include "plugin/exports.inc"
    return table;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const host::Product& product = *host::findProduct(FUZZ_PRODUCT);
#if defined(FUZZ_LINKED_EXPORTS)
    static validator::Report report("call sequence");
    static validator::Plugin plugin(linkedExports(), report);
    static validator::SequenceRunner runner(plugin, product);
    // Back to the state right after loading.
    std::destroy_at(&plugin::gState);
    std::construct_at(&plugin::gState, models::kBoundModel);
    runner.restart();
    check(runner, report, data, size);
#else
    std::string error;
    const auto library = host::PluginLibrary::open(host::pluginPath(FUZZ_PRODUCT), error);
    if (!library) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::abort();
    }
    validator::Report report("call sequence");
    validator::Plugin plugin(validator::exportTableOf(*library), report);
    validator::SequenceRunner runner(plugin, product);
    check(runner, report, data, size);
#endif
    return 0;
}

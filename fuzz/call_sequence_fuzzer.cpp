// Fuzz target: call sequences through the exports of one product, linked in
// and reset to the state at load before each input. The input bytes choose
// the calls and their arguments; the validator's reference model checks every
// answer, and any disagreement aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "plugin/bound_state.h"
#include "tools/validator/call_sequence.h"

#if defined(PLUGIN_MODEL_KTR2)
#define FUZZ_PRODUCT "ktr2"
#elif defined(PLUGIN_MODEL_KTR4)
#define FUZZ_PRODUCT "ktr4"
#else
#define FUZZ_PRODUCT "qspan"
#endif

namespace {

validator::ExportTable linkedExports() {
    validator::ExportTable table;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) table.name = &::name;
#include "plugin/exports.inc"
    return table;
}

// The calls of one input, at most.
constexpr uint64_t kCallsPerInput = 400;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static validator::Report report("call sequence");
    static validator::Plugin plugin(linkedExports(), report);
    static validator::SequenceRunner runner(plugin, *validator::findProduct(FUZZ_PRODUCT));

    // Back to the state right after loading.
    std::destroy_at(&plugin::gState);
    std::construct_at(&plugin::gState, models::kBoundModel);
    runner.restart();

    validator::ByteChoices choices(data, size);
    if (!runner.run(choices, kCallsPerInput) || report.figures.failures != 0) {
        for (const std::string& line : report.failures) std::fprintf(stderr, "%s\n", line.c_str());
        std::fprintf(stderr, "call sequence fuzzer (" FUZZ_PRODUCT "): the plug-in disagreed with the model\n");
        std::abort();
    }
    return 0;
}

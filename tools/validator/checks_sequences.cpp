// Random call sequences, each from its own seed and each starting from the
// same normalised state, checked call by call against the reference model.
#include "tools/validator/checks.h"

namespace validator {

void checkSequences(Context& context) {
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Report& report = context.report;
    const uint64_t first = context.onlyCase ? *context.onlyCase : context.first;
    const uint64_t last = context.onlyCase ? *context.onlyCase + 1
                          : context.count > 0 ? context.first + context.count
                                              : context.options.sequences;
    // From the state at load to the baseline every sequence starts from.
    report.enterCase(first, "normalising every slot", false);
    if (!r.normalise(true)) {
        report.fail("the plug-in does not reach the baseline state; no sequence was run");
        return;
    }
    for (uint64_t i = first; i < last; ++i) {
        if (!context.enter(i, "sequence")) continue;
        if (context.trace != nullptr) std::fprintf(context.trace, "sequence %llu:\n", static_cast<unsigned long long>(i));
        RandomChoices choices(caseSeed(context.options.seed, "sequence", i));
        const bool ok = r.run(choices, context.options.callsPerSequence);
        ++report.figures.sequences;
        if (!r.normalise(!ok) && ok) report.fail("the plug-in did not return to the baseline after the sequence");
        if (!ok && report.failedCases.size() > 10) {
            report.fail("more than 10 sequences failed; the rest are not run");
            return;
        }
    }
}

}  // namespace validator

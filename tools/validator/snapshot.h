// Everything the getters of a plug-in answer, gathered into one value, so that
// "this call changed nothing" is a comparison of two snapshots. Each getter
// writes into a host array that ends at a guard page; while gathering, the
// observer checks the arrays, the record bytes that belong to the host, the
// counts against the cell count and that no level is NaN or infinite.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/validator/host_memory.h"
#include "tools/validator/plugin_calls.h"
#include "tools/validator/product.h"
#include "tools/validator/setup_blob.h"

namespace validator {

struct Snapshot {
    std::vector<uint32_t> words;
    // (first word, what it is) for every stretch of words, in order.
    std::vector<std::pair<size_t, std::string>> sections;

    void section(std::string what) { sections.emplace_back(words.size(), std::move(what)); }
    void add(uint32_t w) { words.push_back(w); }
    void add(int32_t w) { words.push_back(uint32_t(w)); }
    void add(float f);
    void add(const unsigned char* bytes, size_t count);
};

// Where two snapshots first differ, or nullopt when they are equal.
std::optional<std::string> firstDifference(const Snapshot& before, const Snapshot& after);

// Records a failure of the words of a level array that are not finite or
// below the floor; true when all are fine.
bool levelsFinite(Report& report, const float* levelsDb, const char* what);

class Observer {
public:
    Observer(Plugin& plugin, const Product& product);

    // Every getter of the current instance (all -1 when there is none).
    Snapshot instance();
    // The plug-in-wide flags, then instance() of each of `ids` in turn; ends
    // with CI_MakeCurrent(currentAfter).
    Snapshot plugin(const std::vector<int32_t>& ids, int32_t currentAfter);

    BlobDesk& blobs() { return blobs_; }

    // The levels of one component into guarded arrays, checked; the result of
    // CI_GetCompFR. Writes the levels, phases and time when given.
    int32_t componentResponse(int32_t component, float* levels = nullptr, float* phases = nullptr,
                              float* time = nullptr);

    // The cabinet mesh of the current instance into guarded arrays sized by
    // the Number calls, checked record by record. Appends to `into` if given.
    void mesh(int32_t cellCount, Snapshot* into);

private:
    Plugin& plugin_;
    const Product& product_;
    BlobDesk blobs_;
    HostArray<float> three_{3};
    HostArray<float> levels_{kBandCount};
    HostArray<float> phases_{kBandCount};
    HostArray<float> one_{1};
    HostArray<int32_t> count_{1};
};

}  // namespace validator

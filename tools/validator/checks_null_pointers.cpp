// A host with a bug hands over NULL where an array or a value belongs. Every
// pointer parameter of every export, enumerated from the export list itself,
// gets NULL in turn with the other arguments valid (1 for every number, host
// arrays for the other pointers): the call must return -1, write nothing
// through the other pointers and change nothing the getters can see, with an
// instance with cells current and with none. A pointer the contract calls
// unused must leave the answer as it is with a host array there.
#include <algorithm>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/validator/checks.h"
#include "tools/validator/snapshot.h"

namespace validator {

namespace {

// One host array per parameter position; a page each, more than any export
// writes through one pointer (the edge list of 16 cells takes 3,840 bytes).
constexpr size_t kHostArrayBytes = 4096;

class HostArrays {
public:
    explicit HostArrays(int count) {
        for (int i = 0; i < count; ++i) arrays_.push_back(std::make_unique<HostArray<unsigned char>>(kHostArrayBytes));
    }
    void reset() {
        for (auto& a : arrays_) a->reset();
    }
    void* at(int i) { return arrays_[size_t(i)]->data(); }
    // Whether the array of parameter i still holds its sentinel, inside and before it.
    bool intact(int i) const { return arrays_[size_t(i)]->untouched() && arrays_[size_t(i)]->beforeIntact(); }

private:
    std::vector<std::unique_ptr<HostArray<unsigned char>>> arrays_;
};

// The argument of parameter i: NULL at `nullAt`, a host array at another
// pointer, and 1 for numbers, which is a valid component, band, parameter
// index and flag type for every export that takes one.
template <typename A>
A argument(int i, int nullAt, HostArrays& arrays) {
    if constexpr (std::is_pointer_v<A>) {
        return i == nullAt ? nullptr : static_cast<A>(arrays.at(i));
    } else {
        return A(1);
    }
}

template <typename Fn>
struct Signature;

template <typename R, typename... A>
struct Signature<R(PLUGIN_CALL*)(A...)> {
    using Result = R;
    static constexpr int kParameters = int(sizeof...(A));
    static constexpr int kPointers = (0 + ... + int(std::is_pointer_v<A>));
    static constexpr bool kFillable = ((std::is_pointer_v<A> || std::is_same_v<A, int32_t> || std::is_same_v<A, float>) && ...);

    static bool isPointer(int i) {
        constexpr bool pointer[] = {false, std::is_pointer_v<A>...};
        return pointer[i + 1];
    }

    template <typename Call>
    static R invoke(const Call& call, Plugin& plugin, int nullAt, HostArrays& arrays) {
        return invokeWith(call, plugin, nullAt, arrays, std::index_sequence_for<A...>{});
    }

private:
    template <typename Call, size_t... I>
    static R invokeWith(const Call& call, Plugin& plugin, int nullAt, HostArrays& arrays, std::index_sequence<I...>) {
        return call(plugin, argument<A>(int(I), nullAt, arrays)...);
    }
};

// The widest parameter list of the export list.
constexpr int kMostParameters = std::max({0
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) , Signature<plugin_api::name>::kParameters
#include "plugin/exports.inc"
});

struct PointerExport {
    const char* name;
    int parameters;
    bool (*isPointer)(int);
    // Calls the export through the validator's wrapper with NULL at parameter
    // nullAt (none for -1) and host arrays at the other pointers.
    std::function<int32_t(Plugin&, int nullAt, HostArrays&)> call;
};

template <typename Fn, typename Call>
void addIfPointers(std::vector<PointerExport>& list, const char* name, Call call) {
    using S = Signature<Fn>;
    static_assert(S::kFillable, "the check fills i32, f32 and pointer parameters: give a new type a valid value");
    if constexpr (S::kPointers > 0) {
        static_assert(std::is_same_v<typename S::Result, int32_t>, "a pointer-taking export refuses with an i32 -1");
        list.push_back({name, S::kParameters, &S::isPointer, [call](Plugin& plugin, int nullAt, HostArrays& arrays) {
                            return S::invoke(call, plugin, nullAt, arrays);
                        }});
    }
}

// Every export with a pointer parameter, in the order of the list.
const std::vector<PointerExport>& pointerExports() {
    static const std::vector<PointerExport> list = [] {
        std::vector<PointerExport> l;
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    addIfPointers<plugin_api::name>(l, #name, [](Plugin& p, auto... args) { return p.name(args...); });
#include "plugin/exports.inc"
        return l;
    }();
    return list;
}

// Pointers the contract says are not used: NULL there changes no answer.
bool pointersUnused(const std::string& name) {
    for (const char* unused : {"DLLGetSensitivity", "DLLGetDirectivity", "DLLGetImpedence", "DLLGetMaxPower",
                               "CI_GetPulse", "CI_GetPulses", "IP_ShowDialog"}) {
        if (name == unused) return true;
    }
    return false;
}

}  // namespace

void checkNullPointers(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Plugin& plugin = session.plugin();
    Report& report = context.report;

    report.enterCase(0, "setting up", false);
    if (!setUpDistinctInstances(r, product)) return;

    const std::vector<int32_t> ids = {0, 1, 2, 3};
    Observer& observer = r.observer();
    HostArrays arrays(kMostParameters);
    uint64_t index = 0;
    for (const int32_t current : {1, -1}) {
        const std::string where = current == 1 ? "instance 1 current" : "no instance current";
        const Snapshot before = observer.plugin(ids, current);
        for (const PointerExport& e : pointerExports()) {
            for (int nullAt = 0; nullAt < e.parameters; ++nullAt) {
                if (!e.isPointer(nullAt)) continue;
                const uint64_t caseIndex = index++;
                // With an instance the setup dialog is modal; its owner is unused.
                if (current == 1 && std::strcmp(e.name, "IP_ShowDialog") == 0) continue;
                const std::string call =
                    std::string(e.name) + " with NULL as parameter " + std::to_string(nullAt + 1);
                if (!context.enter(caseIndex, call + ", " + where)) continue;

                int32_t expected = -1;
                if (pointersUnused(e.name)) {
                    arrays.reset();
                    expected = e.call(plugin, -1, arrays);
                }
                arrays.reset();
                const int32_t result = e.call(plugin, nullAt, arrays);
                report.expect(result == expected,
                              call + " returned " + std::to_string(result) + ", not " + std::to_string(expected));
                for (int p = 0; p < e.parameters; ++p) {
                    if (p != nullAt && e.isPointer(p) && !arrays.intact(p)) {
                        report.fail(call + " wrote through parameter " + std::to_string(p + 1));
                    }
                }
                const Snapshot after = observer.plugin(ids, current);
                if (const auto difference = firstDifference(before, after)) {
                    report.fail(call + " changed the plug-in: " + *difference);
                }
            }
        }
    }
}

}  // namespace validator

// Every indexed argument at the edges of its range and beyond, and every float
// argument at the values that break arithmetic.
#include <climits>
#include <cmath>
#include <limits>

#include "tools/validator/checks.h"
#include "tools/validator/snapshot.h"

namespace validator {

namespace {

// The edges of an index whose valid values run from 1 (or 0) to max.
std::vector<int32_t> edgesOf(int32_t max) { return {-1, 0, max, max + 1, INT_MIN, INT_MAX}; }

std::vector<CellSetup> cellsFor(const Product& product, int32_t count) {
    std::vector<CellSetup> cells;
    for (int32_t k = 0; k < count; ++k) {
        cells.push_back({product.cellsCarryKind ? (k + 1) % product.kindCount : 0, k == 0 ? 0.0f : 1.5f + 0.25f * float(k)});
    }
    return cells;
}

void fill(float* values, float value) {
    for (int b = 0; b < kBandCount; ++b) values[b] = value;
}

// One instance, laid out with `count` cells, a seat 25 m away and a filter.
void prepare(SequenceRunner& r, const Product& product, int32_t count, bool absorption) {
    r.makeCurrent(1);
    r.setBlob(1, makeBlob(product, cellsFor(product, count)));
    const float position[3] = {0.0f, 0.0f, 8.0f};
    const float angles[3] = {0.0f, -5.0f, 0.0f};
    const float seat[3] = {3.0f, -25.0f, 1.2f};
    r.setArrayPosition(position);
    r.setArrayAngles(angles);
    r.setSeat(seat);
    float gains[kBandCount], phases[kBandCount];
    fill(gains, -3.0f);
    fill(phases, 30.0f);
    r.setFilter(gains, phases);
    r.setRoom(1, 343.0f);
    r.setRoom(2, 50.0f);
    r.setFlag(1, absorption ? 0 : 1);
}

void compareInstance(Report& report, const Snapshot& before, Observer& observer, const char* what) {
    const Snapshot after = observer.instance();
    if (const auto difference = firstDifference(before, after)) report.fail(std::string(what) + " changed the instance: " + *difference);
}

}  // namespace

void checkIndices(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Report& report = context.report;
    r.getFreeId();
    const int32_t counts[] = {0, 1, 4, kCellCapacity};
    for (uint64_t ci = 0; ci < 4; ++ci) {
        const int32_t count = counts[ci];
        if (count < product.fewestEntries) continue;
        const uint64_t base = ci * 10;
        if (context.onlyCase && *context.onlyCase / 10 != ci) continue;
        report.enterCase(base, std::to_string(count) + " cells: setting up", false);
        prepare(r, product, count, true);
        r.observeInstance();
        if (r.mismatched()) return;
        const Snapshot before = r.observer().instance();

        if (context.enter(base + 0, std::to_string(count) + " cells: component and band numbers")) {
            for (int32_t c : edgesOf(count)) {
                r.getPosition(c);
                r.getAngles(c);
                r.getCompDistance(c);
                r.getResponse(c);
                r.getSpl1m(c, 1);
                r.getDirectivity(c, kBandCount);
            }
            for (int32_t band : edgesOf(kBandCount)) {
                for (int32_t c : {1, count, count + 1}) {
                    r.getSpl1m(c, band);
                    r.getDirectivity(c, band);
                }
            }
            compareInstance(report, before, r.observer(), "a query with an out-of-range number");
        }
        if (context.enter(base + 1, std::to_string(count) + " cells: descriptor indices")) {
            for (int32_t cap : edgesOf(5)) r.describe(2, cap);
            for (int32_t index : edgesOf(1)) {
                r.describe(9, index);
                r.describe(11, index);
                r.describe(13, index);
            }
            for (int32_t index : edgesOf(2)) {
                r.describe(10, index);
                r.describe(12, index);
                r.describe(14, index);
            }
        }
        if (context.enter(base + 2, std::to_string(count) + " cells: flag types")) {
            for (int32_t type : edgesOf(4)) {
                r.getFlag(type);
                r.setFlag(type, type == 4 ? 0 : 1);
            }
            for (int32_t type : {1, 2, 3, 4}) r.getFlag(type);
            compareInstance(report, before, r.observer(), "a flag type out of range");
        }
        if (context.enter(base + 3, std::to_string(count) + " cells: room parameter indices")) {
            for (int32_t index : edgesOf(2)) r.setRoom(index, index == 2 ? 50.0f : 1234.0f);
            compareInstance(report, before, r.observer(), "a room parameter index out of range");
        }
        if (context.enter(base + 4, std::to_string(count) + " cells: input parameter indices")) {
            const Bytes blob = makeBlob(product, cellsFor(product, 5));
            for (int32_t index : edgesOf(1)) {
                if (index == 1) continue;
                r.setBlob(index, blob);
                r.getBlob(index);
            }
            compareInstance(report, before, r.observer(), "an input parameter index other than 1");
        }
        if (context.enter(base + 5, std::to_string(count) + " cells: instance ids")) {
            for (int32_t id : edgesOf(255)) {
                r.makeCurrent(id);
                r.getComponents();
                r.getBlob(1);
            }
            r.makeCurrent(1);
            compareInstance(report, before, r.observer(), "selecting ids at the edges");
        }
    }
}

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kHostileFloats[] = {kNaN, kInf, -kInf, -0.0f, 1e-40f, 1e38f, -1e38f};
constexpr const char* kHostileNames[] = {"NaN", "+Inf", "-Inf", "-0.0", "denormal 1e-40", "1e38", "-1e38"};

constexpr const char* kTargets[] = {
    "array position x", "array position y", "array position z", "array angle 1", "array angle 2", "array angle 3",
    "seat x",           "seat y",           "seat z",           "every filter gain", "filter gain of band 1",
    "every filter phase", "filter phase of band 21", "speed of sound", "humidity", "splay of cell 1",
    "splay of the last cell",
};
constexpr uint64_t kTargetCount = sizeof kTargets / sizeof kTargets[0];
constexpr uint64_t kValueCount = sizeof kHostileFloats / sizeof kHostileFloats[0];
constexpr int32_t kFloatCells = 6;

void apply(SequenceRunner& r, const Product& product, uint64_t target, float value) {
    float v3[3];
    float gains[kBandCount], phases[kBandCount];
    fill(gains, -3.0f);
    fill(phases, 30.0f);
    switch (target) {
    case 0:
    case 1:
    case 2: {
        const float base[3] = {0.0f, 0.0f, 8.0f};
        std::copy(base, base + 3, v3);
        v3[target] = value;
        r.setArrayPosition(v3);
        break;
    }
    case 3:
    case 4:
    case 5: {
        const float base[3] = {0.0f, -5.0f, 0.0f};
        std::copy(base, base + 3, v3);
        v3[target - 3] = value;
        r.setArrayAngles(v3);
        break;
    }
    case 6:
    case 7:
    case 8: {
        const float base[3] = {3.0f, -25.0f, 1.2f};
        std::copy(base, base + 3, v3);
        v3[target - 6] = value;
        r.setSeat(v3);
        break;
    }
    case 9: fill(gains, value); r.setFilter(gains, phases); break;
    case 10: gains[0] = value; r.setFilter(gains, phases); break;
    case 11: fill(phases, value); r.setFilter(gains, phases); break;
    case 12: phases[kBandCount - 1] = value; r.setFilter(gains, phases); break;
    case 13: r.setRoom(1, value); break;
    case 14: r.setRoom(2, value); break;
    default: {
        std::vector<CellSetup> cells = cellsFor(product, kFloatCells);
        cells[target == 15 ? 0 : kFloatCells - 1].splayDeg = value;
        r.setBlob(1, makeBlob(product, cells));
        break;
    }
    }
}

void floatsCheck(Context& context, HostFloatingPoint mode) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    session.plugin().setHostFloatingPoint(mode);
    SequenceRunner& r = session.checked();
    r.getFreeId();
    for (uint64_t target = 0; target < kTargetCount; ++target) {
        for (uint64_t value = 0; value < kValueCount; ++value) {
            for (uint64_t absorption = 0; absorption < 2; ++absorption) {
                const uint64_t index = (target * kValueCount + value) * 2 + absorption;
                if (!context.enter(index, std::string(kTargets[target]) + " = " + kHostileNames[value] +
                                              (absorption != 0 ? ", air absorption on" : ""))) {
                    continue;
                }
                r.clearMismatch();
                prepare(r, product, kFloatCells, absorption != 0);
                apply(r, product, target, kHostileFloats[value]);
                r.observeInstance();
                r.observer().blobs().roundTripHolds();
            }
        }
    }
}

}  // namespace

void checkFloats(Context& context) { floatsCheck(context, HostFloatingPoint::Masked); }
void checkFloatsUnmasked(Context& context) { floatsCheck(context, HostFloatingPoint::Unmasked); }

}  // namespace validator

// Checks of loading, the instance table and the current-instance rule.
#include <climits>

#include "tools/validator/checks.h"
#include "tools/validator/snapshot.h"

namespace validator {

namespace {

std::vector<CellSetup> splayedCells(const Product& product, int32_t count, float firstSplayDeg) {
    std::vector<CellSetup> cells;
    for (int32_t k = 0; k < count; ++k) {
        cells.push_back({product.cellsCarryKind ? k % product.kindCount : 0, firstSplayDeg + 0.5f * float(k)});
    }
    return cells;
}

}  // namespace

namespace {

// What the distinct instances are given; the checks hand the same values to
// a slot that must not act on them.
constexpr float position[3] = {1.0f, 2.0f, 9.0f};
constexpr float angles[3] = {5.0f, -8.0f, 0.0f};
constexpr float seat[3] = {10.0f, -20.0f, 1.7f};
struct Filter {
    float gains[kBandCount], phases[kBandCount];
    Filter() {
        for (int b = 0; b < kBandCount; ++b) {
            gains[b] = -3.0f - float(b);
            phases[b] = 45.0f;
        }
    }
};
const Filter filter;
const float (&gains)[kBandCount] = filter.gains;
const float (&phases)[kBandCount] = filter.phases;

}  // namespace

bool setUpDistinctInstances(SequenceRunner& r, const Product& product) {
    r.getFreeId();
    r.setBlob(1, makeBlob(product, splayedCells(product, 6, 2.0f)));
    r.setArrayPosition(position);
    r.setArrayAngles(angles);
    r.setSeat(seat);
    r.setFilter(gains, phases);
    r.getFreeId();
    r.getFreeId();
    r.setBlob(1, makeBlob(product, splayedCells(product, kCellCapacity, 0.5f)));
    r.setSeat(seat);
    r.makeCurrent(0);
    r.setBlob(1, makeBlob(product, splayedCells(product, 4, 3.0f)));
    r.setSeat(seat);
    r.setFlag(1, 0);
    r.setFlag(2, 1);
    r.setRoom(1, 338.0f);
    r.setRoom(2, 40.0f);
    return !r.mismatched();
}

void checkExports(Context& context) {
    if (!context.enter(0, "resolve every export")) return;
    std::string error;
    const auto library = host::PluginLibrary::open(context.libraryPath, error);
    if (!context.report.expect(library != nullptr, error)) return;
    std::vector<std::string> missing;
    exportTableOf(*library, &missing);
    context.report.expect(kExportCount == 61, "the export list holds " + std::to_string(kExportCount) + " exports, not 61");
    for (const std::string& name : missing) context.report.fail("export " + name + " does not resolve");
}

void checkLifecycle(Context& context) {
    const Product& product = context.product;
    for (uint64_t cycle = 0; cycle < context.options.loadCycles; ++cycle) {
        if (!context.enter(cycle, "load, check the state at load, change it, unload")) continue;
        Session session(context);
        if (!session.ok()) return;
        SequenceRunner& r = session.checked();
        // The state at load: no instance current, flags and room at their defaults.
        r.getComponents();
        r.getDistance();
        r.getBlob(1);
        for (int32_t type : {1, 2, 3, 4}) r.getFlag(type);
        r.describe(14, 1);
        r.describe(14, 2);
        // Slot 0 exists with no cells; the first ids handed out are 1 and 2,
        // with the default cells and poses that were never laid out.
        r.makeCurrent(0);
        r.observeInstance();
        r.getFreeId();
        r.observeInstance();
        r.getFreeId();
        const float seat[3] = {3.0f, 4.0f, 0.0f};
        r.setSeat(seat);
        r.getDistance();
        r.getResponse(1);
        if (r.mismatched()) return;

        // Change everything a reload must forget.
        r.setBlob(1, makeBlob(product, splayedCells(product, 6, 1.0f)));
        const float position[3] = {1.0f, 2.0f, 3.0f};
        const float angles[3] = {10.0f, -5.0f, 0.0f};
        r.setArrayPosition(position);
        r.setArrayAngles(angles);
        float gains[kBandCount], phases[kBandCount];
        for (int b = 0; b < kBandCount; ++b) {
            gains[b] = -10.0f;
            phases[b] = 20.0f;
        }
        r.setFilter(gains, phases);
        r.setFlag(1, 0);
        r.setFlag(2, 1);
        r.setFlag(4, 1);
        r.setRoom(1, 100.0f);
        r.setRoom(2, 20.0f);
        r.makeCurrent(0);
        r.setBlob(1, makeBlob(product, splayedCells(product, 5, 2.0f)));
        r.setArrayPosition(position);
        r.getFreeId();
        r.release();
        r.observeInstance();
    }
}

void checkSelection(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Plugin& plugin = session.plugin();
    Report& report = context.report;

    report.enterCase(0, "setting up", false);
    if (!setUpDistinctInstances(r, product)) return;

    const std::vector<int32_t> ids = {0, 1, 2, 3, 4, 255};
    Observer& observer = r.observer();
    const Snapshot before = observer.plugin(ids, 0);
    const int32_t kBadIds[] = {-1, 256, INT_MIN, INT_MAX};
    const Bytes blob = makeBlob(product, splayedCells(product, 5, 1.0f));

    for (uint64_t i = 0; i < 4; ++i) {
        const int32_t bad = kBadIds[i];
        if (!context.enter(i, "current id " + std::to_string(bad))) continue;
        r.makeCurrent(bad);
        // Every per-instance export: -1 and nothing written or changed.
        r.release();
        r.getPulses(false);
        r.getPulses(true);
        r.setArrayPosition(position);
        r.setArrayAngles(angles);
        r.setSeat(seat);
        r.getDistance();
        r.getComponents();
        for (int32_t c : {1, 0, -1, 16}) {
            r.getPosition(c);
            r.getAngles(c);
            r.getCompDistance(c);
            r.getResponse(c);
            r.getSpl1m(c, 1);
            r.getDirectivity(c, 1);
        }
        for (uint32_t m = 0; m < 4; ++m) r.getMesh(m);
        {
            HostArray<plugin_api::VertexRecord> vertices(kVerticesPerCell * kCellCapacity);
            HostArray<plugin_api::EdgeRecord> edges(size_t(product.edgesPerCell) * kCellCapacity);
            HostArray<plugin_api::FaceRecord> faces(kFacesPerCell * kCellCapacity);
            report.expect(plugin.CS_GetVertexArray(vertices.data()) == -1 && vertices.untouched(),
                          "CS_GetVertexArray answered or wrote without an instance");
            report.expect(plugin.CS_GetEdgeArray(edges.data()) == -1 && edges.untouched(),
                          "CS_GetEdgeArray answered or wrote without an instance");
            report.expect(plugin.CS_GetFaceArray(faces.data()) == -1 && faces.untouched(),
                          "CS_GetFaceArray answered or wrote without an instance");
        }
        r.setBlob(1, blob);
        r.getBlob(1);
        r.setFilter(gains, phases);
        report.expect(plugin.IP_ShowDialog(nullptr) == -1, "IP_ShowDialog did not return -1 without an instance");
        // The descriptors answer regardless.
        for (uint32_t d = 0; d < SequenceRunner::kDescriptorKinds; ++d) {
            r.describe(d, 1);
            r.describe(d, 2);
        }
        const Snapshot after = observer.plugin(ids, bad);
        if (const auto difference = firstDifference(before, after)) {
            report.fail("calls without a current instance changed the plug-in: " + *difference);
        }
        r.getComponents();
    }

    if (context.enter(4, "a released slot that is still current")) {
        // Calls act on it; the ids of the other slots see nothing.
        const Snapshot others = observer.plugin({0, 1, 3}, 2);
        r.makeCurrent(2);
        r.release();
        r.getComponents();
        r.setBlob(1, blob);
        r.getBlob(1);
        r.getComponents();
        r.setSeat(position);
        r.getDistance();
        r.getResponse(1);
        // It is the lowest free id again: handed out with default cells, the
        // seat kept.
        r.getFreeId();
        r.getBlob(1);
        r.getDistance();
        const Snapshot othersAfter = observer.plugin({0, 1, 3}, r.model().currentId());
        if (const auto difference = firstDifference(others, othersAfter)) {
            report.fail("calls on a released slot changed other slots: " + *difference);
        }
    }

    if (context.enter(5, "the free ids, lowest first, until the table is full")) {
        for (int32_t n = 0; n < kSlotCount && !r.mismatched(); ++n) {
            const bool full = r.model().idsInUse().size() == kSlotCount - 1;
            r.getFreeId();
            if (full) break;
        }
        r.getComponents();
        r.getBlob(1);
    }
}

}  // namespace validator

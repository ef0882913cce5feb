#include "plugin/setup.h"

#include <cmath>
#include <cstring>

#include "acoustics/component_response.h"
#include "acoustics/transition_distance.h"
#include "geometry/layout.h"
#include "geometry/scalar.h"

namespace plugin {

namespace {

uint32_t readU32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);  // the host's buffer need not be aligned
    return v;
}
int32_t readI32(const unsigned char* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
float readF32(const unsigned char* p) {
    float v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
void write(unsigned char* p, T value) {
    std::memcpy(p, &value, sizeof value);
}

struct Entry {
    int32_t kind;
    float splayDeg;
};

Entry readEntry(const unsigned char* p, const models::ModelDefinition& model) {
    if (model.cellsCarryKind) return {readI32(p), readF32(p + 4)};
    return {0, readF32(p)};
}

}  // namespace

void layOut(Instance& instance, const models::ModelDefinition& model) {
    float splaysDeg[kCellCapacity];
    for (int k = 0; k < kCellCapacity; ++k) splaysDeg[k] = instance.cells[k].splayDeg;
    geometry::Pose poses[kCellCapacity];
    const int count = instance.cellCount;
    const int written = geometry::layOutCells({instance.arrayPosition, instance.arrayAngles}, splaysDeg,
                                              count, model, poses);
    for (int k = 0; k < written; ++k) {
        instance.cells[k].position = poses[k].position;
        instance.cells[k].angles = poses[k].angles;
    }
    // An empty array has no length and no near field.
    const float lengthM =
        count > 0 ? geometry::distance(instance.cells[0].position, instance.cells[count - 1].position) : 0.0f;
    acoustics::computeTransitionDistances(lengthM, model, instance.transitionDistanceM);
    for (int band = 0; band < kBandCount; ++band) {
        instance.farFieldOffsetDb[band] = acoustics::farFieldOffsetDb(instance.transitionDistanceM[band]);
    }
    seatOrCellsMoved(instance);
}

SetupOutcome applySetupBlob(Instance& instance, const models::ModelDefinition& model,
                            const unsigned char* blob) {
    const uint32_t size = readU32(blob);
    if (size < kSetupHeaderBytes) return SetupOutcome::Refused;
    if (readU32(blob + 4) != model.setupMagic) {
        resetToDefaults(instance, model);
        return SetupOutcome::RefusedAndReset;
    }
    // Unsigned arithmetic: no size word can make the count negative.
    const uint32_t entryBytes = uint32_t(model.setupEntryBytes());
    const uint32_t count = (size - kSetupHeaderBytes) / entryBytes;
    if (count < uint32_t(model.fewestSetupEntries)) {
        resetToDefaults(instance, model);
        return SetupOutcome::RefusedAndReset;
    }
    if (count > uint32_t(kCellCapacity)) return SetupOutcome::Refused;

    const unsigned char* entries = blob + kSetupHeaderBytes;
    for (uint32_t k = 0; k < count; ++k) {
        const Entry e = readEntry(entries + k * entryBytes, model);
        if (e.kind < 0 || e.kind >= model.kindCount || !std::isfinite(e.splayDeg)) {
            return SetupOutcome::Refused;
        }
    }
    instance.cellCount = int32_t(count);
    for (uint32_t k = 0; k < count; ++k) {
        const Entry e = readEntry(entries + k * entryBytes, model);
        if (model.cellsCarryKind) instance.cells[k].kind = e.kind;
        instance.cells[k].splayDeg = e.splayDeg;
    }
    layOut(instance, model);
    return SetupOutcome::Accepted;
}

uint32_t setupBlobSize(const Instance& instance, const models::ModelDefinition& model) {
    return kSetupHeaderBytes + uint32_t(model.setupEntryBytes()) * uint32_t(instance.cellCount);
}

void writeSetupBlobBody(const Instance& instance, const models::ModelDefinition& model,
                        unsigned char* blob) {
    write(blob + 4, model.setupMagic);
    unsigned char* entry = blob + kSetupHeaderBytes;
    for (int32_t k = 0; k < instance.cellCount; ++k) {
        if (model.cellsCarryKind) {
            write(entry, instance.cells[k].kind);
            entry += 4;
        }
        write(entry, instance.cells[k].splayDeg);
        entry += 4;
    }
}

void setFilter(Instance& instance, const float* gainsDb, const float* phasesDeg) {
    for (int band = 0; band < kBandCount; ++band) {
        instance.filterGainDb[band] = geometry::clamp(gainsDb[band], kFilterGainMinDb, kFilterGainMaxDb);
        instance.filterPhaseDeg[band] =
            geometry::clamp(phasesDeg[band], kFilterPhaseMinDeg, kFilterPhaseMaxDeg);
    }
    responseInputsChanged(instance);
}

}  // namespace plugin

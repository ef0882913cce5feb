#include "plugin/response.h"

#include <atomic>
#include <cstring>

#include "acoustics/component_response.h"
#include "acoustics/model_data.h"
#include "geometry/float_lanes.h"
#include "geometry/rotation.h"

namespace plugin {

namespace {

// The absorption table while flag 1 leaves absorption out.
constexpr float kNoAbsorptionDbPerM[kBandCount] = {};

// The seat in the axes of each cell of the array, by the exact inverse of its
// rotation, four cells at a time. A last group of four may take in cells past
// the count: they hold poses from earlier layouts or the zero pose, and their
// lanes are never read.
void seatInCellAxes(const Instance& instance, geometry::RotationOrder order, acoustics::SeatVectors& seats) {
    using geometry::FloatLanes;
    static_assert(kCellCapacity % 4 == 0);
    const geometry::Vector3& seat = instance.seatPosition;
    for (int first = 0; first < instance.cellCount; first += 4) {
        const Cell* c = instance.cells + first;
        auto lanes = [c](auto member) {
            return FloatLanes::of(member(c[0]), member(c[1]), member(c[2]), member(c[3]));
        };
        const geometry::Vector3Lanes relative{
            FloatLanes{_mm_set1_ps(seat.x)} - lanes([](const Cell& cell) { return cell.position.x; }),
            FloatLanes{_mm_set1_ps(seat.y)} - lanes([](const Cell& cell) { return cell.position.y; }),
            FloatLanes{_mm_set1_ps(seat.z)} - lanes([](const Cell& cell) { return cell.position.z; }),
        };
        FloatLanes cosines[3], sines[3];
        for (int i = 0; i < 3; ++i) {
            cosines[i] = lanes([i](const Cell& cell) { return cell.angles.cosine(i); });
            sines[i] = lanes([i](const Cell& cell) { return cell.angles.sine(i); });
        }
        const geometry::Vector3Lanes turned = geometry::inverseRotate(relative, cosines, sines, order);
        _mm_store_ps(seats.x + first, turned.x.v);
        _mm_store_ps(seats.y + first, turned.y.v);
        _mm_store_ps(seats.z + first, turned.z.v);
    }
}

// Works out what the response keeps of the seat: every cell's balloon sample
// and the base levels of every kind. Kept out of line: it runs once per seat,
// and the per-call path stays short.
__attribute__((noinline)) void prepareSeat(const PluginState& state, const Instance& instance,
                                            SeatResponse& response) {
    const models::ModelDefinition& model = state.model;
    // Stamped with the versions it is worked out for, before the work: a
    // change that lands while it runs leaves an older stamp, and the next
    // call works the seat out again instead of keeping stale levels.
    response.instanceVersion = instance.responseVersion;
    response.roomVersion = state.roomVersion;
    // Nor may the compiler read the inputs before the versions.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    const int32_t count = instance.cellCount;
    // 16-byte aligned for the SSE loads and stores even though hosts call
    // with 4-byte alignment: in the 32-bit build every function that needs
    // more alignment than that realigns its frame (-mstackrealign).
    acoustics::SeatVectors seats;
    seatInCellAxes(instance, model.angles.order, seats);
    acoustics::balloonSamples(seats, count, response.samples);

    // Every cell of the array is heard over the seat's distance from the array.
    const acoustics::SeatDistance seat{instance.seatDistanceM, instance.seatNearFieldLossDb};
    const float* absorption = state.flags.absorptionDisabled() ? kNoAbsorptionDbPerM : state.room.airAbsorptionDbPerM;
    for (int kind = 0; kind < model.kindCount; ++kind) {
        acoustics::baseLevels(
            seat, {acoustics::onAxisLevelsDb(model, kind), instance.filterGainDb, absorption, instance.farFieldOffsetDb},
            response.baseLevelDb[kind]);
    }
    response.sampledCells = count;
}

}  // namespace

void componentResponse(const PluginState& state, const Instance& instance, SeatResponse& kept, int32_t cellIndex,
                       float* levelsDb, float* phasesDeg, float* timeS) {
    const models::ModelDefinition& model = state.model;
    // A cell at or past the sampled count joined the array without a layout
    // (a refused blob, the dialog, a slot taken again), so nothing bumped the
    // version: its kept sample, if any, is from an earlier seat.
    if (cellIndex >= kept.sampledCells || kept.instanceVersion != instance.responseVersion ||
        kept.roomVersion != state.roomVersion) {
        prepareSeat(state, instance, kept);
    }
    const int kind = acoustics::existingKind(model, instance.cells[cellIndex].kind);
    acoustics::componentLevels(kept.samples[cellIndex], acoustics::balloonBlock(model, kind, 0),
                               kept.baseLevelDb[kind], levelsDb);
    std::memcpy(phasesDeg, instance.filterPhaseDeg, sizeof instance.filterPhaseDeg);
    *timeS = instance.seatDistanceM / state.room.speedOfSoundMPerS;
}

}  // namespace plugin

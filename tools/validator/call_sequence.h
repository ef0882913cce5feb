// Random call sequences against the reference model: every call a host may
// make (except the modal dialog), with ids, component and band numbers,
// floats and blobs drawn from mostly sensible and sometimes hostile values,
// and every answer compared with what the model says it must be.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "tools/validator/plugin_calls.h"
#include "tools/validator/random.h"
#include "tools/validator/reference_model.h"
#include "tools/validator/snapshot.h"

namespace validator {

// The kinds of call a random sequence draws, one per checked call of the
// runner (the export or exports it makes in the comment). The order is
// that of the draw: a kind's number picks its weight, so reordering the
// kinds would give every seed and every kept fuzz input other calls.
enum class CallKind : uint32_t {
    GetFreeId,         // CI_GetFreeID
    MakeCurrent,       // CI_MakeCurrent
    Release,           // CI_Release
    SetArrayPosition,  // CI_SetLspkPosition3fv
    SetArrayAngles,    // CI_SetLspkAngles3fv
    SetSeat,           // CI_SetSeatPosition3fv
    SetBlob,           // IP_SetValue
    SetFilter,         // IP_SetFilter
    SetFlag,           // DLLSetFlag
    SetRoom,           // RP_SetValue
    GetComponents,     // CI_GetComponents
    GetDistance,       // CI_GetDistance
    GetPosition,       // CI_GetCompPosition3fv
    GetAngles,         // CI_GetCompAngles3fv
    GetCompDistance,   // CI_GetCompDistance
    GetResponse,       // CI_GetCompFR
    GetSpl1m,          // CI_GetCompSPL1m
    GetDirectivity,    // CI_GetCompDirectivity
    GetFlag,           // DLLGetFlag
    GetBlob,           // IP_GetValue
    GetMesh,           // a MeshQuery
    GetPulses,         // CI_GetPulse or CI_GetPulses
    Describe,          // a Descriptor
    Count
};
inline constexpr uint32_t kCallKindCount = uint32_t(CallKind::Count);

// What getMesh() asks, in the order of its draw.
enum class MeshQuery : uint32_t {
    Symmetry,     // CS_GetSymmetry
    VertexCount,  // CS_GetVertexNumber
    EdgeCount,    // CS_GetEdgeNumber
    FaceCount,    // CS_GetFaceNumber
    WholeMesh,    // every count and array, checked by the observer
    Count
};

// The plug-in-wide descriptors describe() asks for, in the order of its draw.
enum class Descriptor : uint32_t {
    Version,            // DLLVersion
    Class,              // DLLClass
    Caps,               // DLLGetCaps(index)
    Lock,               // DLLLock
    Components,         // DLLGetComponents
    Symmetry,           // DLLGetSymmetry
    WholeSource,        // DLLGetSensitivity, DLLGetDirectivity, DLLGetImpedence, DLLGetMaxPower
    ValidBands,         // DLLGetValidBands
    ParameterCounts,    // IP_GetNumber, RP_GetNumber
    InputIdAndType,     // IP_GetID(index), IP_GetType(index)
    RoomIdAndType,      // RP_GetID(index), RP_GetType(index)
    InputLabel,         // IP_GetLabel(index)
    RoomLabel,          // RP_GetLabel(index)
    InputLimits,        // IP_GetDefault, IP_GetMinimum, IP_GetMaximum (index)
    RoomLimits,         // RP_GetDefault, RP_GetMinimum, RP_GetMaximum (index)
    FilterLimits,       // IP_GetFilterDef, IP_GetFilterMin, IP_GetFilterMax
    Texts,              // DLLGetName, DLLGetManufacturer, DLLGetDataResolution
    Count
};

// Where a sequence's choices come from: a seeded generator in the validator,
// the fuzzer's input bytes in the fuzz target.
class Choices {
public:
    virtual ~Choices() = default;
    // Uniform in 0..bound-1 (bound > 0).
    virtual uint32_t below(uint32_t bound) = 0;
    virtual uint32_t bits32() = 0;
    // No more choices: the sequence ends.
    virtual bool exhausted() const { return false; }
};

class RandomChoices : public Choices {
public:
    explicit RandomChoices(uint64_t seed) : random_(seed) {}
    uint32_t below(uint32_t bound) override { return random_.below(bound); }
    uint32_t bits32() override { return random_.bits32(); }

private:
    Random random_;
};

// Reads choices from bytes, front to back; once they run out it is exhausted.
class ByteChoices : public Choices {
public:
    ByteChoices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t below(uint32_t bound) override;
    uint32_t bits32() override;
    bool exhausted() const override { return used_ >= size_; }

private:
    uint8_t byte() { return used_ < size_ ? data_[used_++] : 0; }
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

class SequenceRunner {
public:
    SequenceRunner(Plugin& plugin, const Product& product);

    ReferenceModel& model() { return model_; }
    // Starts over from the state at load, for a plug-in that was reloaded.
    void restart();

    // Makes export calls chosen by `choices` until `calls` have been made or
    // the choices run out, checking each answer. A sequence may first crowd
    // the instance table. False at the first mismatch (recorded in the
    // report); the model then no longer follows the plug-in.
    bool run(Choices& choices, uint64_t calls);

    // Brings every slot that differs from the baseline, and the flags, room
    // values and current id, back to it through checked calls. With
    // everySlot all 256 slots are set, whatever the model believes.
    bool normalise(bool everySlot);

    // Prints each call and its answer to `trace` (for --reproduce).
    void traceTo(std::FILE* trace) { trace_ = trace; }

    // Checked calls: each makes one export call (a few for the blob and the
    // mesh), compares the answer with the model and applies the effect.
    void getFreeId();
    void makeCurrent(int32_t id);
    void release();
    void setArrayPosition(const float* p);
    void setArrayAngles(const float* a);
    void setSeat(const float* p);
    // The blob goes in a host buffer of bufferBytes (0: its length) that ends
    // at a guard page; beyond the blob the buffer is zero.
    void setBlob(int32_t index, const Bytes& blob, size_t bufferBytes = 0);
    void setFilter(const float* gains, const float* phases);
    void setFlag(int32_t type, int32_t value);
    void setRoom(int32_t index, float value);
    void getComponents();
    void getDistance();
    void getPosition(int32_t component);
    void getAngles(int32_t component);
    void getCompDistance(int32_t component);
    void getResponse(int32_t component);
    void getSpl1m(int32_t component, int32_t band);
    void getDirectivity(int32_t component, int32_t band);
    void getFlag(int32_t type);
    void getBlob(int32_t index);
    void getMesh(MeshQuery query);
    // By number, in MeshQuery order.
    void getMesh(uint32_t query) { getMesh(MeshQuery(query)); }
    void getPulses(bool both);
    // A plug-in-wide descriptor, with `index` where it takes one.
    void describe(Descriptor which, int32_t index);
    // By number, in Descriptor order, for loops over all of them.
    void describe(uint32_t which, int32_t index) { describe(Descriptor(which), index); }
    static constexpr uint32_t kDescriptorKinds = uint32_t(Descriptor::Count);

    // Every readable answer about the current instance, checked.
    void observeInstance();

    Observer& observer() { return observer_; }
    // Whether a checked call has disagreed with the model since the last
    // run() or clearMismatch().
    bool mismatched() const { return mismatch_; }
    void clearMismatch() { mismatch_ = false; }

private:
    // Draws one call kind by its weight, then its arguments, and makes the call.
    bool step(Choices& c);
    static CallKind drawKind(Choices& c);
    void crowd(Choices& c);
    bool note(bool ok, const std::string& message);
    void trace(const std::string& line);

    // Drawn values.
    int32_t pickId(Choices& c);
    int32_t pickComponent(Choices& c);
    int32_t pickBand(Choices& c);
    int32_t pickIndex(Choices& c, int32_t max);
    float pickFloat(Choices& c, float scale);
    float pickSplay(Choices& c);
    Bytes pickBlob(Choices& c);

    bool componentValid(int32_t component);
    int32_t kindOf(int32_t component);

    Plugin& plugin_;
    const Product& product_;
    ReferenceModel model_;
    Observer observer_;
    HostArray<float> three_{3};
    HostArray<float> one_{1};
    HostArray<int32_t> word_{1};
    HostArray<float> gains_{kBandCount};
    HostArray<float> phases_{kBandCount};
    GuardedRegion empty_{1};
    std::FILE* trace_ = nullptr;
    bool mismatch_ = false;
    int32_t lastReleased_ = 1;
};

}  // namespace validator

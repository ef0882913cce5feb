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
    // 0 CS_GetSymmetry, 1-3 the Number calls, 4 the whole mesh.
    void getMesh(uint32_t which);
    void getPulses(bool both);
    // The plug-in-wide descriptors, 0 to 16, with `index` where they take one.
    void describe(uint32_t which, int32_t index);
    static constexpr uint32_t kDescriptorKinds = 17;

    // Every readable answer about the current instance, checked.
    void observeInstance();

    Observer& observer() { return observer_; }
    // Whether a checked call has disagreed with the model since the last
    // run() or clearMismatch().
    bool mismatched() const { return mismatch_; }
    void clearMismatch() { mismatch_ = false; }

private:
    bool step(Choices& c);
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
    uint64_t step_ = 0;
    bool mismatch_ = false;
    int32_t lastReleased_ = 1;
};

}  // namespace validator

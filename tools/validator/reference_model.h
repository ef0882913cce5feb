// The validator's own model of a loaded plug-in's state: the instance table
// with its current id, each slot's cells, pose, seat and filter, the flags
// and the room values. It follows the plug-in's contract, call by call, and
// says what each call must answer. The geometry and the acoustics are not
// modelled: cell poses and table values are learned from the plug-in the
// first time they are read, and must then stay what they were until a call
// that may change them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "tools/validator/product.h"
#include "tools/validator/setup_blob.h"

namespace validator {

struct ModelSlot {
    bool inUse = false;
    int32_t cellCount = 0;
    std::array<CellSetup, kCellCapacity> cells{};
    std::array<float, 3> arrayPosition{};
    std::array<float, 3> arrayAnglesDeg{};
    std::array<float, 3> seat{};
    std::array<float, kBandCount> filterGainDb{};
    std::array<float, kBandCount> filterPhaseDeg{};

    // Learned: each cell's position and angles as last read since the last
    // layout (a slot never laid out holds zero poses).
    std::array<std::optional<std::array<float, 3>>, kCellCapacity> position;
    std::array<std::optional<std::array<float, 3>>, kCellCapacity> anglesDeg;
    // Whether the layout has run with the pose, count and splays as they are.
    bool poseFresh = false;
};

// Equal bit for bit (so -0.0 differs from 0.0 and a NaN equals itself).
bool sameBits(float a, float b);

class ReferenceModel {
public:
    // The state right after the library is loaded.
    explicit ReferenceModel(const Product& product);

    const Product& product() const { return *product_; }
    int32_t currentId() const { return current_; }
    // The current slot, or nullptr while no id 0..255 is current.
    ModelSlot* current();
    ModelSlot& slot(int32_t id) { return slots_[size_t(id)]; }
    // Ids in use, lowest first.
    std::vector<int32_t> idsInUse() const;

    // Each returns what the export must return and applies its effect.
    int32_t getFreeId();
    void makeCurrent(int32_t id) { current_ = id; }
    int32_t release();
    int32_t setArrayPosition(const float* p);
    int32_t setArrayAngles(const float* a);
    int32_t setSeat(const float* p);
    int32_t setBlob(int32_t index, const unsigned char* blob);  // the buffer holds what its size word says
    int32_t setFilter(const float* gains, const float* phases);
    void setFlag(int32_t type, int32_t value);
    // The flag as DLLGetFlag writes it; nullopt for a type that is not a flag.
    std::optional<int32_t> flag(int32_t type) const;
    void setRoom(int32_t index, float value);
    float speedOfSound() const { return speedOfSound_; }

    // The blob IP_GetValue gives for the current slot (with its size word).
    Bytes blob() const;
    // CI_GetDistance of the current slot: the seat's distance from the array.
    float seatDistance() const;
    // The splays summed down to cell `number` as the layout tilts the cells:
    // cell 1 keeps the array's angles where it takes the array pose.
    double splaySumDeg(const ModelSlot& slot, int32_t number) const;

    // Whether a slot's data is what normalisation leaves: the 4 default
    // cells and splay 0 kind 0 beyond them, zero pose, seat and filter.
    bool dataAtBaseline(int32_t id) const;
    bool wideStateAtBaseline() const;

    // Learned per kind and band: the on-axis level with a 0 dB filter and
    // the directivity factor.
    std::optional<float> onAxisDb[3][kBandCount];
    std::optional<float> directivity[3][kBandCount];

private:
    void layOut(ModelSlot& slot);
    void resetCells(ModelSlot& slot);

    const Product* product_;
    std::array<ModelSlot, kSlotCount> slots_{};
    int32_t current_ = -1;
    uint8_t flag1Negated_ = 0;
    uint8_t flag2_ = 0;
    uint8_t flag4_ = 0;
    float speedOfSound_ = 343.0f;
    float humidity_ = 60.0f;
};

}  // namespace validator

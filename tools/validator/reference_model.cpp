#include "tools/validator/reference_model.h"

#include <cmath>
#include <cstring>

#include "tools/validator/random.h"

namespace validator {

bool sameBits(float a, float b) { return floatBits(a) == floatBits(b) || (std::isnan(a) && std::isnan(b)); }

namespace {

float clampFilter(float v, float low, float high) {
    if (v < low) return low;
    if (v > high) return high;
    return v;  // a NaN passes
}

}  // namespace

ReferenceModel::ReferenceModel(const Product& product) : product_(&product) {
    // At load every slot is zero: no cells, zero poses (never laid out).
    for (ModelSlot& s : slots_) {
        for (int k = 0; k < kCellCapacity; ++k) {
            s.position[size_t(k)] = std::array<float, 3>{0.0f, 0.0f, 0.0f};
            s.anglesDeg[size_t(k)] = std::array<float, 3>{0.0f, 0.0f, 0.0f};
        }
    }
}

ModelSlot* ReferenceModel::current() { return current_ >= 0 && current_ < kSlotCount ? &slots_[size_t(current_)] : nullptr; }

std::vector<int32_t> ReferenceModel::idsInUse() const {
    std::vector<int32_t> ids;
    for (int32_t id = 1; id < kSlotCount; ++id) {
        if (slots_[size_t(id)].inUse) ids.push_back(id);
    }
    return ids;
}

void ReferenceModel::resetCells(ModelSlot& slot) {
    slot.cellCount = 4;
    for (int k = 0; k < 4; ++k) slot.cells[size_t(k)] = {product_->defaultKind, 0.0f};
    slot.poseFresh = false;
}

void ReferenceModel::layOut(ModelSlot& slot) {
    const int32_t written = slot.cellCount == 0 && product_->cellOneTakesArrayPose ? 1 : slot.cellCount;
    for (int32_t k = 0; k < written; ++k) {
        slot.position[size_t(k)].reset();
        slot.anglesDeg[size_t(k)].reset();
    }
    // Cell 1 is placed at the array position itself where it takes the array pose.
    if (product_->cellOneTakesArrayPose) slot.position[0] = slot.arrayPosition;
    slot.poseFresh = true;
}

int32_t ReferenceModel::getFreeId() {
    for (int32_t id = 1; id < kSlotCount; ++id) {
        ModelSlot& s = slots_[size_t(id)];
        if (s.inUse) continue;
        s.inUse = true;
        current_ = id;
        resetCells(s);
        return id;
    }
    return -1;
}

int32_t ReferenceModel::release() {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    s->inUse = false;
    return 0;
}

int32_t ReferenceModel::setArrayPosition(const float* p) {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    s->arrayPosition = {p[0], p[1], p[2]};
    layOut(*s);
    return 0;
}

int32_t ReferenceModel::setArrayAngles(const float* a) {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    s->arrayAnglesDeg = {a[0], a[1], a[2]};
    layOut(*s);
    return 0;
}

int32_t ReferenceModel::setSeat(const float* p) {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    s->seat = {p[0], p[1], p[2]};
    return 0;
}

int32_t ReferenceModel::setBlob(int32_t index, const unsigned char* blob) {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    if (index != 1) return 0;
    const BlobOutcome outcome = expectedOutcome(*product_, blob);
    switch (outcome.verdict) {
    case BlobVerdict::Refused: return -1;
    case BlobVerdict::Reset: resetCells(*s); return -1;
    case BlobVerdict::Accepted: break;
    }
    s->cellCount = int32_t(outcome.cells.size());
    for (size_t k = 0; k < outcome.cells.size(); ++k) {
        s->cells[k].splayDeg = outcome.cells[k].splayDeg;
        if (product_->cellsCarryKind) s->cells[k].kind = outcome.cells[k].kind;
    }
    layOut(*s);
    return 0;
}

int32_t ReferenceModel::setFilter(const float* gains, const float* phases) {
    ModelSlot* s = current();
    if (s == nullptr) return -1;
    for (int b = 0; b < kBandCount; ++b) {
        s->filterGainDb[size_t(b)] = clampFilter(gains[b], -60.0f, 0.0f);
        s->filterPhaseDeg[size_t(b)] = clampFilter(phases[b], -180.0f, 180.0f);
    }
    return 0;
}

void ReferenceModel::setFlag(int32_t type, int32_t value) {
    switch (type) {
    case 1: flag1Negated_ = value == 0; break;
    case 2: flag2_ = value != 0; break;
    case 4: flag4_ = value != 0; break;
    default: break;
    }
}

std::optional<int32_t> ReferenceModel::flag(int32_t type) const {
    switch (type) {
    case 1: return flag1Negated_ == 0 ? -1 : 0;
    case 2: return flag2_ != 0 ? -1 : 0;
    case 4: return flag4_ != 0 ? -1 : 0;
    default: return std::nullopt;
    }
}

void ReferenceModel::setRoom(int32_t index, float value) {
    if (index == 1) speedOfSound_ = value;
    if (index == 2) humidity_ = value;
}

Bytes ReferenceModel::blob() const {
    const ModelSlot& s = slots_[size_t(current_)];
    return makeBlob(*product_, std::vector<CellSetup>(s.cells.begin(), s.cells.begin() + s.cellCount));
}

float ReferenceModel::seatDistance() const {
    const ModelSlot& s = slots_[size_t(current_)];
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = double(s.seat[size_t(i)]) - double(s.arrayPosition[size_t(i)]);
        sum += d * d;
    }
    return float(std::sqrt(sum));
}

double ReferenceModel::splaySumDeg(const ModelSlot& slot, int32_t number) const {
    double sum = 0.0;
    for (int32_t k = product_->cellOneTakesArrayPose ? 2 : 1; k <= number; ++k) sum += slot.cells[size_t(k - 1)].splayDeg;
    return sum;
}

bool ReferenceModel::dataAtBaseline(int32_t id) const {
    const ModelSlot& s = slots_[size_t(id)];
    if (s.cellCount != 4) return false;
    for (int k = 0; k < kCellCapacity; ++k) {
        const CellSetup& c = s.cells[size_t(k)];
        if (c.kind != (k < 4 ? product_->defaultKind : 0) || floatBits(c.splayDeg) != 0) return false;
    }
    auto zero = [](const auto& values) {
        for (float v : values) {
            if (floatBits(v) != 0) return false;
        }
        return true;
    };
    return zero(s.arrayPosition) && zero(s.arrayAnglesDeg) && zero(s.seat) && zero(s.filterGainDb) &&
           zero(s.filterPhaseDeg);
}

bool ReferenceModel::wideStateAtBaseline() const {
    return current_ == -1 && flag1Negated_ == 0 && flag2_ == 0 && flag4_ == 0 && floatBits(speedOfSound_) == floatBits(343.0f) &&
           floatBits(humidity_) == floatBits(60.0f);
}

}  // namespace validator

#include "tools/validator/call_sequence.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace validator {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kSpecialFloats[] = {kNaN, kInf, -kInf, -0.0f, 1e-40f, 1e38f, -1e38f, FLT_MAX, -FLT_MAX};
constexpr float kSpecialFiniteSplays[] = {-0.0f, 1e-40f, 1e38f, -1e38f, 90.0f, -90.0f, 360.0f, 1e6f};

// Equal, or a unit or two in the last place apart.
bool closeFloat(float expected, float got) {
    if (sameBits(expected, got)) return true;
    if (!std::isfinite(expected) || !std::isfinite(got)) return expected == got;
    const float scale = std::fmax(std::fabs(expected), std::fabs(got));
    return std::fabs(expected - got) <= 2.0f * (std::nextafter(scale, kInf) - scale);
}

std::string text(float v) { return hexFloat(v); }
std::string text3(const float* v) { return "(" + text(v[0]) + ", " + text(v[1]) + ", " + text(v[2]) + ")"; }

}  // namespace

uint32_t ByteChoices::below(uint32_t bound) {
    if (bound <= 1) return 0;
    const uint32_t value = bound <= 256 ? byte() : (uint32_t(byte()) << 8 | byte());
    return value % bound;
}

uint32_t ByteChoices::bits32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
}

SequenceRunner::SequenceRunner(Plugin& plugin, const Product& product)
    : plugin_(plugin), product_(product), model_(product), observer_(plugin, product) {
    empty_.place(0);
}

void SequenceRunner::restart() {
    model_ = ReferenceModel(product_);
    mismatch_ = false;
    lastReleased_ = 1;
}

bool SequenceRunner::note(bool ok, const std::string& message) {
    if (!ok && !mismatch_) {
        mismatch_ = true;
        plugin_.report().fail("call " + std::to_string(plugin_.report().callsInCase()) + ": " + message);
    }
    return ok;
}

void SequenceRunner::trace(const std::string& line) {
    if (trace_ != nullptr) {
        std::fprintf(trace_, "  %5llu  %s\n", static_cast<unsigned long long>(plugin_.report().callsInCase()), line.c_str());
    }
}

bool SequenceRunner::componentValid(int32_t component) {
    const ModelSlot* s = model_.current();
    return s != nullptr && component >= 1 && component <= s->cellCount;
}

int32_t SequenceRunner::kindOf(int32_t component) {
    return product_.cellsCarryKind ? model_.current()->cells[size_t(component - 1)].kind : 0;
}

// ---- Drawn values ----

int32_t SequenceRunner::pickId(Choices& c) {
    const std::vector<int32_t> ids = model_.idsInUse();
    const uint32_t r = c.below(100);
    if (r < 55 && !ids.empty()) return ids[c.below(uint32_t(ids.size()))];
    if (r < 70) return 1 + int32_t(c.below(255));
    if (r < 75) return 0;
    if (r < 85) return lastReleased_;
    constexpr int32_t kBad[] = {-1, 256, INT_MIN, INT_MAX, 257, -2};
    return kBad[c.below(6)];
}

int32_t SequenceRunner::pickComponent(Choices& c) {
    const ModelSlot* s = model_.current();
    const int32_t n = s != nullptr ? s->cellCount : 4;
    if (c.below(100) < 75 && n > 0) return 1 + int32_t(c.below(uint32_t(n)));
    const int32_t others[] = {0, -1, n + 1, 16, 17, INT_MIN, INT_MAX, n};
    return others[c.below(8)];
}

int32_t SequenceRunner::pickBand(Choices& c) {
    if (c.below(100) < 85) return 1 + int32_t(c.below(kBandCount));
    constexpr int32_t kBad[] = {0, 22, -1, INT_MIN, INT_MAX};
    return kBad[c.below(5)];
}

int32_t SequenceRunner::pickIndex(Choices& c, int32_t max) {
    if (c.below(100) < 70) return 1 + int32_t(c.below(uint32_t(max)));
    const int32_t others[] = {-1, 0, max + 1, INT_MIN, INT_MAX};
    return others[c.below(5)];
}

float SequenceRunner::pickFloat(Choices& c, float scale) {
    const uint32_t r = c.below(100);
    if (r < 80) {
        // On a grid, so that values recur.
        const float step = scale / 64.0f;
        return step * float(int32_t(c.below(129)) - 64);
    }
    if (r < 88) return 0.0f;
    return kSpecialFloats[c.below(sizeof kSpecialFloats / sizeof(float))];
}

float SequenceRunner::pickSplay(Choices& c) {
    const uint32_t r = c.below(100);
    if (r < 75) return 0.25f * float(int32_t(c.below(101)) - 40);
    if (r < 90) return 0.0f;
    return kSpecialFiniteSplays[c.below(sizeof kSpecialFiniteSplays / sizeof(float))];
}

Bytes SequenceRunner::pickBlob(Choices& c) {
    const uint32_t r = c.below(100);
    const int32_t fewest = product_.fewestEntries;
    auto cells = [&](int32_t n) {
        std::vector<CellSetup> list(static_cast<size_t>(n));
        for (CellSetup& cell : list) {
            cell.kind = product_.cellsCarryKind ? int32_t(c.below(uint32_t(product_.kindCount))) : 0;
            cell.splayDeg = pickSplay(c);
        }
        return list;
    };
    auto validCount = [&] { return fewest + int32_t(c.below(uint32_t(kCellCapacity - fewest + 1))); };

    if (r < 50) return makeBlob(product_, cells(validCount()));
    if (r < 58) {  // trailing bytes short of an entry
        Bytes b = makeBlob(product_, cells(validCount()));
        const uint32_t extra = 1 + c.below(product_.entryBytes() - 1);
        b.resize(b.size() + extra, uint8_t(c.below(256)));
        writeWord(b.data(), uint32_t(b.size()));
        return b;
    }
    if (r < 64) {  // a magic that is not this product's
        const uint32_t other = c.below(2) == 0 ? (product_.setupMagic ^ 0x0000000Eu) : c.bits32();
        return makeBlob(product_, cells(int32_t(c.below(kCellCapacity + 1))), other == product_.setupMagic ? other + 1 : other);
    }
    if (r < 70) return makeBlob(product_, cells(kCellCapacity + 1 + int32_t(c.below(8))));
    if (r < 76) {  // a splay that is not finite
        std::vector<CellSetup> list = cells(std::max(validCount(), 1));
        constexpr float kNotFinite[] = {kNaN, kInf, -kInf};
        // Drawn before the cell: an assignment evaluates its right side first.
        const float splay = kNotFinite[c.below(3)];
        list[c.below(uint32_t(list.size()))].splayDeg = splay;
        return makeBlob(product_, list);
    }
    if (r < 80) {  // a cabinet kind the product does not have
        std::vector<CellSetup> list = cells(std::max(validCount(), 1));
        constexpr int32_t kBadKinds[] = {-1, 3, INT_MAX, INT_MIN, 1000};
        // Drawn before the cell: an assignment evaluates its right side first.
        const int32_t kind = kBadKinds[c.below(5)];
        list[c.below(uint32_t(list.size()))].kind = kind;
        return makeBlob(product_, list);
    }
    if (r < 85) return makeBlob(product_, cells(fewest > 0 ? int32_t(c.below(uint32_t(fewest))) : 0));
    if (r < 92) {  // a size word below the header; at least the word itself is handed over
        const uint32_t size = c.below(kSetupHeaderBytes);
        Bytes b(size < 4 ? 4 : size, uint8_t(c.below(256)));
        writeWord(b.data(), size);
        return b;
    }
    // A buffer longer than its size word says: only the word counts.
    Bytes b = makeBlob(product_, cells(validCount()));
    const uint32_t size = kSetupHeaderBytes + c.below(uint32_t(b.size()) - kSetupHeaderBytes + 1);
    writeWord(b.data(), size);
    return b;
}

// ---- Checked calls ----

void SequenceRunner::getFreeId() {
    const int32_t expected = model_.getFreeId();
    const int32_t got = plugin_.CI_GetFreeID();
    if (trace_) trace("CI_GetFreeID() -> " + std::to_string(got));
    note(got == expected, "CI_GetFreeID returned " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void SequenceRunner::makeCurrent(int32_t id) {
    const int32_t got = plugin_.CI_MakeCurrent(id);
    model_.makeCurrent(id);
    if (trace_) trace("CI_MakeCurrent(" + std::to_string(id) + ") -> " + std::to_string(got));
    note(got == 0, "CI_MakeCurrent returned " + std::to_string(got));
}

void SequenceRunner::release() {
    if (model_.current() != nullptr) lastReleased_ = model_.currentId();
    const int32_t expected = model_.release();
    const int32_t got = plugin_.CI_Release();
    if (trace_) trace("CI_Release() -> " + std::to_string(got));
    note(got == expected, "CI_Release returned " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void SequenceRunner::setArrayPosition(const float* p) {
    float* in = three_.reset();
    std::memcpy(in, p, 12);
    const int32_t expected = model_.setArrayPosition(p);
    const int32_t got = plugin_.CI_SetLspkPosition3fv(in);
    if (trace_) trace("CI_SetLspkPosition3fv" + text3(p) + " -> " + std::to_string(got));
    note(got == expected, "CI_SetLspkPosition3fv returned " + std::to_string(got));
    note(std::memcmp(in, p, 12) == 0 && three_.beforeIntact(), "CI_SetLspkPosition3fv wrote into the host's array");
}

void SequenceRunner::setArrayAngles(const float* a) {
    float* in = three_.reset();
    std::memcpy(in, a, 12);
    const int32_t expected = model_.setArrayAngles(a);
    const int32_t got = plugin_.CI_SetLspkAngles3fv(in);
    if (trace_) trace("CI_SetLspkAngles3fv" + text3(a) + " -> " + std::to_string(got));
    note(got == expected, "CI_SetLspkAngles3fv returned " + std::to_string(got));
    note(std::memcmp(in, a, 12) == 0 && three_.beforeIntact(), "CI_SetLspkAngles3fv wrote into the host's array");
}

void SequenceRunner::setSeat(const float* p) {
    float* in = three_.reset();
    std::memcpy(in, p, 12);
    const int32_t expected = model_.setSeat(p);
    const int32_t got = plugin_.CI_SetSeatPosition3fv(in);
    if (trace_) trace("CI_SetSeatPosition3fv" + text3(p) + " -> " + std::to_string(got));
    note(got == expected, "CI_SetSeatPosition3fv returned " + std::to_string(got));
    note(std::memcmp(in, p, 12) == 0 && three_.beforeIntact(), "CI_SetSeatPosition3fv wrote into the host's array");
}

void SequenceRunner::setBlob(int32_t index, const Bytes& blob, size_t bufferBytes) {
    const int32_t expected = model_.setBlob(index, blob.data());
    int32_t got;
    if (index != 1 && model_.current() != nullptr) {
        // Nothing may be read: the pointer is the first byte of a guard page.
        got = plugin_.IP_SetValue(index, empty_.array());
    } else {
        got = observer_.blobs().set(blob, bufferBytes > 0 ? bufferBytes : blob.size(), index);
    }
    if (trace_) {
        trace("IP_SetValue(" + std::to_string(index) + ", " + describeBytes(blob.data(), blob.size()) + ") -> " +
              std::to_string(got));
    }
    note(got == expected, "IP_SetValue(" + std::to_string(index) + ", " + describeBytes(blob.data(), blob.size()) +
                              ") returned " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void SequenceRunner::setFilter(const float* gains, const float* phases) {
    float* g = gains_.reset();
    float* p = phases_.reset();
    std::memcpy(g, gains, sizeof(float) * kBandCount);
    std::memcpy(p, phases, sizeof(float) * kBandCount);
    const int32_t expected = model_.setFilter(gains, phases);
    const int32_t got = plugin_.IP_SetFilter(g, p);
    if (trace_) trace("IP_SetFilter(gain[0] " + text(gains[0]) + ", phase[0] " + text(phases[0]) + ", ...) -> " + std::to_string(got));
    note(got == expected, "IP_SetFilter returned " + std::to_string(got));
    note(std::memcmp(g, gains, sizeof(float) * kBandCount) == 0 && std::memcmp(p, phases, sizeof(float) * kBandCount) == 0,
         "IP_SetFilter wrote into the host's arrays");
}

void SequenceRunner::setFlag(int32_t type, int32_t value) {
    int32_t* in = word_.reset();
    *in = value;
    const int32_t got = plugin_.DLLSetFlag(type, in);
    model_.setFlag(type, value);
    if (trace_) trace("DLLSetFlag(" + std::to_string(type) + ", " + std::to_string(value) + ") -> " + std::to_string(got));
    note(got == 0 && *in == value, "DLLSetFlag returned " + std::to_string(got) + " or wrote its input");
}

void SequenceRunner::setRoom(int32_t index, float value) {
    const int32_t got = plugin_.RP_SetValue(index, value);
    model_.setRoom(index, value);
    if (trace_) trace("RP_SetValue(" + std::to_string(index) + ", " + text(value) + ") -> " + std::to_string(got));
    note(got == 0, "RP_SetValue returned " + std::to_string(got));
}

void SequenceRunner::getComponents() {
    const ModelSlot* s = model_.current();
    const int32_t expected = s != nullptr ? s->cellCount : -1;
    const int32_t got = plugin_.CI_GetComponents();
    if (trace_) trace("CI_GetComponents() -> " + std::to_string(got));
    note(got == expected, "CI_GetComponents returned " + std::to_string(got) + ", expected " + std::to_string(expected));
}

void SequenceRunner::getDistance() {
    const float expected = model_.current() != nullptr ? model_.seatDistance() : -1.0f;
    const float got = plugin_.CI_GetDistance();
    if (trace_) trace("CI_GetDistance() -> " + text(got));
    note(closeFloat(expected, got), "CI_GetDistance returned " + text(got) + ", expected " + text(expected));
}

void SequenceRunner::getPosition(int32_t component) {
    float* out = three_.reset();
    const int32_t got = plugin_.CI_GetCompPosition3fv(component, out);
    if (trace_) trace("CI_GetCompPosition3fv(" + std::to_string(component) + ") -> " + std::to_string(got) + (got == 0 ? " " + text3(out) : ""));
    note(three_.beforeIntact(), "CI_GetCompPosition3fv wrote before the host's array");
    if (!componentValid(component)) {
        note(got == -1 && three_.untouched(), "CI_GetCompPosition3fv(" + std::to_string(component) +
                                                  ") answered " + std::to_string(got) + " or wrote for a component that is not there");
        return;
    }
    if (!note(got == 0, "CI_GetCompPosition3fv(" + std::to_string(component) + ") returned " + std::to_string(got))) return;
    auto& known = model_.current()->position[size_t(component - 1)];
    if (known) {
        const auto& k = *known;
        note(sameBits(k[0], out[0]) && sameBits(k[1], out[1]) && sameBits(k[2], out[2]),
             "cell " + std::to_string(component) + " moved to " + text3(out) + " from " + text3(k.data()) +
                 " without a layout");
    } else {
        known = std::array<float, 3>{out[0], out[1], out[2]};
    }
}

void SequenceRunner::getAngles(int32_t component) {
    float* out = three_.reset();
    const int32_t got = plugin_.CI_GetCompAngles3fv(component, out);
    if (trace_) trace("CI_GetCompAngles3fv(" + std::to_string(component) + ") -> " + std::to_string(got) + (got == 0 ? " " + text3(out) : ""));
    note(three_.beforeIntact(), "CI_GetCompAngles3fv wrote before the host's array");
    if (!componentValid(component)) {
        note(got == -1 && three_.untouched(), "CI_GetCompAngles3fv(" + std::to_string(component) +
                                                  ") answered " + std::to_string(got) + " or wrote for a component that is not there");
        return;
    }
    if (!note(got == 0, "CI_GetCompAngles3fv(" + std::to_string(component) + ") returned " + std::to_string(got))) return;
    ModelSlot& slot = *model_.current();
    auto& known = slot.anglesDeg[size_t(component - 1)];
    if (known) {
        const auto& k = *known;
        note(sameBits(k[0], out[0]) && sameBits(k[1], out[1]) && sameBits(k[2], out[2]),
             "cell " + std::to_string(component) + " turned to " + text3(out) + " from " + text3(k.data()) + " without a layout");
        return;
    }
    known = std::array<float, 3>{out[0], out[1], out[2]};
    if (!slot.poseFresh) return;
    // Cell k is the array turned by the splays summed down to it, about x.
    const double sum = model_.splaySumDeg(slot, component);
    double magnitude = 0.0;
    for (int32_t k = 1; k <= component; ++k) magnitude += std::fabs(double(slot.cells[size_t(k - 1)].splayDeg));
    for (float a : slot.arrayAnglesDeg) magnitude += std::fabs(double(a));
    if (!(magnitude < 1e5)) return;  // also when any is not finite
    const double expected[3] = {slot.arrayAnglesDeg[0], double(slot.arrayAnglesDeg[1]) - sum, slot.arrayAnglesDeg[2]};
    const double tolerance = 1e-3 + 1e-5 * magnitude * double(component + 1);
    for (int i = 0; i < 3; ++i) {
        if (!note(std::fabs(double(out[i]) - expected[i]) <= tolerance,
                  "cell " + std::to_string(component) + " angles " + text3(out) + ", expected about (" +
                      std::to_string(expected[0]) + ", " + std::to_string(expected[1]) + ", " + std::to_string(expected[2]) + ")")) {
            return;
        }
    }
}

void SequenceRunner::getCompDistance(int32_t component) {
    if (componentValid(component) && !model_.current()->position[size_t(component - 1)]) getPosition(component);
    if (mismatch_) return;
    const float got = plugin_.CI_GetCompDistance(component);
    if (trace_) trace("CI_GetCompDistance(" + std::to_string(component) + ") -> " + text(got));
    if (!componentValid(component)) {
        note(sameBits(got, -1.0f), "CI_GetCompDistance(" + std::to_string(component) + ") returned " + text(got) + ", expected -1");
        return;
    }
    const ModelSlot& s = *model_.current();
    const auto& p = *s.position[size_t(component - 1)];
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = double(p[size_t(i)]) - double(s.seat[size_t(i)]);
        sum += d * d;
    }
    const float expected = float(std::sqrt(sum));
    note(closeFloat(expected, got), "CI_GetCompDistance(" + std::to_string(component) + ") returned " + text(got) +
                                        ", expected " + text(expected));
}

void SequenceRunner::getResponse(int32_t component) {
    float levels[kBandCount], phases[kBandCount], time = 0.0f;
    const uint64_t failures = plugin_.report().figures.failures;
    const int32_t got = observer_.componentResponse(component, levels, phases, &time);
    if (trace_) trace("CI_GetCompFR(" + std::to_string(component) + ") -> " + std::to_string(got) + (got == 0 ? " level[10] " + text(levels[10]) + " time " + text(time) : ""));
    if (plugin_.report().figures.failures != failures) mismatch_ = true;
    const int32_t expected = componentValid(component) ? 0 : -1;
    if (!note(got == expected, "CI_GetCompFR(" + std::to_string(component) + ") returned " + std::to_string(got) +
                                   ", expected " + std::to_string(expected)) ||
        got != 0) {
        return;
    }
    const ModelSlot& s = *model_.current();
    for (int b = 0; b < kBandCount; ++b) {
        if (!note(sameBits(phases[b], s.filterPhaseDeg[size_t(b)]),
                  "CI_GetCompFR phase of band index " + std::to_string(b) + " is " + text(phases[b]) + ", the filter holds " +
                      text(s.filterPhaseDeg[size_t(b)]))) {
            return;
        }
    }
    const float expectedTime = model_.seatDistance() / model_.speedOfSound();
    note(closeFloat(expectedTime, time), "CI_GetCompFR time " + text(time) + ", expected " + text(expectedTime));
}

void SequenceRunner::getSpl1m(int32_t component, int32_t band) {
    float* out = one_.reset();
    const int32_t got = plugin_.CI_GetCompSPL1m(component, band, out);
    if (trace_) trace("CI_GetCompSPL1m(" + std::to_string(component) + ", " + std::to_string(band) + ") -> " + std::to_string(got) + (got == 0 ? " " + text(*out) : ""));
    const bool valid = model_.current() != nullptr && band >= 1 && band <= kBandCount &&
                       (!product_.cellsCarryKind || componentValid(component));
    note(one_.beforeIntact(), "CI_GetCompSPL1m wrote before the host's array");
    if (!valid) {
        note(got == -1 && one_.untouched(), "CI_GetCompSPL1m(" + std::to_string(component) + ", " + std::to_string(band) +
                                                ") answered " + std::to_string(got) + " or wrote");
        return;
    }
    if (!note(got == 0, "CI_GetCompSPL1m(" + std::to_string(component) + ", " + std::to_string(band) + ") returned " +
                            std::to_string(got))) {
        return;
    }
    const int32_t kind = componentValid(component) ? kindOf(component) : 0;
    const float gain = model_.current()->filterGainDb[size_t(band - 1)];
    auto& onAxis = model_.onAxisDb[kind][band - 1];
    if (gain == 0.0f) {
        if (!onAxis) onAxis = *out;
        note(sameBits(*onAxis, *out), "CI_GetCompSPL1m with a 0 dB filter gave " + text(*out) + " after " + text(*onAxis));
    } else if (onAxis) {
        const float expected = *onAxis + gain;
        note(sameBits(expected, *out), "CI_GetCompSPL1m gave " + text(*out) + ", expected on-axis " + text(*onAxis) +
                                           " plus the filter gain " + text(gain));
    }
}

void SequenceRunner::getDirectivity(int32_t component, int32_t band) {
    float* out = one_.reset();
    const int32_t got = plugin_.CI_GetCompDirectivity(component, band, out);
    if (trace_) trace("CI_GetCompDirectivity(" + std::to_string(component) + ", " + std::to_string(band) + ") -> " + std::to_string(got));
    const bool valid = model_.current() != nullptr && band >= 1 && band <= kBandCount &&
                       (!product_.cellsCarryKind || componentValid(component));
    note(one_.beforeIntact(), "CI_GetCompDirectivity wrote before the host's array");
    if (!valid) {
        note(got == -1 && one_.untouched(), "CI_GetCompDirectivity(" + std::to_string(component) + ", " +
                                                std::to_string(band) + ") answered " + std::to_string(got) + " or wrote");
        return;
    }
    if (!note(got == 0, "CI_GetCompDirectivity returned " + std::to_string(got))) return;
    const int32_t kind = componentValid(component) ? kindOf(component) : 0;
    auto& factor = model_.directivity[kind][band - 1];
    if (!factor) factor = *out;
    note(sameBits(*factor, *out) && std::isfinite(*out), "CI_GetCompDirectivity gave " + text(*out) + " after " + text(*factor));
}

void SequenceRunner::getFlag(int32_t type) {
    int32_t* out = word_.reset();
    const int32_t got = plugin_.DLLGetFlag(type, out);
    if (trace_) trace("DLLGetFlag(" + std::to_string(type) + ") -> " + std::to_string(got));
    const std::optional<int32_t> expected = model_.flag(type);
    if (expected) {
        note(got == 0 && *out == *expected, "DLLGetFlag(" + std::to_string(type) + ") wrote " + std::to_string(*out) +
                                                ", expected " + std::to_string(*expected));
    } else {
        note(got == 0 && word_.untouched(), "DLLGetFlag(" + std::to_string(type) + ") wrote for a type that is no flag");
    }
}

void SequenceRunner::getBlob(int32_t index) {
    if (index == 1 && model_.current() != nullptr) {
        const std::optional<Bytes> got = observer_.blobs().read();
        const Bytes expected = model_.blob();
        if (trace_) trace("IP_GetValue(1) -> " + (got ? describeBytes(got->data(), got->size()) : std::string("-1")));
        note(got && *got == expected, "IP_GetValue gave " + (got ? describeBytes(got->data(), got->size()) : std::string("nothing")) +
                                          ", expected " + describeBytes(expected.data(), expected.size()));
        return;
    }
    int32_t* buffer = word_.reset();
    *buffer = 0;
    const int32_t got = plugin_.IP_GetValue(index, buffer);
    if (trace_) trace("IP_GetValue(" + std::to_string(index) + ") -> " + std::to_string(got));
    const int32_t expected = model_.current() != nullptr ? 0 : -1;
    note(got == expected && *buffer == 0 && word_.beforeIntact(),
         "IP_GetValue(" + std::to_string(index) + ") answered " + std::to_string(got) + " and wrote " + std::to_string(*buffer));
}

void SequenceRunner::getMesh(MeshQuery query) {
    const ModelSlot* s = model_.current();
    if (query == MeshQuery::WholeMesh && s != nullptr) {
        const uint64_t failures = plugin_.report().figures.failures;
        observer_.mesh(s->cellCount, nullptr);
        if (trace_) trace("CS_ mesh of " + std::to_string(s->cellCount) + " cells");
        if (plugin_.report().figures.failures != failures) mismatch_ = true;
        return;
    }
    int32_t* count = word_.reset();
    float* offset = one_.reset();
    int32_t got = 0;
    int32_t expectedCount = 0;
    const int32_t cells = s != nullptr ? s->cellCount : 0;
    const char* name = "";
    switch (query) {
    case MeshQuery::Symmetry:
        name = "CS_GetSymmetry";
        got = plugin_.CS_GetSymmetry(count, offset);
        expectedCount = -1;
        break;
    case MeshQuery::VertexCount:
        name = "CS_GetVertexNumber";
        got = plugin_.CS_GetVertexNumber(count);
        expectedCount = kVerticesPerCell * cells;
        break;
    case MeshQuery::EdgeCount:
        name = "CS_GetEdgeNumber";
        got = plugin_.CS_GetEdgeNumber(count);
        expectedCount = product_.edgesPerCell * cells;
        break;
    case MeshQuery::FaceCount:
    case MeshQuery::WholeMesh:  // without an instance, one count query stands for it
    default:
        name = "CS_GetFaceNumber";
        got = plugin_.CS_GetFaceNumber(count);
        expectedCount = kFacesPerCell * cells;
        break;
    }
    if (trace_) trace(std::string(name) + "() -> " + std::to_string(got));
    if (s == nullptr) {
        note(got == -1 && word_.untouched() && one_.untouched(), std::string(name) + " answered or wrote without an instance");
    } else {
        note(got == 0 && *count == expectedCount && (query != MeshQuery::Symmetry || floatBits(*offset) == 0),
             std::string(name) + " answered " + std::to_string(got) + " with " + std::to_string(*count) + ", expected " +
                 std::to_string(expectedCount));
    }
}

void SequenceRunner::getPulses(bool both) {
    int32_t* a = word_.reset();
    float* b = one_.reset();
    float* c = three_.reset();
    const int32_t got = both ? plugin_.CI_GetPulses(a, b) : plugin_.CI_GetPulse(a, b, c);
    if (trace_) trace(std::string(both ? "CI_GetPulses" : "CI_GetPulse") + "() -> " + std::to_string(got));
    const int32_t expected = model_.current() != nullptr ? 0 : -1;
    note(got == expected && word_.untouched() && one_.untouched() && three_.untouched(),
         std::string(both ? "CI_GetPulses" : "CI_GetPulse") + " answered " + std::to_string(got) + " or wrote");
}

void SequenceRunner::describe(Descriptor which, int32_t index) {
    auto expectInt = [&](const char* name, int32_t got, int32_t expected) {
        if (trace_) trace(std::string(name) + "(" + std::to_string(index) + ") -> " + std::to_string(got));
        note(got == expected, std::string(name) + "(" + std::to_string(index) + ") returned " + std::to_string(got) +
                                  ", expected " + std::to_string(expected));
    };
    switch (which) {
    case Descriptor::Version: expectInt("DLLVersion", plugin_.DLLVersion(), 1000000); break;
    case Descriptor::Class: expectInt("DLLClass", plugin_.DLLClass(), 2); break;
    case Descriptor::Caps: {
        const int32_t expected = index == 1 || index == 2 || index == 5 ? -1 : index == 3 ? 3 : 0;
        expectInt("DLLGetCaps", plugin_.DLLGetCaps(index), expected);
        break;
    }
    case Descriptor::Lock: {
        int32_t* out = word_.reset();
        expectInt("DLLLock", plugin_.DLLLock(out), 0);
        note(*out == 0, "DLLLock wrote " + std::to_string(*out));
        break;
    }
    case Descriptor::Components: expectInt("DLLGetComponents", plugin_.DLLGetComponents(), 0); break;
    case Descriptor::Symmetry: {
        int32_t* out = word_.reset();
        expectInt("DLLGetSymmetry", plugin_.DLLGetSymmetry(out), 0);
        note(*out == -1, "DLLGetSymmetry wrote " + std::to_string(*out));
        break;
    }
    case Descriptor::WholeSource: {
        int32_t* out = word_.reset();
        expectInt("DLLGetSensitivity", plugin_.DLLGetSensitivity(out), -1);
        expectInt("DLLGetDirectivity", plugin_.DLLGetDirectivity(out), -1);
        expectInt("DLLGetImpedence", plugin_.DLLGetImpedence(out), -1);
        expectInt("DLLGetMaxPower", plugin_.DLLGetMaxPower(out), -1);
        note(word_.untouched(), "a whole-source descriptor wrote through its argument");
        break;
    }
    case Descriptor::ValidBands: {
        HostArray<int32_t> flags(kBandCount);
        expectInt("DLLGetValidBands", plugin_.DLLGetValidBands(flags.data()), 0);
        bool all = flags.beforeIntact();
        for (int b = 0; b < kBandCount; ++b) all = all && flags[size_t(b)] == -1;
        note(all, "DLLGetValidBands did not write 21 flags of -1");
        break;
    }
    case Descriptor::ParameterCounts:
        expectInt("IP_GetNumber", plugin_.IP_GetNumber(), 1);
        expectInt("RP_GetNumber", plugin_.RP_GetNumber(), 2);
        break;
    case Descriptor::InputIdAndType:
        expectInt("IP_GetID", plugin_.IP_GetID(index), index == 1 ? 100 : index);
        expectInt("IP_GetType", plugin_.IP_GetType(index), index == 1 ? 21 : index);
        break;
    case Descriptor::RoomIdAndType:
        expectInt("RP_GetID", plugin_.RP_GetID(index), index);
        expectInt("RP_GetType", plugin_.RP_GetType(index), 8);
        break;
    case Descriptor::InputLabel:
    case Descriptor::RoomLabel: {
        const bool input = which == Descriptor::InputLabel;
        const char* label = input ? (index == 1 ? "Line Array Setup" : nullptr)
                                  : (index == 1 ? "Speed of Sound" : index == 2 ? "Humidity" : nullptr);
        const size_t bytes = label != nullptr ? std::strlen(label) + 1 : 16;
        HostArray<char> buffer(bytes);
        const int32_t got = input ? plugin_.IP_GetLabel(index, buffer.data()) : plugin_.RP_GetLabel(index, buffer.data());
        expectInt(input ? "IP_GetLabel" : "RP_GetLabel", got, 0);
        const bool ok = label != nullptr ? std::memcmp(buffer.data(), label, bytes) == 0 : buffer.untouched();
        note(ok && buffer.beforeIntact(), std::string(input ? "IP_GetLabel(" : "RP_GetLabel(") + std::to_string(index) +
                                              ") wrote the wrong label or outside it");
        break;
    }
    case Descriptor::InputLimits: {
        int32_t* out = word_.reset();
        const int32_t expected = index == 1 ? -1 : 0;
        expectInt("IP_GetDefault", plugin_.IP_GetDefault(index, out), expected);
        expectInt("IP_GetMinimum", plugin_.IP_GetMinimum(index, out), expected);
        expectInt("IP_GetMaximum", plugin_.IP_GetMaximum(index, out), expected);
        note(word_.untouched(), "an IP_ limit export wrote through its pointer");
        break;
    }
    case Descriptor::RoomLimits: {
        // Default, minimum and maximum of the speed of sound (1) and the humidity (2).
        constexpr float kValues[2][3] = {{343.0f, 1.0f, 1000000.0f}, {60.0f, 5.0f, 100.0f}};
        constexpr const char* kNames[3] = {"RP_GetDefault", "RP_GetMinimum", "RP_GetMaximum"};
        for (int limit = 0; limit < 3; ++limit) {
            float* out = one_.reset();
            const int32_t got = limit == 0 ? plugin_.RP_GetDefault(index, out)
                                : limit == 1 ? plugin_.RP_GetMinimum(index, out)
                                             : plugin_.RP_GetMaximum(index, out);
            expectInt(kNames[limit], got, 0);
            const bool known = index == 1 || index == 2;
            note(known ? sameBits(*out, kValues[index - 1][limit]) : one_.untouched(),
                 std::string(kNames[limit]) + "(" + std::to_string(index) + ") wrote " + text(*out));
        }
        break;
    }
    case Descriptor::FilterLimits: {
        // Gain and phase of the default, the minimum and the maximum filter.
        constexpr float kLimits[3][2] = {{0.0f, 0.0f}, {-60.0f, -180.0f}, {0.0f, 180.0f}};
        constexpr const char* kNames[3] = {"IP_GetFilterDef", "IP_GetFilterMin", "IP_GetFilterMax"};
        for (int limit = 0; limit < 3; ++limit) {
            float* g = gains_.reset();
            float* p = phases_.reset();
            const int32_t got = limit == 0 ? plugin_.IP_GetFilterDef(g, p)
                                : limit == 1 ? plugin_.IP_GetFilterMin(g, p)
                                             : plugin_.IP_GetFilterMax(g, p);
            expectInt(kNames[limit], got, 0);
            bool ok = gains_.beforeIntact() && phases_.beforeIntact();
            for (int b = 0; b < kBandCount; ++b) ok = ok && sameBits(g[b], kLimits[limit][0]) && sameBits(p[b], kLimits[limit][1]);
            note(ok, std::string(kNames[limit]) + " wrote other values");
        }
        break;
    }
    case Descriptor::Texts:
    default: {
        const char* texts[3] = {nullptr, nullptr, nullptr};
        expectInt("DLLGetName", plugin_.DLLGetName(&texts[0]), 0);
        expectInt("DLLGetManufacturer", plugin_.DLLGetManufacturer(&texts[1]), 0);
        expectInt("DLLGetDataResolution", plugin_.DLLGetDataResolution(&texts[2]), 0);
        for (const char* t : texts) note(t != nullptr && std::strlen(t) > 0 && std::strlen(t) < 64, "a descriptor text is missing");
        break;
    }
    }
}

void SequenceRunner::observeInstance() {
    getComponents();
    getDistance();
    getBlob(1);
    const ModelSlot* s = model_.current();
    if (s == nullptr) return;
    for (int32_t c = 1; c <= s->cellCount && !mismatch_; ++c) {
        getPosition(c);
        getAngles(c);
        getCompDistance(c);
        getResponse(c);
        getSpl1m(c, 1);
        getSpl1m(c, kBandCount);
        getDirectivity(c, 11);
    }
    getMesh(0);
    getMesh(4);
}

// ---- Sequences ----

void SequenceRunner::crowd(Choices& c) {
    const size_t target = 240 + c.below(16);
    while (model_.idsInUse().size() < target && !mismatch_) getFreeId();
    for (uint32_t r = c.below(4); r > 0 && !mismatch_; --r) {
        const std::vector<int32_t> ids = model_.idsInUse();
        makeCurrent(ids[c.below(uint32_t(ids.size()))]);
        release();
    }
}

namespace {

// How often a sequence draws each call kind: the setters and the queries a
// host makes most.
struct KindWeight {
    CallKind kind;
    uint32_t weight;
};
constexpr KindWeight kCallWeights[] = {
    {CallKind::GetFreeId, 6},         {CallKind::MakeCurrent, 8},     {CallKind::Release, 4},
    {CallKind::SetArrayPosition, 5},  {CallKind::SetArrayAngles, 5},  {CallKind::SetSeat, 5},
    {CallKind::SetBlob, 11},          {CallKind::SetFilter, 4},       {CallKind::SetFlag, 3},
    {CallKind::SetRoom, 3},           {CallKind::GetComponents, 4},   {CallKind::GetDistance, 4},
    {CallKind::GetPosition, 6},       {CallKind::GetAngles, 6},       {CallKind::GetCompDistance, 4},
    {CallKind::GetResponse, 8},       {CallKind::GetSpl1m, 4},        {CallKind::GetDirectivity, 3},
    {CallKind::GetFlag, 3},           {CallKind::GetBlob, 6},         {CallKind::GetMesh, 3},
    {CallKind::GetPulses, 1},         {CallKind::Describe, 3},
};

constexpr bool weightsInKindOrder() {
    if (std::size(kCallWeights) != kCallKindCount) return false;
    for (uint32_t k = 0; k < kCallKindCount; ++k) {
        if (kCallWeights[k].kind != CallKind(k)) return false;
    }
    return true;
}
// The draw walks the table by kind number.
static_assert(weightsInKindOrder(), "one weight per call kind, in CallKind order");

constexpr uint32_t totalWeight() {
    uint32_t total = 0;
    for (const KindWeight& w : kCallWeights) total += w.weight;
    return total;
}

}  // namespace

CallKind SequenceRunner::drawKind(Choices& c) {
    uint32_t r = c.below(totalWeight());
    uint32_t kind = 0;
    while (r >= kCallWeights[kind].weight) r -= kCallWeights[kind++].weight;
    return CallKind(kind);
}

bool SequenceRunner::step(Choices& c) {
    // Each kind draws its arguments in a fixed order, one statement each:
    // argument lists are evaluated in an order compilers differ on, and a
    // seed or a kept fuzz input must mean the same calls in every build.
    float v[3];
    auto pick3 = [&](float scale) {
        for (float& x : v) x = pickFloat(c, scale);
        return v;
    };
    switch (drawKind(c)) {
    case CallKind::GetFreeId: getFreeId(); break;
    case CallKind::MakeCurrent: makeCurrent(pickId(c)); break;
    case CallKind::Release: release(); break;
    case CallKind::SetArrayPosition: setArrayPosition(pick3(50.0f)); break;
    case CallKind::SetArrayAngles: setArrayAngles(pick3(180.0f)); break;
    case CallKind::SetSeat: setSeat(pick3(50.0f)); break;
    case CallKind::SetBlob: {
        const int32_t index = c.below(10) == 0 ? pickIndex(c, 1) : 1;
        setBlob(index, pickBlob(c));
        break;
    }
    case CallKind::SetFilter: {
        float gains[kBandCount], phases[kBandCount];
        const bool flat = c.below(2) == 0;
        const float g = pickFloat(c, 80.0f), p = pickFloat(c, 250.0f);
        for (int b = 0; b < kBandCount; ++b) {
            gains[b] = flat || b == 0 ? g : pickFloat(c, 80.0f);
            phases[b] = flat || b == 0 ? p : pickFloat(c, 250.0f);
        }
        setFilter(gains, phases);
        break;
    }
    case CallKind::SetFlag: {
        // The value before the type: the order the GCC builds (native and
        // Windows) always drew them in, so their seeds keep their calls.
        constexpr int32_t kValues[] = {0, 1, -1, 5, 7, INT_MIN, INT_MAX};
        const int32_t value = kValues[c.below(7)];
        const int32_t type = pickIndex(c, 4);
        setFlag(type, value);
        break;
    }
    case CallKind::SetRoom: {
        const int32_t index = pickIndex(c, 2);
        constexpr float kSpeeds[] = {343.0f, 1.0f, 0.5f, 0.0f, -1.0f, 1e6f, 330.0f};
        constexpr float kHumidities[] = {60.0f, 0.0f, 5.0f, 100.0f, -10.0f, 1000.0f, 35.0f};
        const float value = c.below(4) == 0 ? kSpecialFloats[c.below(9)]
                                            : (index == 1 ? kSpeeds[c.below(7)] : kHumidities[c.below(7)]);
        setRoom(index, value);
        break;
    }
    case CallKind::GetComponents: getComponents(); break;
    case CallKind::GetDistance: getDistance(); break;
    case CallKind::GetPosition: getPosition(pickComponent(c)); break;
    case CallKind::GetAngles: getAngles(pickComponent(c)); break;
    case CallKind::GetCompDistance: getCompDistance(pickComponent(c)); break;
    case CallKind::GetResponse: getResponse(pickComponent(c)); break;
    case CallKind::GetSpl1m: {
        const int32_t component = pickComponent(c);
        getSpl1m(component, pickBand(c));
        break;
    }
    case CallKind::GetDirectivity: {
        const int32_t component = pickComponent(c);
        getDirectivity(component, pickBand(c));
        break;
    }
    case CallKind::GetFlag: getFlag(pickIndex(c, 4)); break;
    case CallKind::GetBlob: getBlob(c.below(8) == 0 ? pickIndex(c, 1) : 1); break;
    case CallKind::GetMesh: getMesh(MeshQuery(c.below(uint32_t(MeshQuery::Count)))); break;
    case CallKind::GetPulses: getPulses(c.below(2) == 0); break;
    case CallKind::Describe: {
        const Descriptor which = Descriptor(c.below(kDescriptorKinds));
        describe(which, pickIndex(c, which == Descriptor::Caps ? 5 : 2));
        break;
    }
    case CallKind::Count: break;
    }
    return !mismatch_;
}

bool SequenceRunner::run(Choices& choices, uint64_t calls) {
    mismatch_ = false;
    Report& report = plugin_.report();
    const uint64_t failures = report.figures.failures;
    if (choices.below(10) == 0) crowd(choices);
    const uint64_t start = report.figures.calls;
    while (!mismatch_ && report.figures.calls - start < calls && !choices.exhausted()) {
        step(choices);
        if (report.figures.failures != failures) mismatch_ = true;
    }
    return !mismatch_;
}

bool SequenceRunner::normalise(bool everySlot) {
    mismatch_ = false;
    std::FILE* const trace = trace_;
    trace_ = nullptr;
    Report& report = plugin_.report();
    const uint64_t failures = report.figures.failures;
    std::vector<CellSetup> cleared(kCellCapacity, CellSetup{0, 0.0f});
    const Bytes full = makeBlob(product_, cleared);
    Bytes wrongMagic = makeBlob(product_, {}, product_.setupMagic + 1);
    const float zeros3[3] = {0.0f, 0.0f, 0.0f};
    const float zeros[kBandCount] = {};
    for (int32_t id = 0; id < kSlotCount && !mismatch_; ++id) {
        const bool data = everySlot || !model_.dataAtBaseline(id);
        if (!data && !model_.slot(id).inUse) continue;
        makeCurrent(id);
        if (data) {
            setBlob(1, full);
            setBlob(1, wrongMagic);
            setArrayPosition(zeros3);
            setArrayAngles(zeros3);
            setSeat(zeros3);
            setFilter(zeros, zeros);
        }
        if (everySlot || model_.slot(id).inUse) release();
    }
    setFlag(1, 1);
    setFlag(2, 0);
    setFlag(4, 0);
    setRoom(1, 343.0f);
    setRoom(2, 60.0f);
    makeCurrent(-1);
    trace_ = trace;
    return report.figures.failures == failures && !mismatch_;
}

}  // namespace validator

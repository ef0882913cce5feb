#include "tools/validator/setup_blob.h"

#include <cmath>
#include <cstring>

namespace validator {

std::vector<CellSetup> defaultCells(const Product& product) {
    return std::vector<CellSetup>(4, CellSetup{product.defaultKind, 0.0f});
}

BlobOutcome expectedOutcome(const Product& product, const unsigned char* blob) {
    const uint32_t size = readWord(blob);
    if (size < kSetupHeaderBytes) return {BlobVerdict::Refused, {}};
    if (readWord(blob + 4) != product.setupMagic) return {BlobVerdict::Reset, {}};
    const uint32_t count = (size - kSetupHeaderBytes) / product.entryBytes();
    if (count < uint32_t(product.fewestEntries)) return {BlobVerdict::Reset, {}};
    if (count > uint32_t(kCellCapacity)) return {BlobVerdict::Refused, {}};
    std::vector<CellSetup> cells = blobCells(product, blob);
    for (const CellSetup& c : cells) {
        if (c.kind < 0 || c.kind >= product.kindCount || !std::isfinite(c.splayDeg)) {
            return {BlobVerdict::Refused, {}};
        }
    }
    return {BlobVerdict::Accepted, std::move(cells)};
}

GuardedRegion& BlobDesk::region(size_t bytes) {
    constexpr size_t kSmallBytes = 64 * 1024;
    if (bytes <= kSmallBytes) {
        if (!small_) small_ = std::make_unique<GuardedRegion>(kSmallBytes);
        return *small_;
    }
    // A fresh mapping each time: beyond the blob the buffer is zero.
    large_ = std::make_unique<GuardedRegion>(bytes);
    return *large_;
}

int32_t BlobDesk::set(const Bytes& blob, int32_t index) { return set(blob, blob.size(), index); }

int32_t BlobDesk::set(const Bytes& blob, size_t bufferBytes, int32_t index) {
    GuardedRegion& r = region(bufferBytes);
    // A large buffer is left as the system gives it (zero) beyond the blob.
    const bool large = bufferBytes > 64 * 1024;
    unsigned char* buffer = r.place(bufferBytes, !large);
    if (buffer == nullptr) {
        plugin_.report().fail("the validator could not place a host buffer of " + std::to_string(bufferBytes) + " bytes");
        return -2;
    }
    const size_t copied = blob.size() < bufferBytes ? blob.size() : bufferBytes;
    std::memcpy(buffer, blob.data(), copied);
    if (!large) std::memset(buffer + copied, 0, bufferBytes - copied);
    const int32_t result = plugin_.IP_SetValue(index, buffer);
    plugin_.report().expect(std::memcmp(buffer, blob.data(), copied) == 0 && r.beforeIntact(),
                            "IP_SetValue wrote into the host's blob buffer or before it");
    return result;
}

std::optional<Bytes> BlobDesk::read() {
    Report& report = plugin_.report();
    if (!query_) query_ = std::make_unique<GuardedRegion>(4);
    unsigned char* word = query_->place(4);
    writeWord(word, 0);
    const int32_t asked = plugin_.IP_GetValue(1, word);
    if (!query_->beforeIntact()) report.fail("IP_GetValue's size query wrote before the host's 4-byte array");
    if (asked == -1) {
        report.expect(readWord(word) == 0, "IP_GetValue answered -1 but wrote the size word");
        return std::nullopt;
    }
    if (!report.expect(asked == 0, "IP_GetValue's size query returned " + std::to_string(asked))) return std::nullopt;
    const uint32_t size = readWord(word);
    if (!report.expect(size >= kSetupHeaderBytes && size <= kSetupHeaderBytes + 8u * kCellCapacity,
                       "IP_GetValue's size query answered " + std::to_string(size))) {
        return std::nullopt;
    }
    GuardedRegion& r = region(size);
    unsigned char* buffer = r.place(size);
    writeWord(buffer, size);
    const int32_t got = plugin_.IP_GetValue(1, buffer);
    report.expect(got == 0, "IP_GetValue's read returned " + std::to_string(got));
    report.expect(r.beforeIntact(), "IP_GetValue wrote before the host's blob array");
    report.expect(readWord(buffer) == size, "IP_GetValue overwrote the caller's size word");
    if (!report.expect(!r.untouched(4, size - 4) || size == 4, "IP_GetValue wrote no blob body")) return std::nullopt;
    return Bytes(buffer, buffer + size);
}

bool BlobDesk::roundTripHolds() {
    Report& report = plugin_.report();
    const std::optional<Bytes> before = read();
    if (!before) return report.expect(false, "the instance has no blob to read back");
    const int32_t result = set(*before);
    if (!report.expect(result == 0, "the blob the instance gave back was refused (" + std::to_string(result) +
                                        "): " + describeBytes(before->data(), before->size()))) {
        return false;
    }
    const std::optional<Bytes> after = read();
    return report.expect(after && *after == *before, "the blob read back changed on setting it again: " +
                                                         describeBytes(before->data(), before->size()));
}

}  // namespace validator

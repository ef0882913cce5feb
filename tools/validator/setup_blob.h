// Setup blobs: the rules by which the plug-in must answer them (the
// validator's own statement of those rules), and handing them over and
// reading them back through host arrays that end at a guard page. Building
// and reading blobs is the host kit's codec.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tools/host/setup_blob.h"
#include "tools/validator/host_memory.h"
#include "tools/validator/plugin_calls.h"
#include "tools/validator/product.h"

namespace validator {

using host::blobCells;
using host::Bytes;
using host::CellSetup;
using host::makeBlob;
using host::readWord;
using host::writeWord;

// How IP_SetValue(1, blob) must answer, from the size word and at most as
// many bytes as it names.
enum class BlobVerdict {
    Accepted,  // cells stored, result 0
    Refused,   // nothing changes, result -1
    Reset,     // default cells, result -1
};
struct BlobOutcome {
    BlobVerdict verdict;
    std::vector<CellSetup> cells;  // the stored cells when accepted
};
BlobOutcome expectedOutcome(const Product& product, const unsigned char* blob);

// The default cells after a reset: count 4, splay 0, the default kind.
std::vector<CellSetup> defaultCells(const Product& product);

// Hands blobs to the plug-in and reads them back, always through host arrays
// of exactly the size the protocol allows, ending at a guard page.
class BlobDesk {
public:
    explicit BlobDesk(Plugin& plugin) : plugin_(plugin) {}

    // IP_SetValue(index, blob) with the blob in a buffer of `bufferBytes`
    // (at least its length) that ends at a guard page; the bytes beyond the
    // blob are zero. Failures when the call writes into the buffer.
    int32_t set(const Bytes& blob, int32_t index = 1);
    int32_t set(const Bytes& blob, size_t bufferBytes, int32_t index);

    // The current instance's blob, by the size query into a 4-byte array and
    // the read into an array of exactly that size. Records a failure when a
    // call writes outside its array or the answer does not hold together;
    // nullopt when the instance answers -1.
    std::optional<Bytes> read();

    // Reads the blob and sets it again: it must be accepted and read back
    // byte for byte. False (with a failure) when it is not.
    bool roundTripHolds();

private:
    GuardedRegion& region(size_t bytes);

    Plugin& plugin_;
    std::unique_ptr<GuardedRegion> query_;
    std::unique_ptr<GuardedRegion> small_;
    std::unique_ptr<GuardedRegion> large_;
};

}  // namespace validator

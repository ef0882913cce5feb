// Fuzz target: the setup blob parser, for all three products. The first byte
// picks the product, the rest is the blob; the size word is cut to the bytes
// there are, as the host guarantees a buffer that long. Whatever the bytes,
// the outcome must be the one the blob rules give, a refused blob must leave
// the instance as it was, and the instance's blob must be accepted again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "models/ktr2.h"
#include "models/ktr4.h"
#include "models/qspan.h"
#include "plugin/setup.h"
#include "tools/host/product.h"
#include "tools/host/setup_blob.h"
#include "tools/validator/setup_blob.h"

namespace {

using plugin::Instance;

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "setup blob fuzzer: %s\n", what);
    std::abort();
}

bool sameCells(const Instance& a, const Instance& b) {
    if (a.cellCount != b.cellCount) return false;
    for (int k = 0; k < models::kCellCapacity; ++k) {
        if (a.cells[k].kind != b.cells[k].kind) return false;
        if (std::memcmp(&a.cells[k].splayDeg, &b.cells[k].splayDeg, 4) != 0) return false;
    }
    return true;
}

// An instance with seven cells, a pose and a seat that a blob must not disturb.
Instance victim(const models::ModelDefinition& model) {
    Instance instance;
    instance.inUse = true;
    instance.cellCount = 7;
    for (int k = 0; k < models::kCellCapacity; ++k) {
        instance.cells[k].kind = model.cellsCarryKind ? k % model.kindCount : 0;
        instance.cells[k].splayDeg = 1.0f + float(k);
    }
    instance.arrayPosition = {1.0f, 2.0f, 8.0f};
    instance.seatPosition = {3.0f, -20.0f, 1.2f};
    plugin::layOut(instance, model);
    return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const models::ModelDefinition* const kModels[] = {&models::kKtr2, &models::kKtr4, &models::kQspan};
    static const char* const kNames[] = {"ktr2", "ktr4", "qspan"};
    const unsigned which = data[0] % 3u;
    const models::ModelDefinition& model = *kModels[which];
    const host::Product& product = *host::findProduct(kNames[which]);

    std::vector<unsigned char> blob(data + 1, data + size);
    if (blob.size() < 4) blob.resize(4, 0);
    if (host::readWord(blob.data()) > blob.size()) host::writeWord(blob.data(), uint32_t(blob.size()));
    const validator::BlobOutcome expected = validator::expectedOutcome(product, blob.data());

    const Instance before = victim(model);
    Instance instance = before;
    const plugin::SetupOutcome outcome = plugin::applySetupBlob(instance, model, blob.data());

    if (instance.cellCount < 0 || instance.cellCount > models::kCellCapacity) fault("cell count outside the table");
    switch (outcome) {
    case plugin::SetupOutcome::Refused:
        if (expected.verdict != validator::BlobVerdict::Refused) fault("refused a blob the rules do not refuse");
        if (!sameCells(before, instance)) fault("a refused blob changed the cells");
        if (std::memcmp(&before.cells[0].position, &instance.cells[0].position, sizeof(geometry::Vector3)) != 0) {
            fault("a refused blob moved cell 1");
        }
        break;
    case plugin::SetupOutcome::RefusedAndReset:
        if (expected.verdict != validator::BlobVerdict::Reset) fault("reset on a blob the rules do not reset on");
        if (instance.cellCount != 4) fault("a reset left other than 4 cells");
        for (int k = 0; k < 4; ++k) {
            if (instance.cells[k].kind != model.defaultKind || instance.cells[k].splayDeg != 0.0f) fault("a reset cell is not default");
        }
        break;
    case plugin::SetupOutcome::Accepted:
        if (expected.verdict != validator::BlobVerdict::Accepted) fault("accepted a blob the rules refuse");
        if (size_t(instance.cellCount) != expected.cells.size()) fault("accepted with the wrong cell count");
        for (size_t k = 0; k < expected.cells.size(); ++k) {
            if (std::memcmp(&instance.cells[k].splayDeg, &expected.cells[k].splayDeg, 4) != 0) fault("a splay was not stored as sent");
            if (model.cellsCarryKind && instance.cells[k].kind != expected.cells[k].kind) fault("a kind was not stored as sent");
        }
        break;
    }

    // Whatever happened, the instance's own blob is accepted again unchanged.
    const uint32_t again = plugin::setupBlobSize(instance, model);
    std::vector<unsigned char> first(again), second(again);
    host::writeWord(first.data(), again);
    plugin::writeSetupBlobBody(instance, model, first.data());
    Instance copy = instance;
    if (plugin::applySetupBlob(copy, model, first.data()) != plugin::SetupOutcome::Accepted) fault("the instance's own blob was refused");
    host::writeWord(second.data(), again);
    plugin::writeSetupBlobBody(copy, model, second.data());
    if (first != second) fault("the instance's own blob did not come back byte for byte");
    return 0;
}

// Setup blobs: random valid setups that must come back byte for byte, and
// truncated, bit-flipped and random blobs that must each be refused, reset or
// accepted exactly as the blob rules say, and leave an instance whose blob
// can be read back and set again.
#include <cmath>
#include <cstring>

#include "tools/validator/checks.h"
#include "tools/validator/random.h"
#include "tools/validator/snapshot.h"

namespace validator {

namespace {

// Any finite float: random bit patterns, with the usual values now and then.
float randomSplay(Random& random) {
    const uint32_t r = random.below(100);
    if (r < 40) return 0.25f * float(random.between(-40, 60));
    if (r < 50) {
        constexpr float kEdges[] = {0.0f, -0.0f, 1e-40f, -1e-45f, 1e38f, -1e38f, 3.4028235e38f, 1.17549435e-38f};
        return kEdges[random.below(8)];
    }
    float f;
    do {
        f = bitsFloat(random.bits32());
    } while (!std::isfinite(f));
    return f;
}

std::vector<CellSetup> randomCells(const Product& product, Random& random, int32_t count) {
    std::vector<CellSetup> cells(static_cast<size_t>(count));
    for (CellSetup& c : cells) {
        c.kind = product.cellsCarryKind ? int32_t(random.below(uint32_t(product.kindCount))) : 0;
        c.splayDeg = randomSplay(random);
    }
    return cells;
}

// Before each damaged blob: an instance with a setup the blob must either
// replace, reset or leave alone, and a pose, seat and filter it must not touch.
void prepareVictim(SequenceRunner& r, const Product& product) {
    r.makeCurrent(1);
    std::vector<CellSetup> cells;
    for (int32_t k = 0; k < 7; ++k) cells.push_back({product.cellsCarryKind ? (k % product.kindCount) : 0, 1.0f + float(k)});
    r.setBlob(1, makeBlob(product, cells));
    const float seat[3] = {2.0f, -18.0f, 1.5f};
    r.setSeat(seat);
}

// After a damaged blob: the verdict was checked by setBlob; the instance must
// answer coherently and give back a blob that is accepted again.
void afterDamagedBlob(SequenceRunner& r) {
    r.getComponents();
    r.getBlob(1);
    r.getDistance();
    r.getResponse(1);
    r.observer().blobs().roundTripHolds();
}

// A neighbour instance that no blob given to instance 1 may change.
struct Neighbour {
    Snapshot before;
    static void setUp(SequenceRunner& r, const Product& product) {
        r.getFreeId();
        r.getFreeId();
        r.setBlob(1, makeBlob(product, std::vector<CellSetup>(5, CellSetup{product.defaultKind, 2.5f})));
        const float seat[3] = {-4.0f, -12.0f, 1.0f};
        r.setSeat(seat);
    }
    void take(SequenceRunner& r) { before = r.observer().plugin({2}, r.model().currentId()); }
    void compare(SequenceRunner& r, Report& report, const std::string& what) {
        const Snapshot after = r.observer().plugin({2}, r.model().currentId());
        if (const auto difference = firstDifference(before, after)) report.fail(what + " changed another instance: " + *difference);
    }
};

// Largest host buffer the validator places for a blob whose size word was
// damaged: a 32-bit process has no room for gigabytes. A 64-bit process
// places a buffer for every size a 32-bit word can give.
constexpr bool kNarrowProcess = sizeof(void*) == 4;
constexpr uint32_t kLargestBufferInNarrowProcess = uint32_t(256) << 20;

}  // namespace

void checkBlobRoundTrips(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    r.getFreeId();
    for (uint64_t i = 0; i < context.options.roundTrips; ++i) {
        if (!context.enter(i, "a random valid setup")) continue;
        Random random(caseSeed(context.options.seed, "roundtrip", i));
        const int32_t count = random.between(product.fewestEntries, kCellCapacity);
        r.clearMismatch();
        r.setBlob(1, makeBlob(product, randomCells(product, random, count)));
        r.getBlob(1);
        r.getComponents();
        ++context.report.figures.blobs;
    }
}

void checkBlobTruncation(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Neighbour::setUp(r, product);
    Neighbour neighbour;
    neighbour.take(r);
    const int32_t sources[] = {0, 1, 4, 5, 9, kCellCapacity};
    uint64_t index = 0;
    for (int32_t count : sources) {
        Random random(caseSeed(context.options.seed, "truncation", uint64_t(count)));
        const Bytes whole = makeBlob(product, randomCells(product, random, count));
        for (uint32_t length = 0; length <= whole.size(); ++length, ++index) {
            if (!context.enter(index, "a blob of " + std::to_string(count) + " cells cut to " + std::to_string(length) + " bytes")) {
                continue;
            }
            r.clearMismatch();
            prepareVictim(r, product);
            // The size word says the cut length; the buffer holds at least the word.
            Bytes cut(whole.begin(), whole.begin() + (length < 4 ? 4 : length));
            writeWord(cut.data(), length);
            r.setBlob(1, cut);
            afterDamagedBlob(r);
            ++context.report.figures.blobs;
        }
    }
    if (!context.onlyCase) neighbour.compare(r, context.report, "a truncated blob");
}

void checkBlobBitFlips(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Neighbour::setUp(r, product);
    Neighbour neighbour;
    neighbour.take(r);
    uint64_t index = 0;
    for (int32_t count : {kCellCapacity, 4}) {
        Random random(caseSeed(context.options.seed, "bitflips", uint64_t(count)));
        const Bytes whole = makeBlob(product, randomCells(product, random, count));
        for (uint32_t bit = 0; bit < whole.size() * 8; ++bit, ++index) {
            if (!context.enter(index, "a blob of " + std::to_string(count) + " cells with bit " + std::to_string(bit) + " flipped")) {
                continue;
            }
            r.clearMismatch();
            prepareVictim(r, product);
            Bytes flipped = whole;
            flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
            const uint32_t size = readWord(flipped.data());
            if (kNarrowProcess && size > kLargestBufferInNarrowProcess) {
                // Counted, not tried: no host of this width has such a buffer.
                context.report.figures.cases -= 1;
                continue;
            }
            if (size > flipped.size() && size <= 64 * 1024) flipped.resize(size, 0);
            r.setBlob(1, flipped, size > flipped.size() ? size : 0);
            afterDamagedBlob(r);
            ++context.report.figures.blobs;
        }
    }
    if (!context.onlyCase) neighbour.compare(r, context.report, "a blob with a flipped bit");
}

void checkBlobRandom(Context& context) {
    const Product& product = context.product;
    Session session(context);
    if (!session.ok()) return;
    SequenceRunner& r = session.checked();
    Neighbour::setUp(r, product);
    Neighbour neighbour;
    neighbour.take(r);
    for (uint64_t i = 0; i < context.options.randomBlobs; ++i) {
        if (!context.enter(i, "random bytes")) continue;
        Random random(caseSeed(context.options.seed, "random-blob", i));
        Bytes bytes(4 + random.below(160));
        for (unsigned char& b : bytes) b = uint8_t(random.below(256));
        // The size word: the length, a shorter one, or anything the host's
        // buffer can still hold.
        const uint32_t choice = random.below(10);
        uint32_t size = uint32_t(bytes.size());
        if (choice >= 4 && choice < 7) size = random.below(uint32_t(bytes.size()) + 1);
        if (choice >= 7) size = random.below(4096);
        writeWord(bytes.data(), size);
        if (bytes.size() >= 8 && random.below(2) == 0) writeWord(bytes.data() + 4, product.setupMagic);
        if (size > bytes.size()) bytes.resize(size, 0);
        r.clearMismatch();
        prepareVictim(r, product);
        r.setBlob(1, bytes);
        afterDamagedBlob(r);
        ++context.report.figures.blobs;
    }
    if (!context.onlyCase) neighbour.compare(r, context.report, "a random blob");
}

}  // namespace validator

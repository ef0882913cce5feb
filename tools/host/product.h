// What host-side programs know about each product, written down from the
// plug-in's contract rather than read from the build's model definitions, so
// that a build bound to the wrong model is caught by the programs that check
// it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace host {

inline constexpr int kBandCount = 21;
inline constexpr int kCellCapacity = 16;
inline constexpr int kSlotCount = 256;  // ids 0..255; 1..255 are handed out
inline constexpr int kVerticesPerCell = 8;
inline constexpr int kFacesPerCell = 7;
inline constexpr uint32_t kSetupHeaderBytes = 8;  // size word and magic

struct Product {
    std::string library;        // ktr2, ktr4, qspan
    const char* displayName;    // DLLGetName and the version resource's product name
    bool sharesEntryPoints;     // RP_GetNumber is DLLClass, IP_GetMinimum/Maximum are IP_GetDefault
    uint32_t setupMagic;
    bool cellsCarryKind;        // blob entries are (i32 kind, f32 splay)
    int32_t fewestEntries;      // fewer entries than this: reset and -1
    int32_t defaultKind;        // kind of cells 1..4 after a reset
    int32_t kindCount;
    int32_t edgesPerCell;
    bool cellOneTakesArrayPose;  // false: cell 1 hangs from the bumper by its own splay

    uint32_t entryBytes() const { return cellsCarryKind ? 8u : 4u; }
    uint32_t blobBytes(int32_t cells) const { return kSetupHeaderBytes + entryBytes() * uint32_t(cells); }
};

// Every product, in the order ktr2, ktr4, qspan.
std::span<const Product> everyProduct();

// nullptr for a name that is not a product.
const Product* findProduct(const std::string& library);

// The product names joined by `separator`, for usage lines.
std::string productNames(const char* separator);

}  // namespace host

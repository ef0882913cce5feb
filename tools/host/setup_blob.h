// The setup blob a host hands to IP_SetValue(1, ...) and reads back with
// IP_GetValue(1, ...): u32 size (the whole blob, header included), u32 magic,
// then one entry per cell, cell 1 first; an entry is the f32 splay in degrees,
// preceded by the i32 cabinet kind where the product's cells carry one. All
// little-endian, whatever the host's byte order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/host/product.h"

namespace host {

class PluginLibrary;

struct CellSetup {
    int32_t kind = 0;
    float splayDeg = 0.0f;
};

using Bytes = std::vector<unsigned char>;

uint32_t readWord(const unsigned char* p);
void writeWord(unsigned char* p, uint32_t value);

// The blob of `cells`, its size word its length. Kinds are written only when
// the entries carry them.
Bytes makeBlob(uint32_t magic, const std::vector<CellSetup>& cells, bool cellsCarryKind);
// The same in the product's entry layout, with its own magic unless given.
Bytes makeBlob(const Product& product, const std::vector<CellSetup>& cells, std::optional<uint32_t> magic = {});

// The cells a blob's entries name: as many whole entries as its size word
// allows, so the caller's buffer must hold that many bytes. Kinds read 0 where
// the entries carry none.
std::vector<CellSetup> blobCells(const unsigned char* blob, bool cellsCarryKind);
std::vector<CellSetup> blobCells(const Product& product, const unsigned char* blob);

// The current instance's blob by the two-call protocol: the size query into a
// 4-byte word, then the read into a buffer of that size whose first word holds
// it. At least the 8 header bytes, zero where the plug-in wrote nothing.
Bytes readBlob(const PluginLibrary& plugin);

}  // namespace host

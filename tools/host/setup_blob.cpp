#include "tools/host/setup_blob.h"

#include <bit>

#include "tools/host/plugin_library.h"

namespace host {

uint32_t readWord(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeWord(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

Bytes makeBlob(uint32_t magic, const std::vector<CellSetup>& cells, bool cellsCarryKind) {
    const size_t entryBytes = cellsCarryKind ? 8 : 4;
    Bytes bytes(kSetupHeaderBytes + cells.size() * entryBytes);
    writeWord(bytes.data(), uint32_t(bytes.size()));
    writeWord(bytes.data() + 4, magic);
    unsigned char* p = bytes.data() + kSetupHeaderBytes;
    for (const CellSetup& c : cells) {
        if (cellsCarryKind) {
            writeWord(p, uint32_t(c.kind));
            p += 4;
        }
        writeWord(p, std::bit_cast<uint32_t>(c.splayDeg));
        p += 4;
    }
    return bytes;
}

Bytes makeBlob(const Product& product, const std::vector<CellSetup>& cells, std::optional<uint32_t> magic) {
    return makeBlob(magic.value_or(product.setupMagic), cells, product.cellsCarryKind);
}

std::vector<CellSetup> blobCells(const unsigned char* blob, bool cellsCarryKind) {
    const uint32_t size = readWord(blob);
    std::vector<CellSetup> cells;
    if (size < kSetupHeaderBytes) return cells;
    cells.resize((size - kSetupHeaderBytes) / (cellsCarryKind ? 8 : 4));
    const unsigned char* p = blob + kSetupHeaderBytes;
    for (CellSetup& c : cells) {
        if (cellsCarryKind) {
            c.kind = int32_t(readWord(p));
            p += 4;
        }
        c.splayDeg = std::bit_cast<float>(readWord(p));
        p += 4;
    }
    return cells;
}

std::vector<CellSetup> blobCells(const Product& product, const unsigned char* blob) {
    return blobCells(blob, product.cellsCarryKind);
}

Bytes readBlob(const PluginLibrary& plugin) {
    uint32_t word = 0;  // aligned as a plug-in writing a u32 may assume
    plugin.IP_GetValue(1, &word);
    const uint32_t size = readWord(reinterpret_cast<const unsigned char*>(&word));
    Bytes bytes(size < kSetupHeaderBytes ? kSetupHeaderBytes : size, 0);
    writeWord(bytes.data(), size);
    plugin.IP_GetValue(1, bytes.data());
    return bytes;
}

}  // namespace host

#include "tools/arrayhost/setup_blob.h"

#include <cstring>

namespace arrayhost {

namespace {

uint32_t readU32(const std::vector<uint8_t>& bytes, size_t offset) {
    return uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 | uint32_t(bytes[offset + 2]) << 16 |
           uint32_t(bytes[offset + 3]) << 24;
}

void appendU32(std::vector<uint8_t>& bytes, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uint8_t(v >> shift));
}

void appendF32(std::vector<uint8_t>& bytes, float v) {
    uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    appendU32(bytes, bits);
}

}  // namespace

std::optional<BlobFormat> blobFormatOf(const std::vector<uint8_t>& blob, int cellCount, std::string& error) {
    if (blob.size() < 8 || cellCount <= 0) {
        error = "the plug-in's setup blob is " + std::to_string(blob.size()) + " bytes for " +
                std::to_string(cellCount) + " cells";
        return std::nullopt;
    }
    BlobFormat format;
    format.magic = readU32(blob, 4);
    const size_t entryBytes = (blob.size() - 8) / size_t(cellCount);
    if (entryBytes * size_t(cellCount) + 8 != blob.size() || (entryBytes != 4 && entryBytes != 8)) {
        error = "the plug-in's setup blob of " + std::to_string(blob.size()) + " bytes for " +
                std::to_string(cellCount) + " cells has neither 4- nor 8-byte entries";
        return std::nullopt;
    }
    format.cellsCarryKind = entryBytes == 8;
    if (format.cellsCarryKind) format.defaultKind = int(int32_t(readU32(blob, 8)));
    return format;
}

std::vector<uint8_t> makeSetupBlob(const BlobFormat& format, const std::vector<double>& splaysDeg,
                                   const std::vector<int>& kinds) {
    const size_t entryBytes = format.cellsCarryKind ? 8 : 4;
    std::vector<uint8_t> blob;
    appendU32(blob, uint32_t(8 + entryBytes * splaysDeg.size()));
    appendU32(blob, format.magic);
    for (size_t cell = 0; cell < splaysDeg.size(); ++cell) {
        if (format.cellsCarryKind) {
            appendU32(blob, uint32_t(int32_t(kinds.empty() ? format.defaultKind : kinds[cell])));
        }
        appendF32(blob, float(splaysDeg[cell]));
    }
    return blob;
}

}  // namespace arrayhost

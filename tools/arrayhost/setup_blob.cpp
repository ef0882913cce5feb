#include "tools/arrayhost/setup_blob.h"

#include "tools/host/setup_blob.h"

namespace arrayhost {

std::optional<BlobFormat> blobFormatOf(const std::vector<uint8_t>& blob, int cellCount, std::string& error) {
    if (blob.size() < host::kSetupHeaderBytes || cellCount <= 0) {
        error = "the plug-in's setup blob is " + std::to_string(blob.size()) + " bytes for " +
                std::to_string(cellCount) + " cells";
        return std::nullopt;
    }
    BlobFormat format;
    format.magic = host::readWord(blob.data() + 4);
    const size_t bodyBytes = blob.size() - host::kSetupHeaderBytes;
    const size_t entryBytes = bodyBytes / size_t(cellCount);
    if (entryBytes * size_t(cellCount) != bodyBytes || (entryBytes != 4 && entryBytes != 8)) {
        error = "the plug-in's setup blob of " + std::to_string(blob.size()) + " bytes for " +
                std::to_string(cellCount) + " cells has neither 4- nor 8-byte entries";
        return std::nullopt;
    }
    format.cellsCarryKind = entryBytes == 8;
    if (format.cellsCarryKind) format.defaultKind = int(int32_t(host::readWord(blob.data() + host::kSetupHeaderBytes)));
    return format;
}

std::vector<uint8_t> makeSetupBlob(const BlobFormat& format, const std::vector<double>& splaysDeg,
                                   const std::vector<int>& kinds) {
    std::vector<host::CellSetup> cells(splaysDeg.size());
    for (size_t cell = 0; cell < cells.size(); ++cell) {
        cells[cell] = {int32_t(kinds.empty() ? format.defaultKind : kinds[cell]), float(splaysDeg[cell])};
    }
    return host::makeBlob(format.magic, cells, format.cellsCarryKind);
}

}  // namespace arrayhost

// The setup blob in the format a plug-in shows (the layout and the codec are
// the host kit's, tools/host/setup_blob.h).
//
// The host does not hard-code the magic or the entry width: it reads a fresh
// instance's blob and learns both from it, so any of the plug-ins, loaded by
// name or by path, gets a blob in its own format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace arrayhost {

struct BlobFormat {
    uint32_t magic = 0;
    bool cellsCarryKind = false;  // 8-byte entries instead of 4
    int defaultKind = 0;          // kind of the fresh instance's cell 1
};

// The format of `blob`, read from an instance that holds `cellCount` cells.
// Says why in `error` when the blob fits neither entry width.
std::optional<BlobFormat> blobFormatOf(const std::vector<uint8_t>& blob, int cellCount, std::string& error);

// A blob for these cells; kinds are used only when the format carries them
// (an empty list gives every cell the format's default kind).
std::vector<uint8_t> makeSetupBlob(const BlobFormat& format, const std::vector<double>& splaysDeg,
                                   const std::vector<int>& kinds);

}  // namespace arrayhost

// Building and reading setup blobs as a host stores them.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tools/host/plugin_library.h"

namespace host_test {

inline constexpr uint32_t kKtrMagic = 10762383u;
inline constexpr uint32_t kQspanMagic = 10762385u;

struct CellSetup {
    int32_t kind;
    float splayDeg;
};

// The blob of `cells`, with or without a cabinet kind per entry.
inline std::vector<unsigned char> makeBlob(uint32_t magic, const std::vector<CellSetup>& cells,
                                           bool withKinds) {
    std::vector<unsigned char> bytes(8 + cells.size() * (withKinds ? 8 : 4));
    const uint32_t size = uint32_t(bytes.size());
    std::memcpy(bytes.data(), &size, 4);
    std::memcpy(bytes.data() + 4, &magic, 4);
    unsigned char* p = bytes.data() + 8;
    for (const CellSetup& c : cells) {
        if (withKinds) {
            std::memcpy(p, &c.kind, 4);
            p += 4;
        }
        std::memcpy(p, &c.splayDeg, 4);
        p += 4;
    }
    return bytes;
}

// Gives the current instance cells with these splays, all of one cabinet kind
// where the product's cells carry one, through a setup blob; returns what
// IP_SetValue answers.
inline int32_t setCells(const host::PluginLibrary& plugin, bool withKinds, std::initializer_list<float> splays,
                        int32_t kind) {
    std::vector<CellSetup> cells;
    for (float s : splays) cells.push_back({kind, s});
    const auto blob = makeBlob(withKinds ? kQspanMagic : kKtrMagic, cells, withKinds);
    return plugin.IP_SetValue(1, blob.data());
}

// Reads the current instance's blob with the two-call protocol.
inline std::vector<unsigned char> readBlob(const host::PluginLibrary& plugin) {
    uint32_t size = 0;
    plugin.IP_GetValue(1, &size);
    std::vector<unsigned char> bytes(size < 8 ? 8 : size, 0);
    std::memcpy(bytes.data(), &size, 4);
    plugin.IP_GetValue(1, bytes.data());
    return bytes;
}

}  // namespace host_test

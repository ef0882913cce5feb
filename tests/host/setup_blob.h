// Setup blobs for the black-box tests: the kit's codec, and one step the
// tests repeat.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tools/host/plugin_library.h"
#include "tools/host/product.h"
#include "tools/host/setup_blob.h"

namespace host_test {

using host::CellSetup;
using host::makeBlob;
using host::readBlob;

// Gives the current instance cells with these splays, all of one cabinet kind
// where the product's cells carry one, through a setup blob; returns what
// IP_SetValue answers.
inline int32_t setCells(const host::PluginLibrary& plugin, const host::Product& product,
                        std::initializer_list<float> splays, int32_t kind) {
    std::vector<CellSetup> cells;
    for (float s : splays) cells.push_back({kind, s});
    return plugin.IP_SetValue(1, makeBlob(product, cells).data());
}

}  // namespace host_test

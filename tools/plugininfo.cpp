// Prints what a host reads first from each plug-in: name, maker, version,
// capabilities, valid bands and data resolution. With no arguments it loads
// the three deliverables built beside it; otherwise the libraries named.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"

namespace {

// The plug-in's text is Windows-1252; terminals here speak UTF-8.
std::string toUtf8(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p < 0x80) {
            out += char(*p);
        } else if (*p >= 0xA0) {  // Latin-1 range of the code page
            out += char(0xC0 | (*p >> 6));
            out += char(0x80 | (*p & 0x3F));
        } else {
            out += '?';
        }
    }
    return out;
}

bool describe(const std::string& path) {
    std::string error;
    auto plugin = host::PluginLibrary::open(path, error);
    if (!plugin) {
        std::fprintf(stderr, "plugininfo: %s\n", error.c_str());
        return false;
    }
    if (!plugin->DLLGetName || !plugin->DLLGetManufacturer || !plugin->DLLVersion ||
        !plugin->DLLGetCaps || !plugin->DLLGetValidBands || !plugin->DLLGetDataResolution) {
        std::fprintf(stderr, "plugininfo: %s lacks a descriptor export\n", path.c_str());
        return false;
    }
    const char* name = "";
    const char* maker = "";
    const char* resolution = "";
    plugin->DLLGetName(&name);
    plugin->DLLGetManufacturer(&maker);
    plugin->DLLGetDataResolution(&resolution);
    std::printf("%s\n", path.c_str());
    std::printf("  name:            %s\n", toUtf8(name).c_str());
    std::printf("  manufacturer:    %s\n", toUtf8(maker).c_str());
    std::printf("  version:         %d\n", int(plugin->DLLVersion()));
    std::printf("  caps 0..6:      ");
    for (int cap = 0; cap <= 6; ++cap) std::printf(" %d", int(plugin->DLLGetCaps(cap)));
    std::printf("\n");
    int32_t bands[21] = {};
    plugin->DLLGetValidBands(bands);
    int valid = 0;
    for (int32_t flag : bands) valid += flag != 0;
    std::printf("  valid bands:     %d of 21\n", valid);
    std::printf("  data resolution: %s\n", toUtf8(resolution).c_str());
    if (plugin->IP_GetNumber && plugin->IP_GetLabel && plugin->RP_GetNumber && plugin->RP_GetLabel &&
        plugin->RP_GetDefault) {
        for (int32_t index = 1; index <= plugin->IP_GetNumber(); ++index) {
            char label[64] = {};
            plugin->IP_GetLabel(index, label);
            std::printf("  input %d:         %s (id %d)\n", int(index), toUtf8(label).c_str(),
                        int(plugin->IP_GetID(index)));
        }
        for (int32_t index = 1; index <= plugin->RP_GetNumber(); ++index) {
            char label[64] = {};
            float value = 0.0f;
            plugin->RP_GetLabel(index, label);
            plugin->RP_GetDefault(index, &value);
            std::printf("  room %d:          %s, default %g\n", int(index), toUtf8(label).c_str(), double(value));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) paths.emplace_back(argv[i]);
    if (paths.empty()) {
        for (const char* name : {"ktr2", "ktr4", "qspan"}) paths.push_back(host::pluginPath(name));
    }
    bool ok = true;
    for (const std::string& path : paths) ok = describe(path) && ok;
    return ok ? 0 : 1;
}

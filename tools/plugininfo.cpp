// Prints what a host reads first from each plug-in (name, maker, version,
// capabilities, valid bands, data resolution, parameters) and what the
// Windows loader sees of it (version resource, exports, imports, PE
// checksum). With no arguments it loads the three deliverables built beside
// it; otherwise the libraries named.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/host/module_tables.h"
#include "tools/host/pe_image.h"
#include "tools/host/plugin_library.h"
#include "tools/host/product.h"

namespace {

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
    return text;
}

// One line per fact, so that scripts can read them. The export and import
// tables and the checksum are read from the file, 32-bit or 64-bit alike.
void describeModule(const host::PluginLibrary& plugin) {
    const std::string& path = plugin.path();
#if defined(_WIN32)
    std::printf("  product name:    %s\n", host::versionString(path, "ProductName").c_str());
    std::printf("  company name:    %s\n", host::versionString(path, "CompanyName").c_str());
    std::printf("  file version:    %s (%s)\n", host::versionString(path, "FileVersion").c_str(),
                host::fixedFileVersion(path).c_str());
    std::printf("  product version: %s\n", host::versionString(path, "ProductVersion").c_str());
#endif
    std::string error;
    const std::optional<host::PeImage> image = host::readPeFile(path, error);
    if (!image) return;  // a native shared library: no PE tables to show
    std::set<std::string> exports;
    for (const host::PeExport& e : image->exports) exports.insert(e.name);
    std::printf("  exports:         %s\n", joined({exports.begin(), exports.end()}).c_str());
    std::vector<std::string> imports = image->importedLibraries;
    std::sort(imports.begin(), imports.end());
    std::printf("  imports:         %s\n", joined(imports).c_str());
    if (image->storedChecksum == image->computedChecksum)
        std::printf("  pe checksum:     %08x (correct)\n", unsigned(image->storedChecksum));
    else
        std::printf("  pe checksum:     %08x (wrong: the file sums to %08x)\n", unsigned(image->storedChecksum),
                    unsigned(image->computedChecksum));
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
    std::printf("  name:            %s\n", host::textFromPlugin(name).c_str());
    std::printf("  manufacturer:    %s\n", host::textFromPlugin(maker).c_str());
    std::printf("  version:         %d\n", int(plugin->DLLVersion()));
    std::printf("  caps 0..6:      ");
    for (int cap = 0; cap <= 6; ++cap) std::printf(" %d", int(plugin->DLLGetCaps(cap)));
    std::printf("\n");
    int32_t bands[21] = {};
    plugin->DLLGetValidBands(bands);
    int valid = 0;
    for (int32_t flag : bands) valid += flag != 0;
    std::printf("  valid bands:     %d of 21\n", valid);
    std::printf("  data resolution: %s\n", host::textFromPlugin(resolution).c_str());
    if (plugin->IP_GetNumber && plugin->IP_GetLabel && plugin->RP_GetNumber && plugin->RP_GetLabel &&
        plugin->RP_GetDefault) {
        for (int32_t index = 1; index <= plugin->IP_GetNumber(); ++index) {
            char label[64] = {};
            plugin->IP_GetLabel(index, label);
            std::printf("  input %d:         %s (id %d)\n", int(index), host::textFromPlugin(label).c_str(),
                        int(plugin->IP_GetID(index)));
        }
        for (int32_t index = 1; index <= plugin->RP_GetNumber(); ++index) {
            char label[64] = {};
            float value = 0.0f;
            plugin->RP_GetLabel(index, label);
            plugin->RP_GetDefault(index, &value);
            std::printf("  room %d:          %s, default %g\n", int(index), host::textFromPlugin(label).c_str(),
                        double(value));
        }
    }
    describeModule(*plugin);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) paths.emplace_back(argv[i]);
    if (paths.empty()) {
        for (const host::Product& product : host::everyProduct()) paths.push_back(host::pluginPath(product.library));
    }
    bool ok = true;
    for (const std::string& path : paths) ok = describe(path) && ok;
    return ok ? 0 : 1;
}

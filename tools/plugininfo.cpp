// Prints what a host reads first from each plug-in (name, maker, version,
// capabilities, valid bands, data resolution, parameters) and what the
// Windows loader sees of it (version resource, exports, imports, PE
// checksum). With no arguments it loads the three deliverables built beside
// it; otherwise the libraries named. With --data it prints, per cabinet
// kind, the data the plug-in carries: the provenance line embedded after the
// balloon, the balloon's SHA-256 read from the file, and the on-axis level
// and directivity factor per band as the exports give them.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/host/module_tables.h"
#include "tools/host/pe_image.h"
#include "tools/host/plugin_library.h"
#include "tools/host/product.h"
#include "tools/host/setup_blob.h"
#include "tools/host/sha256.h"

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

// The data a plug-in carries, per cabinet kind: its provenance line and the
// balloon embedded just before it, read from the file, and the on-axis level
// and directivity factor per band, asked through the plug-in's exports.
constexpr size_t kBalloonBytes = 223776;  // 21 x 72 x 37 f32
constexpr char kProvenanceMarker[] = "MODEL-DATA ";
constexpr int kNominalBandHz[host::kBandCount] = {100,  125,  160,  200,  250,  315,  400,  500,  630,  800, 1000,
                                                  1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};

struct EmbeddedKind {
    std::string kind, line, balloonSha256;
};

std::vector<EmbeddedKind> embeddedKinds(const std::vector<unsigned char>& file) {
    std::vector<EmbeddedKind> kinds;
    const std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
    for (size_t at = bytes.find(kProvenanceMarker); at != std::string_view::npos;
         at = bytes.find(kProvenanceMarker, at + 1)) {
        const size_t end = bytes.find('\0', at);
        if (end == std::string_view::npos || at < kBalloonBytes) continue;
        const std::string line(bytes.substr(at, end - at));
        const size_t kindEnd = line.find(' ', sizeof kProvenanceMarker - 1);
        if (kindEnd == std::string::npos) continue;
        kinds.push_back({line.substr(sizeof kProvenanceMarker - 1, kindEnd - (sizeof kProvenanceMarker - 1)), line,
                         host::sha256Hex(file.data() + at - kBalloonBytes, kBalloonBytes)});
    }
    return kinds;
}

bool describeData(const std::string& path) {
    std::string error;
    auto plugin = host::PluginLibrary::open(path, error);
    if (!plugin || !plugin->DLLGetName || !plugin->CI_GetFreeID || !plugin->IP_SetValue ||
        !plugin->CI_GetCompSPL1m || !plugin->CI_GetCompDirectivity || !plugin->CI_Release) {
        std::fprintf(stderr, "plugininfo: %s\n", plugin ? (path + " lacks an export --data needs").c_str() : error.c_str());
        return false;
    }
    const char* name = "";
    plugin->DLLGetName(&name);
    const host::Product* product = nullptr;
    for (const host::Product& p : host::everyProduct())
        if (host::textFromPlugin(name) == p.displayName) product = &p;
    if (!product) {
        std::fprintf(stderr, "plugininfo: %s names itself '%s', not one of %s\n", path.c_str(),
                     host::textFromPlugin(name).c_str(), host::productNames(", ").c_str());
        return false;
    }
    std::FILE* in = std::fopen(path.c_str(), "rb");
    std::vector<unsigned char> file;
    if (in) {
        unsigned char buffer[1 << 16];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) file.insert(file.end(), buffer, buffer + n);
        std::fclose(in);
    }
    const std::vector<EmbeddedKind> embedded = embeddedKinds(file);
    std::printf("%s\n  product:         %s\n", path.c_str(), product->displayName);
    // The product's cabinet kinds in the order of its kind numbers.
    const std::vector<std::string> kinds =
        product->cellsCarryKind ? std::vector<std::string>{"QSA", "QSB", "QSC"} : std::vector<std::string>{"KTR"};
    bool ok = true;
    for (size_t k = 0; k < kinds.size(); ++k) {
        std::printf("  kind %s\n", kinds[k].c_str());
        const EmbeddedKind* found = nullptr;
        for (const EmbeddedKind& e : embedded)
            if (e.kind == kinds[k]) found = &e;
        if (!found) {
            std::printf("    provenance:    none embedded\n");
            ok = false;
        } else {
            const size_t stated = found->line.find("sha256=");
            const std::string claimed = stated == std::string::npos ? "" : found->line.substr(stated + 7, 64);
            const size_t origin = found->line.find(' ', stated == std::string::npos ? 0 : stated);
            std::printf("    provenance:    %s\n", origin == std::string::npos ? "" : found->line.substr(origin + 1).c_str());
            std::printf("    balloon:       sha256 %s (%s)\n", found->balloonSha256.c_str(),
                        claimed == found->balloonSha256 ? "as the build recorded it" : "NOT the one the build recorded");
            ok = ok && claimed == found->balloonSha256;
        }
        const int32_t id = plugin->CI_GetFreeID();
        if (id < 0) {
            std::fprintf(stderr, "plugininfo: %s has no free instance\n", path.c_str());
            return false;
        }
        std::vector<host::CellSetup> cells(4, host::CellSetup{static_cast<int32_t>(k), 0.0f});
        if (product->cellsCarryKind && plugin->IP_SetValue(1, host::makeBlob(*product, cells).data()) != 0) ok = false;
        std::printf("    band_Hz  on_axis_dB_SPL_at_1m  Q\n");
        for (int32_t band = 1; band <= host::kBandCount; ++band) {
            float level = 0, factor = 0;
            const bool read = plugin->CI_GetCompSPL1m(1, band, &level) == 0 && plugin->CI_GetCompDirectivity(1, band, &factor) == 0;
            ok = ok && read;
            std::printf("    %-7d  %8.3f  %8.4f\n", kNominalBandHz[band - 1], double(level), double(factor));
        }
        plugin->CI_Release();
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths;
    bool data = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--data") data = true;
        else paths.emplace_back(argv[i]);
    }
    if (paths.empty()) {
        for (const host::Product& product : host::everyProduct()) paths.push_back(host::pluginPath(product.library));
    }
    bool ok = true;
    for (const std::string& path : paths) ok = (data ? describeData(path) : describe(path)) && ok;
    return ok ? 0 : 1;
}

// Prints what a host reads first from each plug-in (name, maker, version,
// capabilities, valid bands, data resolution, parameters) and what the
// Windows loader sees of it (version resource, exports, imports, PE
// checksum). With no arguments it loads the three deliverables built beside
// it; otherwise the libraries named. With --data it prints, per cabinet
// kind, the data the plug-in carries: the provenance record embedded with
// the balloon in the section .mdata, the balloon's SHA-256 read from the
// file, and the on-axis level and directivity factor per band as the exports
// give them.
#include <algorithm>
#include <cstring>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/host/module_tables.h"
#include "tools/host/pe_image.h"
#include "tools/host/provenance_text.h"
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

// The data a plug-in carries, per cabinet kind: its record and the balloon
// embedded with it, read from the section .mdata the build wrote them into
// (models/balloon_embed.cpp.in), and the on-axis level and directivity
// factor per band, asked through the plug-in's exports.
constexpr size_t kBalloonBytes = 223776;  // 21 x 72 x 37 f32
constexpr char kRecordMarker[] = "MODEL-DATA ";
constexpr size_t kMaxRecordCharacters = 4096;  // a record names three attributes of at most 240 each
constexpr char kEntryMagic[8] = {'M', 'D', 'A', 'T', 'A', '1', '\0', '\0'};
constexpr int kNominalBandHz[host::kBandCount] = {100,  125,  160,  200,  250,  315,  400,  500,  630,  800, 1000,
                                                  1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000};

struct EmbeddedKind {
    std::string kind, line, balloonSha256;
};

uint64_t little(const std::vector<unsigned char>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(b[at + size_t(i)]) << (8 * i);
    return v;
}

// The bytes of the section named `name`: from the section table of a PE
// image (the DLLs) or of a 64-bit ELF file (the native libraries).
std::optional<std::vector<unsigned char>> sectionBytes(const std::vector<unsigned char>& file, const std::string& name,
                                                       std::string& error) {
    if (file.size() >= 2 && file[0] == 'M' && file[1] == 'Z') {
        const std::optional<host::PeImage> image = host::readPeImage(file, error);
        if (!image) return std::nullopt;
        for (const host::PeSection& section : image->sections) {
            if (section.name != name) continue;
            const size_t size = std::min<size_t>(section.virtualSize, section.fileSize);
            if (section.fileOffset > file.size() || size > file.size() - section.fileOffset) break;
            return std::vector<unsigned char>(file.begin() + std::ptrdiff_t(section.fileOffset),
                                              file.begin() + std::ptrdiff_t(section.fileOffset + size));
        }
    } else if (file.size() >= 0x40 && file[0] == 0x7F && file[1] == 'E' && file[2] == 'L' && file[3] == 'F' &&
               file[4] == 2 && file[5] == 1) {
        const uint64_t table = little(file, 0x28, 8), entry = little(file, 0x3A, 2), count = little(file, 0x3C, 2);
        const uint64_t names = little(file, 0x3E, 2);
        auto header = [&](uint64_t i) { return table + i * entry; };
        if (entry < 0x40 || table > file.size() || count * entry > file.size() - table || names >= count) {
            error = "the ELF section table lies outside the file";
            return std::nullopt;
        }
        const uint64_t namesAt = little(file, size_t(header(names)) + 0x18, 8);
        for (uint64_t i = 0; i < count; ++i) {
            const size_t h = size_t(header(i));
            const uint64_t nameAt = namesAt + little(file, h, 4), offset = little(file, h + 0x18, 8),
                           size = little(file, h + 0x20, 8);
            if (nameAt >= file.size()) continue;
            const std::string sectionName(reinterpret_cast<const char*>(file.data() + nameAt),
                                          strnlen(reinterpret_cast<const char*>(file.data() + nameAt),
                                                  file.size() - size_t(nameAt)));
            if (sectionName != name) continue;
            if (offset > file.size() || size > file.size() - offset) break;
            return std::vector<unsigned char>(file.begin() + std::ptrdiff_t(offset),
                                              file.begin() + std::ptrdiff_t(offset + size));
        }
    } else {
        error = "neither a PE image nor a 64-bit ELF file";
        return std::nullopt;
    }
    error = "no section " + name;
    return std::nullopt;
}

// The entries of .mdata in order: each 16-byte aligned, its magic, the
// balloon's and the record's lengths, the balloon, the record and a zero
// byte. Zeros between entries are the linker's alignment.
std::vector<EmbeddedKind> embeddedKinds(const std::vector<unsigned char>& file, std::string& error) {
    std::vector<EmbeddedKind> kinds;
    const std::optional<std::vector<unsigned char>> section = sectionBytes(file, ".mdata", error);
    if (!section) return kinds;
    const std::vector<unsigned char>& b = *section;
    for (size_t at = 0; at + 16 <= b.size();) {
        if (std::all_of(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + 16),
                        [](unsigned char c) { return c == 0; })) {
            at += 16;
            continue;
        }
        const uint64_t balloon = little(b, at + 8, 4), record = little(b, at + 12, 4);
        const size_t start = at + 16;
        if (!std::equal(std::begin(kEntryMagic), std::end(kEntryMagic), b.begin() + std::ptrdiff_t(at)) ||
            balloon != kBalloonBytes || record > b.size() || start + balloon + record + 1 > b.size() ||
            b[start + balloon + record] != 0) {
            error = "the section .mdata holds a damaged entry at byte " + std::to_string(at);
            return kinds;
        }
        const std::string line(reinterpret_cast<const char*>(b.data() + start + balloon), size_t(record));
        const size_t kindEnd = line.find(' ', sizeof kRecordMarker - 1);
        if (line.rfind(kRecordMarker, 0) != 0 || kindEnd == std::string::npos) {
            error = "an entry of .mdata holds no record";
            return kinds;
        }
        kinds.push_back({line.substr(sizeof kRecordMarker - 1, kindEnd - (sizeof kRecordMarker - 1)), line,
                         host::sha256Hex(b.data() + start, size_t(balloon))});
        at = (start + size_t(balloon) + size_t(record) + 1 + 15) / 16 * 16;
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
    std::string sectionError;
    const std::vector<EmbeddedKind> embedded = embeddedKinds(file, sectionError);
    std::printf("%s\n  product:         %s\n", path.c_str(), product->displayName);
    if (!sectionError.empty()) std::printf("  data section:    %s\n", sectionError.c_str());
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
            // The record is the build's, but the file may not be: printed as
            // one line of valid UTF-8 whatever it holds.
            const std::string text = origin == std::string::npos ? "" : found->line.substr(origin + 1);
            std::printf("    provenance:    %s\n", host::sanitisedProvenanceText(text, kMaxRecordCharacters).c_str());
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

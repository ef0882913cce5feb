#include "tools/host/pe_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace host {

bool isWindowsSystemLibrary(const std::string& lowerCaseName) {
    return std::any_of(std::begin(kWindowsSystemLibraries), std::end(kWindowsSystemLibraries),
                       [&](const char* name) { return lowerCaseName == name; });
}

uint32_t peFileChecksum(const std::vector<unsigned char>& bytes, size_t checksumOffset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= checksumOffset && i < checksumOffset + 4) continue;
        sum += bytes[i] | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0u);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + bytes.size());
}

namespace {

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kFileHeaderBytes = 20;
constexpr size_t kSectionHeaderBytes = 40;
constexpr size_t kImportDescriptorBytes = 20;
constexpr size_t kExportDirectoryBytes = 40;
constexpr size_t kChecksumOffsetInOptionalHeader = 64;
constexpr int kExportDirectory = 0;
constexpr int kImportDirectory = 1;
constexpr int kRelocationDirectory = 5;
constexpr int kTlsDirectory = 9;
constexpr size_t kMaxRelocations = 1 << 22;
constexpr size_t kMaxTlsCallbacks = 4096;
// Longer names than this are not names a loader would look up.
constexpr size_t kMaxNameBytes = 4096;
// The export and import tables of a real module hold far fewer entries; a
// count above these is a corrupt or hostile file, not a module to list.
constexpr uint32_t kMaxExports = 65536;
constexpr size_t kMaxImportedLibraries = 4096;
constexpr size_t kMaxImportedFunctions = 65536;

// Bounds-checked little-endian reads of the file; a read past the end sets
// `ok` false and gives 0, so a reader can test once after a run of reads.
class Reader {
public:
    explicit Reader(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    bool ok = true;

    bool has(size_t at, size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
    uint64_t read(size_t at, size_t count) {
        if (!has(at, count)) {
            ok = false;
            return 0;
        }
        uint64_t value = 0;
        for (size_t i = 0; i < count; ++i) value |= uint64_t(bytes_[at + i]) << (8 * i);
        return value;
    }
    uint16_t u16(size_t at) { return uint16_t(read(at, 2)); }
    uint32_t u32(size_t at) { return uint32_t(read(at, 4)); }
    uint64_t u64(size_t at) { return read(at, 8); }
    // A NUL-terminated name; refused if it runs off the file or past kMaxNameBytes.
    std::optional<std::string> name(size_t at) const {
        if (at >= bytes_.size()) return std::nullopt;
        const size_t limit = std::min(bytes_.size(), at + kMaxNameBytes);
        const auto begin = bytes_.begin() + std::ptrdiff_t(at);
        const auto end = std::find(begin, bytes_.begin() + std::ptrdiff_t(limit), 0);
        if (end == bytes_.begin() + std::ptrdiff_t(limit)) return std::nullopt;
        return std::string(begin, end);
    }

private:
    const std::vector<unsigned char>& bytes_;
};

// The file offset of an address relative to the image base, if a section's
// bytes in the file hold it.
std::optional<size_t> fileOffsetOf(const std::vector<PeSection>& sections, uint64_t rva) {
    for (const PeSection& s : sections) {
        const uint64_t extent = std::min(s.virtualSize == 0 ? s.fileSize : s.virtualSize, s.fileSize);
        if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) return size_t(s.fileOffset + (rva - s.virtualAddress));
    }
    return std::nullopt;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

bool readExports(Reader& in, PeImage& image, DataDirectory directory, std::string& error) {
    if (directory.rva == 0) return true;
    const auto at = fileOffsetOf(image.sections, directory.rva);
    if (!at || !in.has(*at, kExportDirectoryBytes)) {
        error = "the export directory lies outside the file";
        return false;
    }
    const uint32_t functionCount = in.u32(*at + 20);
    const uint32_t nameCount = in.u32(*at + 24);
    const uint32_t functionsRva = in.u32(*at + 28);
    const uint32_t namesRva = in.u32(*at + 32);
    const uint32_t ordinalsRva = in.u32(*at + 36);
    if (nameCount > kMaxExports || functionCount > kMaxExports) {
        error = "the export directory claims " + std::to_string(std::max(nameCount, functionCount)) + " entries";
        return false;
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        const auto nameSlot = fileOffsetOf(image.sections, uint64_t(namesRva) + 4ull * i);
        const auto ordinalSlot = fileOffsetOf(image.sections, uint64_t(ordinalsRva) + 2ull * i);
        if (!nameSlot || !ordinalSlot) {
            error = "an export's name or ordinal lies outside the file";
            return false;
        }
        const uint32_t nameRva = in.u32(*nameSlot);
        const uint16_t ordinal = in.u16(*ordinalSlot);
        const auto nameAt = fileOffsetOf(image.sections, nameRva);
        const auto functionSlot = fileOffsetOf(image.sections, uint64_t(functionsRva) + 4ull * ordinal);
        std::optional<std::string> name = nameAt ? in.name(*nameAt) : std::nullopt;
        if (!in.ok || !name || ordinal >= functionCount || !functionSlot) {
            error = "export " + std::to_string(i) + " has no readable name or address";
            return false;
        }
        PeExport e;
        e.name = *name;
        e.rva = in.u32(*functionSlot);
        e.forwarded = e.rva >= directory.rva && e.rva - directory.rva < directory.size;
        image.exports.push_back(std::move(e));
    }
    if (!in.ok) error = "the export table runs past the end of the file";
    return in.ok;
}

bool readImports(Reader& in, PeImage& image, DataDirectory directory, std::string& error) {
    if (directory.rva == 0) return true;
    const size_t slotBytes = image.pe32Plus ? 8 : 4;
    const uint64_t ordinalFlag = image.pe32Plus ? 1ull << 63 : 1ull << 31;
    for (size_t d = 0;; ++d) {
        if (d >= kMaxImportedLibraries) {
            error = "the import table has no end";
            return false;
        }
        const auto at = fileOffsetOf(image.sections, uint64_t(directory.rva) + kImportDescriptorBytes * d);
        if (!at || !in.has(*at, kImportDescriptorBytes)) {
            error = "the import table runs outside the file";
            return false;
        }
        const uint32_t lookupRva = in.u32(*at);
        const uint32_t nameRva = in.u32(*at + 12);
        const uint32_t addressRva = in.u32(*at + 16);
        if (nameRva == 0) break;
        const auto nameAt = fileOffsetOf(image.sections, nameRva);
        const std::optional<std::string> library = nameAt ? in.name(*nameAt) : std::nullopt;
        if (!library) {
            error = "an imported library's name lies outside the file";
            return false;
        }
        image.importedLibraries.push_back(lowerCase(*library));
        // Function names from the lookup table (the address table holds the
        // same until the loader binds it).
        const uint32_t namesRva = lookupRva != 0 ? lookupRva : addressRva;
        for (size_t f = 0;; ++f) {
            if (image.importedFunctions.size() >= kMaxImportedFunctions) {
                error = "the import table names too many functions";
                return false;
            }
            const auto slot = fileOffsetOf(image.sections, uint64_t(namesRva) + slotBytes * f);
            if (!slot || !in.has(*slot, slotBytes)) {
                error = "the functions imported from " + *library + " run outside the file";
                return false;
            }
            const uint64_t entry = slotBytes == 8 ? in.u64(*slot) : in.u32(*slot);
            if (entry == 0) break;
            PeImport import;
            import.library = image.importedLibraries.back();
            import.addressSlotRva = uint32_t(addressRva + slotBytes * f);
            if (entry & ordinalFlag) {
                // Formatted in place: GCC 12 wrongly reports `"#" + text` as
                // an overlapping copy (-Wrestrict).
                char ordinal[16];
                std::snprintf(ordinal, sizeof ordinal, "#%u", unsigned(entry & 0xFFFF));
                import.function = ordinal;
            } else {
                const auto hintAt = fileOffsetOf(image.sections, uint32_t(entry));
                const std::optional<std::string> function = hintAt ? in.name(*hintAt + 2) : std::nullopt;
                if (!function) {
                    error = "a function imported from " + *library + " has no readable name";
                    return false;
                }
                import.function = *function;
            }
            image.importedFunctions.push_back(std::move(import));
        }
    }
    if (!in.ok) error = "the import table runs past the end of the file";
    return in.ok;
}

// The base relocation blocks: per page, 16-bit entries of a type (high 4
// bits) and an offset. Types 3 (32-bit) and 10 (64-bit) fix up a stored
// address; the others carry none the module takes.
bool readRelocations(Reader& in, PeImage& image, DataDirectory directory, std::string& error) {
    if (directory.rva == 0) return true;
    for (uint32_t done = 0; done + 8 <= directory.size;) {
        const auto block = fileOffsetOf(image.sections, uint64_t(directory.rva) + done);
        if (!block || !in.has(*block, 8)) {
            error = "the base relocations run outside the file";
            return false;
        }
        const uint32_t page = in.u32(*block), size = in.u32(*block + 4);
        if (size < 8 || size > directory.size - done) {
            error = "a base relocation block claims " + std::to_string(size) + " bytes";
            return false;
        }
        for (uint32_t k = 0; k < (size - 8) / 2; ++k) {
            const uint16_t entry = in.u16(*block + 8 + 2 * k);
            const int type = entry >> 12;
            if (type != 3 && type != 10) continue;
            const auto at = fileOffsetOf(image.sections, uint64_t(page) + (entry & 0xFFF));
            const size_t bytes = type == 10 ? 8 : 4;
            if (!at || !in.has(*at, bytes)) continue;  // in a section the file does not hold (.bss)
            if (image.storedAddresses.size() >= kMaxRelocations) {
                error = "the base relocations fix up too many words";
                return false;
            }
            image.storedAddresses.push_back(bytes == 8 ? in.u64(*at) : in.u32(*at));
        }
        done += size;
    }
    if (!in.ok) error = "the base relocations run past the end of the file";
    return in.ok;
}

// The TLS directory's list of callbacks: absolute addresses, ended by 0.
bool readTlsCallbacks(Reader& in, PeImage& image, DataDirectory directory, std::string& error) {
    if (directory.rva == 0) return true;
    const size_t word = image.pe32Plus ? 8 : 4;
    const auto at = fileOffsetOf(image.sections, directory.rva);
    if (!at || !in.has(*at, 4 * word)) {
        error = "the TLS directory lies outside the file";
        return false;
    }
    const uint64_t listVa = word == 8 ? in.u64(*at + 3 * word) : in.u32(*at + 3 * word);
    if (listVa == 0) return true;
    for (size_t i = 0;; ++i) {
        const auto slot = listVa >= image.imageBase ? fileOffsetOf(image.sections, listVa - image.imageBase + word * i)
                                                   : std::nullopt;
        if (!slot || !in.has(*slot, word) || i >= kMaxTlsCallbacks) {
            error = "the TLS callbacks run outside the file";
            return false;
        }
        const uint64_t callback = word == 8 ? in.u64(*slot) : in.u32(*slot);
        if (callback == 0) break;
        image.tlsCallbacks.push_back(callback);
    }
    return true;
}

}  // namespace

std::optional<PeImage> readPeImage(const std::vector<unsigned char>& bytes, std::string& error) {
    Reader in(bytes);
    if (!in.has(0, 0x40) || bytes[0] != 'M' || bytes[1] != 'Z') {
        error = "not a Windows module (no MZ header)";
        return std::nullopt;
    }
    const size_t pe = in.u32(0x3C);
    if (!in.has(pe, 4 + kFileHeaderBytes) || std::memcmp(&bytes[pe], "PE\0\0", 4) != 0) {
        error = "no PE signature where the MZ header points";
        return std::nullopt;
    }
    PeImage image;
    const size_t fileHeader = pe + 4;
    image.machine = in.u16(fileHeader);
    const uint16_t sectionCount = in.u16(fileHeader + 2);
    const uint16_t optionalBytes = in.u16(fileHeader + 16);
    const size_t optional = fileHeader + kFileHeaderBytes;
    const uint16_t magic = in.u16(optional);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        error = "the optional header is neither PE32 nor PE32+";
        return std::nullopt;
    }
    image.pe32Plus = magic == kPe32PlusMagic;
    const size_t directoryCountAt = optional + (image.pe32Plus ? 108 : 92);
    const size_t directoriesAt = directoryCountAt + 4;
    if (!in.has(optional, optionalBytes) || optionalBytes < directoriesAt - optional) {
        error = "the optional header is cut short";
        return std::nullopt;
    }
    image.imageBase = image.pe32Plus ? in.u64(optional + 24) : in.u32(optional + 28);
    image.entryPointRva = in.u32(optional + 16);
    const size_t checksumAt = optional + kChecksumOffsetInOptionalHeader;
    image.storedChecksum = in.u32(checksumAt);
    image.computedChecksum = peFileChecksum(bytes, checksumAt);
    // Only the directories the optional header has room for count.
    const uint32_t directoryCount = std::min<uint32_t>(in.u32(directoryCountAt), uint32_t((optionalBytes - (directoriesAt - optional)) / 8));
    auto directory = [&](int which) {
        DataDirectory d;
        if (uint32_t(which) < directoryCount) {
            d.rva = in.u32(directoriesAt + 8 * size_t(which));
            d.size = in.u32(directoriesAt + 8 * size_t(which) + 4);
        }
        return d;
    };

    const size_t sectionsAt = optional + optionalBytes;
    if (!in.has(sectionsAt, kSectionHeaderBytes * size_t(sectionCount))) {
        error = "the section table runs past the end of the file";
        return std::nullopt;
    }
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const size_t at = sectionsAt + kSectionHeaderBytes * i;
        PeSection s;
        const char* name = reinterpret_cast<const char*>(&bytes[at]);
        s.name.assign(name, strnlen(name, 8));
        s.virtualSize = in.u32(at + 8);
        s.virtualAddress = in.u32(at + 12);
        s.fileSize = in.u32(at + 16);
        s.fileOffset = in.u32(at + 20);
        // A section whose bytes the file does not hold is kept for its
        // addresses, with no bytes to read.
        if (!in.has(s.fileOffset, s.fileSize)) s.fileSize = s.fileOffset <= bytes.size() ? uint32_t(bytes.size() - s.fileOffset) : 0;
        image.sections.push_back(std::move(s));
    }
    if (!in.ok) {
        error = "the headers are cut short";
        return std::nullopt;
    }
    if (!readExports(in, image, directory(kExportDirectory), error)) return std::nullopt;
    if (!readImports(in, image, directory(kImportDirectory), error)) return std::nullopt;
    if (!readRelocations(in, image, directory(kRelocationDirectory), error)) return std::nullopt;
    if (!readTlsCallbacks(in, image, directory(kTlsDirectory), error)) return std::nullopt;
    return image;
}

std::optional<PeImage> readPeFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return std::nullopt;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto image = readPeImage(bytes, error);
    if (!image) error = path + ": " + error;
    return image;
}

}  // namespace host

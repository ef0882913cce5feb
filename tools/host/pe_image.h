// A Windows module read from its file, as the loader would read it, on any
// platform: its sections, its named exports, the libraries and functions it
// imports, and its checksum. Reads PE32 (32-bit) and PE32+ (64-bit) images.
// The file is untrusted: every offset and count in it is checked against the
// bytes there are, and a file that does not hold what it claims is refused
// with a reason instead of read past its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace host {

// The libraries a plug-in may import: those of every Windows installation.
inline constexpr const char* kWindowsSystemLibraries[] = {
    "advapi32.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "shell32.dll", "user32.dll",
};
bool isWindowsSystemLibrary(const std::string& lowerCaseName);

struct PeSection {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t fileOffset = 0;
    uint32_t fileSize = 0;
};

struct PeExport {
    std::string name;
    uint32_t rva = 0;        // address of the code, relative to the image base
    bool forwarded = false;  // names another library's export instead of code here
};

struct PeImport {
    std::string library;       // lower case
    std::string function;      // the imported name, or "#<ordinal>"
    uint32_t addressSlotRva = 0;  // where the loader writes the function's address
};

struct PeImage {
    uint16_t machine = 0;  // 0x14C: x86; 0x8664: x86-64
    bool pe32Plus = false;
    uint64_t imageBase = 0;
    std::vector<PeSection> sections;
    std::vector<PeExport> exports;  // named exports, in the order of the name table
    std::vector<std::string> importedLibraries;  // lower case, in the order of the import table
    std::vector<PeImport> importedFunctions;
    uint32_t storedChecksum = 0;    // the optional header's CheckSum field
    uint32_t computedChecksum = 0;  // the file summed as the loader sums it
    uint32_t entryPointRva = 0;     // 0: none
    // Absolute addresses the loader calls besides the entry point: the TLS
    // callbacks, in their list's order.
    std::vector<uint64_t> tlsCallbacks;
    // The absolute addresses the image holds in its own bytes (every word the
    // base relocations fix up), read as stored in the file: the addresses the
    // module takes, of code and of data.
    std::vector<uint64_t> storedAddresses;
};

// Reads an image from its bytes; on refusal returns nothing and says why.
std::optional<PeImage> readPeImage(const std::vector<unsigned char>& bytes, std::string& error);
std::optional<PeImage> readPeFile(const std::string& path, std::string& error);

// The PE checksum of a file's bytes: the file summed as 16-bit words with the
// carry folded back in, the 4 bytes at checksumOffset counted as zero, plus
// the file's length.
uint32_t peFileChecksum(const std::vector<unsigned char>& bytes, size_t checksumOffset);

}  // namespace host

#include "tools/host/module_tables.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace host {

namespace {

uint32_t littleEndianWord(const std::vector<unsigned char>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

}  // namespace

// The PE checksum: the file summed as 16-bit words with the carry folded back
// in, the checksum field itself counted as zero, plus the file's length.
PeChecksum peChecksum(const std::string& path) {
    PeChecksum result;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 0x40) return result;
    const size_t header = littleEndianWord(bytes, 0x3C);
    const size_t field = header + 24 + 64;  // signature, file header, then the optional header's CheckSum
    if (header > bytes.size() || field + 4 > bytes.size() || std::memcmp(&bytes[header], "PE\0\0", 4) != 0)
        return result;
    result.readable = true;
    result.stored = littleEndianWord(bytes, field);
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        if (i >= field && i < field + 4) continue;
        sum += bytes[i] | (i + 1 < bytes.size() ? uint32_t(bytes[i + 1]) << 8 : 0u);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    result.computed = uint32_t(sum + bytes.size());
    return result;
}

#if defined(_WIN32)

namespace {

const BYTE* moduleBase(const PluginLibrary& plugin) {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(plugin.DLLVersion), &module);
    return reinterpret_cast<const BYTE*>(module);
}

const IMAGE_DATA_DIRECTORY& directory(const BYTE* base, int which) {
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[which];
}

}  // namespace

std::set<std::string> exportedNames(const PluginLibrary& plugin) {
    std::set<std::string> result;
    const BYTE* base = moduleBase(plugin);
    if (base == nullptr) return result;
    const IMAGE_DATA_DIRECTORY& dir = directory(base, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (dir.VirtualAddress == 0) return result;
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) result.insert(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

std::vector<std::string> importedLibraries(const PluginLibrary& plugin) {
    std::vector<std::string> result;
    const BYTE* base = moduleBase(plugin);
    if (base == nullptr) return result;
    const IMAGE_DATA_DIRECTORY& dir = directory(base, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (dir.VirtualAddress == 0) return result;
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name != 0; ++d) {
        std::string name = reinterpret_cast<const char*>(base + d->Name);
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        result.push_back(name);
    }
    return result;
}

namespace {

bool readVersionResource(const std::string& path, std::vector<char>& data) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return false;
    data.assign(size, 0);
    return GetFileVersionInfoA(path.c_str(), 0, size, data.data()) != 0;
}

}  // namespace

std::string versionString(const std::string& path, const char* key) {
    std::vector<char> data;
    DWORD ignored = 0;
    if (GetFileVersionInfoSizeA(path.c_str(), &ignored) == 0) return "<no version resource>";
    if (!readVersionResource(path, data)) return "<unreadable>";
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904E4\\") + key;
    if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return "<missing>";
    return std::string(value);
}

std::string fixedFileVersion(const std::string& path) {
    std::vector<char> data;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!readVersionResource(path, data) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || length < sizeof(*info))
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

#endif

}  // namespace host

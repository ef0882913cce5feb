#include "tools/host/module_tables.h"

#include <optional>

#include "tools/host/pe_image.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace host {

// The exports and imports are read from the file, as the loader reads them,
// so they answer alike for 32-bit and 64-bit modules and on any platform.
std::set<std::string> exportedNames(const PluginLibrary& plugin) {
    std::set<std::string> result;
    std::string error;
    if (const std::optional<PeImage> image = readPeFile(plugin.path(), error))
        for (const PeExport& e : image->exports) result.insert(e.name);
    return result;
}

std::vector<std::string> importedLibraries(const PluginLibrary& plugin) {
    std::string error;
    const std::optional<PeImage> image = readPeFile(plugin.path(), error);
    return image ? image->importedLibraries : std::vector<std::string>();
}

#if defined(_WIN32)

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

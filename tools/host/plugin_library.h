// Loads a plug-in library the way the host program does (LoadLibrary and
// GetProcAddress on Windows, dlopen and dlsym elsewhere) and resolves every
// export through the host's pointer types.
#pragma once

#include <memory>
#include <string>

#include "plugin/plugin_api.h"

namespace host {

// Every export of the list through the host's pointer types, nullptr where a
// library lacks it.
struct ExportTable {
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) plugin_api::name name = nullptr;
#include "plugin/exports.inc"
};

inline constexpr int kExportCount = 0
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) +1
#include "plugin/exports.inc"
    ;

class PluginLibrary : public ExportTable {
public:
    // Loads the library at `path`. On failure returns nullptr and says why.
    static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string& error);
    ~PluginLibrary();

    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Address of an export by name, or nullptr.
    void* symbol(const char* name) const;
    const std::string& path() const { return path_; }

private:
    PluginLibrary() = default;
    void* handle_ = nullptr;
    std::string path_;
};

// Directory of the running program, with a trailing separator.
std::string programDirectory();

// Where the build puts deliverable `name` (ktr2, ktr4, qspan): beside the
// program, with the platform's library suffix.
std::string pluginPath(const std::string& name);

// Plug-in text (Windows-1252) as UTF-8; bytes the code page's Latin-1 range
// does not cover read '?'. A NULL pointer where text was due reads kNullText.
inline constexpr const char* kNullText = "(NULL)";
std::string textFromPlugin(const char* text);

}  // namespace host

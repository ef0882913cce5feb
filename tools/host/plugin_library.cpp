#include "tools/host/plugin_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace host {

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string& error) {
    std::unique_ptr<PluginLibrary> library(new PluginLibrary());
    library->path_ = path;
#if defined(_WIN32)
    library->handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (library->handle_ == nullptr) {
        error = "LoadLibrary failed for " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
#else
    library->handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->handle_ == nullptr) {
        const char* why = dlerror();
        error = "dlopen failed for " + path + ": " + (why != nullptr ? why : "unknown");
        return nullptr;
    }
#endif
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) \
    library->name = reinterpret_cast<plugin_api::name>(library->symbol(#name));
#include "plugin/exports.inc"
    return library;
}

PluginLibrary::~PluginLibrary() {
#if defined(_WIN32)
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (handle_ != nullptr) dlclose(handle_);
#endif
}

void* PluginLibrary::symbol(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
}

std::string programDirectory() {
#if defined(_WIN32)
    char buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, length);
    const auto slash = path.find_last_of("\\/");
#else
    char buffer[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    std::string path(buffer, length > 0 ? size_t(length) : 0);
    const auto slash = path.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string pluginPath(const std::string& name) {
#if defined(_WIN32)
    return programDirectory() + name + ".dll";
#else
    return programDirectory() + name + ".so";
#endif
}

std::string textFromPlugin(const char* text) {
    if (text == nullptr) return kNullText;  // a plug-in's fault, shown rather than followed
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p < 0x80) {
            out += char(*p);
        } else if (*p >= 0xA0) {  // the code page's Latin-1 range
            out += char(0xC0 | (*p >> 6));
            out += char(0x80 | (*p & 0x3F));
        } else {
            out += '?';
        }
    }
    return out;
}

}  // namespace host

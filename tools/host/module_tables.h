// What the Windows loader sees of a plug-in: the names in its export table,
// the libraries it imports, its version resource, and the PE checksum of its
// file. The checksum is read from the file on any platform; the rest needs
// the Windows loader and is there only in the Windows build.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"

namespace host {

struct PeChecksum {
    bool readable = false;  // a PE file whose header could be read
    uint32_t stored = 0;    // the optional header's CheckSum field
    uint32_t computed = 0;  // the checksum of the file as the loader computes it
};
PeChecksum peChecksum(const std::string& path);

#if defined(_WIN32)
// The export names of the loaded library, undecorated as the host looks them up.
std::set<std::string> exportedNames(const PluginLibrary& plugin);
// The names of the libraries it imports, in lower case.
std::vector<std::string> importedLibraries(const PluginLibrary& plugin);
// A string of the version resource's US English, Windows-1252 block, or
// "<no version resource>", "<unreadable>" or "<missing>".
std::string versionString(const std::string& path, const char* key);
// The fixed file version, "major.minor.patch.build", or "" without one.
std::string fixedFileVersion(const std::string& path);
#endif

}  // namespace host

// What the Windows loader sees of a plug-in: the names in its export table,
// the libraries it imports and its version resource. The version resource
// needs Windows and is there only in the Windows build; the tables are read
// from the file (tools/host/pe_image.h) on any platform.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tools/host/plugin_library.h"

namespace host {

// The export names of the library's file, undecorated as the host looks them
// up; empty for a file that is no Windows module.
std::set<std::string> exportedNames(const PluginLibrary& plugin);
// The names of the libraries it imports, in lower case.
std::vector<std::string> importedLibraries(const PluginLibrary& plugin);

#if defined(_WIN32)
// A string of the version resource's US English, Windows-1252 block, or
// "<no version resource>", "<unreadable>" or "<missing>".
std::string versionString(const std::string& path, const char* key);
// The fixed file version, "major.minor.patch.build", or "" without one.
std::string fixedFileVersion(const std::string& path);
#endif

}  // namespace host

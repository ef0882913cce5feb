// Fuzz target: the PE reader that the host kit, plugininfo and abi_check use
// on module files. Whatever the bytes, it must read them or refuse them with
// a reason, within the bytes given, and what it lists must hold together.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/host/pe_image.h"

namespace {

[[noreturn]] void fault(const char* what) {
    std::fprintf(stderr, "pe image fuzzer: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy: a read past the end is a sanitizer report.
    const std::vector<unsigned char> bytes(data, data + size);
    std::string error;
    const auto image = host::readPeImage(bytes, error);
    if (!image) {
        if (error.empty()) fault("refused without a reason");
        return 0;
    }
    for (const host::PeImport& i : image->importedFunctions) {
        bool listed = false;
        for (const std::string& library : image->importedLibraries) listed = listed || library == i.library;
        if (!listed) fault("an imported function names a library the table does not list");
    }
    for (const host::PeSection& s : image->sections)
        if (uint64_t(s.fileOffset) + s.fileSize > size && s.fileSize != 0) fault("a section claims bytes past the end");
    return 0;
}

// Whose a fault is, from the frames of a stack: this project's reader or
// the netCDF and HDF5 libraries it reads through. The SOFA fuzz target sets
// aside only inputs on which a fault is placed in a library; a fault of the
// reader's own (its frames first on the stack, or its own assertion) must
// stay in the run, and so must one whose owner cannot be told.
//
// A frame is a sanitizer report's line, "    #3 0x7f... in function
// file:line" or "    #3 0x7f... in (libhdf5_serial.so.103+0x1234)".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

enum class Owner { Nobody, Ours, Library };

// The owner of one frame: ours when its source file lies under
// `sourceRoot`, a library's when it lies in libnetcdf or libhdf5, nobody's
// for the sanitizer's runtime and the C and C++ libraries (an abort, a
// throw, malloc), which are passed over.
inline Owner frameOwner(std::string_view frame, std::string_view sourceRoot) {
    const size_t in = frame.find(" in ");
    const std::string_view function = in == std::string_view::npos ? std::string_view() : frame.substr(in + 4);
    for (std::string_view runtime : {"__interceptor_", "__asan", "__sanitizer", "__ubsan", "malloc ", "calloc ",
                                     "realloc ", "free ", "operator new", "operator delete"})
        if (function.substr(0, runtime.size()) == runtime) return Owner::Nobody;
    if (frame.find("libnetcdf") != std::string_view::npos || frame.find("libhdf5") != std::string_view::npos)
        return Owner::Library;
    if (!sourceRoot.empty() && frame.find(sourceRoot) != std::string_view::npos) return Owner::Ours;
    return Owner::Nobody;
}

// The owner of the first frame, innermost first, that has one.
inline Owner firstOwner(const std::vector<std::string>& frames, std::string_view sourceRoot) {
    for (const std::string& frame : frames)
        if (const Owner owner = frameOwner(frame, sourceRoot); owner != Owner::Nobody) return owner;
    return Owner::Nobody;
}

// The owner of the fault a sanitizer report describes. A memory fault
// belongs to whoever allocated the memory (our buffer that a library call
// overran is ours); a fault with no allocation of an owner to whoever ran
// first in the faulting stack.
inline Owner reportOwner(std::string_view report, std::string_view sourceRoot) {
    std::vector<std::string> fault, allocation;
    std::vector<std::string>* section = &fault;
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find('\n', start);
        if (end == std::string_view::npos) end = report.size();
        const std::string_view line = report.substr(start, end - start);
        start = end + 1;
        if (line.find("allocated by thread") != std::string_view::npos ||
            line.find("freed by thread") != std::string_view::npos)
            section = &allocation;
        else if (line.find("    #") != std::string_view::npos)
            section->emplace_back(line);
    }
    if (const Owner owner = firstOwner(allocation, sourceRoot); owner != Owner::Nobody) return owner;
    return firstOwner(fault, sourceRoot);
}

}  // namespace fuzz

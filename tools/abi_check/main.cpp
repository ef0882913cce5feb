// Checks a built 32-bit plug-in DLL against its export list without running
// it, so that the calling contract is proven on machines that cannot run
// 32-bit programs:
//   exports   every listed export under its undecorated name, and no other;
//   stack     every return of an export pops 4 bytes per argument (ret N),
//             the stdcall contract; a wrong count corrupts the host's stack;
//   imports   Windows system libraries only;
//   scope     no export computes in floating point, or calls code of ours
//             that does, where the host's x87 or SSE state is in force:
//             before its scope saves and sets the state, or after it hands
//             the host's back (IP_ShowDialog's modal loop between its two
//             scopes calls only the host's libraries and code that computes
//             nothing);
//   pointers  every function whose address the library holds (the dialog
//             procedure, window-enumeration callbacks, the C runtime's
//             handlers): the scope check where it opens a scope of its own,
//             and no floating-point work at all where it opens none;
//   load      the entry point and the TLS callbacks, which the loader runs
//             in the host's state: no floating-point work at all;
//   mmx       no path leaves MMX in use (no emms before the return);
//   x87       the named exports' code, with everything it calls, runs no x87
//             or MMX instruction (it would raise flags in a host that runs
//             masked, or tag its registers);
//   checksum  the PE checksum the loader verifies for drivers and some hosts.
//
//   abi_check --dll=ktr4.dll --objdump=i686-w64-mingw32-objdump [--x87-free=CI_GetCompFR]
//
// Prints a line per check and exits 1 if any fails.
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/abi_check/code_walk.h"
#include "tools/host/pe_image.h"

namespace {

struct ListedExport {
    const char* name;
    uint32_t stackBytes;
};

constexpr ListedExport kListed[] = {
#define PLUGIN_EXPORT(result, name, parameters, stackBytes) {#name, stackBytes},
#include "plugin/exports.inc"
};

struct Options {
    std::string dll;
    std::string objdump;
    std::vector<std::string> x87Free;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* key) {
            const std::string k = key;
            return a.rfind(k, 0) == 0 ? a.substr(k.size()) : std::string();
        };
        if (!value("--dll=").empty()) options.dll = value("--dll=");
        else if (!value("--objdump=").empty()) options.objdump = value("--objdump=");
        else if (!value("--x87-free=").empty()) options.x87Free.push_back(value("--x87-free="));
        else return false;
    }
    return !options.dll.empty() && !options.objdump.empty();
}

std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool disassemble(const Options& options, abi_check::Disassembly& code, std::string& error) {
    const std::string command = quoted(options.objdump) + " -d --no-show-raw-insn " + quoted(options.dll) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        error = "cannot run " + options.objdump;
        return false;
    }
    std::string listing;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) listing.append(buffer, n);
    if (pclose(pipe) != 0) {
        error = options.objdump + " failed: " + listing.substr(0, 400);
        return false;
    }
    std::istringstream in(listing);
    code = abi_check::Disassembly::parse(in);
    if (code.size() == 0) {
        error = options.objdump + " listed no instructions";
        return false;
    }
    return true;
}

class Report {
public:
    void check(const char* name, const std::vector<std::string>& faults, const std::string& passed) {
        if (faults.empty()) {
            std::printf("%-9s ok: %s\n", name, passed.c_str());
            return;
        }
        failed_ = true;
        for (const std::string& f : faults) std::printf("%-9s FAILED: %s\n", name, f.c_str());
    }
    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: abi_check --dll=PATH --objdump=PROGRAM [--x87-free=EXPORT]...\n");
        return 2;
    }
    std::string error;
    const std::optional<host::PeImage> image = host::readPeFile(options.dll, error);
    if (!image) {
        std::fprintf(stderr, "abi_check: %s\n", error.c_str());
        return 2;
    }
    abi_check::Disassembly code;
    if (!disassemble(options, code, error)) {
        std::fprintf(stderr, "abi_check: %s\n", error.c_str());
        return 2;
    }
    std::printf("%s: %s, %zu instructions\n", options.dll.c_str(), image->pe32Plus ? "PE32+" : "PE32", code.size());
    Report report;

    std::map<std::string, uint32_t> exported;
    std::vector<std::string> faults;
    for (const host::PeExport& e : image->exports) {
        if (e.forwarded) faults.push_back(e.name + " is forwarded to another library");
        exported[e.name] = e.rva;
    }
    std::set<std::string> listed;
    for (const ListedExport& l : kListed) {
        listed.insert(l.name);
        if (!exported.count(l.name)) faults.push_back(std::string(l.name) + " is not exported under that name");
    }
    for (const auto& [name, rva] : exported)
        if (!listed.count(name)) faults.push_back(name + " is exported but not in the list");
    report.check("exports", faults, std::to_string(listed.size()) + " listed names, undecorated, and no other");

    faults.clear();
    abi_check::ImportSlots importSlots;
    for (const host::PeImport& i : image->importedFunctions)
        importSlots[image->imageBase + i.addressSlotRva] = i.library + "!" + i.function;
    size_t returns = 0;
    for (const ListedExport& l : kListed) {
        const auto it = exported.find(l.name);
        if (it == exported.end()) continue;
        const abi_check::WalkResult w = abi_check::walk(code, image->imageBase + it->second, abi_check::Calls::Skip, importSlots);
        for (const std::string& p : w.problems) faults.push_back(std::string(l.name) + ": " + p);
        if (w.returns.empty()) faults.push_back(std::string(l.name) + " has no return");
        for (const abi_check::Return& r : w.returns) {
            ++returns;
            if (r.poppedBytes != l.stackBytes) {
                char text[160];
                std::snprintf(text, sizeof text, "%s returns at %llx popping %u bytes; its %u bytes of arguments need ret %u",
                              l.name, static_cast<unsigned long long>(r.address), unsigned(r.poppedBytes),
                              unsigned(l.stackBytes), unsigned(l.stackBytes));
                faults.push_back(text);
            }
        }
    }
    report.check("stack", faults, std::to_string(returns) + " returns, each popping its export's arguments");

    faults.clear();
    std::set<uint64_t> exportEntries;
    for (const ListedExport& l : kListed) {
        const auto it = exported.find(l.name);
        if (it == exported.end()) continue;
        const uint64_t entry = image->imageBase + it->second;
        exportEntries.insert(entry);
        for (const std::string& f : abi_check::scopeFaults(code, entry, importSlots))
            faults.push_back(std::string(l.name) + ": " + f);
    }
    report.check("scope", faults,
                 std::to_string(exportEntries.size()) +
                     " exports compute, and call code that computes, only between saving and setting both units "
                     "and handing the host's state back");

    // The functions whose address the library holds: a word the loader
    // relocates that points at the start of a function in .text.
    faults.clear();
    uint64_t textStart = 0, textEnd = 0;
    for (const host::PeSection& section : image->sections) {
        if (section.name == ".text") {
            textStart = image->imageBase + section.virtualAddress;
            textEnd = textStart + section.virtualSize;
        }
    }
    std::map<uint64_t, std::string> pointed;
    size_t inside = 0;
    for (uint64_t address : image->storedAddresses) {
        if (address < textStart || address >= textEnd || exportEntries.count(address)) continue;
        const std::string symbol = code.symbolAt(address);
        if (symbol.empty()) {
            ++inside;  // a place inside a function: a jump table's target
            continue;
        }
        pointed[address] = symbol;
    }
    size_t scopedCallbacks = 0;
    for (const auto& [address, symbol] : pointed) {
        if (abi_check::opensScope(code, address)) {
            ++scopedCallbacks;
            for (const std::string& f : abi_check::scopeFaults(code, address, importSlots)) faults.push_back(symbol + ": " + f);
        } else {
            for (const std::string& f : abi_check::floatingPointFaults(code, address, importSlots))
                faults.push_back(symbol + ", which opens no scope: " + f);
        }
    }
    report.check("pointers", faults,
                 std::to_string(pointed.size()) + " functions whose address the library holds (" +
                     std::to_string(scopedCallbacks) + " with a scope of their own), " + std::to_string(inside) +
                     " addresses inside functions");

    // What the loader runs: the entry point and the TLS callbacks.
    faults.clear();
    std::map<uint64_t, std::string> loaderCalls;
    if (image->entryPointRva != 0) loaderCalls[image->imageBase + image->entryPointRva] = "the entry point";
    for (uint64_t callback : image->tlsCallbacks) loaderCalls[callback] = "TLS callback " + code.symbolAt(callback);
    for (const auto& [address, what] : loaderCalls) {
        for (const std::string& f : abi_check::floatingPointFaults(code, address, importSlots)) faults.push_back(what + ": " + f);
    }
    report.check("load", faults,
                 "the entry point and " + std::to_string(image->tlsCallbacks.size()) +
                     " TLS callbacks run no floating-point work, nor anything they call directly");

    faults.clear();
    std::map<uint64_t, std::string> everything = pointed;
    everything.insert(loaderCalls.begin(), loaderCalls.end());
    for (const ListedExport& l : kListed) {
        const auto it = exported.find(l.name);
        if (it != exported.end()) everything[image->imageBase + it->second] = l.name;
    }
    for (const auto& [address, what] : everything) {
        for (const std::string& f : abi_check::mmxFaults(code, address, importSlots)) faults.push_back(what + ": " + f);
    }
    report.check("mmx", faults, std::to_string(everything.size()) + " entries leave no MMX use without emms");

    faults.clear();
    for (const std::string& library : image->importedLibraries)
        if (!host::isWindowsSystemLibrary(library)) faults.push_back("imports " + library + ", not a Windows system library");
    std::string libraries;
    for (const std::string& library : image->importedLibraries) libraries += (libraries.empty() ? "" : " ") + library;
    report.check("imports", faults, libraries);

    faults.clear();
    std::string x87Summary;
    for (const std::string& name : options.x87Free) {
        const auto it = exported.find(name);
        if (it == exported.end()) {
            faults.push_back(name + " is not exported");
            continue;
        }
        const abi_check::WalkResult w = abi_check::walk(code, image->imageBase + it->second, abi_check::Calls::Follow, importSlots);
        for (const std::string& p : w.problems) faults.push_back(name + ": " + p);
        for (const std::string& i : w.importsCalled) faults.push_back(name + " calls " + i + ", whose code cannot be checked");
        for (const abi_check::Instruction* ins : w.x87) {
            char text[200];
            std::snprintf(text, sizeof text, "%s reaches x87 or MMX code at %llx: %s %s", name.c_str(),
                          static_cast<unsigned long long>(ins->address), ins->mnemonic.c_str(), ins->operands.c_str());
            faults.push_back(text);
        }
        const size_t functions = w.functions.size();
        x87Summary += (x87Summary.empty() ? "" : "; ") + name + " reaches " + std::to_string(functions) +
                      (functions == 1 ? " function, " : " functions, ") + std::to_string(w.instructions) +
                      " instructions, no x87 or MMX instruction";
    }
    if (!options.x87Free.empty()) report.check("x87", faults, x87Summary);

    faults.clear();
    char sums[120];
    std::snprintf(sums, sizeof sums, "stored %08x, the file sums to %08x", unsigned(image->storedChecksum),
                  unsigned(image->computedChecksum));
    if (image->storedChecksum != image->computedChecksum) faults.push_back(sums);
    report.check("checksum", faults, sums);
    return report.failed() ? 1 : 0;
}

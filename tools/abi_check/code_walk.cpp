#include "tools/abi_check/code_walk.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <utility>

namespace abi_check {

namespace {

bool isHex(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c); });
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Prefixes that objdump prints before the mnemonic and that change nothing
// about where control goes or which unit computes.
bool isPrefix(const std::string& word) {
    static const std::set<std::string> prefixes = {"rep",  "repz", "repe", "repnz", "repne", "lock",
                                                   "bnd",  "notrack", "data16", "addr32", "cs", "ds",
                                                   "es",   "ss",   "fs",   "gs",    "rex",  "rex.W"};
    return prefixes.count(word) != 0;
}

// The target of a direct jump or call: "65d84be3 <name+0x53>".
bool directTarget(const std::string& operands, uint64_t& target) {
    const std::string word = operands.substr(0, operands.find(' '));
    if (!isHex(word)) return false;
    target = std::strtoull(word.c_str(), nullptr, 16);
    return true;
}

// The memory slot of an indirect jump or call through an absolute address,
// as a jump through the import address table reads: "*0x65e5b1e0" (32-bit)
// or "*0x1f2e(%rip)        # 140012345 <...>" (64-bit).
bool absoluteSlot(const std::string& operands, uint64_t& slot) {
    if (operands.rfind("*0x", 0) != 0) return false;
    const size_t end = operands.find_first_not_of("0123456789abcdef", 3);
    if (end == std::string::npos || operands[end] == ' ') {
        slot = std::strtoull(operands.c_str() + 3, nullptr, 16);
        return true;
    }
    if (operands.compare(end, 6, "(%rip)") == 0) {
        const size_t comment = operands.find("# ");
        if (comment == std::string::npos) return false;
        slot = std::strtoull(operands.c_str() + comment + 2, nullptr, 16);
        return true;
    }
    return false;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Instructions after which the code does not go on to the next one.
bool stopsHere(const std::string& mnemonic) {
    return mnemonic == "ud2" || mnemonic == "hlt" || mnemonic == "int3" || mnemonic == "(bad)";
}

std::string hex(uint64_t value) {
    std::ostringstream out;
    out << std::hex << value;
    return out.str();
}

}  // namespace

Disassembly Disassembly::parse(std::istream& listing) {
    Disassembly code;
    std::string line;
    while (std::getline(listing, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string head = trimmed(line.substr(0, colon));
        if (isHex(head) && colon + 1 < line.size() && line[colon + 1] == '\t') {
            std::istringstream words(line.substr(colon + 2));
            Instruction ins;
            ins.address = std::strtoull(head.c_str(), nullptr, 16);
            while (words >> ins.mnemonic && isPrefix(ins.mnemonic)) {
            }
            std::getline(words, ins.operands);
            ins.operands = trimmed(ins.operands);
            if (!ins.mnemonic.empty()) code.instructions_[ins.address] = std::move(ins);
            continue;
        }
        // "65d84b90 <_CI_GetCompFR@16>:"
        const size_t space = line.find(" <");
        if (space != std::string::npos && isHex(line.substr(0, space)) && line.size() > 2 &&
            line.compare(line.size() - 2, 2, ">:") == 0) {
            code.symbols_[std::strtoull(line.c_str(), nullptr, 16)] = line.substr(space + 2, line.size() - space - 4);
        }
    }
    return code;
}

const Instruction* Disassembly::at(uint64_t address) const {
    const auto it = instructions_.find(address);
    return it == instructions_.end() ? nullptr : &it->second;
}

const Instruction* Disassembly::fallThrough(const Instruction& from) const {
    auto it = instructions_.upper_bound(from.address);
    if (it == instructions_.end() || symbols_.count(it->first) != 0) return nullptr;
    return &it->second;
}

bool isX87Arithmetic(const Instruction& instruction) {
    const std::string& m = instruction.mnemonic;
    if (m.empty() || m[0] != 'f') return false;
    // Not x87 at all: saving the whole SSE and x87 state, and 3DNow!'s switch.
    if (startsWith(m, "fxsave") || startsWith(m, "fxrstor") || m == "femms") return false;
    // Reading and restoring the host's control word, status word, flags and
    // environment: what the export boundary does around every call.
    static const std::set<std::string> stateOnly = {"fnstcw", "fstcw", "fldcw", "fnstsw", "fstsw", "fnclex",
                                                    "fclex",  "fnstenv", "fstenv", "fldenv", "fwait"};
    return stateOnly.count(m) == 0;
}

WalkResult walk(const Disassembly& code, uint64_t entry, Calls calls, const ImportSlots& imports) {
    WalkResult result;
    // Each place is walked once per function it is reached in: a return
    // counts for the export only where it ends the export's own call.
    std::vector<std::pair<uint64_t, uint64_t>> work{{entry, entry}};
    std::set<std::pair<uint64_t, uint64_t>> seen;
    result.functions.insert(entry);
    while (!work.empty()) {
        auto [address, owner] = work.back();
        work.pop_back();
        const Instruction* ins = code.at(address);
        if (ins == nullptr) {
            result.problems.push_back("no instruction starts at " + hex(address));
            continue;
        }
        while (ins != nullptr && seen.insert({ins->address, owner}).second) {
            ++result.instructions;
            const std::string& m = ins->mnemonic;
            if (isX87Arithmetic(*ins)) result.x87.push_back(ins);
            uint64_t target = 0;
            if (startsWith(m, "ret")) {
                Return r;
                r.address = ins->address;
                if (startsWith(ins->operands, "$0x")) r.poppedBytes = uint32_t(std::strtoul(ins->operands.c_str() + 3, nullptr, 16));
                if (owner == entry) result.returns.push_back(r);
                break;
            }
            if (startsWith(m, "jmp")) {
                if (directTarget(ins->operands, target)) {
                    work.emplace_back(target, owner);
                } else if (absoluteSlot(ins->operands, target) && imports.count(target)) {
                    result.importsCalled.insert(imports.at(target));
                    if (owner == entry)
                        result.problems.push_back("leaves through the import table at " + hex(ins->address) + " (" +
                                                  imports.at(target) + "), whose return cannot be checked here");
                } else {
                    result.problems.push_back("cannot follow the indirect jump at " + hex(ins->address) + ": " +
                                              m + " " + ins->operands);
                }
                break;
            }
            if ((m[0] == 'j' || startsWith(m, "loop")) && directTarget(ins->operands, target)) {
                work.emplace_back(target, owner);
            } else if (m[0] == 'j') {
                result.problems.push_back("cannot follow the branch at " + hex(ins->address) + ": " + m + " " +
                                          ins->operands);
            } else if (startsWith(m, "call")) {
                if (directTarget(ins->operands, target)) {
                    if (calls == Calls::Follow && result.functions.insert(target).second) work.emplace_back(target, target);
                } else if (absoluteSlot(ins->operands, target) && imports.count(target)) {
                    result.importsCalled.insert(imports.at(target));
                } else if (calls == Calls::Follow) {
                    result.problems.push_back("cannot follow the indirect call at " + hex(ins->address) + ": " +
                                              ins->operands);
                }
            } else if (stopsHere(m)) {
                break;
            }
            ins = code.fallThrough(*ins);
        }
    }
    return result;
}

bool isFloatingPointWork(const Instruction& instruction) {
    const std::string& m = instruction.mnemonic;
    if (isX87Arithmetic(instruction)) return true;
    if (instruction.operands.find("%xmm") == std::string::npos && !startsWith(m, "cvt")) return false;
    if (startsWith(m, "cvt") || startsWith(m, "ucomis") || startsWith(m, "comis")) return true;
    static const char* const operations[] = {"add", "sub", "mul", "div", "sqrt", "min", "max", "rcp", "rsqrt", "cmp",
                                             "hadd", "hsub", "round", "dp"};
    static const char* const forms[] = {"ss", "sd", "ps", "pd"};
    for (const char* op : operations) {
        for (const char* form : forms) {
            if (m == std::string(op) + form) return true;
        }
    }
    return false;
}

namespace {

// The x87 loads and stores that only pass a float result to the caller.
bool isResultHandOff(const Instruction& instruction) {
    static const std::set<std::string> handOff = {"fld", "flds", "fldl", "fldt", "fldz", "fld1",
                                                   "fstp", "fstps", "fstpl"};
    return handOff.count(instruction.mnemonic) != 0;
}

bool isCall(const Instruction& instruction) { return startsWith(instruction.mnemonic, "call"); }

}  // namespace

std::vector<std::string> scopeFaults(const Disassembly& code, uint64_t entry) {
    // Every instruction of the export's own path and where each may go next,
    // calls stepped over.
    std::map<uint64_t, std::vector<uint64_t>> next;
    std::vector<uint64_t> work{entry};
    while (!work.empty()) {
        const uint64_t address = work.back();
        work.pop_back();
        const Instruction* ins = code.at(address);
        if (ins == nullptr || next.count(address)) continue;
        std::vector<uint64_t>& to = next[address];
        const std::string& m = ins->mnemonic;
        uint64_t target = 0;
        const bool ends = startsWith(m, "ret") || startsWith(m, "jmp") || stopsHere(m);
        if ((m[0] == 'j' || startsWith(m, "loop")) && directTarget(ins->operands, target)) to.push_back(target);
        if (!ends) {
            if (const Instruction* after = code.fallThrough(*ins)) to.push_back(after->address);
        }
        for (uint64_t t : to) work.push_back(t);
    }
    std::vector<std::string> faults;
    auto fault = [&](const Instruction& ins, const char* where) {
        faults.push_back(std::string(isCall(ins) ? "a call" : "floating-point work") + " " + where + " at " +
                         hex(ins.address) + ": " + ins.mnemonic + " " + ins.operands);
    };
    // Before the scope: what runs from the entry until the host's MXCSR is read.
    std::set<uint64_t> before;
    work = {entry};
    while (!work.empty()) {
        const uint64_t address = work.back();
        work.pop_back();
        const Instruction* ins = code.at(address);
        if (ins == nullptr || ins->mnemonic == "stmxcsr" || !before.insert(address).second) continue;
        if (isFloatingPointWork(*ins) || isCall(*ins)) fault(*ins, "before the scope is entered");
        for (uint64_t t : next[address]) work.push_back(t);
    }
    // After the scope: what can reach a return without loading an MXCSR again.
    std::set<uint64_t> after;
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [address, to] : next) {
            const Instruction* ins = code.at(address);
            if (after.count(address) || ins->mnemonic == "ldmxcsr") continue;
            const bool reachesReturn = startsWith(ins->mnemonic, "ret") ||
                                       std::any_of(to.begin(), to.end(), [&](uint64_t t) { return after.count(t) != 0; });
            if (reachesReturn) grew = after.insert(address).second || grew;
        }
    }
    for (uint64_t address : after) {
        const Instruction& ins = *code.at(address);
        if ((isFloatingPointWork(ins) && !isResultHandOff(ins)) || isCall(ins)) fault(ins, "after the host's state is handed back");
    }
    return faults;
}

}  // namespace abi_check

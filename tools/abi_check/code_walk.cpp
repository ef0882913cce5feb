#include "tools/abi_check/code_walk.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <tuple>
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

std::string Disassembly::symbolAt(uint64_t address) const {
    const auto it = symbols_.find(address);
    return it == symbols_.end() ? std::string() : it->second;
}

const Instruction* Disassembly::fallThrough(const Instruction& from) const {
    auto it = instructions_.upper_bound(from.address);
    if (it == instructions_.end() || symbols_.count(it->first) != 0) return nullptr;
    return &it->second;
}

namespace {

std::map<std::string, FloatingPoint> buildTable() {
    std::map<std::string, FloatingPoint> table;
    auto add = [&](const std::string& m, FloatingPoint kind) { table[m] = kind; };
    const char* const forms[] = {"ss", "sd", "ps", "pd"};
    std::vector<std::string> sse;
    // Arithmetic and compares of SSE and SSE2, scalar and packed, with the
    // compare's predicates as objdump spells them (cmpltss, cmpunordpd ...).
    for (const char* op : {"add", "sub", "mul", "div", "min", "max", "sqrt", "cmp"}) {
        for (const char* form : forms) sse.push_back(std::string(op) + form);
    }
    for (const char* predicate : {"eq", "lt", "le", "unord", "neq", "nlt", "nle", "ord"}) {
        for (const char* form : forms) sse.push_back(std::string("cmp") + predicate + form);
    }
    for (const char* m : {"rcpss", "rcpps", "rsqrtss", "rsqrtps", "comiss", "comisd", "ucomiss", "ucomisd",
                          // SSE3
                          "haddps", "haddpd", "hsubps", "hsubpd", "addsubps", "addsubpd",
                          // SSE4.1
                          "dpps", "dppd", "roundss", "roundsd", "roundps", "roundpd",
                          // Conversions: every one rounds or may raise invalid.
                          "cvtss2sd", "cvtsd2ss", "cvtps2pd", "cvtpd2ps", "cvtdq2ps", "cvtps2dq", "cvttps2dq",
                          "cvtdq2pd", "cvtpd2dq", "cvttpd2dq", "cvtpi2ps", "cvtps2pi", "cvttps2pi", "cvtpi2pd",
                          "cvtpd2pi", "cvttpd2pi"}) {
        sse.push_back(m);
    }
    // Between integers and scalars, with the operand size AT&T may append.
    for (const char* m : {"cvtsi2ss", "cvtsi2sd", "cvtss2si", "cvtsd2si", "cvttss2si", "cvttsd2si"}) {
        for (const char* size : {"", "l", "q"}) sse.push_back(std::string(m) + size);
    }
    for (const std::string& m : sse) {
        add(m, FloatingPoint::SseWork);
        add("v" + m, FloatingPoint::SseWork);  // the same under VEX
    }
    for (const char* m : {"ldmxcsr", "stmxcsr", "vldmxcsr", "vstmxcsr", "fxsave", "fxrstor", "fxsave64",
                          "fxrstor64", "xsave", "xrstor", "xsaveopt", "xsave64", "xrstor64"}) {
        add(m, FloatingPoint::SseState);
    }
    // The x87's own state: control word, status word, environment, and the
    // whole unit saved, restored or reset.
    for (const char* m : {"fnstcw", "fstcw", "fldcw", "fnstsw", "fstsw", "fnclex", "fclex", "fnstenv", "fstenv",
                          "fldenv", "fnsave", "fsave", "frstor", "fwait", "wait"}) {
        add(m, FloatingPoint::X87State);
    }
    // x87 arithmetic, loads, stores, compares and register moves.
    for (const char* m :
         {"f2xm1",  "fabs",    "fadd",    "fadds",   "faddl",   "faddp",   "fiadd",   "fiadds",  "fiaddl",
          "fbld",   "fbstp",   "fchs",    "fcmovb",  "fcmove",  "fcmovbe", "fcmovu",  "fcmovnb", "fcmovne",
          "fcmovnbe", "fcmovnu", "fcom",  "fcoms",   "fcoml",   "fcomp",   "fcomps",  "fcompl",  "fcompp",
          "fcomi",  "fcomip",  "fucomi",  "fucomip", "fcos",    "fdecstp", "fdiv",    "fdivs",   "fdivl",
          "fdivp",  "fidiv",   "fidivs",  "fidivl",  "fdivr",   "fdivrs",  "fdivrl",  "fdivrp",  "fidivr",
          "fidivrs", "fidivrl", "ffree",  "ffreep",  "ficom",   "ficoms",  "ficoml",  "ficomp",  "ficomps",
          "ficompl", "fild",   "filds",   "fildl",   "fildll",  "fildq",   "fincstp", "fist",    "fists",
          "fistl",  "fistp",   "fistps",  "fistpl",  "fistpll", "fistpq",  "fisttp",  "fisttps", "fisttpl",
          "fisttpll", "fld",   "flds",    "fldl",    "fldt",    "fld1",    "fldl2t",  "fldl2e",  "fldpi",
          "fldlg2", "fldln2",  "fldz",    "fmul",    "fmuls",   "fmull",   "fmulp",   "fimul",   "fimuls",
          "fimull", "fnop",    "fpatan",  "fprem",   "fprem1",  "fptan",   "frndint", "fscale",  "fsin",
          "fsincos", "fsqrt",  "fst",     "fsts",    "fstl",    "fstp",    "fstps",   "fstpl",   "fstpt",
          "fsub",   "fsubs",   "fsubl",   "fsubp",   "fisub",   "fisubs",  "fisubl",  "fsubr",   "fsubrs",
          "fsubrl", "fsubrp",  "fisubr",  "fisubrs", "fisubrl", "ftst",    "fucom",   "fucomp",  "fucompp",
          "fxam",   "fxch",    "fxtract", "fyl2x",   "fyl2xp1",
          // Resetting the unit wipes the host's control word, flags and
          // registers: no save or restore of theirs.
          "fninit", "finit"}) {
        add(m, FloatingPoint::X87Work);
    }
    add("emms", FloatingPoint::MmxExit);
    add("femms", FloatingPoint::MmxExit);
    return table;
}

// An MMX register among the operands: %mm0 to %mm7, not %xmm or %ymm.
bool namesMmxRegister(const std::string& operands) {
    for (size_t at = operands.find("%mm"); at != std::string::npos; at = operands.find("%mm", at + 1)) {
        if (at + 3 < operands.size() && operands[at + 3] >= '0' && operands[at + 3] <= '7') return true;
    }
    return false;
}

}  // namespace

const std::map<std::string, FloatingPoint>& floatingPointMnemonics() {
    static const std::map<std::string, FloatingPoint> table = buildTable();
    return table;
}

FloatingPoint classify(const Instruction& instruction) {
    const std::map<std::string, FloatingPoint>& table = floatingPointMnemonics();
    const auto it = table.find(instruction.mnemonic);
    if (it != table.end()) return it->second;
    if (namesMmxRegister(instruction.operands)) return FloatingPoint::Mmx;
    // An x87 instruction this table does not know yet: work, to be safe.
    if (!instruction.mnemonic.empty() && instruction.mnemonic[0] == 'f') return FloatingPoint::X87Work;
    return FloatingPoint::None;
}

bool isX87Arithmetic(const Instruction& instruction) {
    const FloatingPoint kind = classify(instruction);
    return kind == FloatingPoint::X87Work || kind == FloatingPoint::Mmx;
}

bool isFloatingPointWork(const Instruction& instruction) {
    const FloatingPoint kind = classify(instruction);
    return kind == FloatingPoint::SseWork || kind == FloatingPoint::X87Work || kind == FloatingPoint::Mmx;
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
            if (isFloatingPointWork(*ins)) result.work.push_back(ins);
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

namespace {

bool isCall(const Instruction& instruction) { return startsWith(instruction.mnemonic, "call"); }

// The instructions of a function's own path from `entry` and where each may go
// next, calls stepped over.
std::map<uint64_t, std::vector<uint64_t>> ownPath(const Disassembly& code, uint64_t entry) {
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
    return next;
}

// Where one unit stands on a path: the host's state, saved, the plug-in's
// loaded (or, skipped, known to be the same), the host's loaded back.
enum class Unit : uint8_t { Host, Saved, Set, Back };

struct Node {
    uint64_t address;
    Unit sse, x87;
    bool operator<(const Node& o) const {
        return std::tie(address, sse, x87) < std::tie(o.address, o.sse, o.x87);
    }
};

const char* const kOpenLoads[] = {"fld", "flds", "fldl", "fldt", "fldz", "fld1"};
bool isX87Load(const Instruction& instruction) {
    return std::find(std::begin(kOpenLoads), std::end(kOpenLoads), instruction.mnemonic) != std::end(kOpenLoads);
}

// The words each unit's host state is saved to, anywhere on the path: a load
// from one of them hands the host's state back, a load from anywhere else
// sets the plug-in's.
struct SaveSlots {
    std::set<std::string> sse, x87;
};

// What one instruction does to the units. `next` is the instruction after it.
void apply(const Instruction& ins, const Instruction* next, const SaveSlots& slots, Unit& sse, Unit& x87,
           bool& sseSets, bool& x87Sets) {
    sseSets = x87Sets = false;
    const std::string& m = ins.mnemonic;
    // A save opens a scope afresh, whatever came before it.
    if (m == "stmxcsr" || m == "vstmxcsr") {
        sse = Unit::Saved;
    } else if (m == "ldmxcsr" || m == "vldmxcsr") {
        if (slots.sse.count(ins.operands)) {
            sse = Unit::Back;
        } else {
            sseSets = sse == Unit::Saved;
            sse = Unit::Set;
        }
    } else if (m == "fnstcw" || m == "fstcw") {
        x87 = Unit::Saved;
    } else if (m == "fldcw") {
        if (slots.x87.count(ins.operands)) {
            x87 = Unit::Back;
        } else {
            x87Sets = x87 == Unit::Saved;
            x87 = Unit::Set;
        }
    } else if (m == "fldenv" || m == "frstor") {
        x87 = Unit::Back;
    } else if (m == "fnclex" || m == "fclex") {
        // Before loading the plug-in's control word it only clears what the
        // host left pending; anywhere else it hands the host's flags back.
        const bool setsNext = next != nullptr && next->mnemonic == "fldcw" && !slots.x87.count(next->operands);
        if (!setsNext && (x87 == Unit::Saved || x87 == Unit::Set)) x87 = Unit::Back;
    }
}

bool hostLive(Unit unit) { return unit == Unit::Host || unit == Unit::Back; }

}  // namespace

bool opensScope(const Disassembly& code, uint64_t entry) {
    for (const auto& [address, to] : ownPath(code, entry)) {
        const std::string& m = code.at(address)->mnemonic;
        if (m == "stmxcsr" || m == "vstmxcsr") return true;
    }
    return false;
}

std::vector<std::string> floatingPointFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports) {
    std::vector<std::string> faults;
    const WalkResult w = walk(code, entry, Calls::Follow, imports);
    for (const Instruction* ins : w.work) {
        faults.push_back("floating-point work at " + hex(ins->address) + ": " + ins->mnemonic + " " + ins->operands);
    }
    return faults;
}

std::vector<std::string> scopeFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports) {
    const std::map<uint64_t, std::vector<uint64_t>> next = ownPath(code, entry);
    SaveSlots slots;
    for (const auto& [address, to] : next) {
        const Instruction& ins = *code.at(address);
        if (ins.mnemonic == "stmxcsr" || ins.mnemonic == "vstmxcsr") slots.sse.insert(ins.operands);
        if (ins.mnemonic == "fnstcw" || ins.mnemonic == "fstcw") slots.x87.insert(ins.operands);
    }
    // Every (instruction, state of both units) a path can reach, and the
    // edges between them.
    std::map<Node, std::vector<Node>> graph;
    std::map<Node, std::pair<bool, bool>> sets;  // the node's instruction loads the plug-in's SSE, x87 state
    std::vector<Node> work{{entry, Unit::Host, Unit::Host}};
    while (!work.empty()) {
        const Node node = work.back();
        work.pop_back();
        if (graph.count(node)) continue;
        const Instruction& ins = *code.at(node.address);
        Unit sse = node.sse, x87 = node.x87;
        bool sseSets = false, x87Sets = false;
        apply(ins, code.fallThrough(ins), slots, sse, x87, sseSets, x87Sets);
        sets[node] = {sseSets, x87Sets};
        std::vector<Node>& edges = graph[node];
        for (uint64_t to : next.at(node.address)) edges.push_back({to, sse, x87});
        for (const Node& n : edges) work.push_back(n);
    }
    // Nodes from which, the unit still saved and not yet set, a load of the
    // plug-in's state lies ahead: the scope's way in, where the host's state
    // is still in force though already saved.
    auto waysIn = [&](bool sseUnit) {
        std::map<Node, std::vector<Node>> back;
        for (const auto& [node, edges] : graph) {
            for (const Node& n : edges) back[n].push_back(node);
        }
        std::set<Node> in;
        std::vector<Node> todo;
        for (const auto& [node, loads] : sets) {
            if (sseUnit ? loads.first : loads.second) todo.push_back(node);
        }
        while (!todo.empty()) {
            const Node n = todo.back();
            todo.pop_back();
            if ((sseUnit ? n.sse : n.x87) != Unit::Saved || !in.insert(n).second) continue;
            // The way in starts at the save: what ran before it belongs to
            // another scope, or to none.
            const std::string& m = code.at(n.address)->mnemonic;
            const bool save = sseUnit ? (m == "stmxcsr" || m == "vstmxcsr") : (m == "fnstcw" || m == "fstcw");
            if (save) continue;
            for (const Node& b : back[n]) todo.push_back(b);
        }
        return in;
    };
    const std::set<Node> sseWayIn = waysIn(true), x87WayIn = waysIn(false);
    // From a node, whether every path to a return runs no further
    // floating-point work and no call: an x87 load there hands the result over.
    std::map<uint64_t, bool> quietToReturn;
    std::function<bool(uint64_t, std::set<uint64_t>&)> quiet = [&](uint64_t address, std::set<uint64_t>& seen) {
        if (!seen.insert(address).second) return true;
        for (uint64_t to : next.at(address)) {
            const Instruction& ins = *code.at(to);
            if (isFloatingPointWork(ins) || isCall(ins) || !quiet(to, seen)) return false;
        }
        return true;
    };

    std::set<std::string> faults;
    for (const auto& [node, edges] : graph) {
        const Instruction& ins = *code.at(node.address);
        const FloatingPoint kind = classify(ins);
        // The host's state is in force before either unit is saved and set,
        // and after either is handed back: the plug-in's holds only where
        // both are its own.
        const bool before = node.sse == Unit::Host || node.x87 == Unit::Host || sseWayIn.count(node) ||
                            x87WayIn.count(node);
        const bool sseOut = before || hostLive(node.sse) || hostLive(node.x87);
        const bool x87Out = sseOut;
        const char* where = before ? "before the scope is entered" : "after the host's state is handed back";
        std::string fault;
        if ((kind == FloatingPoint::SseWork && sseOut) ||
            ((kind == FloatingPoint::X87Work || kind == FloatingPoint::Mmx) && x87Out)) {
            // The one exception: the float result loaded into st(0) for the
            // caller, last, after both units are back.
            std::set<uint64_t> seen;
            const bool handOff = !before && isX87Load(ins) && quiet(node.address, seen);
            if (!handOff) fault = std::string("floating-point work ") + where;
        } else if (isCall(ins) && (sseOut || x87Out)) {
            uint64_t target = 0;
            if (directTarget(ins.operands, target)) {
                const WalkResult callee = walk(code, target, Calls::Follow, imports);
                if (!callee.work.empty()) {
                    fault = std::string("a call to code that computes in floating point (") +
                            callee.work.front()->mnemonic + " at " + hex(callee.work.front()->address) + ") " + where;
                } else if (!callee.problems.empty()) {
                    fault = std::string("a call to code that cannot be followed (") + callee.problems.front() + ") " +
                            where;
                }
            } else if (!(absoluteSlot(ins.operands, target) && imports.count(target))) {
                fault = std::string("an indirect call ") + where;
            }
        }
        if (!fault.empty()) faults.insert(fault + " at " + hex(ins.address) + ": " + ins.mnemonic + " " + ins.operands);
    }
    return {faults.begin(), faults.end()};
}

std::vector<std::string> mmxFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports) {
    std::vector<std::string> faults;
    for (uint64_t function : walk(code, entry, Calls::Follow, imports).functions) {
        const std::map<uint64_t, std::vector<uint64_t>> next = ownPath(code, function);
        for (const auto& [address, to] : next) {
            const Instruction& use = *code.at(address);
            if (classify(use) != FloatingPoint::Mmx) continue;
            // A return reachable from the use without an emms on the way.
            std::set<uint64_t> seen;
            std::vector<uint64_t> todo(to.begin(), to.end());
            bool leaks = startsWith(use.mnemonic, "ret");
            while (!todo.empty() && !leaks) {
                const uint64_t at = todo.back();
                todo.pop_back();
                const Instruction& ins = *code.at(at);
                if (!seen.insert(at).second || classify(ins) == FloatingPoint::MmxExit) continue;
                if (startsWith(ins.mnemonic, "ret") || next.at(at).empty()) leaks = true;
                for (uint64_t t : next.at(at)) todo.push_back(t);
            }
            if (leaks) {
                faults.push_back("MMX use at " + hex(address) + " (" + use.mnemonic + " " + use.operands +
                                 ") reaches a return with no emms");
            }
        }
    }
    return faults;
}


}  // namespace abi_check

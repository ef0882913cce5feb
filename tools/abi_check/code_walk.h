// Follows the machine code of an exported function through a disassembly
// (objdump -d in AT&T syntax) from its entry: every instruction that can run
// between the call and a return, through jumps and branches, and if asked
// through the functions it calls. What the walk finds answers, without
// running a 32-bit plug-in: does every return pop exactly the caller's
// arguments, does a path compute in floating point where the host's state is
// in force, and does it leave the x87 registers in MMX use.
#pragma once

#include <cstdint>
#include <istream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace abi_check {

struct Instruction {
    uint64_t address = 0;
    std::string mnemonic;  // prefixes such as rep, lock or bnd removed
    std::string operands;
};

class Disassembly {
public:
    // Reads objdump's listing: "<address>:\t<mnemonic> <operands>" per
    // instruction and "<address> <symbol>:" where a symbol starts.
    static Disassembly parse(std::istream& listing);

    const Instruction* at(uint64_t address) const;
    // The instruction after `address`, unless a symbol starts there: code
    // falls through into the next function only after a call that does not
    // return, so the walk stops at a symbol.
    const Instruction* fallThrough(const Instruction& from) const;
    size_t size() const { return instructions_.size(); }
    // The symbol that starts at `address`, or empty.
    std::string symbolAt(uint64_t address) const;

private:
    std::map<uint64_t, Instruction> instructions_;
    std::map<uint64_t, std::string> symbols_;
};

// What an instruction does to the floating-point units, by its mnemonic and,
// for MMX, its registers. Work computes under the control state in force and
// may raise its flags; state instructions read or load the control state
// itself; MMX use takes over the x87 registers until emms hands them back.
enum class FloatingPoint { None, SseWork, SseState, X87Work, X87State, Mmx, MmxExit };

FloatingPoint classify(const Instruction& instruction);
// Every mnemonic the classification names, with its class: SSE to SSE4.1 and
// their VEX forms, x87, and the MMX exits. (Other MMX instructions are told by
// their registers; an unknown mnemonic starting with f counts as x87 work.)
const std::map<std::string, FloatingPoint>& floatingPointMnemonics();

// x87 arithmetic, loads and stores, or MMX, which runs on the x87 registers:
// what changes the x87 state a host that runs masked would see.
bool isX87Arithmetic(const Instruction& instruction);
// Floating-point work of any unit: SSE, x87 or MMX.
bool isFloatingPointWork(const Instruction& instruction);

struct Return {
    uint64_t address = 0;
    uint32_t poppedBytes = 0;  // the immediate of `ret $N`, 0 for a plain ret
};

struct WalkResult {
    std::vector<Return> returns;
    std::vector<const Instruction*> x87;  // x87 work or MMX
    std::vector<const Instruction*> work;  // floating-point work of any unit
    std::set<uint64_t> functions;         // entries of the functions walked
    std::set<std::string> importsCalled;  // "library!function" reached through the import table
    std::vector<std::string> problems;    // what the walk could not follow
    size_t instructions = 0;
};

// Where the loader writes imported functions' addresses, by absolute address,
// as "library!function".
using ImportSlots = std::map<uint64_t, std::string>;

enum class Calls { Skip, Follow };

// Walks from `entry`. With Calls::Skip, a direct call is taken to return to
// the next instruction and its callee is not entered (the callee's returns
// pop the callee's own arguments); with Calls::Follow the callee is walked
// too, and its returns are not collected as the entry's.
WalkResult walk(const Disassembly& code, uint64_t entry, Calls calls, const ImportSlots& imports);

// A function's code against its floating-point scope. The scope saves the
// host's x87 control word (fnstcw) and MXCSR (stmxcsr), loads the plug-in's
// where they differ (fldcw, ldmxcsr; skipped where the host's already are),
// and on the way out loads the host's back (ldmxcsr from the saved word;
// fnclex, fldcw from the saved word or fldenv for the x87). Each unit is
// followed along every path on its own. Faults:
// - floating-point work of a unit before its state is saved, between the save
//   and the load of the plug-in's state, or after the host's is loaded back;
// - a call there to code of the library that computes in floating point, or
//   whose target cannot be told (calls through the import table run the
//   host's own libraries, in the host's state by design);
// - after the scope, anything but one x87 load as the last floating-point
//   instruction before the return: the float result handed over in st(0).
std::vector<std::string> scopeFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports = {});

// Whether the function's own path (calls stepped over) saves the host's
// MXCSR: it opens a scope of its own.
bool opensScope(const Disassembly& code, uint64_t entry);

// Floating-point work anywhere in the function and everything it calls:
// for code that runs outside every scope (the entry point, TLS callbacks,
// callbacks that open no scope).
std::vector<std::string> floatingPointFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports);

// MMX use on a path to a return that passes no emms (or femms): the x87
// registers left tagged in use, so that the host's next x87 load overflows.
// Walks every function called as well.
std::vector<std::string> mmxFaults(const Disassembly& code, uint64_t entry, const ImportSlots& imports);

}  // namespace abi_check

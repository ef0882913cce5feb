// Follows the machine code of an exported function through a disassembly
// (objdump -d in AT&T syntax) from its entry: every instruction that can run
// between the call and a return, through jumps and branches, and if asked
// through the functions it calls. What the walk finds answers two questions
// about a 32-bit plug-in without running it: does every return pop exactly
// the caller's arguments, and does a path run x87 arithmetic.
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

private:
    std::map<uint64_t, Instruction> instructions_;
    std::map<uint64_t, std::string> symbols_;
};

struct Return {
    uint64_t address = 0;
    uint32_t poppedBytes = 0;  // the immediate of `ret $N`, 0 for a plain ret
};

struct WalkResult {
    std::vector<Return> returns;
    std::vector<const Instruction*> x87;  // x87 arithmetic or data movement
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

// Whether an instruction is x87 work that a caller's floating-point state
// could see: everything in the x87 set except saving and restoring the
// control word, status word and environment, which the export boundary does
// to hand the host's state back.
bool isX87Arithmetic(const Instruction& instruction);

// Whether an instruction computes in floating point and so depends on, and
// may raise flags in, the control state it runs under: SSE and SSE2 scalar and
// packed arithmetic, conversions and comparisons, and x87 arithmetic. Moves,
// shuffles and bitwise logic compute nothing that a control word governs.
bool isFloatingPointWork(const Instruction& instruction);

// An export's code against its floating-point scope, which reads the host's
// MXCSR (stmxcsr) on entry and loads it back (ldmxcsr) on every way out.
// Faults: floating-point work or a call on a path from the entry before the
// first stmxcsr, and on a path from the last ldmxcsr to a return. Loading a
// float result into the x87 register that returns it is the calling
// convention, not work, and is allowed after the scope.
std::vector<std::string> scopeFaults(const Disassembly& code, uint64_t entry);

}  // namespace abi_check

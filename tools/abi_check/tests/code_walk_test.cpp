// The walk through objdump listings written here in its format: which
// returns belong to an export, what a call or a jump leads to, and which x87
// instructions count as arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "tools/abi_check/code_walk.h"

namespace {

using abi_check::Calls;
using abi_check::Disassembly;
using abi_check::walk;

Disassembly parse(const std::string& listing) {
    std::istringstream in(listing);
    return Disassembly::parse(in);
}

std::vector<uint32_t> popped(const abi_check::WalkResult& w) {
    std::vector<uint32_t> out;
    for (const abi_check::Return& r : w.returns) out.push_back(r.poppedBytes);
    std::sort(out.begin(), out.end());
    return out;
}

// An export whose two branches return separately, one of them through a
// tail jump into another function, and a helper it calls that computes on
// the x87 and returns with a plain ret.
const char* const kListing = R"(
ktr4.dll:     file format pei-i386

Disassembly of section .text:

10001000 <_Export@8>:
10001000:	push   %ebx
10001001:	cmpl   $0x0,0x8(%esp)
10001006:	je     10001010 <_Export@8+0x10>
10001008:	call   10001040 <_helper>
1000100d:	pop    %ebx
1000100e:	ret    $0x8
10001010:	pop    %ebx
10001011:	jmp    10001020 <_Tail@8>
10001016:	xchg   %ax,%ax

10001020 <_Tail@8>:
10001020:	fnstcw 0x4(%esp)
10001024:	ret    $0x4

10001040 <_helper>:
10001040:	flds   0x4(%esp)
10001044:	rep stos %eax,%es:(%edi)
10001046:	ret    
10001047:	nop

10001050 <_Aborts@0>:
10001050:	call   10001060 <_abort>
10001055:	nop

10001060 <_abort>:
10001060:	jmp    *0x10005000
10001066:	ud2    
)";

TEST(CodeWalk, FindsEveryReturnOfAnExportThroughBranchesAndTailJumps) {
    const Disassembly code = parse(kListing);
    const auto w = walk(code, 0x10001000, Calls::Skip, {});
    EXPECT_EQ(popped(w), (std::vector<uint32_t>{4, 8}));
    EXPECT_TRUE(w.problems.empty());
    EXPECT_TRUE(w.x87.empty()) << "the helper is not entered when calls are skipped";
}

TEST(CodeWalk, FollowingCallsFindsTheCalleesX87ButNotItsReturns) {
    const Disassembly code = parse(kListing);
    const auto w = walk(code, 0x10001000, Calls::Follow, {});
    EXPECT_EQ(popped(w), (std::vector<uint32_t>{4, 8}));
    ASSERT_EQ(w.x87.size(), 1u) << "fnstcw saves the host's state and is no arithmetic";
    EXPECT_EQ(w.x87[0]->address, 0x10001040u);
    EXPECT_EQ(w.functions, (std::set<uint64_t>{0x10001000, 0x10001040}));
}

TEST(CodeWalk, StopsAtTheNextFunctionAfterACallThatDoesNotReturn) {
    abi_check::ImportSlots imports{{0x10005000, "msvcrt.dll!abort"}};
    const auto w = walk(parse(kListing), 0x10001050, Calls::Follow, imports);
    EXPECT_TRUE(w.returns.empty()) << "no return of _abort's neighbour may count";
    EXPECT_EQ(w.importsCalled, (std::set<std::string>{"msvcrt.dll!abort"}));
    EXPECT_TRUE(w.problems.empty()) << w.problems.front();
}

TEST(CodeWalk, ReportsWhatItCannotFollow) {
    const Disassembly code = parse(R"(
20001000 <_Switch@4>:
20001000:	jmp    *0x20003000(,%eax,4)
20001010 <_ThroughImport@4>:
20001010:	jmp    *0x20005000
20001020 <_Register@0>:
20001020:	call   *%eax
20001022:	ret
)");
    EXPECT_EQ(walk(code, 0x20001000, Calls::Skip, {}).problems.size(), 1u);
    const auto tail = walk(code, 0x20001010, Calls::Skip, {{0x20005000, "kernel32.dll!Sleep"}});
    ASSERT_EQ(tail.problems.size(), 1u);
    EXPECT_NE(tail.problems[0].find("kernel32.dll!Sleep"), std::string::npos);
    EXPECT_TRUE(walk(code, 0x20001020, Calls::Skip, {}).problems.empty());
    EXPECT_EQ(walk(code, 0x20001020, Calls::Follow, {}).problems.size(), 1u);
    EXPECT_EQ(walk(code, 0x20001050, Calls::Skip, {}).problems.size(), 1u) << "no instruction there";
}

TEST(CodeWalk, ReadsMnemonicsBehindPrefixesAndSixtyFourBitImportSlots) {
    const Disassembly code = parse(R"(
0000000140001000 <Export>:
   140001000:	bnd jmp 140001010 <Export+0x10>
   140001005:	ret
   140001010:	rex.W jmp *0x1fea(%rip)        # 140003000 <__imp_Sleep>
)");
    const abi_check::Instruction* first = code.at(0x140001000);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->mnemonic, "jmp");
    const auto w = walk(code, 0x140001000, Calls::Skip, {{0x140003000, "kernel32.dll!Sleep"}});
    EXPECT_TRUE(w.returns.empty()) << "the ret after an unconditional jump is never reached";
    EXPECT_EQ(w.importsCalled, (std::set<std::string>{"kernel32.dll!Sleep"}));
}

TEST(CodeWalk, TellsX87ArithmeticFromStateHandling) {
    auto x87 = [](const char* mnemonic) {
        abi_check::Instruction i;
        i.mnemonic = mnemonic;
        return abi_check::isX87Arithmetic(i);
    };
    for (const char* m : {"fld", "flds", "fstps", "fildl", "fistpll", "faddp", "fchs", "fxch", "fucomip", "fninit"})
        EXPECT_TRUE(x87(m)) << m;
    for (const char* m : {"fnstcw", "fldcw", "fnstsw", "fnclex", "fnstenv", "fldenv", "fxsave", "fxrstor", "movss",
                          "addss", "cvtsi2ss"})
        EXPECT_FALSE(x87(m)) << m;
}

}  // namespace

namespace {

// An export with the scope's shape: the host's MXCSR read, ours loaded when
// it differs, the body, the host's loaded back and the float result handed
// to the caller in st(0).
const char* const kScoped = R"(
30001000 <_Scoped@4>:
30001000:	stmxcsr 0x4(%esp)
30001005:	cmpl   $0x1f80,0x4(%esp)
3000100d:	je     30001014 <_Scoped@4+0x14>
3000100f:	ldmxcsr 0x8(%esp)
30001014:	cvtsi2ss 0xc(%esp),%xmm0
3000101a:	call   30001100 <_helper>
3000101f:	movss  %xmm0,(%esp)
30001024:	ldmxcsr 0x4(%esp)
30001029:	flds   (%esp)
3000102c:	ret    $0x4

30001100 <_helper>:
30001100:	mulss  %xmm0,%xmm0
30001104:	ret
)";

}  // namespace

TEST(ScopeCheck, AcceptsWorkAndCallsBetweenTheStatesAndTheResultsHandOff) {
    const auto faults = abi_check::scopeFaults(parse(kScoped), 0x30001000);
    EXPECT_TRUE(faults.empty()) << faults.front();
}

TEST(ScopeCheck, FindsWorkBeforeTheHostsStateIsReadAndAfterItIsBack) {
    // The conversion hoisted above the read of the host's state.
    const char* const early = R"(
30001000 <_Early@4>:
30001000:	cvtsi2ss 0xc(%esp),%xmm0
30001006:	stmxcsr 0x4(%esp)
3000100b:	ldmxcsr 0x8(%esp)
30001010:	movss  %xmm0,(%esp)
30001015:	ldmxcsr 0x4(%esp)
3000101a:	ret    $0x4
)";
    const auto before = abi_check::scopeFaults(parse(early), 0x30001000);
    ASSERT_EQ(before.size(), 1u);
    EXPECT_NE(before[0].find("before the scope"), std::string::npos) << before[0];

    std::string late = kScoped;
    late.replace(late.find("30001029:\tflds   (%esp)"), 23, "30001029:\tsqrtss %xmm0,%xmm0");
    const auto after = abi_check::scopeFaults(parse(late), 0x30001000);
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].find("after the host's state is handed back"), std::string::npos) << after[0];

    std::string callsLate = kScoped;
    callsLate.replace(callsLate.find("30001029:\tflds   (%esp)"), 23, "30001029:\tcall   30001100 <_helper>");
    EXPECT_EQ(abi_check::scopeFaults(parse(callsLate), 0x30001000).size(), 1u);
}

TEST(ScopeCheck, TellsFloatingPointWorkFromMovesAndLogic) {
    auto work = [](const char* mnemonic, const char* operands) {
        abi_check::Instruction i;
        i.mnemonic = mnemonic;
        i.operands = operands;
        return abi_check::isFloatingPointWork(i);
    };
    EXPECT_TRUE(work("mulps", "%xmm1,%xmm0"));
    EXPECT_TRUE(work("divsd", "%xmm1,%xmm0"));
    EXPECT_TRUE(work("ucomiss", "%xmm1,%xmm0"));
    EXPECT_TRUE(work("cmpltps", "%xmm1,%xmm0") || work("cmpps", "$0x1,%xmm1,%xmm0"));
    EXPECT_TRUE(work("cvttss2si", "%xmm0,%eax"));
    EXPECT_TRUE(work("cvtsi2ss", "0x4(%esp),%xmm0"));
    EXPECT_TRUE(work("faddp", "%st,%st(1)"));
    EXPECT_FALSE(work("movss", "%xmm0,(%esp)"));
    EXPECT_FALSE(work("xorps", "%xmm0,%xmm0"));
    EXPECT_FALSE(work("shufps", "$0x0,%xmm0,%xmm0"));
    EXPECT_FALSE(work("pand", "%xmm1,%xmm0"));
    EXPECT_FALSE(work("addl", "$0x4,%esp"));
    EXPECT_FALSE(work("cmpsl", "%es:(%edi),%ds:(%esi)"));
}

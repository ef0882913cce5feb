// The walk through objdump listings written here in its format: which
// returns belong to an export, what a call or a jump leads to, and which x87
// instructions count as arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// An export with the scope's shape: the host's x87 control word and MXCSR
// saved, the plug-in's loaded where they differ, the body, the host's loaded
// back (the x87's flags cleared where the host had none) and the float
// result handed to the caller in st(0).
const char* const kScoped = R"(
30001000 <_Scoped@4>:
30001000:	fnstcw 0x10(%esp)
30001004:	stmxcsr 0x4(%esp)
30001009:	testb  $0x1,0x14(%esp)
3000100e:	je     30001014 <_Scoped@4+0x14>
30001010:	fnclex
30001012:	fldcw  0x12(%esp)
30001014:	cmpl   $0x1f80,0x4(%esp)
3000101c:	je     30001023 <_Scoped@4+0x23>
3000101e:	ldmxcsr 0x8(%esp)
30001023:	cvtsi2ss 0xc(%esp),%xmm0
30001029:	call   30001100 <_helper>
3000102e:	movss  %xmm0,(%esp)
30001033:	fnclex
30001035:	ldmxcsr 0x4(%esp)
3000103a:	flds   (%esp)
3000103d:	ret    $0x4

30001100 <_helper>:
30001100:	mulss  %xmm0,%xmm0
30001104:	ret
30001105:	nop

30001200 <_quiet>:
30001200:	mov    %eax,%ecx
30001202:	ret
)";

std::vector<std::string> faultsAfterReplacing(const char* line, const char* with) {
    std::string listing = kScoped;
    const size_t at = listing.find(line);
    EXPECT_NE(at, std::string::npos) << line;
    listing.replace(at, std::strlen(line), with);
    return abi_check::scopeFaults(parse(listing), 0x30001000, {{0x30005000, "user32.dll!GetActiveWindow"}});
}

}  // namespace

TEST(ScopeCheck, AcceptsWorkAndCallsBetweenTheStatesAndTheResultsHandOff) {
    const auto faults = abi_check::scopeFaults(parse(kScoped), 0x30001000);
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_TRUE(abi_check::opensScope(parse(kScoped), 0x30001000));
    EXPECT_FALSE(abi_check::opensScope(parse(kScoped), 0x30001100));
}

TEST(ScopeCheck, FindsWorkWhereEitherUnitIsTheHosts) {
    const struct {
        const char* line;
        const char* with;
        const char* where;
    } cases[] = {
        // Hoisted above the save of the x87 control word.
        {"30001000:\tfnstcw 0x10(%esp)", "30001000:\tcvtsi2ss 0xc(%esp),%xmm0", "before the scope"},
        // Between the save and the conditional load of the plug-in's MXCSR.
        {"30001014:\tcmpl   $0x1f80,0x4(%esp)", "30001014:\tcmpltss %xmm1,%xmm0", "before the scope"},
        // x87 work once the x87's flags are the host's again.
        {"30001035:\tldmxcsr 0x4(%esp)", "30001035:\tfmul   %st,%st(1)", "after the host's state"},
        // Rounding the result to single precision on the way out.
        {"3000103a:\tflds   (%esp)", "3000103a:\tfstps  (%esp)", "after the host's state"},
        // A compare after the scope, and a second load.
        {"3000103a:\tflds   (%esp)", "3000103a:\tcmpltss %xmm1,%xmm0", "after the host's state"},
        {"3000103d:\tret    $0x4", "3000103d:\tflds   (%esp)", "after the host's state"},
        // Calls into code that computes, where the host's state holds.
        {"30001000:\tfnstcw 0x10(%esp)", "30001000:\tcall   30001100 <_helper>", "before the scope"},
        {"3000103a:\tflds   (%esp)", "3000103a:\tcall   30001100 <_helper>", "after the host's state"},
        {"3000103a:\tflds   (%esp)", "3000103a:\tcall   *%eax", "after the host's state"},
    };
    for (const auto& c : cases) {
        const auto faults = faultsAfterReplacing(c.line, c.with);
        ASSERT_FALSE(faults.empty()) << c.with;
        EXPECT_NE(faults.front().find(c.where), std::string::npos) << faults.front();
    }
    // Outside the scope the host's own libraries may run, and code of ours
    // that computes nothing: a modal loop between two scopes.
    EXPECT_TRUE(faultsAfterReplacing("3000103a:\tflds   (%esp)", "3000103a:\tcall   *0x30005000").empty());
    EXPECT_TRUE(faultsAfterReplacing("3000103a:\tflds   (%esp)", "3000103a:\tcall   30001200 <_quiet>").empty());
}

TEST(ScopeCheck, MmxLeftInUseIsFound) {
    const Disassembly code = parse(R"(
40001000 <_Leaks@0>:
40001000:	movq   (%eax),%mm0
40001003:	test   %eax,%eax
40001005:	je     4000100a <_Leaks@0+0xa>
40001007:	emms
40001009:	ret
4000100a:	ret
40001010 <_Clean@0>:
40001010:	paddd  %mm1,%mm0
40001013:	emms
40001015:	ret
)");
    EXPECT_EQ(abi_check::mmxFaults(code, 0x40001000, {}).size(), 1u) << "one path skips the emms";
    EXPECT_TRUE(abi_check::mmxFaults(code, 0x40001010, {}).empty());
    abi_check::Instruction mmx{0, "paddd", "%mm1,%mm0"};
    EXPECT_TRUE(abi_check::isX87Arithmetic(mmx)) << "MMX runs on the x87's registers";
}

// Every mnemonic of the table is classified as the table says, and the
// integer and data-movement instructions of SSE2 count as no work.
TEST(ScopeCheck, ClassifiesEveryMnemonicOfTheTable) {
    using abi_check::FloatingPoint;
    size_t sse = 0, x87 = 0;
    for (const auto& [mnemonic, kind] : abi_check::floatingPointMnemonics()) {
        const abi_check::Instruction ins{0, mnemonic, "%xmm1,%xmm0"};
        EXPECT_EQ(abi_check::classify(ins), kind) << mnemonic;
        const bool work = kind == FloatingPoint::SseWork || kind == FloatingPoint::X87Work;
        EXPECT_EQ(abi_check::isFloatingPointWork(ins), work) << mnemonic;
        sse += kind == FloatingPoint::SseWork, x87 += kind == FloatingPoint::X87Work;
    }
    EXPECT_GT(sse, 200u) << "scalar and packed, VEX forms, predicates and conversions";
    EXPECT_GT(x87, 100u);
    for (const char* m : {"cmpltss", "cmpunordpd", "cmpnleps", "roundsd", "dpps", "dppd", "cvttsd2si", "cvtsi2ssl",
                          "haddps", "vcmpless", "fninit", "fisttpl"}) {
        EXPECT_TRUE(abi_check::isFloatingPointWork({0, m, "%xmm1,%xmm0"})) << m;
    }
    for (const char* m : {"paddd", "psubq", "pmuludq", "pand", "pandn", "por", "pxor", "pcmpeqd", "pcmpgtb", "pshufd",
                          "punpckldq", "punpckhqdq", "movdqa", "movdqu", "movd", "movq", "pslld", "psrlq", "psrad",
                          "packssdw", "pmaddwd", "pmovmskb", "movss", "movsd", "movaps", "movups", "movapd", "shufps",
                          "unpcklps", "andps", "andnps", "orps", "xorps", "xorpd", "movmskps", "blendps", "pinsrw",
                          "pextrw", "pshuflw", "cmpsl", "addl", "cmpl"}) {
        EXPECT_FALSE(abi_check::isFloatingPointWork({0, m, "%xmm1,%xmm0"})) << m;
    }
    for (const char* m : {"fnstcw", "fldcw", "fnstsw", "fnclex", "fnstenv", "fldenv", "stmxcsr", "ldmxcsr", "fxsave"}) {
        const FloatingPoint kind = abi_check::classify({0, m, "0x4(%esp)"});
        EXPECT_TRUE(kind == FloatingPoint::SseState || kind == FloatingPoint::X87State) << m;
    }
}

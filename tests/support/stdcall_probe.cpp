#include "tests/support/stdcall_probe.h"

#if defined(__i386__) && defined(__GNUC__)

// cdecl: (function, args, count, ProbedCall*). Saves ESP in EBX (callee-saved, so a correct
// stdcall function keeps it), pushes the arguments right to left, calls, then reports
// ESP - EBX.
extern "C" void __cdecl vorkast_probe_stdcall(const void*, const std::uint32_t*, int,
                                              vorkast::test::ProbedCall*);
asm(R"(
    .text
    .globl _vorkast_probe_stdcall
_vorkast_probe_stdcall:
    pushl %ebp
    movl  %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl  %esp, %ebx
    movl  12(%ebp), %esi
    movl  16(%ebp), %ecx
1:  testl %ecx, %ecx
    jz    2f
    decl  %ecx
    pushl (%esi,%ecx,4)
    jmp   1b
2:  call  *8(%ebp)
    movl  20(%ebp), %ecx
    movl  %eax, (%ecx)
    movl  %esp, %eax
    subl  %ebx, %eax
    movl  %eax, 4(%ecx)
    leal  -12(%ebp), %esp
    popl  %edi
    popl  %esi
    popl  %ebx
    popl  %ebp
    ret
)");

namespace vorkast::test {
bool StdcallProbeAvailable() { return true; }
ProbedCall CallStdcall(const void* function, const std::uint32_t* args, int count) {
    ProbedCall call{};
    vorkast_probe_stdcall(function, args, count, &call);
    return call;
}
}  // namespace vorkast::test

#else

namespace vorkast::test {
bool StdcallProbeAvailable() { return false; }
ProbedCall CallStdcall(const void*, const std::uint32_t*, int) { return {}; }
}  // namespace vorkast::test

#endif

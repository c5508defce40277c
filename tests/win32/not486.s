# One of each instruction a 486 lacks, then instructions it has: the
# instruction-set check must name exactly the first group.
    .text
    .globl _not486
_not486:
    cmovne  %ecx, %eax
    fcmovb  %st(1), %st
    fcomi   %st(1), %st
    fucomip %st(1), %st
    nopw    0(%eax,%eax,1)
    nopl    0(%eax)
    cpuid
    rdtsc
    rdpmc
    cmpxchg8b (%esi)
    sysenter
    syscall
    endbr32
    movq    %mm0, %mm1
    movaps  %xmm0, %xmm1
    paddb   (%esi), %mm2
    lfence
    prefetchnta (%esi)
# The 486 has these: BSWAP, CMPXCHG and XADD came with it.
    bswap   %eax
    cmpxchg %ecx, (%esi)
    xadd    %eax, (%esi)
    fcom    %st(1)
    fucomp  %st(1)
    nop
    xchg    %ax, %ax
    lea     0(%esi), %esi
    ret

// A stand-in for the program under test: every form of IN and OUT that the
// harness decodes, once each. After each IN of the configuration data, the
// whole EAX goes out to port 0x80, so the trace shows which bytes the IN
// replaced and which it kept.
int main()
{
    unsigned eax;
    __asm__ volatile("movl $0x80003840, %%eax\n\t"
                     "movw $0xcf8, %%dx\n\t"
                     "outl %%eax, %%dx\n\t" // EF
                     "movw $0xcfc, %%dx\n\t"
                     "movl $0xaabbcc00, %%eax\n\t"
                     "inb %%dx, %%al\n\t"    // EC
                     "outl %%eax, $0x80\n\t" // E7
                     "movl $0xaabb0000, %%eax\n\t"
                     "inw %%dx, %%ax\n\t" // 66 ED
                     "outl %%eax, $0x80\n\t"
                     "inl %%dx, %%eax\n\t" // ED
                     "outl %%eax, $0x80\n\t"
                     "movb $0x5a, %%al\n\t"
                     "movw $0xcfd, %%dx\n\t"
                     "outb %%al, %%dx\n\t" // EE
                     "movw $0x1234, %%ax\n\t"
                     "movw $0xcfe, %%dx\n\t"
                     "outw %%ax, %%dx\n\t" // 66 EF
                     "movl $0x11223344, %%eax\n\t"
                     "inb $0x80, %%al\n\t"  // E4
                     "outb %%al, $0x80\n\t" // E6
                     "inw $0x80, %%ax\n\t"  // 66 E5
                     "outw %%ax, $0x80\n\t" // 66 E7
                     : "=a"(eax)
                     :
                     : "edx", "memory");
    return eax == 0x1122ffff ? 42 : 1;
}

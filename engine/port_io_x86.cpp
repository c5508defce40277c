// Port access by the x86 instructions themselves. Windows 95/98/Me let a
// user-mode program execute IN and OUT on these ports; the NT family does not.
#include "port_io.h"

void port_out32(std::uint16_t port, std::uint32_t value)
{
    __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
}

std::uint8_t port_in8(std::uint16_t port)
{
    std::uint8_t value;
    __asm__ __volatile__("inb %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

void port_out8(std::uint16_t port, std::uint8_t value)
{
    __asm__ __volatile__("outb %0, %w1" : : "a"(value), "Nd"(port));
}

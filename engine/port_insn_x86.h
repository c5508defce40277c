// The x86 port instructions, for the Windows 9x programs. Windows 95/98/Me
// let a user-mode program execute IN and OUT on the PCI configuration ports;
// the NT family does not.
#pragma once

#include <cstdint>

inline void insn_out32(std::uint16_t port, std::uint32_t value)
{
    __asm__ __volatile__("outl %0, %w1" : : "a"(value), "Nd"(port));
}

inline void insn_out8(std::uint16_t port, std::uint8_t value)
{
    __asm__ __volatile__("outb %0, %w1" : : "a"(value), "Nd"(port));
}

inline std::uint32_t insn_in32(std::uint16_t port)
{
    std::uint32_t value;
    __asm__ __volatile__("inl %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

inline std::uint8_t insn_in8(std::uint16_t port)
{
    std::uint8_t value;
    __asm__ __volatile__("inb %w1, %0" : "=a"(value) : "Nd"(port));
    return value;
}

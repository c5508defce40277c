// The engine's port seam on the hardware itself.
#include "port_insn_x86.h"
#include "port_io.h"

void port_out32(std::uint16_t port, std::uint32_t value)
{
    insn_out32(port, value);
}

std::uint32_t port_in32(std::uint16_t port)
{
    return insn_in32(port);
}

std::uint8_t port_in8(std::uint16_t port)
{
    return insn_in8(port);
}

void port_out8(std::uint16_t port, std::uint8_t value)
{
    insn_out8(port, value);
}

// The port seam of host builds: every access goes to the active virtual chipset.
#include "../engine/port_io.h"
#include "chipset.h"

void port_out32(std::uint16_t port, std::uint32_t value)
{
    sim::active_chipset().io_write(port, 4, value);
}

std::uint32_t port_in32(std::uint16_t port)
{
    return sim::active_chipset().io_read(port, 4);
}

std::uint8_t port_in8(std::uint16_t port)
{
    return static_cast<std::uint8_t>(sim::active_chipset().io_read(port, 1));
}

void port_out8(std::uint16_t port, std::uint8_t value)
{
    sim::active_chipset().io_write(port, 1, value);
}

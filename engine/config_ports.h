// The two I/O ports of PCI Configuration Mechanism #1, for the engine that
// drives them, the virtual chipset that answers them and the harness that
// reads the program's trace of them.
#pragma once

#include <cstdint>

// CONFIG_ADDRESS, written 32 bits wide: enable, bus, device, function, register.
const std::uint16_t CONFIG_ADDRESS = 0xCF8;
// CONFIG_DATA: one byte lane per port, 0xCFC to 0xCFF.
const std::uint16_t CONFIG_DATA = 0xCFC;

// The only way the engine reaches the hardware: x86 I/O ports.
//
// The Windows build issues the instructions themselves (port_io_x86.cpp);
// host builds link the virtual chipset, which defines the same three names.
#pragma once

#include <cstdint>

// 32-bit OUT and IN: used only for CONFIG_ADDRESS at 0xCF8.
void port_out32(std::uint16_t port, std::uint32_t value);
std::uint32_t port_in32(std::uint16_t port);
// 8-bit IN and OUT: the byte lanes of CONFIG_DATA, 0xCFC to 0xCFF.
std::uint8_t port_in8(std::uint16_t port);
void port_out8(std::uint16_t port, std::uint8_t value);

// Configuration Mechanism #1: the two I/O ports, the layout of a
// configuration address and the standard header's offsets that the
// programs address by name. No C runtime: the Windows 9x programs use it.
//
// CONFIG_ADDRESS (0xCF8, written 32 bits wide): bit 31 enable, 23-16 bus,
// 15-11 device, 10-8 function, 7-2 dword; CONFIG_DATA (0xCFC-0xCFF): the
// byte lane is the port's low two bits. Linux, arch/x86/pci/direct.c
// (PCI_CONF1_ADDRESS); QEMU, hw/pci/pci_host.c (pci_host_config_write).
#pragma once

#include <cstdint>

const std::uint16_t CONFIG_ADDRESS = 0xCF8;
const std::uint16_t CONFIG_DATA = 0xCFC;
const std::uint32_t CONF1_ENABLE = 0x80000000u;
// Bits 30-24 are reserved: host bridges ignore them.
const std::uint32_t CONF1_RESERVED = 0x7F000000u;
// The bits CONFIG_ADDRESS keeps: 30-24 and 1-0 read back as 0.
const std::uint32_t CONF1_LATCHED = 0x80FFFFFCu;

// No field is masked: large numbers spill into the neighbouring fields and
// the bus number, as the settings file's own arithmetic does.
constexpr std::uint32_t conf1_address(std::uint32_t bus, std::uint32_t device,
                                      std::uint32_t function, std::uint32_t reg)
{
    return CONF1_ENABLE | bus << 16 | device << 11 | function << 8 | reg;
}

constexpr unsigned conf1_bus(std::uint32_t address)
{
    return address >> 16 & 0xFF;
}
constexpr unsigned conf1_device(std::uint32_t address)
{
    return address >> 11 & 0x1F;
}
constexpr unsigned conf1_function(std::uint32_t address)
{
    return address >> 8 & 7;
}
// The register a data port reaches under `address`: the address's dword
// plus the port's byte lane.
constexpr unsigned conf1_register(std::uint32_t address, std::uint16_t data_port)
{
    return (address & 0xFC) | (data_port & 3u);
}
// The address of dword `reg` of the function `address` selects.
constexpr std::uint32_t conf1_dword(std::uint32_t address, unsigned reg)
{
    return (address & 0x80FFFF00u) | reg;
}
// The data port of a register's byte lane.
constexpr std::uint16_t conf1_data_port(std::uint32_t reg)
{
    return static_cast<std::uint16_t>(CONFIG_DATA + (reg & 3));
}

// Standard header offsets, by pciutils' names (lib/header.h).
const unsigned PCI_VENDOR_ID = 0x00;
const unsigned PCI_COMMAND = 0x04;
const unsigned PCI_STATUS = 0x06;
const unsigned PCI_CLASS_REVISION = 0x08; // class code in the upper 24 bits
const unsigned PCI_HEADER_TYPE = 0x0E;
const unsigned PCI_PRIMARY_BUS = 0x18; // bridges: primary, secondary, subordinate
const unsigned PCI_SECONDARY_BUS = 0x19;
const unsigned PCI_SUBORDINATE_BUS = 0x1A;

// The hardware side of kvtlpeek: reads of configuration space. The only
// writes here are configuration addresses to 0xCF8.
#include "kvtlpeek.h"
#include "port_insn_x86.h"

void hw_out32(std::uint16_t port, std::uint32_t value)
{
    insn_out32(port, value);
}

std::uint32_t hw_in32(std::uint16_t port)
{
    return insn_in32(port);
}

std::uint8_t hw_in8(std::uint16_t port)
{
    return insn_in8(port);
}

bool mechanism1_present()
{
    std::uint32_t saved = hw_in32(CONFIG_ADDRESS);
    hw_out32(CONFIG_ADDRESS, CONF1_ENABLE);
    bool present = hw_in32(CONFIG_ADDRESS) == CONF1_ENABLE;
    hw_out32(CONFIG_ADDRESS, saved);
    return present;
}

bool slot_empty(std::uint32_t id)
{
    unsigned vendor = id & 0xFFFF, device = id >> 16;
    return vendor == 0xFFFF || (vendor == 0 && (device == 0 || device == 0xFFFF));
}

bool mechanism1_reaches_functions()
{
    const std::uint32_t INTEL = 0x8086, COMPAQ = 0x0E11;
    for (unsigned devfn = 0; devfn < 256; devfn++) {
        std::uint32_t vendor = config_read32(0, devfn >> 3, devfn & 7, 0x00) & 0xFFFF;
        if (vendor == INTEL || vendor == COMPAQ)
            return true;
        // Only a shortcut: no function answers, its class reads FFFF too.
        // Not slot_empty: Linux (arch/x86/pci/direct.c, pci_sanity_check)
        // reads the class of every devfn, whatever its IDs read.
        if (vendor == 0xFFFF)
            continue;
        std::uint32_t class_code = config_read32(0, devfn >> 3, devfn & 7, 0x08) >> 16;
        if (class_code == 0x0600 || class_code == 0x0300)
            return true;
    }
    return false;
}

std::uint32_t config_read32(unsigned bus, unsigned dev, unsigned fn, unsigned reg)
{
    hw_out32(CONFIG_ADDRESS, conf1_address(bus, dev, fn, reg));
    return hw_in32(CONFIG_DATA);
}

// The standard configuration header of a PCI function (types 0, 1 and 2)
// and its capability list: what every tool of ours knows about a byte
// before any chipset's own table. No C runtime, no allocation: the
// Windows 9x programs link it.
//
// Register names are pciutils' (header.h without the PCI_ prefix, as setpci
// accepts them).
#pragma once

#include "conf1.h"

const unsigned PCI_HEADER_BYTES = 64; // what "lspci -x" shows
const unsigned PCI_STATUS_CAP_LIST = 0x10;

// Bits of the command register that make a function take part on the bus.
const unsigned PCI_COMMAND_IO = 0x1;
const unsigned PCI_COMMAND_MEMORY = 0x2;
const unsigned PCI_COMMAND_MASTER = 0x4;

struct PciRegister {
    unsigned char offset;
    unsigned char width; // bytes: 1, 2 or 4
    const char *name;
};

// The layout of header byte 0x0E's bits 6-0: 0 ordinary, 1 PCI-to-PCI
// bridge, 2 CardBus bridge. Any other value gets the common first 16 bytes.
unsigned pci_header_layout(unsigned header_type_byte);

// The standard register that covers `offset`; null in a reserved byte or
// past the standard header (where the chipset's own registers start).
const PciRegister *pci_header_register(unsigned header_type_byte, unsigned offset);

// Where the standard header ends and the chipset's own registers start:
// 0x48 in a CardBus bridge (its legacy-mode base ends there), else 0x40.
unsigned pci_header_end(unsigned header_type_byte);

// Where the capability pointer is: 0x34, or 0x14 in a CardBus bridge.
unsigned pci_capability_pointer(unsigned header_type_byte);

// Walks the capability list of a function's first 256 bytes: the offsets
// of at most `max` entries into `at`, in list order. As Linux's walk
// (drivers/pci/pci.c, __pci_find_next_cap_ttl) it stops at a pointer below
// 0x40, at an ID of FF or after 48 entries; as lspci's (ls-caps.c,
// show_caps) at a repeated entry (a loop).
int pci_capabilities(const unsigned char *space, unsigned char *at, int max);

// "Power Management", "AGP", ...; null for an ID pciutils does not name.
const char *pci_capability_name(unsigned id);

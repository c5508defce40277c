// The capability structures of a function's standard list: which one a byte
// lies in, and the name lspci -vv gives its register ("AGP Command (cap 02
// at A0)+8"). Power management, AGP, VPD, slot numbering, MSI, PCI-X and
// PCI Express have their registers named; any other ID only its 4-byte
// header, told by its number. No C runtime, no allocation: the Windows 9x
// programs link it.
#pragma once

#include "pci_bits.h"

struct PCI_PACKED PciCapRegister {
    unsigned char at;    // offset in the structure
    unsigned char width; // bytes
    const char *name;    // after the capability's label: "Command" of "AGP Command"
};

// A byte that lies in a capability structure.
struct PciCapabilityByte {
    unsigned char id;          // the capability's ID
    unsigned char start;       // where its structure starts
    unsigned char at;          // the byte's offset in the structure
    const char *label;         // "AGP", "Power Management"; "Capability": no layout known
    const PciCapRegister *reg; // null: in no named register (ID, next pointer, reserved)
};

// Whether byte `offset` of `space` (a function's first 256 bytes) lies in a
// structure of its capability list (pci_capabilities), and which: the first
// in list order that holds it. The layout follows the structure's own
// bytes: MSI's 64-bit and masking bits, PCI Express's version, and a
// bridge's PCI-X.
bool pci_capability_byte(const unsigned char *space, unsigned offset, PciCapabilityByte *out);

const int PCI_CAPABILITY_TEXT_MAX = 64;
// "AGP Command (cap 02 at A0)+8", "MSI (cap 05 at 50)+A" for a byte in no
// register; the length written to `out`.
int pci_capability_text(char *out, const PciCapabilityByte &b);

// The field of the byte that holds `bit` (0-7); null where none is named.
const PciBitField *pci_capability_bit(const PciCapabilityByte &b, unsigned bit);

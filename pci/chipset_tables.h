// The chipsets' own registers, from their datasheets: what a byte past the
// standard header is on a chip we know, and what its bits do (pci_bits.h).
#pragma once

#include "pci_bits.h"

// A Windows 9x tool that only needs the names defines PCI_NO_NOTES and
// leaves the descriptions out of its image.
#ifdef PCI_NO_NOTES
#define PCI_NOTE(s) ""
#else
#define PCI_NOTE(s) s
#endif

// One register of a chip. A register wider than 4 bytes, or of 3 or 6
// bytes, is listed as consecutive pieces of 1, 2 or 4 bytes under one name.
struct PCI_PACKED PciRegisterName {
    unsigned char offset;
    unsigned char width; // 1, 2 or 4
    const char *name;    // the datasheet's short name, e.g. "PAM3"
    const char *what;    // a few words, ASCII; "" under PCI_NO_NOTES
    // No public source we could read confirms the name at this offset (the
    // datasheet itself aside): PCI_BITS_UNVERIFIED, else 0.
    unsigned char flags = 0;
};

struct PciChipsetTable {
    unsigned short vendor;
    unsigned short device;
    const char *chip;            // "" under PCI_NO_NOTES, like the source
    const char *source;          // the datasheet it was taken from
    const PciRegisterName *regs; // sorted by offset, non-overlapping
    int count;
    const PciBitField *bits; // the fields with names, access or consequences
    int bit_count;
};

// Consequences that fields of several chips share (chipset_tables.cpp).
extern const char PCI_SAYS_IRQ_STEERING[], PCI_SAYS_F0000_READ[], PCI_SAYS_F0000_WRITE[],
    PCI_SAYS_PM_BASE[], PCI_SAYS_SMBUS_BASE[], PCI_SAYS_NO_REFRESH[], PCI_SAYS_CHANNEL_GONE[],
    PCI_SAYS_MEMORY_MOVES[];

// Null: a chip we have no table for.
const PciChipsetTable *pci_chipset_table(unsigned vendor, unsigned device);
// The entry covering `offset`, or null ("device-specific").
const PciRegisterName *pci_chipset_register(const PciChipsetTable *t, unsigned offset);

// Each file chipset_tables_<maker>.cpp holds its chips' tables and a list
// of them.
extern const PciChipsetTable PCI_INTEL_CHIPSETS[]; // host bridges
extern const int PCI_INTEL_CHIPSET_COUNT;
extern const PciChipsetTable PCI_PIIX_CHIPSETS[]; // Intel's ISA bridges
extern const int PCI_PIIX_CHIPSET_COUNT;
extern const PciChipsetTable PCI_VIA_CHIPSETS[];
extern const int PCI_VIA_CHIPSET_COUNT;

// The lists, as the lookup walks them.
struct PciChipsetList {
    const PciChipsetTable *tables;
    const int *count;
};
extern const PciChipsetList PCI_CHIPSET_LISTS[];
extern const int PCI_CHIPSET_LIST_COUNT;

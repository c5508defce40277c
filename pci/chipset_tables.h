// The chipsets' own registers, from their datasheets: what a byte past the
// standard header is on a chip we know.
#pragma once

#ifdef PCI_NO_NOTES
#define PCI_NOTE(s) ""
#else
#define PCI_NOTE(s) s
#endif

struct PciRegisterName {
    unsigned char offset;
    unsigned char width;
    const char *name;
    const char *what;
};

struct PciChipsetTable {
    unsigned short vendor;
    unsigned short device;
    const char *chip;
    const char *source;
    const PciRegisterName *regs; // sorted, non-overlapping
    int count;
};

// Null: a chip we have no table for.
const PciChipsetTable *pci_chipset_table(unsigned vendor, unsigned device);
// The entry covering `offset`, or null ("device-specific").
const PciRegisterName *pci_chipset_register(const PciChipsetTable *t, unsigned offset);

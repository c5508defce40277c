// Lookup over the vendors' lists (chipset_tables_<vendor>.cpp). Plain loops
// over constant data: nothing here needs a C runtime or the heap.
#include "chipset_tables.h"

const char PCI_SAYS_IRQ_STEERING[] =
    "Windows' IRQ steering set it: the devices on that line lose their interrupt";
const char PCI_SAYS_F0000_READ[] =
    "reads at F0000, where Windows calls the BIOS, switch between its RAM copy and the ROM";
const char PCI_SAYS_F0000_WRITE[] =
    "the BIOS's RAM copy at F0000 becomes writable, or stops keeping its run-time data";
const char PCI_SAYS_PM_BASE[] = "Windows' power management uses the block at this I/O base";
const char PCI_SAYS_SMBUS_BASE[] = "the SMBus moves away from where its drivers use it";
const char PCI_SAYS_NO_REFRESH[] = "the BIOS set it for the DIMMs: 0 stops refresh, memory decays";
const char PCI_SAYS_CHANNEL_GONE[] =
    "the channel's ports stop answering: its disks, the boot disk among them, vanish";
const char PCI_SAYS_MEMORY_MOVES[] =
    "the BIOS sized the DRAM rows: a moved boundary moves memory under the running system";

extern const PciChipsetList PCI_CHIPSET_LISTS[] = {
    {PCI_INTEL_CHIPSETS, &PCI_INTEL_CHIPSET_COUNT},
    {PCI_PIIX_CHIPSETS, &PCI_PIIX_CHIPSET_COUNT},
    {PCI_VIA_CHIPSETS, &PCI_VIA_CHIPSET_COUNT},
};
extern const int PCI_CHIPSET_LIST_COUNT = sizeof PCI_CHIPSET_LISTS / sizeof PCI_CHIPSET_LISTS[0];

const PciChipsetTable *pci_chipset_table(unsigned vendor, unsigned device)
{
    for (int l = 0; l < PCI_CHIPSET_LIST_COUNT; l++) {
        const PciChipsetList &list = PCI_CHIPSET_LISTS[l];
        for (int i = 0; i < *list.count; i++)
            if (list.tables[i].vendor == vendor && list.tables[i].device == device)
                return &list.tables[i];
    }
    return nullptr;
}

const PciRegisterName *pci_chipset_register(const PciChipsetTable *t, unsigned offset)
{
    for (int i = 0; t && i < t->count; i++)
        if (offset >= t->regs[i].offset && offset < unsigned(t->regs[i].offset + t->regs[i].width))
            return &t->regs[i];
    return nullptr;
}

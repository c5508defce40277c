// Lookup over the vendors' lists (chipset_tables_<vendor>.cpp). Plain loops
// over constant data: nothing here needs a C runtime or the heap.
#include "chipset_tables.h"

namespace
{

struct VendorList {
    const PciChipsetTable *tables;
    const int *count;
};

const VendorList LISTS[] = {
    {PCI_INTEL_CHIPSETS, &PCI_INTEL_CHIPSET_COUNT},
    {PCI_VIA_CHIPSETS, &PCI_VIA_CHIPSET_COUNT},
};

} // namespace

const PciChipsetTable *pci_chipset_table(unsigned vendor, unsigned device)
{
    for (const VendorList &l : LISTS)
        for (int i = 0; i < *l.count; i++)
            if (l.tables[i].vendor == vendor && l.tables[i].device == device)
                return &l.tables[i];
    return nullptr;
}

const PciRegisterName *pci_chipset_register(const PciChipsetTable *t, unsigned offset)
{
    for (int i = 0; t && i < t->count; i++)
        if (offset >= t->regs[i].offset && offset < unsigned(t->regs[i].offset + t->regs[i].width))
            return &t->regs[i];
    return nullptr;
}

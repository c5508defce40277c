// Two entries until the full tables land: the 440BX host bridge's shadow
// RAM switches, enough for the names to show everywhere.
// Source: Intel 82443BX Host Bridge/Controller datasheet, 290633-001.
#include "chipset_tables.h"

namespace
{

const PciRegisterName I82443BX[] = {
    {0x5A, 1, "PAM1", PCI_NOTE("PAM1: C0000-C7FFF shadow RAM read/write enable")},
    {0x5C, 1, "PAM3", PCI_NOTE("PAM3: D0000-D7FFF shadow RAM read/write enable")},
};

const PciChipsetTable TABLES[] = {
    {0x8086, 0x7190, "Intel 82443BX", "Intel 290633-001", I82443BX, 2},
};

} // namespace

const PciChipsetTable *pci_chipset_table(unsigned vendor, unsigned device)
{
    for (const PciChipsetTable &t : TABLES)
        if (t.vendor == vendor && t.device == device)
            return &t;
    return nullptr;
}

const PciRegisterName *pci_chipset_register(const PciChipsetTable *t, unsigned offset)
{
    for (int i = 0; t && i < t->count; i++)
        if (offset >= t->regs[i].offset && offset < t->regs[i].offset + t->regs[i].width)
            return &t->regs[i];
    return nullptr;
}

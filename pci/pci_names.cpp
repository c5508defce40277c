#include "pci_names.h"

#include "chipset_tables.h"
#include "pci_header.h"

const char *pci_byte_name(const unsigned char *space, unsigned offset, const char **what)
{
    if (what)
        *what = "";
    unsigned type = space[PCI_HEADER_TYPE];
    if (const PciRegister *r = pci_header_register(type, offset))
        return r->name;
    if (offset >= pci_header_end(type)) {
        unsigned vendor = space[0] | space[1] << 8, device = space[2] | space[3] << 8;
        if (const PciRegisterName *r =
                pci_chipset_register(pci_chipset_table(vendor, device), offset)) {
            if (what)
                *what = r->what;
            return r->name;
        }
        return "device-specific";
    }
    return "reserved";
}

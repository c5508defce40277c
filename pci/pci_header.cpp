#include "pci_header.h"

namespace
{

// Bytes 00-0F are the same in every layout.
const PciRegister COMMON[] = {
    {0x00, 2, "VENDOR_ID"},     {0x02, 2, "DEVICE_ID"},
    {0x04, 2, "COMMAND"},       {0x06, 2, "STATUS"},
    {0x08, 1, "REVISION"},      {0x09, 1, "CLASS_PROG"},
    {0x0A, 2, "CLASS_DEVICE"},  {0x0C, 1, "CACHE_LINE_SIZE"},
    {0x0D, 1, "LATENCY_TIMER"}, {0x0E, 1, "HEADER_TYPE"},
    {0x0F, 1, "BIST"},
};

const PciRegister ORDINARY[] = {
    {0x10, 4, "BASE_ADDRESS_0"},  {0x14, 4, "BASE_ADDRESS_1"},
    {0x18, 4, "BASE_ADDRESS_2"},  {0x1C, 4, "BASE_ADDRESS_3"},
    {0x20, 4, "BASE_ADDRESS_4"},  {0x24, 4, "BASE_ADDRESS_5"},
    {0x28, 4, "CARDBUS_CIS"},     {0x2C, 2, "SUBSYSTEM_VENDOR_ID"},
    {0x2E, 2, "SUBSYSTEM_ID"},    {0x30, 4, "ROM_ADDRESS"},
    {0x34, 1, "CAPABILITY_LIST"}, {0x3C, 1, "INTERRUPT_LINE"},
    {0x3D, 1, "INTERRUPT_PIN"},   {0x3E, 1, "MIN_GNT"},
    {0x3F, 1, "MAX_LAT"},
};

const PciRegister BRIDGE[] = {
    {0x10, 4, "BASE_ADDRESS_0"},    {0x14, 4, "BASE_ADDRESS_1"},    {0x18, 1, "PRIMARY_BUS"},
    {0x19, 1, "SECONDARY_BUS"},     {0x1A, 1, "SUBORDINATE_BUS"},   {0x1B, 1, "SEC_LATENCY_TIMER"},
    {0x1C, 1, "IO_BASE"},           {0x1D, 1, "IO_LIMIT"},          {0x1E, 2, "SEC_STATUS"},
    {0x20, 2, "MEMORY_BASE"},       {0x22, 2, "MEMORY_LIMIT"},      {0x24, 2, "PREF_MEMORY_BASE"},
    {0x26, 2, "PREF_MEMORY_LIMIT"}, {0x28, 4, "PREF_BASE_UPPER32"}, {0x2C, 4, "PREF_LIMIT_UPPER32"},
    {0x30, 2, "IO_BASE_UPPER16"},   {0x32, 2, "IO_LIMIT_UPPER16"},  {0x34, 1, "CAPABILITY_LIST"},
    {0x38, 4, "ROM_ADDRESS1"},      {0x3C, 1, "INTERRUPT_LINE"},    {0x3D, 1, "INTERRUPT_PIN"},
    {0x3E, 2, "BRIDGE_CONTROL"},
};

const PciRegister CARDBUS[] = {
    {0x10, 4, "BASE_ADDRESS_0"},
    {0x14, 1, "CB_CAPABILITY_LIST"},
    {0x16, 2, "CB_SEC_STATUS"},
    {0x18, 1, "CB_PRIMARY_BUS"},
    {0x19, 1, "CB_CARD_BUS"},
    {0x1A, 1, "CB_SUBORDINATE_BUS"},
    {0x1B, 1, "CB_LATENCY_TIMER"},
    {0x1C, 4, "CB_MEMORY_BASE_0"},
    {0x20, 4, "CB_MEMORY_LIMIT_0"},
    {0x24, 4, "CB_MEMORY_BASE_1"},
    {0x28, 4, "CB_MEMORY_LIMIT_1"},
    {0x2C, 4, "CB_IO_BASE_0"},
    {0x30, 4, "CB_IO_LIMIT_0"},
    {0x34, 4, "CB_IO_BASE_1"},
    {0x38, 4, "CB_IO_LIMIT_1"},
    {0x3C, 1, "INTERRUPT_LINE"},
    {0x3D, 1, "INTERRUPT_PIN"},
    {0x3E, 2, "CB_BRIDGE_CONTROL"},
    {0x40, 2, "CB_SUBSYSTEM_VENDOR_ID"},
    {0x42, 2, "CB_SUBSYSTEM_ID"},
    {0x44, 4, "CB_LEGACY_MODE_BASE"},
};

template <int N> const PciRegister *covering(const PciRegister (&table)[N], unsigned offset)
{
    for (int i = 0; i < N; i++)
        if (offset >= table[i].offset && offset < table[i].offset + table[i].width)
            return &table[i];
    return nullptr;
}

const char *const CAPABILITY_NAMES[] = {
    nullptr,
    "Power Management",                    // 01
    "AGP",                                 // 02
    "Vital Product Data",                  // 03
    "Slot Identification",                 // 04
    "MSI",                                 // 05
    "CompactPCI Hot Swap",                 // 06
    "PCI-X",                               // 07
    "HyperTransport",                      // 08
    "Vendor Specific",                     // 09
    "Debug Port",                          // 0A
    "CompactPCI Central Resource Control", // 0B
    "PCI Hot-Plug",                        // 0C
    "Bridge Subsystem Vendor ID",          // 0D
    "AGP 8x",                              // 0E
    "Secure Device",                       // 0F
    "PCI Express",                         // 10
    "MSI-X",                               // 11
    "SATA",                                // 12
    "Advanced Features",                   // 13
    "Enhanced Allocation",                 // 14
};

} // namespace

unsigned pci_header_layout(unsigned header_type_byte)
{
    return header_type_byte & 0x7F;
}

const PciRegister *pci_header_register(unsigned header_type_byte, unsigned offset)
{
    if (offset < 0x10)
        return covering(COMMON, offset);
    switch (pci_header_layout(header_type_byte)) {
    case 0:
        return covering(ORDINARY, offset);
    case 1:
        return covering(BRIDGE, offset);
    case 2:
        return covering(CARDBUS, offset);
    }
    return nullptr;
}

unsigned pci_header_end(unsigned header_type_byte)
{
    return pci_header_layout(header_type_byte) == 2 ? 0x48 : PCI_HEADER_BYTES;
}

unsigned pci_capability_pointer(unsigned header_type_byte)
{
    return pci_header_layout(header_type_byte) == 2 ? 0x14 : 0x34;
}

int pci_capabilities(const unsigned char *space, unsigned char *at, int max)
{
    if (!(space[PCI_STATUS] & PCI_STATUS_CAP_LIST))
        return 0;
    int n = 0;
    unsigned next = space[pci_capability_pointer(space[PCI_HEADER_TYPE])] & 0xFCu;
    for (int step = 0; step < 48 && next >= 0x40 && n < max; step++) {
        if (space[next] == 0xFF) // an ID no function has: the list is broken
            return n;
        for (int i = 0; i < n; i++)
            if (at[i] == next)
                return n;
        at[n++] = static_cast<unsigned char>(next);
        next = space[next + 1] & 0xFCu;
    }
    return n;
}

const char *pci_capability_name(unsigned id)
{
    return id < sizeof CAPABILITY_NAMES / sizeof CAPABILITY_NAMES[0] ? CAPABILITY_NAMES[id]
                                                                     : nullptr;
}

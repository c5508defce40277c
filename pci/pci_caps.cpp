#include "pci_caps.h"

#include "pci_header.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// Offsets and widths are pciutils' (lib/header.h, PCI_PM_*, PCI_AGP_*, ...,
// the same as Linux's include/uapi/linux/pci_regs.h); a register's name is
// the word lspci -vv prints before its decoding (ls-caps.c: cap_pm's
// "Flags:" and "Status:", cap_agp's "Command:", cap_express_dev's
// "DevCtl:"), else header.h's own.

// PCI_PM_SIZEOF 8. "Data" is PCI_PM_DATA_REGISTER, which lspci does not show.
const PciCapRegister PM[] = {{2, 2, "Flags"}, {4, 2, "Status"}, {6, 1, "Bridge"}, {7, 1, "Data"}};

// PCI_AGP_SIZEOF 12; the version byte is BCD (cap_agp: "AGP version %x.%x").
// AGP 3.0 bridges have more registers from +C on (Linux drivers/char/agp/
// agp.h, AGPNISTAT to AGPNICMD), its cards not all of them: those bytes are
// left unnamed.
const PciCapRegister AGP[] = {{2, 1, "Version"}, {4, 4, "Status"}, {8, 4, "Command"}};

// PCI_VPD_ADDR, PCI_VPD_DATA.
const PciCapRegister VPD[] = {{2, 2, "Address"}, {4, 4, "Data"}};

// PCI_SID_ESR, PCI_SID_CHASSIS_NR (cap_slotid: "N slots, First+, chassis").
const PciCapRegister SLOT_ID[] = {{2, 1, "Expansion Slots"}, {3, 1, "Chassis"}};

// PCI_MSI_FLAGS, _ADDRESS_LO/_HI, _DATA_32/_64, _MASK_BIT_32/_64,
// _PENDING_32/_64. lspci shows a 64-bit address as one ("Address:
// %08x%08x"); masking and pending exist only where the flags say so.
const PciCapRegister MSI_32[] = {
    {2, 2, "Flags"}, {4, 4, "Address"}, {8, 2, "Data"}, {0xC, 4, "Masking"}, {0x10, 4, "Pending"}};
const PciCapRegister MSI_64[] = {{2, 2, "Flags"},
                                 {4, 8, "Address"},
                                 {0xC, 2, "Data"},
                                 {0x10, 4, "Masking"},
                                 {0x14, 4, "Pending"}};
const unsigned MSI_FLAGS_64BIT = 0x80, MSI_FLAGS_MASK_BIT = 0x100;

// PCI_PCIX_COMMAND, _STATUS; a bridge's PCI_PCIX_BRIDGE_SEC_STATUS, _STATUS,
// _UPSTREAM_SPLIT_TRANS_CTRL, _DOWNSTREAM_SPLIT_TRANS_CTRL (cap_pcix_bridge:
// "Secondary Status:", "Upstream:", "Downstream:").
const PciCapRegister PCIX[] = {{2, 2, "Command"}, {4, 4, "Status"}};
const PciCapRegister PCIX_BRIDGE[] = {
    {2, 2, "Secondary Status"}, {4, 4, "Status"}, {8, 4, "Upstream"}, {0xC, 4, "Downstream"}};

// PCI_EXP_FLAGS to PCI_EXP_RTSTA; from version 2 (PCI_EXP_FLAGS_VERS) also
// PCI_EXP_DEVCAP2 to PCI_EXP_SLTSTA2, which cap_express reads only then.
const PciCapRegister EXPRESS[] = {
    {0x02, 2, "Flags"},   {0x04, 4, "DevCap"},  {0x08, 2, "DevCtl"},  {0x0A, 2, "DevSta"},
    {0x0C, 4, "LnkCap"},  {0x10, 2, "LnkCtl"},  {0x12, 2, "LnkSta"},  {0x14, 4, "SltCap"},
    {0x18, 2, "SltCtl"},  {0x1A, 2, "SltSta"},  {0x1C, 2, "RootCtl"}, {0x1E, 2, "RootCap"},
    {0x20, 4, "RootSta"}, {0x24, 4, "DevCap2"}, {0x28, 2, "DevCtl2"}, {0x2A, 2, "DevSta2"},
    {0x2C, 4, "LnkCap2"}, {0x30, 2, "LnkCtl2"}, {0x32, 2, "LnkSta2"}, {0x34, 4, "SltCap2"},
    {0x38, 2, "SltCtl2"}, {0x3A, 2, "SltSta2"}};
const int EXPRESS_V1_COUNT = 13;            // up to RootSta
const unsigned EXPRESS_FLAGS_VERS = 0x000F; // PCI_EXP_FLAGS_VERS

#ifndef PCI_NO_NOTES
// AGP status (+4) and command (+8): PCI_AGP_STATUS_* and PCI_AGP_COMMAND_*.
// In AGP 3.0 mode (status bit 3) the rate bits mean 4x and 8x, bit 2 is
// reserved (header.h; Linux agp.h AGPSTAT3_4X, AGPSTAT3_8X, AGPSTAT3_RSVD).
#define AGP_RATE_BITS(at)                                                                          \
    PCI_NAMED(at, 0x01, "1x rate (4x in AGP3 mode)", "")                                           \
    PCI_NAMED(at, 0x02, "2x rate (8x in AGP3 mode)", "")                                           \
    PCI_NAMED(at, 0x04, "4x rate (reserved in AGP3 mode)", "")
const PciBitField AGP_BITS[] = {
    // clang-format off
    AGP_RATE_BITS(0x04)
    PCI_NAMED(0x04, 0x08, "AGP3 mode", "")
    PCI_NAMED(0x04, 0x10, "fast write", "")
    PCI_NAMED(0x04, 0x20, "64-bit addressing", "")
    PCI_NAMED(0x04, 0x40, "no host translation", "")
    PCI_NAMED(0x04, 0x80, "64-bit GART entries", "")
    PCI_NAMED(0x05, 0x01, "in-aperture accesses coherent", "")
    PCI_NAMED(0x05, 0x02, "sideband addressing", "")
    PCI_NAMED(0x05, 0x1C, "calibration cycle", "")
    PCI_NAMED(0x05, 0xE0, "asynchronous request size", "")
    PCI_NAMED(0x06, 0x01, "isochronous", "")
    PCI_NAMED(0x07, 0xFF, "request depth", "")
    AGP_RATE_BITS(0x08)
    PCI_NAMED(0x08, 0x10, "fast write enable", "")
    PCI_NAMED(0x08, 0x20, "64-bit addressing enable", "")
    PCI_NAMED(0x08, 0x80, "64-bit GART entries enable", "")
    PCI_NAMED(0x09, 0x01, "AGP enable", "")
    PCI_NAMED(0x09, 0x02, "sideband addressing enable", "")
    PCI_NAMED(0x09, 0x1C, "calibration cycle", "")
    PCI_NAMED(0x09, 0xE0, "asynchronous request size", "")
    PCI_NAMED(0x0B, 0xFF, "request depth", "")
    // clang-format on
};
#endif

struct PCI_PACKED Layout {
    unsigned char id;
    unsigned char count; // of its registers
    unsigned char size;  // bytes of the structure: the end of its last register
    const char *label;
    const PciCapRegister *regs;
};

// The variants of an ID follow its first entry; layout_of picks one by the
// structure's own bytes.
const Layout LAYOUTS[] = {
    {0x01, 4, 8, "Power Management", PM},
    {0x02, 3, 12, "AGP", AGP},
    {0x03, 2, 8, "VPD", VPD},
    {0x04, 2, 4, "Slot ID", SLOT_ID},
    {0x05, 3, 0x0A, "MSI", MSI_32}, // +1: masking, +2: 64-bit addresses
    {0x05, 5, 0x14, "MSI", MSI_32},
    {0x05, 3, 0x0E, "MSI", MSI_64},
    {0x05, 5, 0x18, "MSI", MSI_64},
    {0x07, 2, 8, "PCI-X", PCIX}, // +1: in a bridge
    {0x07, 4, 0x10, "PCI-X", PCIX_BRIDGE},
    {0x10, EXPRESS_V1_COUNT, 0x24, "Express", EXPRESS}, // +1: version 2
    {0x10, COUNT(EXPRESS), 0x3C, "Express", EXPRESS},
};

// Any other ID: its ID, next pointer and 16 bits of flags (header.h:
// PCI_CAP_SIZEOF 4). Which ID it is lspci shows as a number ("#12").
const Layout OTHER = {0, 0, 4, "Capability", nullptr};

const Layout &layout_of(const unsigned char *space, unsigned start)
{
    const unsigned id = space[start], flags = space[start + 2] | space[start + 3] << 8;
    unsigned variant = 0;
    if (id == 0x05)
        variant = (flags & MSI_FLAGS_MASK_BIT ? 1 : 0) + (flags & MSI_FLAGS_64BIT ? 2 : 0);
    else if (id == 0x07)
        variant = pci_header_layout(space[PCI_HEADER_TYPE]) == 1;
    else if (id == 0x10)
        variant = (flags & EXPRESS_FLAGS_VERS) >= 2;
    for (const Layout &l : LAYOUTS)
        if (l.id == id)
            return (&l)[variant];
    return OTHER;
}

char *put(char *out, const char *s)
{
    while (*s)
        *out++ = *s++;
    return out;
}

char *put_hex(char *out, unsigned v, bool two_digits)
{
    if (two_digits || v >= 16)
        *out++ = "0123456789ABCDEF"[v >> 4];
    *out++ = "0123456789ABCDEF"[v & 15];
    return out;
}

} // namespace

bool pci_capability_byte(const unsigned char *space, unsigned offset, PciCapabilityByte *out)
{
    unsigned char at[48];
    const int n = pci_capabilities(space, at, COUNT(at));
    for (int i = 0; i < n; i++) {
        const Layout &l = layout_of(space, at[i]);
        if (offset < at[i] || offset >= at[i] + l.size)
            continue;
        out->id = space[at[i]];
        out->start = at[i];
        out->at = static_cast<unsigned char>(offset - at[i]);
        out->label = l.label;
        out->reg = nullptr;
        for (int r = 0; r < l.count; r++)
            if (out->at >= l.regs[r].at && out->at < l.regs[r].at + l.regs[r].width)
                out->reg = &l.regs[r];
        return true;
    }
    return false;
}

int pci_capability_text(char *out, const PciCapabilityByte &b)
{
    char *p = put(out, b.label);
    if (b.reg)
        p = put(put(p, " "), b.reg->name);
    p = put_hex(put(p, " (cap "), b.id, true);
    p = put_hex(put(p, " at "), b.start, true);
    p = put_hex(put(p, ")+"), b.at, false);
    *p = '\0';
    return static_cast<int>(p - out);
}

#ifndef PCI_NO_NOTES
const PciBitField *pci_capability_bit(const PciCapabilityByte &b, unsigned bit)
{
    if (b.id == 0x02)
        for (const PciBitField &f : AGP_BITS)
            if (f.offset == b.at && (f.mask >> bit & 1))
                return &f;
    return nullptr;
}
#else
// A Windows 9x tool shows no bit names.
const PciBitField *pci_capability_bit(const PciCapabilityByte &, unsigned)
{
    return nullptr;
}
#endif

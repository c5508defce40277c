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
#define AGP_FIELDS AGP_BITS, COUNT(AGP_BITS)
#else
#define AGP_FIELDS nullptr, 0 // a Windows 9x tool shows no bit names
#endif

struct Layout {
    const char *label; // null: pciutils' name of the ID
    const PciCapRegister *regs;
    int count;
    unsigned size; // bytes of the structure
    const PciBitField *bits;
    int bit_count;
};

// The end of a layout's last register.
unsigned end_of(const PciCapRegister *regs, int count)
{
    return regs[count - 1].at + regs[count - 1].width;
}

Layout layout_of(const unsigned char *space, unsigned start)
{
    const unsigned flags = space[start + 2] | space[start + 3] << 8; // start <= FC
    switch (space[start]) {
    case 0x01:
        return {"Power Management", PM, COUNT(PM), 8, nullptr, 0};
    case 0x02:
        return {"AGP", AGP, COUNT(AGP), 12, AGP_FIELDS};
    case 0x03:
        return {"VPD", VPD, COUNT(VPD), 8, nullptr, 0};
    case 0x04:
        return {"Slot ID", SLOT_ID, COUNT(SLOT_ID), 4, nullptr, 0};
    case 0x05: {
        const PciCapRegister *regs = flags & MSI_FLAGS_64BIT ? MSI_64 : MSI_32;
        int count = flags & MSI_FLAGS_MASK_BIT ? 5 : 3;
        return {"MSI", regs, count, end_of(regs, count), nullptr, 0};
    }
    case 0x07:
        if (pci_header_layout(space[PCI_HEADER_TYPE]) == 1)
            return {"PCI-X", PCIX_BRIDGE, COUNT(PCIX_BRIDGE), 0x10, nullptr, 0};
        return {"PCI-X", PCIX, COUNT(PCIX), 8, nullptr, 0};
    case 0x10: {
        int count = (flags & EXPRESS_FLAGS_VERS) >= 2 ? COUNT(EXPRESS) : EXPRESS_V1_COUNT;
        return {"Express", EXPRESS, count, end_of(EXPRESS, count), nullptr, 0};
    }
    }
    // The ID and next pointer and the 16 bits of flags every capability
    // has (header.h: PCI_CAP_SIZEOF 4).
    return {nullptr, nullptr, 0, 4, nullptr, 0};
}

struct Text {
    char *s;
    int n;
    void put(char c)
    {
        if (n < PCI_CAPABILITY_TEXT_MAX - 1)
            s[n++] = c;
    }
    void put(const char *t)
    {
        while (*t)
            put(*t++);
    }
    void digit(unsigned v) { put(static_cast<char>(v < 10 ? '0' + v : 'A' + v - 10)); }
};

} // namespace

bool pci_capability_byte(const unsigned char *space, unsigned offset, PciCapabilityByte *out)
{
    unsigned char at[48];
    const int n = pci_capabilities(space, at, COUNT(at));
    for (int i = 0; i < n; i++) {
        const Layout l = layout_of(space, at[i]);
        if (offset < at[i] || offset >= at[i] + l.size)
            continue;
        out->id = space[at[i]];
        out->start = at[i];
        out->at = static_cast<unsigned char>(offset - at[i]);
        out->label = l.label ? l.label : pci_capability_name(out->id);
        if (!out->label)
            out->label = "Capability";
        out->reg = nullptr;
        for (int r = 0; r < l.count; r++)
            if (out->at >= l.regs[r].at && out->at < l.regs[r].at + l.regs[r].width)
                out->reg = &l.regs[r];
        out->bits = l.bits;
        out->bit_count = l.bit_count;
        return true;
    }
    return false;
}

int pci_capability_text(char *out, const PciCapabilityByte &b)
{
    Text t = {out, 0};
    t.put(b.label);
    if (b.reg) {
        t.put(' ');
        t.put(b.reg->name);
    }
    t.put(" (cap ");
    t.digit(b.id >> 4);
    t.digit(b.id & 15);
    t.put(" at ");
    t.digit(b.start >> 4);
    t.digit(b.start & 15);
    t.put(")+");
    if (b.at >= 16)
        t.digit(b.at >> 4);
    t.digit(b.at & 15);
    out[t.n] = '\0';
    return t.n;
}

const PciBitField *pci_capability_bit(const PciCapabilityByte &b, unsigned bit)
{
    for (int i = 0; i < b.bit_count; i++)
        if (b.bits[i].offset == b.at && (b.bits[i].mask >> bit & 1))
            return &b.bits[i];
    return nullptr;
}

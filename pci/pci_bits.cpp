#include "pci_bits.h"

#include "chipset_tables.h"
#include "pci_caps.h"
#include "pci_header.h"
#include "pci_names.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// Bit names are pciutils' (lib/header.h, lspci's wording) and Linux's
// (include/uapi/linux/pci_regs.h); access is in pci_access.cpp.
const char DECODE_OFF[] = "Windows and its driver set it: off, the function stops answering";

// clang-format off
#define STATUS_HIGH_BITS(at, system_error)                                   \
    PCI_NAMED(at, 0x01, "master data parity error", "")                       \
    PCI_NAMED(at, 0x06, "DEVSEL timing", "")                                  \
    PCI_NAMED(at, 0x08, "signalled target abort", "")                         \
    PCI_NAMED(at, 0x10, "received target abort", "")                          \
    PCI_NAMED(at, 0x20, "received master abort", "")                          \
    {at, 0x40, 0, system_error, "", ""},                                     \
    PCI_NAMED(at, 0x80, "detected parity error", "")

const PciBitField COMMON[] = {
    {0x04, 0x01, PCI_BITS_OWNED, "I/O space enable", DECODE_OFF, ""},
    {0x04, 0x02, PCI_BITS_OWNED, "memory space enable", DECODE_OFF, ""},
    {0x04, 0x04, PCI_BITS_OWNED, "bus master enable",
     "Windows and its driver set it: off, the function's DMA stops", ""},
    PCI_NAMED(0x04, 0x08, "special cycles", "")
    PCI_NAMED(0x04, 0x10, "memory write and invalidate", "")
    PCI_NAMED(0x04, 0x20, "VGA palette snoop", "")
    PCI_NAMED(0x04, 0x40, "parity error response", "")
    PCI_NAMED(0x04, 0x80, "wait cycle control", "")
    PCI_NAMED(0x05, 0x01, "SERR# enable", "")
    PCI_NAMED(0x05, 0x02, "fast back-to-back enable", "")
    PCI_NAMED(0x05, 0x04, "INTx disable", "")
    PCI_NAMED(0x06, 0x08, "interrupt status", "")
    PCI_NAMED(0x06, 0x10, "capabilities list", "")
    PCI_NAMED(0x06, 0x20, "66 MHz capable", "")
    PCI_NAMED(0x06, 0x80, "fast back-to-back capable", "")
    STATUS_HIGH_BITS(0x07, "signalled system error")
    PCI_NAMED(0x0F, 0x0F, "BIST completion code", "")
    {0x0F, 0x40, PCI_BITS_HANGS, "start BIST",
     "the function runs its self test and does no work until it ends", ""},
    PCI_NAMED(0x0F, 0x80, "BIST capable", "")
};

// Byte 0x3C of every layout.
const PciBitField INTERRUPT_LINE[] = {
    {0x3C, 0xFF, PCI_BITS_OWNED, "interrupt line",
     "the BIOS and Windows set it, and drivers take their IRQ from it", ""},
};

const PciBitField BRIDGE[] = {
    STATUS_HIGH_BITS(0x1F, "received system error")
    PCI_NAMED(0x3E, 0x01, "parity error response", "")
    PCI_NAMED(0x3E, 0x02, "SERR# forward", "")
    PCI_NAMED(0x3E, 0x04, "ISA enable", "")
    {0x3E, 0x08, PCI_BITS_HANGS, "VGA enable",
     "the display behind the bridge gains or loses the VGA ranges: a blank screen", ""},
    PCI_NAMED(0x3E, 0x10, "VGA 16-bit decode", "")
    PCI_NAMED(0x3E, 0x20, "master abort mode", "")
    {0x3E, 0x40, PCI_BITS_HANGS, "secondary bus reset",
     "resets every card behind the bridge under its running driver", ""},
    PCI_NAMED(0x3E, 0x80, "fast back-to-back enable", "")
    PCI_NAMED(0x3F, 0x01, "primary discard timeout", "")
    PCI_NAMED(0x3F, 0x02, "secondary discard timeout", "")
    PCI_NAMED(0x3F, 0x04, "discard timer status", "")
    PCI_NAMED(0x3F, 0x08, "discard timer SERR# enable", "")
};

const PciBitField CARDBUS[] = {
    STATUS_HIGH_BITS(0x17, "received system error")
    PCI_NAMED(0x3E, 0x01, "parity error response", "")
    PCI_NAMED(0x3E, 0x02, "SERR# forward", "")
    PCI_NAMED(0x3E, 0x04, "ISA enable", "")
    PCI_NAMED(0x3E, 0x08, "VGA enable", "")
    PCI_NAMED(0x3E, 0x20, "master abort mode", "")
    {0x3E, 0x40, PCI_BITS_HANGS, "CardBus reset",
     "resets the card in the slot under its running driver", ""},
    PCI_NAMED(0x3E, 0x80, "16-bit interrupt enable", "")
    PCI_NAMED(0x3F, 0x01, "prefetch memory window 0", "")
    PCI_NAMED(0x3F, 0x02, "prefetch memory window 1", "")
    PCI_NAMED(0x3F, 0x04, "posted write enable", "")
};
// clang-format on

struct FieldList {
    const PciBitField *fields;
    int count;
};

// The list that describes `offset`: the standard header's, or the chipset's.
FieldList fields_of(const unsigned char *id, unsigned offset)
{
    unsigned type = id[PCI_HEADER_TYPE];
    if (offset < 0x10)
        return {COMMON, COUNT(COMMON)};
    if (offset == 0x3C && pci_header_layout(type) <= 2)
        return {INTERRUPT_LINE, COUNT(INTERRUPT_LINE)};
    if (offset < pci_header_end(type)) {
        switch (pci_header_layout(type)) {
        case 1:
            return {BRIDGE, COUNT(BRIDGE)};
        case 2:
            return {CARDBUS, COUNT(CARDBUS)};
        }
        return {nullptr, 0};
    }
    const PciChipsetTable *t = pci_chipset_table(id[0] | id[1] << 8, id[2] | id[3] << 8);
    return t ? FieldList{t->bits, t->bit_count} : FieldList{nullptr, 0};
}

struct Text {
    char *s;
    int n;
    void put(char c)
    {
        if (n < PCI_BITS_TEXT_MAX - 1)
            s[n++] = c;
    }
    void put(const char *t)
    {
        while (*t)
            put(*t++);
    }
    void digit(unsigned v) { put(static_cast<char>(v < 10 ? '0' + v : 'A' + v - 10)); }
    void bits_of(unsigned mask) // "bit 7", "bits 5-4"
    {
        int low = 0, high = 7;
        while (!(mask >> low & 1))
            low++;
        while (!(mask >> high & 1))
            high--;
        put(low == high ? "bit " : "bits ");
        digit(static_cast<unsigned>(high));
        if (low != high) {
            put('-');
            digit(static_cast<unsigned>(low));
        }
    }
    // A field's value: binary up to two bits wide, else hex.
    void value(unsigned v, unsigned mask)
    {
        int low = 0, width = 0;
        while (!(mask >> low & 1))
            low++;
        for (unsigned m = mask >> low; m; m >>= 1)
            width++;
        v = (v & mask) >> low;
        if (width <= 2) {
            for (int b = width - 1; b >= 0; b--)
                digit(v >> b & 1);
        } else {
            digit(v >> 4 & 15);
            digit(v & 15);
        }
    }
    int end()
    {
        s[n] = '\0';
        return n;
    }
};

} // namespace

int pci_bit_fields(const unsigned char *id, unsigned offset, const PciBitField **out, int max)
{
    FieldList l = fields_of(id, offset);
    int n = 0;
    for (int i = 0; i < l.count && n < max; i++)
        if (l.fields[i].offset == offset)
            out[n++] = &l.fields[i];
    return n;
}

const PciBitField *pci_bit_field(const unsigned char *id, unsigned offset, unsigned bit)
{
    FieldList l = fields_of(id, offset);
    for (int i = 0; i < l.count; i++)
        if (l.fields[i].offset == offset && (l.fields[i].mask >> bit & 1))
            return &l.fields[i];
    return nullptr;
}

unsigned pci_flagged_bits(const unsigned char *id, unsigned offset, unsigned flags)
{
    FieldList l = fields_of(id, offset);
    unsigned bits = 0;
    for (int i = 0; i < l.count; i++)
        if (l.fields[i].offset == offset && (l.fields[i].flags & flags) == flags)
            bits |= l.fields[i].mask;
    return bits;
}

int pci_changed_bits_text(char *out, const unsigned char *id, unsigned offset, unsigned from,
                          unsigned to, const PciCapabilityByte *cap)
{
    Text t = {out, 0};
    for (unsigned bit = 0; bit < 8; bit++) {
        if (!((from ^ to) >> bit & 1))
            continue;
        if (t.n)
            t.put(", ");
        t.put("bit ");
        t.digit(bit);
        const PciBitField *f = cap ? pci_capability_bit(*cap, bit) : nullptr;
        if (f || (f = pci_bit_field(id, offset, bit))) {
            t.put(' ');
            t.put(f->name);
        }
        t.put(' ');
        t.digit(from >> bit & 1);
        t.put("->");
        t.digit(to >> bit & 1);
    }
    return t.end();
}

int pci_consequences(const unsigned char *id, unsigned offset, unsigned from, unsigned to,
                     PciConsequenceProc proc, void *context)
{
    FieldList l = fields_of(id, offset);
    int n = 0;
    for (int i = 0; i < l.count; i++) {
        const PciBitField &f = l.fields[i];
        if (f.offset == offset && (f.flags & (PCI_BITS_OWNED | PCI_BITS_HANGS)) &&
            ((from ^ to) & f.mask)) {
            proc(f, context);
            n++;
        }
    }
    return n;
}

int pci_consequence_text(char *out, const unsigned char *id, const PciBitField &f, unsigned from,
                         unsigned to)
{
    Text t = {out, 0};
    t.put(pci_byte_name(id, f.offset, nullptr));
    t.put(' ');
    t.bits_of(f.mask);
    t.put(" (");
    t.put(f.name);
    t.put(") ");
    t.value(from, f.mask);
    t.put("->");
    t.value(to, f.mask);
    t.put(f.flags & PCI_BITS_HANGS ? ": can hang a running PC: " : ": ");
    t.put(f.consequence);
    return t.end();
}

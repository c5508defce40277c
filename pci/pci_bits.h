// The named bits of a configuration byte and what changing them does: the
// standard header's command, status, BIST, interrupt line and bridge control,
// and the chipset tables' fields (chipset_tables.h). Each chipset field names
// its public source. kvtlcheck's warnings, kvtlpeek's preview and the diffs
// read the same entries, so they tell the same consequences.
#pragma once

// The tables' sources, which no Windows 9x program shows: left out of its
// image like the notes.
#ifdef PCI_NO_NOTES
#define PCI_SOURCE(s) ""
#else
#define PCI_SOURCE(s) s
#endif

// A Windows 9x tool has a file size cap: its tables go without the padding
// after their byte fields (x86 reads a pointer at any address).
#ifdef PCI_NO_NOTES
#define PCI_PACKED __attribute__((packed))
#else
#define PCI_PACKED
#endif

// A field that only names bits, with no access rule and no consequence.
// Written without a comma after it: a Windows 9x tool, which shows no bit
// names, leaves it out with the notes.
#ifdef PCI_NO_NOTES
#define PCI_NAMED(offset, mask, name, source)
#else
#define PCI_NAMED(offset, mask, name, source) {offset, mask, 0, name, "", source},
#endif

enum PciBitFlags {
    PCI_BITS_READ_ONLY = 0x01,    // a write leaves these bits
    PCI_BITS_WRITE1_CLEAR = 0x02, // a written 1 clears them
    // The BIOS or Windows set these bits at run time (IRQ routing, DRAM row
    // boundaries, I/O bases, decode enables): a line that changes them works
    // against their owner, and a diff leaves them out.
    PCI_BITS_OWNED = 0x04,
    PCI_BITS_HANGS = 0x08,     // changing them under a running system can hang it
    PCI_BITS_UNVERIFIED = 0x10 // no public source confirms the field
};

// One field: some bits of one byte. A register wider than a byte has a
// field per byte it holds bits in.
struct PciBitField {
    unsigned char offset;
    unsigned char mask;
    unsigned char flags;     // PciBitFlags
    const char *name;        // "IDE decode enable", "F0000-FFFFF read enable"
    const char *consequence; // of a change, for owned and hanging fields; else ""
    const char *source;      // PCI_SOURCE("..."); "" in the standard header's
};

// The fields of byte `offset` of a function whose first 16 bytes are `id`:
// up to `max` into `out`, in bit order. Returns how many.
int pci_bit_fields(const unsigned char *id, unsigned offset, const PciBitField **out, int max);

// The field that holds `bit` (0-7) of the byte; null where none is named.
const PciBitField *pci_bit_field(const unsigned char *id, unsigned offset, unsigned bit);

// Bits of the byte whose fields carry all of `flags`.
unsigned pci_flagged_bits(const unsigned char *id, unsigned offset, unsigned flags);

const int PCI_BITS_TEXT_MAX = 320;

struct PciCapabilityByte; // pci_caps.h

// "bit 7 IDE decode enable 1->0, bit 0 0->1": each bit that differs between
// `from` and `to`, lowest first, named where a field holds it: the
// capability structure's (`cap`, where the byte lies in one), else the
// header's or the chipset's. Returns the length written to `out`
// (PCI_BITS_TEXT_MAX bytes, cut to fit).
int pci_changed_bits_text(char *out, const unsigned char *id, unsigned offset, unsigned from,
                          unsigned to, const PciCapabilityByte *cap = nullptr);

// Calls `proc` for each owned or hanging field whose bits differ between
// `from` and `to`; returns how many.
typedef void (*PciConsequenceProc)(const PciBitField &field, void *context);
int pci_consequences(const unsigned char *id, unsigned offset, unsigned from, unsigned to,
                     PciConsequenceProc proc, void *context);

// The warning about one such field: "IDETIM bit 7 (IDE decode enable) 1->0:
// the channel's ports stop answering ...". Returns the length written to
// `out` (PCI_BITS_TEXT_MAX bytes, cut to fit).
int pci_consequence_text(char *out, const unsigned char *id, const PciBitField &field,
                         unsigned from, unsigned to);

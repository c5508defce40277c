#include "pci_diff.h"

#include "pci_access.h"
#include "pci_bits.h"
#include "pci_header.h"
#include "pci_names.h"
#include "pci_set.h"

namespace
{

const char HEX_LOWER[] = "0123456789abcdef";

bool same_slot(const PciDumpFunction &a, const PciDumpFunction &b)
{
    return a.bus == b.bus && a.dev == b.dev && a.fn == b.fn;
}

const PciDumpFunction *find(const PciDumpFunction *list, int count, const PciDumpFunction &f)
{
    for (int i = 0; i < count; i++)
        if (same_slot(list[i], f))
            return &list[i];
    return nullptr;
}

// Addresses and bus numbers: the BIOS (and Windows after it) gives them
// out at every start; a fixed one in a file would clash with that.
bool bios_assigns(unsigned header_type, unsigned offset)
{
    switch (pci_header_layout(header_type)) {
    case 0:
        return (offset >= 0x10 && offset < 0x28) || (offset >= 0x30 && offset < 0x34);
    case 1:
        return (offset >= 0x10 && offset < 0x1B) || (offset >= 0x1C && offset < 0x1E) ||
               (offset >= 0x20 && offset < 0x34) || (offset >= 0x38 && offset < 0x3C);
    case 2:
        return (offset >= 0x10 && offset < 0x14) || (offset >= 0x18 && offset < 0x1B) ||
               (offset >= 0x1C && offset < 0x3C) || (offset >= 0x44 && offset < 0x48);
    }
    return false;
}

// Why a change is left out, or the byte its line writes.
PciChange change_of(const PciDumpFunction &b, const PciDumpFunction &a, unsigned offset)
{
    PciChange c = {&b, &a, offset, PCI_DIFF_WRITTEN, 0, 0};
    if (b.bus != 0) {
        c.reason = PCI_DIFF_OTHER_BUS;
        return c;
    }
    const unsigned before = b.bytes[offset], after = a.bytes[offset];
    const unsigned changed = before ^ after;
    const PciAccessBits access = pci_byte_access(b.bytes, offset);
    const unsigned owned = pci_flagged_bits(b.bytes, offset, PCI_BITS_OWNED) & access.writable;
    if (!(changed & access.writable))
        c.reason = changed & access.clears ? PCI_DIFF_WRITE1_CLEAR : PCI_DIFF_READ_ONLY;
    else if (bios_assigns(b.bytes[PCI_HEADER_TYPE], offset))
        c.reason = PCI_DIFF_BIOS_ASSIGNS;
    else if (!(changed & access.writable & ~owned))
        c.reason = PCI_DIFF_OWNED;
    c.value = static_cast<unsigned char>(((after & ~owned) | (before & owned)) & ~access.clears);
    c.kept = static_cast<unsigned char>(changed & owned);
    return c;
}

struct Text {
    char *s;
    int n;
    void put(char c) { s[n++] = c; }
    void put(const char *t)
    {
        while (*t && n < PCI_DIFF_TEXT_MAX - 3)
            put(*t++);
    }
    void byte(unsigned v, const char *digits)
    {
        put(digits[(v >> 4) & 15]);
        put(digits[v & 15]);
    }
    void slot(const PciDumpFunction &f)
    {
        char text[PCI_SLOT_TEXT_MAX];
        pci_slot_text(text, f.bus, f.dev, f.fn);
        put(text);
    }
    int end()
    {
        put('\r');
        put('\n');
        s[n] = '\0';
        return n;
    }
};

} // namespace

const char *pci_diff_reason(PciDiffReason reason)
{
    switch (reason) {
    case PCI_DIFF_WRITTEN:
        return "written";
    case PCI_DIFF_ONE_DUMP:
        return "left out: a function in one dump only";
    case PCI_DIFF_OTHER_BUS:
        return "left out: behind a bridge, on a bus the BIOS numbers at each start (a line "
               "reaches it only through a device field of bus x 20 + device)";
    case PCI_DIFF_READ_ONLY:
        return "left out: read-only";
    case PCI_DIFF_WRITE1_CLEAR:
        return "left out: write-1-to-clear: a line clears such bits, never sets them";
    case PCI_DIFF_BIOS_ASSIGNS:
        return "left out: a BAR, window or bus number the BIOS assigns";
    case PCI_DIFF_OWNED:
        return "left out: the BIOS or Windows set it at run time";
    }
    return "";
}

int pci_diff(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
             int after_count, PciChangeProc proc, void *context)
{
    int changes = 0;
    for (int i = 0; i < before_count; i++) {
        const PciDumpFunction &b = before[i];
        const PciDumpFunction *a = find(after, after_count, b);
        if (!a) {
            proc({&b, nullptr, 0, PCI_DIFF_ONE_DUMP, 0, 0}, context);
            changes++;
            continue;
        }
        for (unsigned reg = 0; reg < 256; reg++) {
            if (!pci_dump_known(b, reg) || !pci_dump_known(*a, reg) ||
                b.bytes[reg] == a->bytes[reg])
                continue;
            proc(change_of(b, *a, reg), context);
            changes++;
        }
    }
    for (int i = 0; i < after_count; i++) {
        if (!find(before, before_count, after[i])) {
            proc({nullptr, &after[i], 0, PCI_DIFF_ONE_DUMP, 0, 0}, context);
            changes++;
        }
    }
    return changes;
}

int pci_diff_setting(char *out, const PciChange &c)
{
    return pci_set_line(out, c.after->bus, c.after->dev, c.after->fn, c.offset, c.value);
}

int pci_diff_row(char *out, const PciChange &c)
{
    Text t = {out, 0};
    const PciDumpFunction &f = c.before ? *c.before : *c.after;
    t.slot(f);
    if (c.reason == PCI_DIFF_ONE_DUMP) {
        t.put(c.before ? " --  only before: " : " --  only after: ");
        t.put(pci_diff_reason(c.reason));
        return t.end();
    }
    t.put(' ');
    t.byte(c.offset, HEX_LOWER);
    t.put("  ");
    t.put(pci_byte_name(f.bytes, c.offset, nullptr));
    t.put("  ");
    t.byte(c.before->bytes[c.offset], HEX_LOWER);
    t.put(" -> ");
    t.byte(c.after->bytes[c.offset], HEX_LOWER);
    t.put("  ");
    t.put(pci_diff_reason(c.reason));
    // The owned field that keeps its byte, or that a written line leaves.
    unsigned owned = c.reason == PCI_DIFF_OWNED
                         ? (c.before->bytes[c.offset] ^ c.after->bytes[c.offset])
                         : c.kept;
    for (unsigned bit = 0; owned && bit < 8; bit++) {
        const PciBitField *field = pci_bit_field(f.bytes, c.offset, bit);
        if (!(owned >> bit & 1) || !field || !(field->flags & PCI_BITS_OWNED))
            continue;
        t.put(c.reason == PCI_DIFF_OWNED ? " (" : ", keeping BEFORE's ");
        t.put(field->name);
        if (c.reason == PCI_DIFF_OWNED)
            t.put(")");
        owned &= ~field->mask;
        if (c.reason != PCI_DIFF_OWNED)
            t.put(" (the BIOS or Windows set it)");
    }
    return t.end();
}

namespace
{

struct Printing {
    PciTextProc out, err;
    void *context;
    int lines;
    const unsigned char *id;     // of the change being printed
    unsigned char before, value; // its byte now and after the line
};

void WarnProc(const PciBitField &field, void *context)
{
    Printing *p = static_cast<Printing *>(context);
    if (!(field.flags & PCI_BITS_HANGS))
        return;
    char text[PCI_BITS_TEXT_MAX];
    p->err("  warning: ", p->context);
    pci_consequence_text(text, p->id, field, p->before, p->value);
    p->err(text, p->context);
    p->err("\r\n", p->context);
}

void PrintChangeProc(const PciChange &c, void *context)
{
    Printing *p = static_cast<Printing *>(context);
    char text[PCI_DIFF_TEXT_MAX];
    pci_diff_row(text, c);
    p->err(text, p->context);
    if (c.reason != PCI_DIFF_WRITTEN)
        return;
    p->id = c.before->bytes;
    p->before = c.before->bytes[c.offset];
    p->value = pci_after_write(c.before->bytes, c.offset, p->before, c.value);
    pci_consequences(c.before->bytes, c.offset, p->before, p->value, WarnProc, p);
    pci_diff_setting(text, c);
    p->out(text, p->context);
    p->lines++;
}

// Whether one dump shows only a function's 64-byte header where the other
// shows more: the bytes from 40 up were then not compared.
bool header_only_against_full(const PciDumpFunction *before, int before_count,
                              const PciDumpFunction *after, int after_count)
{
    for (int i = 0; i < before_count; i++) {
        const PciDumpFunction *a = find(after, after_count, before[i]);
        if (a && pci_dump_known(before[i], 0x40) != pci_dump_known(*a, 0x40))
            return true;
    }
    return false;
}

// "12"
const char *decimal(char *buf, unsigned v)
{
    char *p = buf + 11;
    *p = '\0';
    do
        *--p = static_cast<char>('0' + v % 10);
    while ((v /= 10) != 0);
    return p;
}

} // namespace

int pci_diff_print(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
                   int after_count, PciTextProc out, PciTextProc err, void *context)
{
    Printing p = {out, err, context, 0, nullptr, 0, 0};
    int changes = pci_diff(before, before_count, after, after_count, PrintChangeProc, &p);
    char number[12];
    err(decimal(number, static_cast<unsigned>(changes)), context);
    err(changes == 1 ? " change, " : " changes, ", context);
    err(decimal(number, static_cast<unsigned>(p.lines)), context);
    err(p.lines == 1 ? " settings line\r\n" : " settings lines\r\n", context);
    if (header_only_against_full(before, before_count, after, after_count))
        err("warning: one dump shows only the 64-byte headers (kvtlpeek /h): bytes from 40 up "
            "were not compared\r\n",
            context);
    if (p.lines > PCI_SETTINGS_MAX) {
        err("warning: Sorvenka applies the first ", context);
        err(decimal(number, PCI_SETTINGS_MAX), context);
        err(" lines of a file only: the rest would never be read\r\n", context);
    }
    return p.lines;
}

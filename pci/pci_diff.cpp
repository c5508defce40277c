#include "pci_diff.h"

#include "pci_header.h"
#include "pci_names.h"

namespace
{

const char HEX_UPPER[] = "0123456789ABCDEF";
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

PciDiffReason reason_for(const PciDumpFunction &f, unsigned offset)
{
    if (f.bus != 0)
        return PCI_DIFF_NOT_BUS0;
    unsigned type = f.bytes[PCI_HEADER_TYPE];
    switch (pci_header_access(type, offset)) {
    case PCI_READ_ONLY:
        return PCI_DIFF_READ_ONLY;
    case PCI_WRITE1_CLEAR:
        return PCI_DIFF_WRITE1_CLEAR;
    case PCI_WRITABLE:
        break;
    }
    return bios_assigns(type, offset) ? PCI_DIFF_BIOS_ASSIGNS : PCI_DIFF_WRITTEN;
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
    void upper(unsigned v) // no leading zero: "7", "1F"
    {
        if (v > 15)
            put(HEX_UPPER[(v >> 4) & 15]);
        put(HEX_UPPER[v & 15]);
    }
    void slot(const PciDumpFunction &f)
    {
        byte(f.bus, HEX_LOWER);
        put(':');
        byte(f.dev, HEX_LOWER);
        put('.');
        put(HEX_LOWER[f.fn & 7]);
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
    case PCI_DIFF_NOT_BUS0:
        return "left out: not on bus 0, which a settings line cannot leave";
    case PCI_DIFF_READ_ONLY:
        return "left out: read-only";
    case PCI_DIFF_WRITE1_CLEAR:
        return "left out: write-1-to-clear status";
    case PCI_DIFF_BIOS_ASSIGNS:
        return "left out: a BAR, window or bus number the BIOS assigns";
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
            proc({&b, nullptr, 0, PCI_DIFF_ONE_DUMP}, context);
            changes++;
            continue;
        }
        for (unsigned reg = 0; reg < 256; reg++) {
            if (!pci_dump_known(b, reg) || !pci_dump_known(*a, reg) ||
                b.bytes[reg] == a->bytes[reg])
                continue;
            proc({&b, a, reg, reason_for(b, reg)}, context);
            changes++;
        }
    }
    for (int i = 0; i < after_count; i++) {
        if (!find(before, before_count, after[i])) {
            proc({nullptr, &after[i], 0, PCI_DIFF_ONE_DUMP}, context);
            changes++;
        }
    }
    return changes;
}

int pci_diff_setting(char *out, const PciChange &c)
{
    Text t = {out, 0};
    t.byte(c.offset, HEX_UPPER);
    t.put(',');
    t.byte(c.after->bytes[c.offset], HEX_UPPER);
    t.put(',');
    t.upper(c.after->dev);
    t.put(',');
    t.upper(c.after->fn);
    return t.end();
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
    return t.end();
}

namespace
{

struct Printing {
    PciTextProc out, err;
    void *context;
    int lines;
};

void PrintChangeProc(const PciChange &c, void *context)
{
    Printing *p = static_cast<Printing *>(context);
    char text[PCI_DIFF_TEXT_MAX];
    pci_diff_row(text, c);
    p->err(text, p->context);
    if (c.reason != PCI_DIFF_WRITTEN)
        return;
    pci_diff_setting(text, c);
    p->out(text, p->context);
    p->lines++;
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
    Printing p = {out, err, context, 0};
    int changes = pci_diff(before, before_count, after, after_count, PrintChangeProc, &p);
    char number[12];
    err(decimal(number, static_cast<unsigned>(changes)), context);
    err(changes == 1 ? " change, " : " changes, ", context);
    err(decimal(number, static_cast<unsigned>(p.lines)), context);
    err(p.lines == 1 ? " settings line\r\n" : " settings lines\r\n", context);
    if (p.lines > PCI_SETTINGS_MAX) {
        err("warning: Sorvenka applies the first ", context);
        err(decimal(number, PCI_SETTINGS_MAX), context);
        err(" lines of a file only: the rest would never be read\r\n", context);
    }
    return p.lines;
}

#include "pci_dump.h"
#include "hex.h"

namespace
{

// lspci prints 16 bytes a row, at offsets 00, 10, ... f0 (and 100 .. ff0 of
// the extended space with -xxxx); its lines are far shorter than this.
const unsigned ROW_BYTES = 16;
const unsigned LONGEST_LINE = 1000;
const unsigned QUOTE_MAX = 40;

const char HEX_LOWER[] = "0123456789abcdef";
const char HEX_UPPER[] = "0123456789ABCDEF";

// A message into a fixed buffer, cut at its end.
struct Message {
    char *text;
    unsigned size, length;

    void put(char c)
    {
        if (length + 1 < size)
            text[length++] = c;
        text[length] = '\0';
    }
    void put(const char *s)
    {
        while (*s)
            put(*s++);
    }
    void hex(unsigned v)
    {
        char digits[8];
        int n = 0;
        do
            digits[n++] = HEX_LOWER[v & 15];
        while ((v >>= 4) != 0);
        while (n)
            put(digits[--n]);
    }
    void number(unsigned v)
    {
        char digits[12];
        int n = 0;
        do
            digits[n++] = static_cast<char>('0' + v % 10);
        while ((v /= 10) != 0);
        while (n)
            put(digits[--n]);
    }
    // 'text' with control bytes as \xNN, longer ones cut.
    void quoted(const char *s, unsigned n)
    {
        put('\'');
        for (unsigned i = 0; i < n && i < QUOTE_MAX; i++) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (c < 0x20 || c == 0x7F) {
                put("\\x");
                put(HEX_UPPER[c >> 4]);
                put(HEX_UPPER[c & 15]);
            } else {
                put(static_cast<char>(c));
            }
        }
        put(n > QUOTE_MAX ? "...'" : "'");
    }
};

struct Line {
    const char *s;
    unsigned n;

    char at(unsigned i) const { return i < n ? s[i] : '\0'; }
    // Exactly `digits` hex digits at p; -1 if they are not all there.
    long hex_at(unsigned p, unsigned digits) const
    {
        if (p > n || digits > n - p)
            return -1;
        long v = 0;
        for (unsigned i = 0; i < digits; i++) {
            int d = pci_hex_value(s[p + i]);
            if (d < 0)
                return -1;
            v = v * 16 + d;
        }
        return v;
    }
};

enum Slot { SLOT_NONE, SLOT_OK, SLOT_BAD };

// "[dddd:]bb:dd.f[ name]": SLOT_NONE when the line does not have that
// shape, SLOT_BAD (with a message) when it names no reachable function.
Slot parse_slot(const Line &l, PciDumpFunction *f, Message *why)
{
    unsigned p = 0;
    long domain = 0;
    if (l.at(4) == ':' && l.at(7) == ':' && l.hex_at(0, 4) >= 0) {
        domain = l.hex_at(0, 4);
        p = 5;
    }
    long bus = l.hex_at(p, 2), dev = l.hex_at(p + 3, 2), fn = l.hex_at(p + 6, 1);
    char after = l.at(p + 7);
    if (bus < 0 || dev < 0 || fn < 0 || l.at(p + 2) != ':' || l.at(p + 5) != '.' ||
        (after != '\0' && after != ' '))
        return SLOT_NONE;
    if (domain != 0) {
        why->put("domain ");
        for (int i = 0; i < 4; i++)
            why->put(l.s[i]);
        why->put(": ports CF8/CFC reach domain 0000 only");
        return SLOT_BAD;
    }
    if (dev > 0x1F || fn > 7) {
        why->put(dev > 0x1F ? "device " : "function ");
        why->hex(static_cast<unsigned>(dev > 0x1F ? dev : fn));
        why->put(dev > 0x1F ? " is above 1f" : " is above 7");
        return SLOT_BAD;
    }
    f->bus = static_cast<unsigned char>(bus);
    f->dev = static_cast<unsigned char>(dev);
    f->fn = static_cast<unsigned char>(fn);
    f->name_at = l.n > p + 8 ? p + 8 : l.n;
    f->name_length = l.n - f->name_at;
    return SLOT_OK;
}

// "40: 0c 02 ...": the row's bytes into f (those past 0xFF are dropped), or
// into nothing when f is null. False, with a message, for a row lspci would
// not print.
bool parse_row(const Line &l, PciDumpFunction *f, Message *why)
{
    unsigned colon = 0;
    while (colon < l.n && l.s[colon] != ':')
        colon++;
    long offset = colon == 2 || colon == 3 ? l.hex_at(0, colon) : -1;
    if (offset < 0) {
        why->put("not an lspci -x dump: ");
        why->quoted(l.s, l.n);
        return false;
    }
    if (offset % ROW_BYTES != 0) {
        why->put("offset ");
        why->hex(static_cast<unsigned>(offset));
        why->put(" does not start a row of 16 bytes");
        return false;
    }
    unsigned count = 0;
    for (unsigned p = colon + 1; p < l.n;) {
        if (l.s[p] == ' ') {
            p++;
            continue;
        }
        long v = l.hex_at(p, 2);
        char next = l.at(p + 2);
        if (v < 0 || (next != '\0' && next != ' ')) {
            unsigned end = p;
            while (end < l.n && l.s[end] != ' ')
                end++;
            why->put("bad byte ");
            why->quoted(l.s + p, end - p);
            why->put(" (two hex digits each)");
            return false;
        }
        if (++count > ROW_BYTES) {
            why->put("more than 16 bytes in a row");
            return false;
        }
        unsigned reg = static_cast<unsigned>(offset) + count - 1;
        if (f && reg < 256) {
            f->bytes[reg] = static_cast<unsigned char>(v);
            f->known[reg >> 3] = static_cast<unsigned char>(f->known[reg >> 3] | 1u << (reg & 7));
        }
        p += 2;
    }
    if (count == 0) {
        why->put("no bytes after offset ");
        why->hex(static_cast<unsigned>(offset));
        return false;
    }
    return true;
}

// What one line adds; false with a message.
bool read_line(const char *text, const Line &l, PciDumpFunction *out, int capacity, int *count,
               int line_no, Message *why)
{
    if (l.n > LONGEST_LINE) {
        why->number(l.n);
        why->put(" bytes long: not a line of lspci");
        return false;
    }
    for (unsigned i = 0; i < l.n; i++) {
        unsigned char c = static_cast<unsigned char>(l.s[i]);
        if (c < 0x20 || c == 0x7F) {
            why->put("control byte ");
            why->quoted(l.s + i, 1);
            why->put(" at column ");
            why->number(i + 1);
            return false;
        }
    }
    unsigned first = 0;
    while (first < l.n && l.s[first] == ' ')
        first++;
    if (first == l.n)
        return true;

    PciDumpFunction slot;
    switch (parse_slot(l, &slot, why)) {
    case SLOT_BAD:
        return false;
    case SLOT_OK:
        for (int i = 0; i < *count; i++) {
            const PciDumpFunction &o = out[i];
            if (o.bus == slot.bus && o.dev == slot.dev && o.fn == slot.fn) {
                char name[PCI_SLOT_TEXT_MAX];
                pci_slot_text(name, o.bus, o.dev, o.fn);
                why->put(name);
                why->put(" again (first on line ");
                why->number(static_cast<unsigned>(o.line));
                why->put(")");
                return false;
            }
        }
        if (*count == capacity) {
            why->put("more than ");
            why->number(static_cast<unsigned>(capacity));
            why->put(" functions");
            return false;
        }
        {
            PciDumpFunction &f = out[(*count)++];
            f.bus = slot.bus;
            f.dev = slot.dev;
            f.fn = slot.fn;
            f.line = line_no;
            f.name_at = static_cast<unsigned>(l.s - text) + slot.name_at;
            f.name_length = slot.name_length;
            for (unsigned i = 0; i < 256; i++)
                f.bytes[i] = 0;
            for (unsigned i = 0; i < 32; i++)
                f.known[i] = 0;
        }
        return true;
    case SLOT_NONE:
        break;
    }
    if (!parse_row(l, *count ? &out[*count - 1] : nullptr, why))
        return false;
    if (!*count) {
        why->put("bytes before any device line ('bb:dd.f name')");
        return false;
    }
    return true;
}

} // namespace

int pci_dump_read(const char *text, unsigned size, PciDumpFunction *out, int capacity,
                  PciDumpError *error)
{
    Message why = {error->what, sizeof error->what, 0};
    error->what[0] = '\0';
    error->line = 0;
    if (size == 0) {
        why.put("the dump is empty");
        return -1;
    }
    int count = 0, line_no = 0;
    for (unsigned start = 0; start < size;) {
        unsigned end = start;
        while (end < size && text[end] != '\n' && text[end] != '\r')
            end++;
        line_no++;
        Line l = {text + start, end - start};
        if (!read_line(text, l, out, capacity, &count, line_no, &why)) {
            error->line = line_no;
            return -1;
        }
        start = end + (end < size ? 1 : 0);
        if (end < size && text[end] == '\r' && start < size && text[start] == '\n')
            start++;
    }
    if (count == 0) {
        why.put("no device in the dump");
        return -1;
    }
    return count;
}

int pci_slot_text(char *out, unsigned bus, unsigned dev, unsigned fn)
{
    out[0] = HEX_LOWER[(bus >> 4) & 15];
    out[1] = HEX_LOWER[bus & 15];
    out[2] = ':';
    out[3] = HEX_LOWER[(dev >> 4) & 1];
    out[4] = HEX_LOWER[dev & 15];
    out[5] = '.';
    out[6] = HEX_LOWER[fn & 7];
    out[7] = '\0';
    return 7;
}

int pci_dump_write(char *out, unsigned bus, unsigned dev, unsigned fn, const unsigned char *bytes,
                   unsigned count)
{
    int n = 0;
    auto put = [&](char c) { out[n++] = c; };
    auto byte = [&](unsigned v) {
        put(HEX_LOWER[(v >> 4) & 15]);
        put(HEX_LOWER[v & 15]);
    };
    auto text = [&](const char *s) {
        while (*s)
            put(*s++);
    };
    n = pci_slot_text(out, bus, dev, fn);
    put(' ');
    byte(bytes[0x0B]);
    byte(bytes[0x0A]);
    text(": ");
    byte(bytes[1]);
    byte(bytes[0]);
    put(':');
    byte(bytes[3]);
    byte(bytes[2]);
    if (bytes[0x08]) {
        text(" (rev ");
        byte(bytes[0x08]);
        put(')');
    }
    text("\r\n");
    for (unsigned row = 0; row < count && row < 256; row += 16) {
        byte(row);
        put(':');
        for (unsigned i = 0; i < 16; i++) {
            put(' ');
            byte(bytes[row + i]);
        }
        text("\r\n");
    }
    text("\r\n");
    return n;
}

#include "pci_set.h"

#include "hex.h"
#include "pci_access.h"
#include "pci_dump.h"

namespace
{

const char HEX[] = "0123456789ABCDEF";

// One or two hex digits up to `end` (a character or the text's end).
const char *number(const char *p, char end, unsigned *v, int max_digits = 2)
{
    int n = 0;
    *v = 0;
    for (; pci_hex_value(*p) >= 0; p++, n++)
        *v = *v * 16 + static_cast<unsigned>(pci_hex_value(*p));
    return n >= 1 && n <= max_digits && *p == end ? p : nullptr;
}

// Upper-case hex without leading zeros: "7", "1F", "1FFF".
int put_hex(char *out, unsigned v)
{
    char digits[8];
    int n = 0;
    do
        digits[n++] = HEX[v & 15];
    while ((v >>= 4) != 0);
    for (int i = 0; i < n; i++)
        out[i] = digits[n - 1 - i];
    return n;
}

} // namespace

unsigned char pci_set_byte(unsigned char now, unsigned value, unsigned mask)
{
    return static_cast<unsigned char>((now & ~mask) | (value & mask));
}

bool pci_set_write(const unsigned char *id, unsigned reg, unsigned char now, unsigned value,
                   unsigned mask, unsigned char *byte, unsigned *fixed)
{
    const PciAccessBits access = pci_byte_access(id, reg);
    const unsigned read_only = ~(access.writable | access.clears) & 0xFFu;
    *fixed = mask & ((read_only & (value ^ now)) | (access.clears & value & ~now));
    *byte = static_cast<unsigned char>((pci_set_byte(now, value, mask) & access.writable) |
                                       (now & read_only) | (access.clears & mask & ~value & now));
    return *fixed == 0;
}

bool pci_set_parse(const char *text, unsigned *value, unsigned *mask)
{
    *mask = 0xFF;
    const char *p = number(text, ':', value);
    if (p)
        return number(p + 1, '\0', mask) != nullptr;
    return number(text, '\0', value) != nullptr;
}

bool pci_set_parse_slot(const char *text, unsigned *bus, unsigned *dev, unsigned *fn)
{
    const char *p = number(text, ':', bus);
    p = p ? number(p + 1, '.', dev) : nullptr;
    p = p ? number(p + 1, '\0', fn, 1) : nullptr;
    return p && *dev < 0x20 && *fn < 8;
}

int pci_set_line(char *out, unsigned bus, unsigned dev, unsigned fn, unsigned reg,
                 unsigned char value)
{
    int n = 0;
    out[n++] = HEX[reg >> 4 & 15];
    out[n++] = HEX[reg & 15];
    out[n++] = ',';
    out[n++] = HEX[value >> 4];
    out[n++] = HEX[value & 15];
    out[n++] = ',';
    n += put_hex(out + n, bus * 0x20 + dev);
    out[n++] = ',';
    n += put_hex(out + n, fn);
    out[n++] = '\r';
    out[n++] = '\n';
    out[n] = '\0';
    return n;
}

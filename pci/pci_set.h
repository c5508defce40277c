// setpci's VALUE:MASK turned into a settings line: the bits of MASK take
// VALUE's, the others keep the byte the register holds now. kvtlcheck --set
// does it from a dump, kvtlpeek /s from the live byte.
#pragma once

// The byte to write: `now` with the bits of `mask` taken from `value`.
unsigned char pci_set_byte(unsigned char now, unsigned value, unsigned mask);

// The byte whose write leaves the bits of `mask` as `value` has them and
// every other bit as it is, by each bit's access (pci_access.h) in register
// `reg` of the function whose first 16 bytes are `id`: a write-1-to-clear
// bit is written 1 to become 0 and 0 to stay. False, with the bits that no
// write gives their value in `fixed`: read-only ones that differ, and
// write-1-to-clear ones asked to become 1.
bool pci_set_write(const unsigned char *id, unsigned reg, unsigned char now, unsigned value,
                   unsigned mask, unsigned char *byte, unsigned *fixed);

// Reads "VALUE" or "VALUE:MASK" (hex, one or two digits each; no mask: FF).
// False on anything else.
bool pci_set_parse(const char *text, unsigned *value, unsigned *mask);
// Reads "BB:DD.F" (hex; device up to 1F, function up to 7). False otherwise.
bool pci_set_parse_slot(const char *text, unsigned *bus, unsigned *dev, unsigned *fn);

const int PCI_SET_LINE_MAX = 24;
// The line that reaches bus:dev.fn register `reg`: "48,07,7,1\r\n". Past
// bus 0 the device field carries the bus, as the address does: bus x 20 +
// device ("04,07,20,0" for 01:00.0). Returns its length.
int pci_set_line(char *out, unsigned bus, unsigned dev, unsigned fn, unsigned reg,
                 unsigned char value);

// What a write does to each bit of a configuration byte: takes the written
// bit (read/write), clears the bit where a 1 is written (write-1-to-clear),
// or leaves it (read-only). The standard header's rules, refined by the
// chipset's table past it. The virtual chipset, kvtlcheck, kvtlpeek's
// preview and the diffs all predict a write with these masks.
#pragma once

struct PciAccessBits {
    unsigned char writable; // bits that take the written value
    unsigned char clears;   // bits a written 1 clears; a written 0 leaves them
    // Every other bit is read-only.
};

// The standard header's masks for one byte of a function whose first 16
// bytes are `id` (IDs, header type, BIST). Past the standard header every
// bit counts as read/write.
PciAccessBits pci_header_bits(const unsigned char *id, unsigned offset);

// The header's masks, or past the header the chipset table's read-only and
// write-1-to-clear fields (pci_bits.h) taken out of read/write.
PciAccessBits pci_byte_access(const unsigned char *id, unsigned offset);

// The byte after writing `value` over `old`.
unsigned char pci_after_write(const unsigned char *id, unsigned offset, unsigned char old,
                              unsigned char value);

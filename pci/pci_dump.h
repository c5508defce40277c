// Machine dumps in the form of "lspci -x" (the 64-byte header) and
// "lspci -xxx" (all 256 bytes), "lspci -n" slot lines included: the reader
// that kvtlcheck and the virtual chipset take a user's dump with, and the
// writer kvtlpeek prints one with. No C runtime, no allocation.
#pragma once

struct PciDumpFunction {
    unsigned char bus, dev, fn;
    int line;                      // of its slot line, from 1
    unsigned name_at, name_length; // the text after the slot, within the dump
    unsigned char bytes[256];      // 0 where the dump shows nothing
    unsigned char known[32];       // one bit per byte the dump shows
};

inline bool pci_dump_known(const PciDumpFunction &f, unsigned reg)
{
    return (f.known[(reg >> 3) & 31] >> (reg & 7)) & 1;
}

struct PciDumpError {
    int line;       // 0: about the whole dump
    char what[160]; // without the "line N: " prefix
};

// Reads `size` bytes of dump. LF, CR LF and a lone CR end a line; rows of
// the extended space (offset 100 and up) are skipped. A dump is user input:
// on anything lspci would not print (bad hex, a row not of up to 16 bytes
// at a multiple of 16, device above 1f or function above 7, a domain other
// than 0000, a function twice, control bytes, an overlong line, no function
// at all, more functions than `capacity`) it returns -1 with `error` set.
// Otherwise the number of functions, in dump order.
int pci_dump_read(const char *text, unsigned size, PciDumpFunction *out, int capacity,
                  PciDumpError *error);

// A function's place as lspci names it, "bb:dd.f" (device and function
// masked to their 5 and 3 bits), ended by a 0; returns its length, 7.
const int PCI_SLOT_TEXT_MAX = 8;
int pci_slot_text(char *out, unsigned bus, unsigned dev, unsigned fn);

// Room for one function written out, 256 bytes shown.
const int PCI_DUMP_BLOCK_MAX = 1024;

// One function as "lspci -n -xxx" (count 256) or "lspci -n -x" (count 64)
// prints it: "bb:dd.f cccc: vvvv:dddd (rev rr)", rows of 16, a blank line,
// each line ended by CR LF. Returns the length written to `out`.
int pci_dump_write(char *out, unsigned bus, unsigned dev, unsigned fn, const unsigned char *bytes,
                   unsigned count);

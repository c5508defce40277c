// From two dumps of the same PC (before and after one BIOS option) to the
// settings lines that turn the first into the second, and why every other
// change is left out. kvtlcheck --diff and kvtlpeek /d share it, so they
// print the same file. No C runtime, no allocation.
#pragma once

#include "pci_dump.h"

enum PciDiffReason {
    PCI_DIFF_WRITTEN,      // a settings line makes the change
    PCI_DIFF_ONE_DUMP,     // the function is in only one of the dumps
    PCI_DIFF_OTHER_BUS,    // behind a bridge, on a bus the BIOS numbers
    PCI_DIFF_READ_ONLY,    // a write leaves the bits as they are
    PCI_DIFF_WRITE1_CLEAR, // a write clears the bits, never sets them
    PCI_DIFF_BIOS_ASSIGNS, // a BAR, window or bus number the BIOS assigns
    PCI_DIFF_OWNED,        // bits the BIOS or Windows set at run time (pci_bits.h)
};

struct PciChange {
    const PciDumpFunction *before, *after; // one is null for PCI_DIFF_ONE_DUMP
    unsigned offset;                       // unused for PCI_DIFF_ONE_DUMP
    PciDiffReason reason;
    // PCI_DIFF_WRITTEN: the byte the line writes. AFTER's, except that bits
    // the BIOS or Windows own keep BEFORE's, and write-1-to-clear bits are
    // written as 0, which leaves them.
    unsigned char value;
    unsigned char kept; // owned bits that differ and keep BEFORE's value
};

const char *pci_diff_reason(PciDiffReason reason); // "read-only", ...

// Every change, functions in BEFORE's order (then those only in AFTER),
// bytes in offset order; bytes either dump does not show are no change.
// Returns the number of changes; `proc` is called for each.
typedef void (*PciChangeProc)(const PciChange &change, void *context);
int pci_diff(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
             int after_count, PciChangeProc proc, void *context);

const int PCI_DIFF_TEXT_MAX = 192;
// The settings line of a written change: "5C,33,0,0\r\n" (CR LF: the file
// is for the 9x PC).
int pci_diff_setting(char *out, const PciChange &change);
// The row of the change table: "00:00.0 5c  PAM3  00 -> 33  written\r\n";
// a function in one dump only: "00:0d.0 --  function in one dump only\r\n".
// An owned change names the field: "... left out: ... (interrupt line)".
int pci_diff_row(char *out, const PciChange &change);
// Sorvenka applies this many lines of a file at most.
const int PCI_SETTINGS_MAX = 64;

// The whole report: the settings lines through `out`, CR LF ended; through
// `err` the change table (a written change that can hang a running PC gets
// a warning line under its row), a summary, a warning where one dump shows
// only the 64-byte headers and the other more, and one past
// PCI_SETTINGS_MAX lines. Returns the number of settings lines.
typedef void (*PciTextProc)(const char *text, void *context);
int pci_diff_print(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
                   int after_count, PciTextProc out, PciTextProc err, void *context);

// From two dumps of the same PC (before and after one BIOS option) to the
// settings lines that turn the first into the second, and why every other
// change is left out. kvtlcheck --diff and kvtlpeek /d share it, so they
// print the same file. No C runtime, no allocation.
#pragma once

#include "pci_dump.h"

enum PciDiffReason {
    PCI_DIFF_WRITTEN,      // a settings line makes the change
    PCI_DIFF_ONE_DUMP,     // the function is in only one of the dumps
    PCI_DIFF_NOT_BUS0,     // a settings line reaches bus 0 only
    PCI_DIFF_READ_ONLY,    // a write leaves the byte as it is
    PCI_DIFF_WRITE1_CLEAR, // status: a write clears bits, never sets them
    PCI_DIFF_BIOS_ASSIGNS, // a BAR, window or bus number the BIOS assigns
};

struct PciChange {
    const PciDumpFunction *before, *after; // one is null for PCI_DIFF_ONE_DUMP
    unsigned offset;                       // unused for PCI_DIFF_ONE_DUMP
    PciDiffReason reason;
};

const char *pci_diff_reason(PciDiffReason reason); // "read-only", ...

// Every change, functions in BEFORE's order (then those only in AFTER),
// bytes in offset order; bytes either dump does not show are no change.
// Returns the number of changes; `proc` is called for each.
typedef void (*PciChangeProc)(const PciChange &change, void *context);
int pci_diff(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
             int after_count, PciChangeProc proc, void *context);

const int PCI_DIFF_TEXT_MAX = 128;
// The settings line of a written change: "5C,33,0,0\r\n" (CR LF: the file
// is for the 9x PC).
int pci_diff_setting(char *out, const PciChange &change);
// The row of the change table: "00:00.0 5c  PAM3  00 -> 33  written\r\n";
// a function in one dump only: "00:0d.0 --  function in one dump only\r\n".
int pci_diff_row(char *out, const PciChange &change);
// Sorvenka applies this many lines of a file at most.
const int PCI_SETTINGS_MAX = 64;

// The whole report: the settings lines through `out`, CR LF ended; the
// change table, a summary and, past PCI_SETTINGS_MAX lines, a warning
// through `err`. Returns the number of settings lines.
typedef void (*PciTextProc)(const char *text, void *context);
int pci_diff_print(const PciDumpFunction *before, int before_count, const PciDumpFunction *after,
                   int after_count, PciTextProc out, PciTextProc err, void *context);

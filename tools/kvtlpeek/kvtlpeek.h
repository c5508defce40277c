// kvtlpeek.exe: reads PCI configuration space on Windows 95/98/Me and shows
// what kvtl.cfg would change, writing no configuration byte.
#pragma once

#include <windows.h>

#include <cstdint>

#include "config_ports.h"

// ---- hardware: the only port instructions of the program --------------

void hw_out32(std::uint16_t port, std::uint32_t value);
std::uint32_t hw_in32(std::uint16_t port);
std::uint8_t hw_in8(std::uint16_t port);

// Configuration Mechanism #1 as pciutils and Linux detect it: 0xCF8 keeps
// 0x80000000 written to it. What it held before is put back.
bool mechanism1_present();
// Linux's sanity check of the mechanism: bus 0 shows a host bridge (class
// 0600), a VGA device (0300), or a device of Intel or Compaq. A board whose
// 0xCF8 latches anything passes the test above and fails this one.
bool mechanism1_reaches_functions();
// One dword of configuration space (reg a multiple of 4).
std::uint32_t config_read32(unsigned bus, unsigned dev, unsigned fn, unsigned reg);

// ---- text output: buffered standard output, CR LF written by callers -----

void out_text(const char *text);
void out_format(const char *format, ...);
void out_flush();
// True when every byte given to out_text so far reached standard output
// (after out_flush): a full floppy makes WriteFile fail or come up short.
bool out_complete();
// Straight to standard error, for the messages before any other output.
void err_text(const char *text);

// ---- the two modes --------------------------------------------------------

// Every present function in "lspci -n -xxx" form, or only the 64-byte
// header of each ("lspci -n -x").
void dump_machine(bool header_only);
// The settings file that turns dump BEFORE into AFTER on standard output,
// every change on standard error; the exit status (0, 1 over 64 lines, 2
// a dump that cannot be read).
int diff_dumps(const char *before, const char *after);
// The settings pass over the shadowing port layer; false when the file
// cannot be opened.
bool preview_settings(const char *file_name);

// kvtlpeek.exe: reads PCI configuration space on Windows 95/98/Me and shows
// what kvtl.cfg would change, writing no configuration byte.
#pragma once

#include <windows.h>

#include <cstdint>

#include "conf1.h"

// ---- the ports (ports.cpp): every port instruction of the program ------
//
// They also serve the engine's port seam (port_io.h): addresses and reads
// go to the hardware, data writes into a shadow that later reads see.

// The top-level filter: a refused IN or OUT ends the program with
// ports_refused()'s status, after its message.
LONG WINAPI PortFaultProc(EXCEPTION_POINTERS *info);
// The message for a Windows that refuses the ports; the exit status.
int ports_refused();

// Whether dword 0 of a function, its vendor and device IDs, is what an
// empty slot reads: Linux skips FFFFFFFF, 00000000, 0000FFFF and FFFF0000
// ("some broken boards return 0 or ~0 if a slot is empty",
// drivers/pci/probe.c, pci_bus_generic_read_dev_vendor_id), pciutils
// 00000000 and FFFFFFFF (lib/generic.c, pci_generic_scan_bus); vendor ID
// FFFF, the value no function drives, is no vendor's either.
bool slot_empty(std::uint32_t id);
// Linux's sanity check of the mechanism: bus 0 shows a host bridge (class
// 0600), a VGA device (0300), or a device of Intel or Compaq. A board whose
// 0xCF8 latches anything passes the engine's test (cfg_mechanism1_present)
// and fails this one.
bool mechanism1_reaches_functions();
// One dword of configuration space (reg a multiple of 4).
std::uint32_t config_read32(unsigned bus, unsigned dev, unsigned fn, unsigned reg);
// The first `count` bytes (16: IDs, header type; 256: all) of the function
// a CONFIG_ADDRESS value selects; whether one answers there (its slot not
// empty).
bool function_id(std::uint32_t address, std::uint8_t *id, unsigned count = 16);

// ---- text output: buffered standard output, CR LF written by callers -----

int out_text(const char *text); // its length
void out_format(const char *format, ...);
void out_flush();
// True when every byte given to out_text so far reached standard output
// (after out_flush): a full floppy makes WriteFile fail or come up short.
bool out_complete();
// out_text's text to `file` instead of standard output, until out_close.
void out_to(HANDLE file);
// Flushes into that file and closes it; when it did not take every byte
// (a full floppy), deletes it, file `name`, and returns false: a torn
// settings file must not be left for Sorvenka to apply.
bool out_close(const char *name);
// Straight to standard error, for the messages before any other output;
// its length.
int err_text(const char *text);
// Unbuffered text to a file; false when it did not take every byte.
bool file_text(HANDLE file, const char *text);
// "kvtlpeek: WHAT could not be written whole" on standard error; exit
// status 5.
int output_lost(const char *what);

// A line "warning: ..." for each field of the byte that the BIOS or Windows
// own or that can hang the PC, and that differs between `from` and `to`:
// kvtlcheck's words, from the same tables. On standard error for /s, else
// on standard output under a preview row.
void warn_consequences(const std::uint8_t *id, unsigned offset, unsigned from, unsigned to,
                       bool on_stderr);

// ---- the modes -------------------------------------------------------------

// Every present function in "lspci -n -xxx" form, or only the 64-byte
// header of each ("lspci -n -x").
void dump_machine(bool header_only);
// The settings file that turns dump BEFORE into AFTER, in file `settings`
// ("": standard output), every change in file TABLE ("": standard error, where
// COMMAND.COM cannot redirect it); the exit status (0, 1 over 64 lines, 2 a
// dump that cannot be read, 5 the file or the table not written whole).
int diff_dumps(const char *before, const char *after, const char *table, const char *settings);
// The settings pass over the shadowing port layer; false when the file
// cannot be opened.
bool preview_settings(const char *file_name);
// /s BB:DD.F REG VALUE[:MASK]: 0 when the arguments hold, else the exit
// status (2 malformed, 6 a register above FF). No port is touched.
int set_arguments(const char *slot, const char *reg, const char *value);
// The settings line for them from the live byte on standard output, its
// warnings on standard error; the exit status (0, or 6 when no line can
// reach the function or set the bits). Only reads configuration space.
int set_line();

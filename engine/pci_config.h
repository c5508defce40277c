// PCI configuration space, byte-wide, through Configuration Mechanism #1,
// and the journal of every byte the settings pass replaced.
#pragma once

#include <cstdint>

const int MAX_JOURNAL_ENTRIES = 64;

// One journalled write is one index across the arrays of the journal: the
// restore uses the first three, the resume `written`.
struct JournalEntry {
    std::uint32_t address;  // CONFIG_ADDRESS as written to 0xCF8
    std::uint32_t previous; // byte read before the write (low 8 bits)
    std::uint32_t port;     // data port 0xCFC..0xCFF (low 16 bits)
    std::uint32_t written;  // the line's value (low 8 bits are written)
};

struct RegisterJournal {
    std::uint32_t address[MAX_JOURNAL_ENTRIES];
    std::uint32_t previous[MAX_JOURNAL_ENTRIES];
    std::uint32_t port[MAX_JOURNAL_ENTRIES];
    std::uint32_t written[MAX_JOURNAL_ENTRIES]; // the line's value, set by the settings pass
    std::int32_t count;
};

extern RegisterJournal g_journal;

// 0x80000000 | device << 11 | function << 8 | reg, no field masked: large
// numbers spill into the neighbouring fields and the bus number.
std::uint32_t cfg_address(std::uint32_t reg, std::uint32_t device, std::uint32_t function);
// 0xCFC plus the register's byte lane.
std::uint16_t cfg_data_port(std::uint32_t reg);

// Entry `index` (0 to count-1) as the journal holds it: tools read the
// journal through this, never through its arrays.
JournalEntry journal_entry(int index);

// Whether 0xCF8 is Configuration Mechanism #1's CONFIG_ADDRESS: it keeps
// 0x80000000 written to it (Linux's pci_check_type1, arch/x86/pci/direct.c).
// What it held is written back. On a board with Mechanism #2, 0xCF8 is the
// Configuration Space Enable register: an address written there unchecked
// would map configuration space over I/O C000-CFFF and leave it there.
bool cfg_mechanism1_present();

// Reads the register's current byte and appends it to the journal.
// The caller keeps g_journal.count below MAX_JOURNAL_ENTRIES.
void cfg_read_record(std::uint32_t reg, std::uint32_t device, std::uint32_t function);
// Writes the low 8 bits of value; the journal is not touched.
void cfg_write_byte(std::uint32_t reg, std::uint32_t device, std::uint32_t function,
                    std::uint32_t value);
// Puts the journalled bytes back, newest entry first: the exact inverse of
// the pass. Each entry is written back while every later change is undone,
// so its address reaches what it reached when it was read (a later line may
// have moved a bridge's bus numbers), and a register named twice ends with
// the byte its first entry read. Leaves the journal as it is, so it may run
// again after journal_reapply; not twice in a row: from bytes already back,
// an entry read where no function answered (on a bus a later line had moved
// away) can reach a function again and write it the FF it read.
void journal_restore();
// Writes each entry's `written` byte again, oldest first: the settings pass
// once more, without its reads, for a BIOS that set the chipset up anew after
// a resume. `previous` keeps the bytes from before the start.
void journal_reapply();

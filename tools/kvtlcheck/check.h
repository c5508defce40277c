// kvtlcheck: reads a settings file with the program's own reader and parser,
// runs the settings pass and the restore on a virtual chipset, and says what
// each applied line did and what in the file is likely not what was meant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chipset.h"
#include "pci_caps.h"
#include "pci_dump.h"

namespace kvtlcheck
{

// Warning kinds, one per sharp edge of the format or the hardware.
enum class Kind {
    Register0,      // blank, comma-only or remark line applied as register 0
    NotHex,         // a field that reads as 0: ' 5A', '0x41', '$41'
    Wrapped,        // more than eight digits
    ValueAbove,     // value above 0xFF: only the low byte is written
    Spill,          // device >= 32, function >= 8 or register >= 256
    Absent,         // no function at the address reached
    ReadOnly,       // the byte did not take the write
    Duplicate,      // a register named twice
    NeverRead,      // lines after the 64th applied one
    CtrlZ,          // a 0x1A that ends the input early
    CrOnly,         // lines ended by a CR alone, merged into one
    Split,          // a piece of a line longer than 253 bytes
    Nul,            // a NUL byte that cuts a line short or makes it skipped
    StopsAnswering, // command register bits 0-2 cleared: decoding or bus mastering off
    BusNumbers,     // a bridge's bus numbers changed: the buses behind it move
    Hazard,         // a bit that can hang a running PC changes (pci_bits.h)
    Owned,          // bits the BIOS or Windows set at run time change
    Clears,         // write-1-to-clear bits cleared: nothing can set them again
};
const char *kind_name(Kind k); // "register-0", "not-hex", ...

struct Warning {
    int line; // physical line it is about
    Kind kind;
    std::string text;
};

// One piece that the program applies: journal read, then write.
struct Applied {
    int line;         // physical line where the piece starts (1-based)
    int last_line;    // physical line of its last byte (> line after lone CRs)
    std::string text; // the piece as the program reads it (CR LF as LF)
    std::uint32_t reg, value, device, function;
    std::uint32_t address; // to 0xCF8
    std::uint16_t port;    // 0xCFC..0xCFF
    sim::Bdf reaches;      // where the address lands
    unsigned offset;       // register reached, 0..255
    bool present;          // a function answers there
    std::string name;      // its name on the machine, if any
    std::string reg_name;  // the register's: "STATUS", "PAM3", "device-specific"
    std::string note;      // the chipset table's words on it, or ""
    // The capability structure the byte lies in, by the machine's bytes
    // before the file: "AGP Command (cap 02 at A0)+8"; "" outside the list.
    std::string capability;
    PciCapabilityByte cap; // its structure, when `capability` is not ""
    std::string chip;      // the chipset table's chip, or ""
    std::string source;    // the datasheet the table was read from, or ""
    std::uint8_t id[16];   // the function's IDs and header type, when present
    bool known;            // the machine's dump shows the byte (else before/after unknown)
    std::uint8_t before, written, after;
    std::vector<Warning> warnings;
};

// One register the pass changed, after the restore.
struct Restored {
    sim::Bdf at; // where the function sits at power-on
    unsigned offset;
    std::uint8_t pre_pass, now;
};

struct Report {
    std::vector<Applied> applied;
    std::vector<Warning> file_warnings; // about lines that were not applied
    std::vector<Restored> restored;     // present registers the pass reached, once each
    int restore_writes;                 // byte writes the restore issued, one per line
    bool all_restored;                  // the whole machine is as before the pass

    int warning_count() const;
};

// Lines are counted as an editor shows them: LF, CR LF and a lone CR each
// end one. Runs the engine's own pass over `path` (read once, through the
// engine's file seam), watching each piece, on a copy of `machine` (made the
// active chipset), then the restore. False, with a message, when the file
// cannot be opened or read.
bool check_file(const std::string &path, const sim::Chipset &machine, Report *report,
                std::string *error);

// "41,5A\\n", non-printing bytes as \xNN.
std::string escape(const std::string &bytes);
// Upper-case hex, zero-padded to `width` digits: "5A", "80003943".
std::string hex(std::uint32_t v, int width = 2);

std::string render_table(const Report &report, const std::string &file, bool colour);
// One array, one object per applied line.
std::string render_json(const Report &report);

// kvtlcheck --set: the settings line that sets the bits of `mask` to those
// of `value` in register `reg` of `at` and keeps the others, from the
// machine's byte; warnings about it into `warnings`. False, with `error`,
// when no line can do it (register above FF, nothing at `at`, a byte the
// dump does not show, bits of the mask that no write changes).
bool set_line(const sim::Chipset &machine, sim::Bdf at, unsigned reg, unsigned value, unsigned mask,
              std::string *line, std::vector<std::string> *warnings, std::string *error);

// The settings file that turns BEFORE into AFTER, and the table of every
// change (pci_diff_print); returns the number of settings lines.
int diff_dumps(const std::vector<PciDumpFunction> &before,
               const std::vector<PciDumpFunction> &after, std::string *settings,
               std::string *table);

} // namespace kvtlcheck

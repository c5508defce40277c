#include "check.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "chipset_tables.h"
#include "conf1.h"
#include "file_io.h"
#include "pci_access.h"
#include "pci_bits.h"
#include "pci_config.h"
#include "pci_header.h"
#include "pci_names.h"
#include "settings.h"

namespace kvtlcheck
{

namespace
{

const char *const FIELD_NAMES[4] = {"register", "value", "device", "function"};

std::string describe_char(char c)
{
    switch (c) {
    case ' ':
        return "a space";
    case '\t':
        return "a tab";
    case '\r':
        return "a CR";
    case '\n':
        return "the line end";
    default:
        return "'" + escape(std::string(1, c)) + "'";
    }
}

std::string where(const Applied &a)
{
    std::string s = sim::format(a.reaches) + " register " + hex(a.offset);
    if (a.present)
        return a.name.empty() ? s : s + " (" + a.name + ")";
    return s + " (nothing there)";
}

void warn(Applied &a, Kind kind, const std::string &text)
{
    a.warnings.push_back({a.line, kind, text});
}

// Fields that do not read as the number they look like.
void check_fields(Applied &a, const std::string &text, const SettingsPiece &piece)
{
    for (int i = 0; i < piece.field_count; i++) {
        const SettingsField &span = piece.fields[i];
        std::string f = text.substr(span.start, span.end - span.start);
        std::string name = FIELD_NAMES[i];
        std::string shown = "'" + escape(f) + "'";
        size_t first = f.find_first_not_of(" \t\r\n");

        if (i == 0 && span.digits == 0 && (first >= f.size() || !std::isxdigit(f[first] & 0xFF))) {
            bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
            bool commas = text.find_first_not_of(", \t\r\n") == std::string::npos;
            std::string what = blank    ? "blank line"
                               : commas ? "comma-only line"
                               : first == std::string::npos
                                   ? "register field " + shown + " has no digit, so the line"
                                   : "remark " + shown;
            warn(a, Kind::Register0,
                 what + " is applied as register 0: it writes " + hex(a.value & 0xFF) + " to " +
                     where(a));
            continue;
        }
        if (span.digits == 0) {
            if (first == std::string::npos)
                continue; // reads as 0 just like a missing field
            warn(a, Kind::NotHex,
                 name + " field " + shown + " starts with " + describe_char(f[0]) +
                     ", so it reads as 0");
            continue;
        }
        if (f[0] == '0' && f.size() > 1 && (f[1] == 'x' || f[1] == 'X')) {
            warn(a, Kind::NotHex,
                 name + " field " + shown +
                     " reads as 0: the number ends at the 'x' (write the digits alone)");
            continue;
        }
        const size_t digits = static_cast<size_t>(span.digits);
        if (digits > 8 && f.find_first_not_of('0') < digits - 8)
            warn(a, Kind::Wrapped,
                 name + " field " + shown + " has " + std::to_string(digits) +
                     " digits: only the last eight count, so it reads as " + hex(span.value, 1));
    }
}

void check_numbers(Applied &a)
{
    if (a.value > 0xFF)
        warn(a, Kind::ValueAbove,
             "value " + hex(a.value, 1) + " is above FF: only " + hex(a.written) + " is written");
    std::string reaches = ": the access reaches " + where(a);
    if (a.address & CONF1_RESERVED)
        reaches += "; address bits 30-24 are set, which host bridges ignore";
    if (a.device >= 32)
        warn(a, Kind::Spill,
             "device " + hex(a.device, 1) + " is above 1F and spills into the bus number" +
                 reaches);
    if (a.function >= 8)
        warn(a, Kind::Spill,
             "function " + hex(a.function, 1) + " is above 7 and spills into the device" +
                 (a.function >= 0x100 ? " and bus numbers" : " number") + reaches);
    if (a.reg >= 0x100)
        warn(a, Kind::Spill,
             "register " + hex(a.reg, 1) + " is above FF and spills into the " +
                 (a.reg >= 0x10000 ? "bus"
                  : a.reg >= 0x800 ? "device"
                                   : "function") +
                 " number" + reaches);
}

// Lines that make a function drop off the bus or move a bridge's buses.
void check_header(Applied &a, const sim::Chipset &machine)
{
    const sim::Function *f = machine.function(a.reaches);
    if (!f || !a.known || a.after == a.before)
        return;
    unsigned off = a.offset, layout = pci_header_layout(f->bytes[PCI_HEADER_TYPE]);
    std::string who = sim::format(a.reaches);
    if (off == PCI_COMMAND) {
        unsigned lost = a.before & ~a.after;
        std::string what;
        if (lost & (PCI_COMMAND_IO | PCI_COMMAND_MEMORY))
            what = std::string("stops answering on ") +
                   ((lost & PCI_COMMAND_IO) && (lost & PCI_COMMAND_MEMORY) ? "I/O and memory"
                    : lost & PCI_COMMAND_IO                                ? "I/O"
                                                                           : "memory");
        if (lost & PCI_COMMAND_MASTER)
            what += (what.empty() ? "" : " and ") + std::string("stops bus mastering");
        if (!what.empty())
            warn(a, Kind::StopsAnswering, who + " " + what);
    } else if ((layout == 1 || layout == 2) && off >= 0x18 && off <= 0x1A) {
        warn(a, Kind::BusNumbers,
             who + " " + a.reg_name + " changes from " + hex(a.before) + " to " + hex(a.after) +
                 ": the buses behind the bridge move");
    }
}

void check_machine(Applied &a, const sim::Chipset &chip)
{
    if (!a.present) {
        bool device_there = false;
        for (unsigned fn = 0; fn < 8; fn++)
            device_there |= chip.present({a.reaches.bus, a.reaches.dev, fn});
        std::string what =
            device_there ? "function " + std::to_string(a.reaches.fn) + " of that device is absent"
                         : "no device there";
        warn(a, Kind::Absent,
             "nothing answers at " + sim::format(a.reaches) + " (" + what +
                 " on this machine): the read gives FF and the write goes nowhere");
        return;
    }
    if (!a.known)
        return;
    // Write-1-to-clear bits follow their own rule: a 1 clears, a 0 leaves.
    const std::uint8_t clears = chip.function(a.reaches)->clears[a.offset];
    const unsigned kept = (a.written ^ a.after) & ~clears;
    if (kept)
        warn(a, Kind::ReadOnly,
             sim::format(a.reaches) + " register " + hex(a.offset) + " did not take " +
                 hex(a.written) + ": it reads back " + hex(a.after) + " (bits " + hex(kept) +
                 " did not change)");
    const unsigned cleared = a.before & a.written & clears;
    if (cleared)
        warn(a, Kind::Clears,
             sim::format(a.reaches) + " " + a.reg_name + " bits " + hex(cleared) +
                 " are cleared by the 1s written there: nothing sets them again, so Exit "
                 "cannot put them back and what they recorded is lost");
}

// Bits that can hang a running PC, or that the BIOS or Windows own: the
// chipset tables' and the standard header's words on each one the line
// changes. The command register's lost decode bits are told above.
void check_consequences(Applied &a, bool stops_told)
{
    if (!a.present || !a.known || a.after == a.before)
        return;
    struct Told {
        Applied *a;
        unsigned skip;
    } told = {
        &a, stops_told && a.offset == PCI_COMMAND
                ? (a.before & ~a.after & (PCI_COMMAND_IO | PCI_COMMAND_MEMORY | PCI_COMMAND_MASTER))
                : 0u};
    pci_consequences(
        a.id, a.offset, a.before, a.after,
        [](const PciBitField &f, void *context) {
            Told &t = *static_cast<Told *>(context);
            if (((t.a->before ^ t.a->after) & f.mask & ~t.skip) == 0)
                return;
            char text[PCI_BITS_TEXT_MAX];
            pci_consequence_text(text, t.a->id, f, t.a->before, t.a->after);
            warn(*t.a, f.flags & PCI_BITS_HANGS ? Kind::Hazard : Kind::Owned,
                 sim::format(t.a->reaches) + " " + text);
        },
        &told);
}

// A CR that is not part of a CR LF, with text after it in the same piece:
// lines an editor shows apart are one line to the program. (CR LF reads as a
// single LF, so a CR directly before the piece's LF may be the lone one.)
bool merges_lines(const std::string &piece)
{
    size_t cr = piece.find('\r');
    return cr != std::string::npos && piece.find_first_not_of(" \t\r\n", cr) != std::string::npos;
}

} // namespace

std::string hex(std::uint32_t v, int width)
{
    char s[16];
    std::snprintf(s, sizeof s, "%0*X", width, v);
    return s;
}

const char *kind_name(Kind k)
{
    static const char *const NAMES[] = {
        "register-0", "not-hex",   "wrapped",   "value-above-ff",  "spill",
        "absent",     "read-only", "duplicate", "never-read",      "ctrl-z",
        "cr-only",    "split",     "nul",       "stops-answering", "bus-numbers",
        "can-hang",   "owned",     "clears"}; // in the order of Kind
    static_assert(sizeof NAMES / sizeof *NAMES == static_cast<unsigned>(Kind::Clears) + 1, "");
    const unsigned i = static_cast<unsigned>(k);
    return i < sizeof NAMES / sizeof *NAMES ? NAMES[i] : "?";
}

int Report::warning_count() const
{
    size_t n = file_warnings.size();
    for (const Applied &a : applied)
        n += a.warnings.size();
    return static_cast<int>(n);
}

std::string escape(const std::string &bytes)
{
    std::string s;
    for (unsigned char c : bytes) {
        if (c == '\n')
            s += "\\n";
        else if (c == '\r')
            s += "\\r";
        else if (c == '\t')
            s += "\\t";
        else if (c == '\\')
            s += "\\\\";
        else if (c < 0x20 || c >= 0x7F)
            s += "\\x" + hex(c);
        else
            s += static_cast<char>(c);
    }
    return s;
}

namespace
{

// What the watcher keeps while the engine's own pass runs.
struct Pass {
    Report *report;
    sim::Chipset *chip;
    const sim::Chipset *machine;                       // as it was before the pass
    int next_line;                                     // physical line where the next piece starts
    std::vector<std::pair<sim::Bdf, unsigned>> places; // per applied line, where present
};

// Told of each piece right after the engine applied it.
void watch_piece(const SettingsPiece *piece, void *context)
{
    Pass &p = *static_cast<Pass *>(context);
    const std::string bytes(piece->text, static_cast<size_t>(piece->count));
    const std::string text(piece->text); // up to a NUL, as the program reads it
    const int first_line = piece->first_line, from_byte = piece->line_offset + 1;
    p.next_line = first_line + settings_line_ends(piece->text, piece->count);

    if (piece->journal_index < 0) {
        if (text.empty())
            p.report->file_warnings.push_back(
                {first_line, Kind::Nul,
                 "line " + std::to_string(first_line) +
                     (from_byte > 1 ? " from byte " + std::to_string(from_byte) : "") +
                     " starts with a NUL byte: the program skips it"});
        return;
    }
    Applied a{};
    a.line = first_line;
    a.last_line = piece->last_line;
    a.text = bytes;
    std::uint32_t *numbers[4] = {&a.reg, &a.value, &a.device, &a.function};
    for (int i = 0; i < piece->field_count; i++)
        *numbers[i] = piece->fields[i].value;
    JournalEntry e = journal_entry(piece->journal_index);
    a.address = e.address;
    a.port = static_cast<std::uint16_t>(e.port);
    sim::Target t = sim::decode(a.address, a.port);
    a.reaches = t.bdf;
    a.offset = t.reg;
    // A line's write never changes the way to its own register (a bridge's
    // bus numbers route what lies behind it), so asking after it is the same.
    sim::Bdf placed{};
    a.present = p.chip->place(t.bdf, &placed);
    a.known = true;
    if (a.present) {
        const sim::Function *fn = p.chip->function(t.bdf);
        a.name = fn->name;
        const char *note = "";
        a.reg_name = pci_byte_name(fn->bytes.data(), t.reg, &note);
        a.note = note;
        std::copy(fn->bytes.begin(), fn->bytes.begin() + 16, a.id);
        if (const PciChipsetTable *table =
                pci_chipset_table(a.id[0] | a.id[1] << 8, a.id[2] | a.id[3] << 8)) {
            a.chip = table->chip;
            a.source = table->source;
        }
        a.known = fn->known[t.reg];
        p.places.push_back({placed, t.reg});
        // The list as it was before the file, as kvtlpeek reads it from the
        // hardware it never writes; only where the dump shows the
        // structure's header (an "lspci -x" dump ends at 3F).
        const sim::Function &was = p.machine->functions().at(placed);
        if (pci_capability_byte(was.bytes.data(), t.reg, &a.cap) &&
            std::all_of(was.known.begin() + a.cap.start, was.known.begin() + a.cap.start + 4,
                        [](bool k) { return k; })) {
            char text[PCI_CAPABILITY_TEXT_MAX];
            pci_capability_text(text, a.cap);
            a.capability = text;
        }
    }
    a.before = static_cast<std::uint8_t>(e.previous);
    a.written = static_cast<std::uint8_t>(a.value);
    a.after = p.chip->peek(t.bdf, t.reg);

    check_fields(a, text, *piece);
    check_numbers(a);
    check_machine(a, *p.chip);
    const size_t before_header = a.warnings.size();
    check_header(a, *p.chip);
    check_consequences(a, a.warnings.size() > before_header);
    for (const Applied &earlier : p.report->applied) {
        if ((earlier.address & ~CONF1_RESERVED) != (a.address & ~CONF1_RESERVED))
            continue;
        warn(a, Kind::Duplicate,
             sim::format(a.reaches) + " register " + hex(a.offset) + " was already set on line " +
                 std::to_string(earlier.line) +
                 ": this line's byte replaces that one, and Exit still puts back the byte from "
                 "before line " +
                 std::to_string(earlier.line));
        break;
    }
    // Text after a lone CR stands on a later line: always a range of lines.
    if (merges_lines(bytes))
        warn(a, Kind::CrOnly,
             "lines " + std::to_string(first_line) + "-" + std::to_string(a.last_line) +
                 " end in a CR alone, which ends no line for the program: it reads "
                 "them as one line and takes only its first four fields");
    if (from_byte > 1)
        warn(a, Kind::Split,
             "line " + std::to_string(first_line) +
                 " is longer than 253 bytes: the program reads it in pieces, and the "
                 "piece from byte " +
                 std::to_string(from_byte) + " is applied as a line of its own");
    if (text.size() < bytes.size())
        warn(a, Kind::Nul,
             "a NUL byte at byte " + std::to_string(from_byte + text.size()) +
                 " ends the line for the program: '" + escape(bytes.substr(text.size() + 1)) +
                 "' is ignored");
    p.report->applied.push_back(std::move(a));
}

} // namespace

bool check_file(const std::string &path, const sim::Chipset &machine, Report *report,
                std::string *error)
{
    *report = Report{};
    sim::Chipset &chip = sim::active_chipset();
    chip = machine;
    chip.clear_trace();

    file_handle file = file_open_read(path.c_str());
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    // The engine's own pass, watched; then what it left unread, for the
    // warnings about lines the program never reaches.
    Pass pass{report, &chip, &machine, 1, {}};
    SettingsReader reader;
    reader_start(&reader, file);
    settings_watch_pass(&reader, watch_piece, &pass);
    const ReaderEnd end = reader_end(&reader);
    // Stopped at 64 lines: the lines it would have read next.
    const int unread_lines = end == READER_OPEN ? reader_skip_lines(&reader) : 0;
    // Ended at a 0x1A: what stands after it.
    std::string rest;
    char bytes[512];
    int n = 0;
    while (end == READER_CTRL_Z && (n = reader_read_rest(&reader, bytes, sizeof bytes)) > 0)
        rest.append(bytes, static_cast<size_t>(n));
    const bool failed = reader_end(&reader) == READER_FAILED || n < 0;
    file_close(file);
    if (failed) {
        *error = "cannot read " + path;
        return false;
    }

    if (unread_lines > 0)
        report->file_warnings.push_back(
            {pass.next_line, Kind::NeverRead,
             "the program stops after 64 applied lines: line " + std::to_string(pass.next_line) +
                 (unread_lines > 1
                      ? " and the " + std::to_string(unread_lines - 1) + " after it are"
                      : " is") +
                 " never read"});
    if (rest.find_first_not_of(" \t\r\n\x1a") != std::string::npos)
        report->file_warnings.push_back(
            {pass.next_line, Kind::CtrlZ,
             "a 0x1A byte on line " + std::to_string(pass.next_line) +
                 " ends the input: the program reads nothing after it"});

    // The restore, every byte of the machine compared with before, and each
    // register the pass reached as it is now.
    const size_t traced = chip.trace().size();
    journal_restore();
    report->restore_writes = static_cast<int>((chip.trace().size() - traced) / 2);
    report->all_restored = true;
    for (const auto &f : machine.functions())
        report->all_restored &= chip.functions().at(f.first).bytes == f.second.bytes;
    for (size_t i = 0; i < pass.places.size(); i++) {
        const auto &r = pass.places[i];
        if (std::find(pass.places.begin(), pass.places.begin() + i, r) == pass.places.begin() + i)
            report->restored.push_back({r.first, r.second,
                                        machine.functions().at(r.first).bytes[r.second],
                                        chip.functions().at(r.first).bytes[r.second]});
    }
    return true;
}

} // namespace kvtlcheck

// What the settings pass would do: the engine's own reader, parser and pass,
// over the port layer (ports.cpp), which sends addresses and reads to the
// hardware and keeps every data write in a shadow instead. A later line
// naming the same register reads the byte the earlier one would have left
// there. Under each row, the bits the line changes and, from the tables
// kvtlcheck warns from, each field it changes that the BIOS or Windows own
// or that can hang a PC.
#include "file_io.h"
#include "kvtlpeek.h"
#include "pci_access.h"
#include "pci_bits.h"
#include "pci_caps.h"
#include "pci_config.h"
#include "pci_dump.h"
#include "pci_header.h"
#include "pci_names.h"
#include "settings.h"

// Physical lines before the next piece: zero-initialised, so the program has
// no .data section, which would cost a 512-byte block of the file.
static int g_linesBefore;
static int g_entries; // the lines applied, one journal entry each
// Each journal entry's first and last line: the rows are printed after the
// pass, once the widest line numbers are known.
static int g_firstLine[MAX_JOURNAL_ENTRIES], g_lastLine[MAX_JOURNAL_ENTRIES];
static int g_width;      // of the line column
static char g_lines[24]; // "12" or "12-14"

static void show_register(std::uint32_t address, std::uint16_t port)
{
    char slot[PCI_SLOT_TEXT_MAX];
    pci_slot_text(slot, conf1_bus(address), conf1_device(address), conf1_function(address));
    out_text(slot);
    out_format("  %02x", conf1_register(address, port));
}

// The lines a journal entry came from into g_lines; their length.
static int lines_text(int entry)
{
    int first = g_firstLine[entry], last = g_lastLine[entry];
    return wsprintfA(g_lines, first == last ? "%d" : "%d-%d", first, last);
}

// `text` and the spaces to the next column: the line column is as wide as
// the widest line numbers, so every value below stands under its heading.
static void out_column(const char *text)
{
    for (int n = out_text(text); n < g_width + 2; n++)
        out_text(" ");
}

// ---- the rows ------------------------------------------------------------

struct Warning {
    const std::uint8_t *id;
    unsigned from, to;
    bool on_stderr;
};

static void WarnProc(const PciBitField &field, void *context)
{
    const Warning &w = *static_cast<Warning *>(context);
    int (*put)(const char *) = w.on_stderr ? err_text : out_text;
    char text[PCI_BITS_TEXT_MAX];
    pci_consequence_text(text, w.id, field, w.from, w.to);
    if (!w.on_stderr)
        out_column(""); // under a preview row, in its second column
    put("warning: ");
    put(text);
    put("\r\n");
}

void warn_consequences(const std::uint8_t *id, unsigned offset, unsigned from, unsigned to,
                       bool on_stderr)
{
    Warning w = {id, from, to, on_stderr};
    pci_consequences(id, offset, from, to, WarnProc, &w);
}

// Lines counted as the engine counts them for kvtlcheck
// (settings_line_ends): a piece ending in a line end lies on the line it
// ends.
static void PieceProc(const char *piece, int count, bool applied)
{
    int first = g_linesBefore + 1;
    int last = first + settings_line_ends(piece, count - 1);
    g_linesBefore += settings_line_ends(piece, count);
    if (applied) {
        int entry = g_entries++; // the pass's newest journal entry
        g_firstLine[entry] = first;
        g_lastLine[entry] = last;
        int n = lines_text(entry);
        g_width = n > g_width ? n : g_width;
    }
}

// One applied line: where it reaches, the byte there before it and the one
// it writes, the register's name ("-" where nothing answers); under it the
// bits the byte would change and the warnings about them.
static void show_row(int entry)
{
    JournalEntry e = journal_entry(entry);
    std::uint16_t port = static_cast<std::uint16_t>(e.port);
    unsigned offset = conf1_register(e.address, port);
    unsigned old = e.previous & 0xFF, value = e.written & 0xFF;
    lines_text(entry);
    out_column(g_lines);
    show_register(e.address, port);
    out_format("   %02x   %02x   ", old, value);
    // All the function's bytes as the hardware holds them, which the
    // preview never writes: its capability list as before the file, as
    // kvtlcheck names it from the dump.
    static std::uint8_t id[256];
    if (!function_id(e.address, id, 256)) {
        out_text("-\r\n");
        return;
    }
    out_text(pci_byte_name(id, offset, nullptr));
    out_text("\r\n");
    PciCapabilityByte cap;
    if (pci_capability_byte(id, offset, &cap)) {
        char text[PCI_CAPABILITY_TEXT_MAX];
        pci_capability_text(text, cap);
        out_column("");
        out_text("capability: ");
        out_text(text);
        out_text("\r\n");
    }
    unsigned after = pci_after_write(id, offset, old, value);
    if (after != old) {
        char bits[PCI_BITS_TEXT_MAX];
        pci_changed_bits_text(bits, id, offset, old, after);
        out_column("");
        out_text("changes ");
        out_text(bits);
        out_text("\r\n");
    }
    warn_consequences(id, offset, old, after, false);
}

// What journal_restore writes for one entry, in its order (newest first).
static void show_restore(int entry)
{
    JournalEntry e = journal_entry(entry);
    std::uint16_t port = static_cast<std::uint16_t>(e.port);
    lines_text(entry);
    out_column(g_lines);
    show_register(e.address, port);
    out_format("   %02x", e.previous & 0xFF);
    std::uint8_t id[16];
    if (!function_id(e.address, id))
        out_text("  (nothing answers there)");
    out_text("\r\n");
}

bool preview_settings(const char *file_name)
{
    if (!run_settings(file_name, PieceProc))
        return false;
    out_format("What %s would do on this PC (nothing is written):\r\n\r\n", file_name);
    g_width = g_width < 4 ? 4 : g_width; // "line"
    if (g_entries == 0)
        out_text("Nothing: it has no settings line.\r\n");
    else {
        out_column("line");
        out_text("reaches  reg  now  new  name\r\n");
        for (int e = 0; e < g_entries; e++)
            show_row(e);
        out_text("\r\nExit would put these bytes back, last line first:\r\n");
        out_column("line");
        out_text("reaches  reg  byte\r\n");
        for (int e = g_entries - 1; e >= 0; e--)
            show_restore(e);
    }

    out_format("\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
               "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt %s\"\r\n"
               "on any other computer.\r\n",
               file_name);
    return true;
}

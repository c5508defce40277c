// What the settings pass would do: the engine's own reader, parser and pass,
// over a port layer that sends addresses and reads to the hardware and keeps
// every data write in a shadow instead. A later line naming the same
// register reads the byte the earlier one would have left there. Under each
// row, the bits the line changes and, from the tables kvtlcheck warns from,
// each field it changes that the BIOS or Windows own or that can hang a PC.
#include "file_io.h"
#include "kvtlpeek.h"
#include "pci_access.h"
#include "pci_bits.h"
#include "pci_caps.h"
#include "pci_config.h"
#include "pci_header.h"
#include "pci_names.h"
#include "port_io.h"
#include "settings.h"

static std::uint32_t g_address; // the last address sent to 0xCF8
static std::uint32_t g_shadowKey[MAX_JOURNAL_ENTRIES];
static std::uint8_t g_shadowByte[MAX_JOURNAL_ENTRIES];
static int g_shadowCount;
static bool g_restoring; // journal_restore runs: list its writes, send nothing
// Physical lines before the next piece: zero-initialised, so the program has
// no .data section, which would cost a 512-byte block of the file.
static int g_linesBefore;
// Each journal entry's first and last line: the rows are printed after the
// pass, once the widest line numbers are known.
static int g_firstLine[MAX_JOURNAL_ENTRIES], g_lastLine[MAX_JOURNAL_ENTRIES];
static int g_width;      // of the line column
static int g_entry;      // the journal entry journal_restore writes back
static char g_lines[24]; // "12" or "12-14"

static std::uint32_t shadow_key(std::uint16_t port)
{
    // What a host bridge decodes of the address for one byte, with the
    // byte lane in bits 1-0.
    return (g_address & CONF1_LATCHED) | (port & 3u);
}

static int shadow_find(std::uint32_t key)
{
    for (int i = 0; i < g_shadowCount; i++)
        if (g_shadowKey[i] == key)
            return i;
    return -1;
}

static void show_register(std::uint32_t address, std::uint16_t port)
{
    out_format("%02x:%02x.%x  %02x", conf1_bus(address), conf1_device(address),
               conf1_function(address), conf1_register(address, port));
}

// Dword `reg` of the function the address selects.
static std::uint32_t function_dword(std::uint32_t address, unsigned reg)
{
    hw_out32(CONFIG_ADDRESS, conf1_dword(address, reg));
    return hw_in32(CONFIG_DATA);
}

bool function_id(std::uint32_t address, std::uint8_t *id, unsigned count)
{
    std::uint32_t ids = 0;
    for (unsigned reg = 0; reg < count; reg += 4) {
        std::uint32_t d = function_dword(address, reg);
        ids = reg ? ids : d;
        for (unsigned i = 0; i < 4; i++)
            id[reg + i] = static_cast<std::uint8_t>(d >> (8 * i));
    }
    return !slot_empty(ids);
}

// ---- the engine's port seam --------------------------------------------

void port_out32(std::uint16_t port, std::uint32_t value)
{
    g_address = value;
    if (!g_restoring)
        hw_out32(port, value);
}

std::uint8_t port_in8(std::uint16_t port)
{
    int i = shadow_find(shadow_key(port));
    return i >= 0 ? g_shadowByte[i] : hw_in8(port);
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

void port_out8(std::uint16_t port, std::uint8_t value)
{
    if (g_restoring) {
        lines_text(--g_entry); // journal_restore goes newest first
        out_column(g_lines);
        show_register(g_address, port);
        out_format("   %02x", value);
        std::uint8_t id[16];
        if (!function_id(g_address, id))
            out_text("  (nothing answers there)");
        out_text("\r\n");
        return;
    }
    // What the write would leave: nothing where no function answers; where
    // the standard header knows the byte, what it says (the chipset's own
    // read-only bits only a real write would show).
    std::uint32_t key = shadow_key(port);
    std::uint8_t id[16];
    if (!function_id(g_address, id))
        return;
    int i = shadow_find(key);
    std::uint8_t old;
    if (i >= 0) {
        old = g_shadowByte[i];
    } else {
        hw_out32(CONFIG_ADDRESS, g_address);
        old = hw_in8(port);
    }
    std::uint8_t after = pci_after_write(id, key & 0xFF, old, value);
    if (after == old)
        return;
    if (i < 0) {
        i = g_shadowCount++; // one entry per applied line at most
        g_shadowKey[i] = key;
    }
    g_shadowByte[i] = after;
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

// Lines are counted as kvtlcheck counts them: LF, CR LF and a lone CR each
// end one. The reader has made every CR LF a LF, so a CR left in a piece is
// a lone one.
static void PieceProc(const char *piece, int count, bool applied)
{
    int first = g_linesBefore + 1, last = first;
    for (int i = 0; i < count; i++) {
        last = g_linesBefore + 1;
        if (piece[i] == '\n' || piece[i] == '\r')
            g_linesBefore++;
    }
    if (applied) {
        int entry = g_journal.count - 1;
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
    std::uint32_t address = g_journal.address[entry];
    std::uint16_t port = static_cast<std::uint16_t>(g_journal.port[entry]);
    unsigned offset = conf1_register(address, port);
    unsigned old = g_journal.previous[entry] & 0xFF, value = g_journal.written[entry] & 0xFF;
    lines_text(entry);
    out_column(g_lines);
    show_register(address, port);
    out_format("   %02x   %02x   ", old, value);
    // All the function's bytes as the hardware holds them, which the
    // preview never writes: its capability list as before the file, as
    // kvtlcheck names it from the dump.
    static std::uint8_t id[256];
    if (!function_id(address, id, 256)) {
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

bool preview_settings(const char *file_name)
{
    if (!run_settings(file_name, PieceProc))
        return false;
    out_format("What %s would do on this PC (nothing is written):\r\n\r\n", file_name);
    g_width = g_width < 4 ? 4 : g_width; // "line"
    if (g_journal.count == 0)
        out_text("Nothing: it has no settings line.\r\n");
    else {
        out_column("line");
        out_text("reaches  reg  now  new  name\r\n");
        for (int e = 0; e < g_journal.count; e++)
            show_row(e);
        out_text("\r\nExit would put these bytes back, last line first:\r\n");
        out_column("line");
        out_text("reaches  reg  byte\r\n");
        g_restoring = true;
        g_entry = g_journal.count;
        journal_restore();
    }

    out_format("\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
               "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt %s\"\r\n"
               "on any other computer.\r\n",
               file_name);
    return true;
}

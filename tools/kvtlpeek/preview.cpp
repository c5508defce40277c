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
#include "pci_config.h"
#include "pci_header.h"
#include "pci_names.h"
#include "port_io.h"
#include "settings.h"

// What a host bridge decodes of CONFIG_ADDRESS for one byte: enable, bus,
// device, function, dword (bits 30-24 are reserved, 1-0 select nothing);
// the byte lane goes into bits 1-0 of the key.
static const std::uint32_t DWORD_DECODED = 0x80FFFFFCu;

static std::uint32_t g_address;  // the last address sent to 0xCF8
static std::uint8_t g_lastWrite; // the byte of the last data write
// The last line's function, and its byte before and after the write: equal
// where nothing answers, so that no warning follows.
static std::uint8_t g_lastId[16];
static std::uint8_t g_lastOffset, g_lastOld, g_lastAfter;
static std::uint32_t g_shadowKey[MAX_JOURNAL_ENTRIES];
static std::uint8_t g_shadowByte[MAX_JOURNAL_ENTRIES];
static int g_shadowCount;
static bool g_restoring; // journal_restore runs: list its writes, send nothing
// Physical lines before the next piece: zero-initialised, so the program has
// no .data section, which would cost a 512-byte block of the file.
static int g_linesBefore;

static std::uint32_t shadow_key(std::uint16_t port)
{
    return (g_address & DWORD_DECODED) | (port & 3u);
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
    out_format("%02x:%02x.%x  %02x", (address >> 16) & 0xFF, (address >> 11) & 0x1F,
               (address >> 8) & 7, (address & 0xFC) | (port & 3u));
}

// Dword `reg` of the function the address selects.
static std::uint32_t function_dword(std::uint32_t address, unsigned reg)
{
    hw_out32(CONFIG_ADDRESS, (address & 0x80FFFF00u) | reg);
    return hw_in32(CONFIG_DATA);
}

void function_id(std::uint32_t address, std::uint8_t *id)
{
    for (unsigned reg = 0; reg < 16; reg += 4) {
        std::uint32_t d = function_dword(address, reg);
        for (unsigned i = 0; i < 4; i++)
            id[reg + i] = static_cast<std::uint8_t>(d >> (8 * i));
    }
}

bool function_answers(std::uint32_t address)
{
    return (function_dword(address, 0x00) & 0xFFFF) != 0xFFFF;
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

void port_out8(std::uint16_t port, std::uint8_t value)
{
    g_lastWrite = value;
    if (g_restoring) {
        out_text("  ");
        show_register(g_address, port);
        out_format("  back to %02x", value);
        if (!function_answers(g_address))
            out_text(" (nothing answers there)");
        out_text("\r\n");
        return;
    }
    // What the write would leave: nothing where no function answers; where
    // the standard header knows the byte, what it says (the chipset's own
    // read-only bits only a real write would show).
    std::uint32_t key = shadow_key(port);
    std::uint32_t address = g_address;
    g_lastOld = g_lastAfter = 0;
    if (!function_answers(address))
        return;
    std::uint8_t *id = g_lastId;
    function_id(address, id);
    int i = shadow_find(key);
    std::uint8_t old;
    if (i >= 0) {
        old = g_shadowByte[i];
    } else {
        hw_out32(CONFIG_ADDRESS, address);
        old = hw_in8(port);
    }
    std::uint8_t after = pci_after_write(id, key & 0xFF, old, value);
    g_lastOffset = static_cast<std::uint8_t>(key);
    g_lastOld = old;
    g_lastAfter = after;
    if (after == old)
        return;
    if (i < 0) {
        i = g_shadowCount++; // one entry per applied line at most
        g_shadowKey[i] = key;
    }
    g_shadowByte[i] = after;
}

// The name of the register a journal entry reached, "-" where nothing
// answers.
static const char *register_name(std::uint32_t address, std::uint32_t port)
{
    if (!function_answers(address))
        return "-";
    std::uint8_t header[16];
    function_id(address, header);
    return pci_byte_name(header, (address & 0xFC) | (port & 3u), nullptr);
}

// ---- the rows ------------------------------------------------------------

struct Warning {
    const std::uint8_t *id;
    unsigned from, to;
    bool on_stderr;
};

static void WarnProc(const PciBitField &field, void *context)
{
    // Under a preview row the line is indented to the row's second column;
    // /s prints it from LEAD + 9.
    static const char LEAD[] = "         warning: ";
    const Warning &w = *static_cast<Warning *>(context);
    void (*put)(const char *) = w.on_stderr ? err_text : out_text;
    char text[PCI_BITS_TEXT_MAX];
    pci_consequence_text(text, w.id, field, w.from, w.to);
    put(w.on_stderr ? LEAD + 9 : LEAD);
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
    if (!applied)
        return;
    char lines[24];
    if (first == last)
        wsprintfA(lines, "%d", first);
    else
        wsprintfA(lines, "%d-%d", first, last);
    int entry = g_journal.count - 1;
    out_format("%7s  ", lines);
    show_register(g_journal.address[entry], static_cast<std::uint16_t>(g_journal.port[entry]));
    out_format("  %02x   %02x    ", g_journal.previous[entry] & 0xFF, g_lastWrite);
    out_text(register_name(g_journal.address[entry], g_journal.port[entry]));
    out_text("\r\n");
    if (g_lastOld != g_lastAfter) {
        char bits[PCI_BITS_TEXT_MAX];
        pci_changed_bits_text(bits, g_lastId, g_lastOffset, g_lastOld, g_lastAfter);
        out_text("         changes ");
        out_text(bits);
        out_text("\r\n");
    }
    warn_consequences(g_lastId, g_lastOffset, g_lastOld, g_lastAfter, false);
}

bool preview_settings(const char *file_name)
{
    out_text(file_name);
    out_text(": what the settings pass would do on this PC (nothing is written)\r\n\r\n"
             "   line  reaches  register  now  to be written  name\r\n");
    if (!run_settings(file_name, PieceProc))
        return false;
    if (g_journal.count == 0)
        out_text("   (no line applied)\r\n");

    out_text("\r\nExit would put back, newest change first:\r\n");
    g_restoring = true;
    journal_restore();
    if (g_journal.count == 0)
        out_text("  nothing\r\n");

    out_text("\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
             "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt ");
    out_text(file_name);
    out_text("\"\r\non any other computer.\r\n");
    return true;
}

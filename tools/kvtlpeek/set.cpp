// kvtlpeek /s BB:DD.F REG VALUE[:MASK]: setpci's VALUE:MASK made a settings
// line from the byte the register holds now, by kvtlcheck --set's rules.
// Configuration space is only read.
#include "hex.h"
#include "kvtlpeek.h"
#include "pci_access.h"
#include "pci_dump.h"
#include "pci_set.h"

static const int EXIT_USAGE = 2;
static const int EXIT_NO_LINE = 6;

static unsigned g_bus, g_dev, g_fn, g_reg, g_value, g_mask;
static const char *g_regText; // as given: a register past FF is told as typed

// "kvtlpeek: 00:07.1 register 48: " and the reason, formatted with `a` and
// `b`; the status for it.
static int no_line(const char *reason, unsigned a = 0, unsigned b = 0)
{
    char text[256], slot[PCI_SLOT_TEXT_MAX];
    pci_slot_text(slot, g_bus, g_dev, g_fn);
    int n = wsprintfA(text, "kvtlpeek: %s register %s: ", slot, g_regText);
    wsprintfA(text + n, reason, a, b);
    err_text(text);
    err_text("\r\n");
    return EXIT_NO_LINE;
}

int set_arguments(const char *slot, const char *reg, const char *value)
{
    if (!pci_set_parse_slot(slot, &g_bus, &g_dev, &g_fn) ||
        !pci_set_parse(value, &g_value, &g_mask) || !*reg)
        return EXIT_USAGE;
    g_regText = reg;
    // Any number of digits, without overflow: once past FF it stays past FF.
    for (g_reg = 0; *reg; reg++) {
        int digit = pci_hex_value(*reg);
        if (digit < 0)
            return EXIT_USAGE;
        g_reg = g_reg > 0xFF ? g_reg : g_reg * 16 + static_cast<unsigned>(digit);
    }
    if (g_reg > 0xFF)
        return no_line("mechanism #1 reaches registers 00-FF only: no settings line reaches it");
    return 0;
}

int set_line()
{
    std::uint8_t id[16];
    if (!function_id(conf1_address(g_bus, g_dev, g_fn, 0), id))
        return no_line("nothing answers there: no settings line reaches it");
    unsigned now = config_read32(g_bus, g_dev, g_fn, g_reg & 0xFC) >> 8 * (g_reg & 3) & 0xFF;
    unsigned char byte;
    unsigned fixed;
    if (!pci_set_write(id, g_reg, static_cast<unsigned char>(now), g_value, g_mask, &byte, &fixed))
        return no_line("bits %02X are read-only or write-1-to-clear: no settings line sets them "
                       "to %02X",
                       fixed, g_value & fixed);
    char line[PCI_SET_LINE_MAX];
    pci_set_line(line, g_bus, g_dev, g_fn, g_reg, byte);
    out_text(line);
    warn_consequences(id, g_reg, now, pci_after_write(id, g_reg, now, byte), true);
    return 0;
}

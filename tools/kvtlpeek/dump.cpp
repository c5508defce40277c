// The machine in the form of "lspci -n -xxx": kvtlcheck --machine and the
// virtual chipset read it as they read lspci.
#include "kvtlpeek.h"

static const unsigned HEADER_TYPE = 0x0E;
static const unsigned SECONDARY_BUS = 0x19;

static std::uint8_t g_space[256];
static std::uint8_t g_busQueue[256];
static std::uint32_t g_busSeen[8]; // one bit per bus number
static int g_busCount;

static void queue_bus(unsigned bus)
{
    std::uint32_t bit = 1u << (bus & 31);
    if (g_busSeen[bus >> 5] & bit)
        return;
    g_busSeen[bus >> 5] |= bit;
    g_busQueue[g_busCount++] = static_cast<std::uint8_t>(bus);
}

// Reads the rest of a present function's space (dword 0 already read),
// prints it and queues the bus behind a PCI-to-PCI bridge.
static void show_function(unsigned bus, unsigned dev, unsigned fn, std::uint32_t id)
{
    for (unsigned reg = 0; reg < 256; reg += 4) {
        std::uint32_t d = reg ? config_read32(bus, dev, fn, reg) : id;
        for (unsigned i = 0; i < 4; i++)
            g_space[reg + i] = static_cast<std::uint8_t>(d >> (8 * i));
    }
    out_format("%02x:%02x.%x %02x%02x: %04x:%04x", bus, dev, fn, g_space[0x0B], g_space[0x0A],
               id & 0xFFFF, id >> 16);
    if (g_space[0x08])
        out_format(" (rev %02x)", g_space[0x08]);
    out_text("\r\n");
    for (unsigned row = 0; row < 256; row += 16) {
        out_format("%02x:", row);
        for (unsigned i = 0; i < 16; i++)
            out_format(" %02x", g_space[row + i]);
        out_text("\r\n");
    }
    out_text("\r\n");
    if ((g_space[HEADER_TYPE] & 0x7F) == 1)
        queue_bus(g_space[SECONDARY_BUS]);
}

void dump_machine()
{
    queue_bus(0);
    for (int next = 0; next < g_busCount; next++) {
        unsigned bus = g_busQueue[next];
        for (unsigned dev = 0; dev < 32; dev++) {
            std::uint32_t id = config_read32(bus, dev, 0, 0);
            if ((id & 0xFFFF) == 0xFFFF)
                continue;
            show_function(bus, dev, 0, id);
            // Single-function parts may answer on every function number:
            // only a multi-function header asks for functions 1 to 7.
            if (!(g_space[HEADER_TYPE] & 0x80))
                continue;
            for (unsigned fn = 1; fn < 8; fn++) {
                id = config_read32(bus, dev, fn, 0);
                if ((id & 0xFFFF) != 0xFFFF)
                    show_function(bus, dev, fn, id);
            }
        }
    }
}

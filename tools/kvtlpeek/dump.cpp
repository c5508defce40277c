// The machine in the form of "lspci -n -xxx" (or, with /h, "lspci -n -x"):
// kvtlcheck --machine and the virtual chipset read it as they read lspci.
#include "kvtlpeek.h"
#include "pci_dump.h"
#include "pci_header.h"

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

// Reads the first `count` bytes of a present function (dword 0 already
// read), prints them and queues the bus behind a bridge.
static void show_function(unsigned bus, unsigned dev, unsigned fn, std::uint32_t id, unsigned count)
{
    for (unsigned reg = 0; reg < count; reg += 4) {
        std::uint32_t d = reg ? config_read32(bus, dev, fn, reg) : id;
        for (unsigned i = 0; i < 4; i++)
            g_space[reg + i] = static_cast<std::uint8_t>(d >> (8 * i));
    }
    char block[PCI_DUMP_BLOCK_MAX + 1];
    block[pci_dump_write(block, bus, dev, fn, g_space, count)] = '\0';
    out_text(block);
    unsigned layout = pci_header_layout(g_space[PCI_HEADER_TYPE]);
    if (layout == 1 || layout == 2)
        queue_bus(g_space[PCI_SECONDARY_BUS]); // a CardBus bridge's card bus too
}

void dump_machine(bool header_only)
{
    unsigned count = header_only ? PCI_HEADER_BYTES : 256;
    queue_bus(0);
    for (int next = 0; next < g_busCount; next++) {
        unsigned bus = g_busQueue[next];
        for (unsigned dev = 0; dev < 32; dev++) {
            std::uint32_t id = config_read32(bus, dev, 0, 0);
            if (slot_empty(id))
                continue;
            show_function(bus, dev, 0, id, count);
            // Single-function parts may answer on every function number:
            // only a multi-function header asks for functions 1 to 7.
            if (!(g_space[PCI_HEADER_TYPE] & 0x80))
                continue;
            for (unsigned fn = 1; fn < 8; fn++) {
                id = config_read32(bus, dev, fn, 0);
                if (!slot_empty(id))
                    show_function(bus, dev, fn, id, count);
            }
        }
    }
}

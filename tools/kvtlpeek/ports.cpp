// Every port instruction of kvtlpeek. The only writes to the hardware are
// configuration addresses to 0xCF8: the engine's data writes, in a preview,
// land in a shadow, and the reads after them read the shadow.
#include "kvtlpeek.h"
#include "pci_access.h"
#include "pci_config.h"
#include "port_insn_x86.h"
#include "port_io.h"

static std::uint32_t g_address; // the last address sent to 0xCF8
// One entry per applied line at most: the journal's size bounds the shadow.
static std::uint32_t g_shadowKey[MAX_JOURNAL_ENTRIES];
static std::uint8_t g_shadowByte[MAX_JOURNAL_ENTRIES];
static int g_shadowCount;

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

// ---- the engine's port seam --------------------------------------------

void port_out32(std::uint16_t port, std::uint32_t value)
{
    g_address = value;
    insn_out32(port, value);
}

std::uint32_t port_in32(std::uint16_t port)
{
    return insn_in32(port);
}

std::uint8_t port_in8(std::uint16_t port)
{
    int i = shadow_find(shadow_key(port));
    return i >= 0 ? g_shadowByte[i] : insn_in8(port);
}

void port_out8(std::uint16_t port, std::uint8_t value)
{
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
        insn_out32(CONFIG_ADDRESS, g_address);
        old = insn_in8(port);
    }
    std::uint8_t after = pci_after_write(id, key & 0xFF, old, value);
    if (after == old)
        return;
    if (i < 0) {
        i = g_shadowCount++;
        g_shadowKey[i] = key;
    }
    g_shadowByte[i] = after;
}

// ---- the modes' own reads ----------------------------------------------

std::uint32_t config_read32(unsigned bus, unsigned dev, unsigned fn, unsigned reg)
{
    insn_out32(CONFIG_ADDRESS, conf1_address(bus, dev, fn, reg));
    return insn_in32(CONFIG_DATA);
}

bool slot_empty(std::uint32_t id)
{
    unsigned vendor = id & 0xFFFF, device = id >> 16;
    return vendor == 0xFFFF || (vendor == 0 && (device == 0 || device == 0xFFFF));
}

bool function_id(std::uint32_t address, std::uint8_t *id, unsigned count)
{
    std::uint32_t ids = 0;
    for (unsigned reg = 0; reg < count; reg += 4) {
        insn_out32(CONFIG_ADDRESS, conf1_dword(address, reg));
        std::uint32_t d = insn_in32(CONFIG_DATA);
        ids = reg ? ids : d;
        for (unsigned i = 0; i < 4; i++)
            id[reg + i] = static_cast<std::uint8_t>(d >> (8 * i));
    }
    return !slot_empty(ids);
}

bool mechanism1_reaches_functions()
{
    const std::uint32_t INTEL = 0x8086, COMPAQ = 0x0E11;
    for (unsigned devfn = 0; devfn < 256; devfn++) {
        std::uint32_t vendor = config_read32(0, devfn >> 3, devfn & 7, 0x00) & 0xFFFF;
        if (vendor == INTEL || vendor == COMPAQ)
            return true;
        // Only a shortcut: no function answers, its class reads FFFF too.
        // Not slot_empty: Linux (arch/x86/pci/direct.c, pci_sanity_check)
        // reads the class of every devfn, whatever its IDs read.
        if (vendor == 0xFFFF)
            continue;
        std::uint32_t class_code = config_read32(0, devfn >> 3, devfn & 7, 0x08) >> 16;
        if (class_code == 0x0600 || class_code == 0x0300)
            return true;
    }
    return false;
}

// ---- a Windows that refuses them ---------------------------------------

// Windows XP in a Windows 95/98 compatibility mode reports a 9x version and
// then refuses the first IN: the end is the one an NT version gets. Only a
// refused IN or OUT (opcodes E4-E7, EC-EF) is taken; any other fault is left
// to the system. Nothing is put back, 0xCF8 included: no configuration byte
// is ever written, the mechanism test has put back the address it found
// before any access to 0xCFC, and after it 0xCF8 holds an address of
// ours, as after every run (a driver sends its own before each access).
LONG WINAPI PortFaultProc(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    if ((r->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION &&
         r->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) ||
        (*static_cast<const unsigned char *>(r->ExceptionAddress) & 0xF4) != 0xE4)
        return EXCEPTION_CONTINUE_SEARCH;
    ExitProcess(static_cast<UINT>(ports_refused()));
}

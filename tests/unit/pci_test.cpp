// The PCI library against pciutils' header.h layouts, and its dump writer
// against its reader.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pci_access.h"
#include "pci_caps.h"
#include "pci_dump.h"
#include "pci_header.h"
#include "register_name.h"

namespace
{

struct Named {
    unsigned header_type, offset;
    const char *name;
    unsigned first, width;
};

TEST(PciHeader, NamesAndWidthsAsPciutils)
{
    const Named cases[] = {
        {0x00, 0x00, "VENDOR_ID", 0x00, 2},
        {0x80, 0x03, "DEVICE_ID", 0x02, 2},
        {0x00, 0x0B, "CLASS_DEVICE", 0x0A, 2},
        {0x00, 0x0D, "LATENCY_TIMER", 0x0D, 1},
        {0x00, 0x27, "BASE_ADDRESS_5", 0x24, 4},
        {0x00, 0x2F, "SUBSYSTEM_ID", 0x2E, 2},
        {0x00, 0x3F, "MAX_LAT", 0x3F, 1},
        {0x01, 0x19, "SECONDARY_BUS", 0x19, 1},
        {0x81, 0x1F, "SEC_STATUS", 0x1E, 2},
        {0x01, 0x2F, "PREF_LIMIT_UPPER32", 0x2C, 4},
        {0x01, 0x3F, "BRIDGE_CONTROL", 0x3E, 2},
        {0x02, 0x14, "CB_CAPABILITY_LIST", 0x14, 1},
        {0x02, 0x19, "CB_CARD_BUS", 0x19, 1},
        {0x02, 0x37, "CB_IO_BASE_1", 0x34, 4},
        {0x02, 0x47, "CB_LEGACY_MODE_BASE", 0x44, 4},
        {0x05, 0x0E, "HEADER_TYPE", 0x0E, 1},
    };
    for (const Named &c : cases)
        EXPECT_TRUE(
            is_register(pci_header_register(c.header_type, c.offset), c.name, c.first, c.width))
            << "type " << c.header_type << " offset " << c.offset;

    // Reserved bytes, and those past the header: no name.
    const unsigned unnamed[][2] = {{0x00, 0x35}, {0x02, 0x15}, {0x00, 0x40}, {0x05, 0x10}};
    for (const auto &u : unnamed) {
        const PciRegister *r = pci_header_register(u[0], u[1]);
        EXPECT_EQ(r, nullptr) << r->name << " at type " << u[0] << " offset " << u[1];
    }
}

// Expected bytes from QEMU's masks (hw/pci/pci.c: pci_init_wmask,
// pci_init_w1cmask, pci_init_mask_bridge) and the chipsets' sources.
TEST(PciAccess, WhatAWriteLeaves)
{
    const struct {
        unsigned vendor, device, header_type, offset, old, value, after;
    } cases[] = {
        {0, 0, 0x00, 0x00, 0x86, 0x00, 0x86}, // vendor ID
        {0, 0, 0x00, 0x06, 0x80, 0xFF, 0x80}, // status low byte: no bit clears
        {0, 0, 0x00, 0x06, 0x90, 0x10, 0x90},
        {0, 0, 0x00, 0x07, 0xFB, 0xFF, 0x02}, // high byte clears, DEVSEL stays
        {0, 0, 0x01, 0x07, 0x22, 0x00, 0x22}, // a 0 leaves
        {0, 0, 0x01, 0x1E, 0xA0, 0x00, 0xA0}, // secondary status likewise
        {0, 0, 0x01, 0x1F, 0x00, 0xFF, 0x00},
        {0, 0, 0x01, 0x1F, 0xC2, 0x40, 0x82},
        {0, 0, 0x02, 0x17, 0x20, 0x20, 0x00}, // CardBus secondary status
        {0, 0, 0x00, 0x05, 0x00, 0xFF, 0x07}, // command bits 15-11 reserved
        {0, 0, 0x00, 0x34, 0xA0, 0x00, 0xA0}, // capability pointer
        {0, 0, 0x01, 0x34, 0xA0, 0x00, 0xA0},
        {0, 0, 0x02, 0x34, 0xA0, 0x00, 0x00}, // a CardBus bridge's I/O base
        {0, 0, 0x02, 0x14, 0x80, 0x00, 0x80}, // ... whose capability pointer is here
        {0, 0, 0x00, 0x2C, 0x86, 0x00, 0x86}, // subsystem IDs of an ordinary function
        {0, 0, 0x01, 0x2C, 0x86, 0x00, 0x00}, // a bridge's prefetchable limit
        {0, 0, 0x01, 0x1C, 0x01, 0xF0, 0xF1}, // I/O base: width bits stay
        {0, 0, 0x01, 0x3F, 0x04, 0xFF, 0x0B}, // bridge control: discard status clears
        {0, 0, 0x00, 0x3D, 0x01, 0x02, 0x01}, // interrupt pin
        {0, 0, 0x00, 0x3E, 0x00, 0x10, 0x00}, // MIN_GNT
        {0, 0, 0x00, 0x3C, 0x0B, 0x05, 0x05}, // interrupt line
        {0, 0, 0x00, 0x50, 0x00, 0x33, 0x33}, // past the header, no table
        // 440BX ERRSTS (86Box intel_4x0.c) and PIIX4 UDMACTL (86Box intel_piix.c).
        {0x8086, 0x7190, 0x00, 0x92, 0x13, 0x01, 0x12},
        {0x8086, 0x7111, 0x00, 0x48, 0x05, 0xFF, 0x0F},
        {0x8086, 0x7111, 0x00, 0x41, 0xA3, 0x0C, 0x00}, // IDETIM bits 11-10 reserved
    };
    for (const auto &c : cases) {
        unsigned char id[16] = {
            static_cast<unsigned char>(c.vendor), static_cast<unsigned char>(c.vendor >> 8),
            static_cast<unsigned char>(c.device), static_cast<unsigned char>(c.device >> 8)};
        id[PCI_HEADER_TYPE] = static_cast<unsigned char>(c.header_type);
        EXPECT_EQ(pci_after_write(id, c.offset, static_cast<unsigned char>(c.old),
                                  static_cast<unsigned char>(c.value)),
                  c.after)
            << std::hex << c.device << " type " << c.header_type << " offset " << c.offset;
    }
}

TEST(PciHeader, CapabilityListWalk)
{
    const struct {
        const char *name;
        unsigned char header_type, status, pointer;
        unsigned char links[4][2]; // offset, next
        std::vector<int> walked;
    } cases[] = {
        {"two entries", 0x00, 0x10, 0xDC, {{0xDC, 0x43}, {0x40, 0x00}}, {0xDC, 0x40}},
        {"status without the list bit", 0x00, 0x00, 0xDC, {{0xDC, 0x00}}, {}},
        {"a loop", 0x01, 0x10, 0x50, {{0x50, 0x60}, {0x60, 0x50}}, {0x50, 0x60}},
        {"pointer into the header", 0x00, 0x10, 0x3C, {}, {}},
        {"an ID of FF ends it", 0x00, 0x10, 0x50, {{0x50, 0x70}, {0x70, 0x00}}, {0x50}},
        {"CardBus: pointer at 14", 0x02, 0x10, 0x80, {{0x80, 0x00}}, {0x80}},
    };
    for (const auto &c : cases) {
        unsigned char space[256] = {};
        space[PCI_STATUS] = c.status;
        space[PCI_HEADER_TYPE] = c.header_type;
        space[c.header_type == 2 ? 0x14 : 0x34] = c.pointer;
        for (const auto &l : c.links)
            if (l[0])
                space[l[0] + 1] = l[1];
        space[0x70] = 0xFF; // what an absent register reads
        unsigned char at[48];
        int n = pci_capabilities(space, at, 48);
        EXPECT_EQ(std::vector<int>(at, at + n), c.walked) << c.name;
    }
    EXPECT_STREQ(pci_capability_name(0x01), "Power Management");
    EXPECT_STREQ(pci_capability_name(0x02), "AGP");
    EXPECT_EQ(pci_capability_name(0x7F), nullptr);
}

// Each byte named as lspci -vv names its register (ls-caps.c), at header.h's
// offsets, in functions whose list starts at 0x34: the ICH9 AHCI and the
// PCI-to-PCI bridge of QEMU's q35 (their lspci -xxx), the 440BX host bridge
// as 86Box sets it up (intel_4x0.c), and layouts chosen by the structure's
// own bytes.
TEST(PciCaps, NamesEachByteAsLspciDoes)
{
    struct Function {
        unsigned char header_type, pointer;
        std::vector<std::vector<unsigned char>> rows; // each: offset, then bytes
    };
    const Function ahci = {0x00,
                           0x80,
                           {{0x80, 0x05, 0xA8, 0x81, 0x00, 0x04, 0x10, 0xE0, 0xFE},
                            {0xA8, 0x12, 0x00, 0x10, 0x00, 0x48}}};
    const Function q35_bridge = {0x01, 0x40, {{0x40, 0x04, 0x00, 0x20, 0x01}}};
    const Function bx_agp = {0x00, 0xA0, {{0xA0, 0x02, 0x00, 0x10, 0x00, 0x03, 0x02, 0x00, 0x1F}}};
    const Function msi_32_masked = {0x00, 0x60, {{0x60, 0x05, 0x00, 0x00, 0x01}}};
    const Function express_v2 = {0x01, 0x40, {{0x40, 0x10, 0x00, 0x42, 0x00}}};
    const Function express_v1 = {0x01, 0x40, {{0x40, 0x10, 0x00, 0x41, 0x00}}};
    const Function pcix_bridge = {0x01, 0x50, {{0x50, 0x07}}};
    const Function pcix_device = {0x00, 0x50, {{0x50, 0x07}}};
    const Function pm_then_vpd = {0x00, 0xDC, {{0xDC, 0x01, 0x48, 0x02, 0xFE}, {0x48, 0x03}}};
    const Function null_id = {0x00, 0xDC, {}};
    const struct {
        const Function *f;
        unsigned offset;
        const char *text; // "": in no capability structure
    } cases[] = {
        {&ahci, 0x8B, "MSI Address (cap 05 at 80)+B"}, // 64-bit: one 8-byte address
        {&ahci, 0x8C, "MSI Data (cap 05 at 80)+C"},
        {&ahci, 0x8E, ""}, // no masking: the structure ends after Data
        {&ahci, 0x80, "MSI (cap 05 at 80)+0"},
        {&ahci, 0xA9, "Capability (cap 12 at A8)+1"}, // no layout known: its header only
        {&ahci, 0xAC, ""},
        {&ahci, 0x7F, ""},
        {&q35_bridge, 0x43, "Slot ID Chassis (cap 04 at 40)+3"},
        {&q35_bridge, 0x44, ""},
        {&bx_agp, 0xA8, "AGP Command (cap 02 at A0)+8"},
        {&bx_agp, 0xAB, "AGP Command (cap 02 at A0)+B"},
        {&bx_agp, 0xA5, "AGP Status (cap 02 at A0)+5"},
        {&bx_agp, 0xA3, "AGP (cap 02 at A0)+3"},
        {&bx_agp, 0xAC, ""},
        {&msi_32_masked, 0x68, "MSI Data (cap 05 at 60)+8"},
        {&msi_32_masked, 0x6A, "MSI (cap 05 at 60)+A"},
        {&msi_32_masked, 0x73, "MSI Pending (cap 05 at 60)+13"},
        {&msi_32_masked, 0x74, ""},
        {&express_v2, 0x48, "Express DevCtl (cap 10 at 40)+8"},
        {&express_v2, 0x60, "Express RootSta (cap 10 at 40)+20"},
        {&express_v2, 0x68, "Express DevCtl2 (cap 10 at 40)+28"},
        {&express_v2, 0x7B, "Express SltSta2 (cap 10 at 40)+3B"},
        {&express_v2, 0x7C, ""},
        {&express_v1, 0x63, "Express RootSta (cap 10 at 40)+23"},
        {&express_v1, 0x64, ""},
        {&pcix_bridge, 0x5C, "PCI-X Downstream (cap 07 at 50)+C"},
        {&pcix_device, 0x52, "PCI-X Command (cap 07 at 50)+2"},
        {&pcix_device, 0x58, ""},
        {&pm_then_vpd, 0xE0, "Power Management Status (cap 01 at DC)+4"},
        {&pm_then_vpd, 0xE3, "Power Management Data (cap 01 at DC)+7"},
        {&pm_then_vpd, 0x4C, "VPD Data (cap 03 at 48)+4"},
        {&null_id, 0xDD, "Capability (cap 00 at DC)+1"},
    };
    for (const auto &c : cases) {
        unsigned char space[256] = {};
        space[PCI_STATUS] = PCI_STATUS_CAP_LIST;
        space[PCI_HEADER_TYPE] = c.f->header_type;
        space[0x34] = c.f->pointer;
        for (const auto &row : c.f->rows)
            for (size_t i = 1; i < row.size(); i++)
                space[row[0] + i - 1] = row[i];
        PciCapabilityByte b;
        char text[PCI_CAPABILITY_TEXT_MAX] = "";
        if (pci_capability_byte(space, c.offset, &b))
            pci_capability_text(text, b);
        EXPECT_STREQ(text, c.text) << std::hex << c.offset;
    }
}

TEST(PciDump, HeaderOnlyDumpsKnowTheirSixtyFourBytes)
{
    unsigned char bytes[256];
    for (unsigned i = 0; i < 256; i++)
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    char text[2 * PCI_DUMP_BLOCK_MAX];
    int n = pci_dump_write(text, 0x02, 0x04, 0, bytes, 64);
    n += pci_dump_write(text + n, 0x00, 0x1F, 7, bytes, 256);
    ASSERT_LT(n, static_cast<int>(sizeof text));
    const std::string first(text, text + std::string(text, n).find("\r\n"));
    EXPECT_EQ(first, "02:04.0 4e47: 0801:160f (rev 39)");

    PciDumpFunction f[2];
    PciDumpError e;
    ASSERT_EQ(pci_dump_read(text, static_cast<unsigned>(n), f, 2, &e), 2) << e.what;
    for (unsigned reg = 0; reg < 256; reg++) {
        EXPECT_EQ(pci_dump_known(f[0], reg), reg < 64) << reg;
        EXPECT_EQ(f[0].bytes[reg], reg < 64 ? bytes[reg] : 0) << reg;
        EXPECT_TRUE(pci_dump_known(f[1], reg));
        EXPECT_EQ(f[1].bytes[reg], bytes[reg]);
    }
    EXPECT_EQ(f[1].dev, 0x1F);
    EXPECT_EQ(pci_dump_read(text, static_cast<unsigned>(n), f, 1, &e), -1);
    EXPECT_EQ(e.line, 7);
    EXPECT_STREQ(e.what, "more than 1 functions");
}

} // namespace

// The chipset tables against the datasheets they name: spot checks read from
// the documents (not from the tables), and the shape every table must keep
// for a byte to get exactly one name.
#include <gtest/gtest.h>

#include <cstring>

#include "chipset_tables.h"
#include "register_name.h"

namespace
{

struct Spot {
    unsigned vendor, device, offset;
    const char *name;
    unsigned start, width; // of the register (or piece) covering `offset`
};

// clang-format off
const Spot SPOTS[] = {
    // 290633-001 (82443BX)
    {0x8086, 0x7190, 0x5C, "PAM3", 0x5C, 1},
    {0x8086, 0x7190, 0x73, "ESMRAMC", 0x73, 1},
    {0x8086, 0x7190, 0x92, "ERRSTS", 0x91, 2},
    {0x8086, 0x7190, 0xE5, "DWTC", 0xE4, 4},
    {0x8086, 0x7192, 0x5A, "PAM1", 0x5A, 1},
    // 290549-001 (82441FX)
    {0x8086, 0x1237, 0x59, "PAM0", 0x59, 1},
    {0x8086, 0x1237, 0x72, "SMRAM", 0x72, 1},
    {0x8086, 0x1237, 0x57, "DRAMC", 0x57, 1}, // CHIPSEC pmc_i440fx.xml
    {0x8086, 0x1237, 0x93, "TRC", 0x93, 1},   // CHIPSEC pmc_i440fx.xml
    // 290559-001 (82439TX); ESMRAMC at 71h: 86Box intel_4x0.c, MAME
    // bus/lpci/i82439tx.cpp
    {0x8086, 0x7100, 0x65, "DRB5", 0x65, 1},
    {0x8086, 0x7100, 0x71, "ESMRAMC", 0x71, 1},
    // 290564-001 (82443LX)
    {0x8086, 0x7180, 0x56, "DRT", 0x55, 2},
    {0x8086, 0x7180, 0x6F, "MBSC", 0x6C, 4},
    // 290550-001 (PIIX3)
    {0x8086, 0x7000, 0x4F, "XBCS", 0x4E, 2},
    {0x8086, 0x7010, 0x43, "IDETIM", 0x42, 2},
    {0x8086, 0x7020, 0xC1, "LEGSUP", 0xC0, 2},
    // 290562 (PIIX4/4E)
    {0x8086, 0x7110, 0xB3, "GENCFG", 0xB0, 4},
    {0x8086, 0x7111, 0x48, "UDMACTL", 0x48, 1},
    {0x8086, 0x7111, 0x4B, "UDMATIM", 0x4A, 2},
    {0x8086, 0x7113, 0x93, "SMBBA", 0x90, 4},
    {0x8086, 0x7113, 0xD2, "SMBHSTCFG", 0xD2, 1},
    // 316966 (3 Series MCH)
    {0x8086, 0x29C0, 0x93, "PAM3", 0x93, 1},
    {0x8086, 0x29C0, 0x63, "PCIEXBAR", 0x60, 4},
    {0x8086, 0x29C0, 0xB1, "TOLUD", 0xB0, 2},
    // VIA VT82C693A/694X and VT82C686A/B
    {0x1106, 0x0691, 0x62, "Shadow Ctl 2", 0x62, 1},
    {0x1106, 0x0691, 0x8B, "GA Table Base", 0x88, 4},
    {0x1106, 0x0686, 0x57, "PIRQD Route", 0x57, 1},
    {0x1106, 0x0571, 0x53, "UDMA Timing", 0x53, 1},
    {0x1106, 0x3038, 0xC0, "Legacy Support", 0xC0, 2},
    {0x1106, 0x3057, 0x91, "SMBus I/O Base", 0x90, 4},
};
// clang-format on

TEST(ChipsetTables, NameTheRegistersTheDatasheetsGive)
{
    for (const Spot &s : SPOTS) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << s.vendor << ":" << s.device << " " << s.offset);
        const PciChipsetTable *t = pci_chipset_table(s.vendor, s.device);
        ASSERT_NE(t, nullptr);
        EXPECT_TRUE(is_register(pci_chipset_register(t, s.offset), s.name, s.start, s.width));
    }
}

TEST(ChipsetTables, GapsAndUnknownChipsHaveNoName)
{
    struct Gap {
        unsigned vendor, device, offset;
    };
    const Gap gaps[] = {
        {0x8086, 0x7190, 0x00},                         // the standard header is not ours
        {0x8086, 0x7190, 0x54},                         // after NBXCFG (50h-53h)
        {0x8086, 0x7190, 0xFF}, {0x8086, 0x7111, 0x49}, // between UDMACTL and UDMATIM
        {0x8086, 0x29C0, 0x97},                         // after PAM6
        {0x8086, 0x7100, 0x73},                         // 430TX: nothing (86Box intel_4x0.c)
        {0x8086, 0x7110, 0x70}, {0x8086, 0x7110, 0x71}, // PIIX4: no MBIRQ (86Box intel_piix.c)
    };
    for (const Gap &g : gaps)
        EXPECT_EQ(pci_chipset_register(pci_chipset_table(g.vendor, g.device), g.offset), nullptr)
            << std::hex << g.device << " " << g.offset;
    EXPECT_EQ(pci_chipset_register(nullptr, 0x5C), nullptr);
    EXPECT_EQ(pci_chipset_table(0x8086, 0x7191), nullptr); // the 440BX's AGP bridge: header only
    EXPECT_EQ(pci_chipset_table(0x1234, 0x1111), nullptr);
    EXPECT_EQ(pci_chipset_table(0x0691, 0x1106), nullptr); // vendor and device swapped
}

bool ascii(const char *s)
{
    for (; *s; s++)
        if (*s < 0x20 || *s > 0x7E)
            return false;
    return true;
}

// Registers the datasheets place off their natural alignment.
bool unaligned_in_datasheet(unsigned device, unsigned offset)
{
    return ((device == 0x7190 || device == 0x7192) && (offset == 0x7B || offset == 0x91)) ||
           (device == 0x7180 && offset == 0x55);
}

TEST(ChipsetTables, EveryTableIsSortedDisjointAndFitsTheSpace)
{
    const unsigned chips[][2] = {
        {0x8086, 0x7100}, {0x8086, 0x1237}, {0x8086, 0x7180}, {0x8086, 0x7190}, {0x8086, 0x7192},
        {0x8086, 0x7000}, {0x8086, 0x7010}, {0x8086, 0x7020}, {0x8086, 0x7110}, {0x8086, 0x7111},
        {0x8086, 0x7112}, {0x8086, 0x7113}, {0x8086, 0x29C0}, {0x1106, 0x0691}, {0x1106, 0x0686},
        {0x1106, 0x0571}, {0x1106, 0x3038}, {0x1106, 0x3057},
    };
    for (const auto &chip : chips) {
        const PciChipsetTable *t = pci_chipset_table(chip[0], chip[1]);
        ASSERT_NE(t, nullptr) << std::hex << chip[0] << ":" << chip[1];
        SCOPED_TRACE(t->chip);
#ifndef PCI_NO_NOTES
        EXPECT_TRUE(*t->source && *t->chip);
#endif
        ASSERT_GT(t->count, 0);
        unsigned end = 0x40; // the standard header is another table's
        for (int i = 0; i < t->count; i++) {
            const PciRegisterName &r = t->regs[i];
            SCOPED_TRACE(r.name);
            EXPECT_TRUE(r.width == 1 || r.width == 2 || r.width == 4);
            EXPECT_GE(r.offset, end) << "unsorted or overlapping at " << std::hex << +r.offset;
            EXPECT_LE(r.offset + r.width, 256u);
            if (!unaligned_in_datasheet(t->device, r.offset)) {
                EXPECT_EQ(r.offset % r.width, 0u) << std::hex << +r.offset;
            }
            EXPECT_TRUE(*r.name && ascii(r.name));
            EXPECT_TRUE(ascii(r.what));
            EXPECT_LE(std::strlen(r.what), 50u);
            end = r.offset + r.width;
        }
        // The bit fields: past the header, sorted, disjoint within a byte;
        // a flagged field says what a change does and where that is from.
        unsigned at = 0x40, taken = 0;
        for (int i = 0; i < t->bit_count; i++) {
            const PciBitField &f = t->bits[i];
            SCOPED_TRACE(f.name);
            EXPECT_GE(f.offset, at);
            if (f.offset != at)
                taken = 0;
            EXPECT_EQ(f.mask & taken, 0u) << std::hex << +f.offset;
            taken |= f.mask;
            at = f.offset;
            EXPECT_TRUE(*f.name && ascii(f.name) && ascii(f.consequence));
            if (f.flags & (PCI_BITS_OWNED | PCI_BITS_HANGS)) {
                EXPECT_TRUE(*f.consequence);
            }
#ifndef PCI_NO_NOTES
            EXPECT_TRUE(*f.source || (f.flags & PCI_BITS_UNVERIFIED));
#endif
        }
    }
}

#ifdef PCI_NO_NOTES
// A description written without PCI_NOTE() would stay in a 9x tool's image.
TEST(ChipsetTables, WithoutNotesEveryDescriptionIsEmpty)
{
    for (int l = 0; l < PCI_CHIPSET_LIST_COUNT; l++)
        for (int i = 0; i < *PCI_CHIPSET_LISTS[l].count; i++) {
            const PciChipsetTable &t = PCI_CHIPSET_LISTS[l].tables[i];
            for (int k = 0; k < t.count; k++)
                EXPECT_STREQ(t.regs[k].what, "") << t.regs[k].name;
        }
}
#endif

} // namespace

// kvtlcheck on crafted files: which warnings each sharp edge raises (each
// exactly once), how lines are numbered, and a cross-check of the lines it
// lists and of load_settings against a plain model of the format.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "check.h"
#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"
#include "settings_files.h"
#include "settings_model.h"
#include "trace.h"

using kvtlcheck::Kind;

namespace
{

const sim::Chipset &machine()
{
    static const sim::Chipset m = sim::default_machine();
    return m;
}

kvtlcheck::Report check(const std::string &content, unsigned chunk = 0,
                        const sim::Chipset &on = machine())
{
    memfs::reset();
    memfs::put("kvtl.cfg", content);
    memfs::set_chunk(chunk);
    kvtlcheck::Report report;
    std::string error;
    EXPECT_TRUE(kvtlcheck::check_file("kvtl.cfg", on, &report, &error)) << error;
    EXPECT_EQ(memfs::open_files(), 0);
    return report;
}

struct Seen {
    int line;
    Kind kind;
};

struct WarningCase {
    const char *name;           // of the file in tests/support/settings_files.cpp
    std::vector<Seen> warnings; // in the order reported
};

const WarningCase warning_cases[] = {
    {"clean file", {}},
    {"blank line", {{2, Kind::Register0}, {2, Kind::ReadOnly}}},
    {"comma-only line", {{1, Kind::Register0}, {1, Kind::ReadOnly}}},
    {"remark line", {{1, Kind::Register0}, {1, Kind::ReadOnly}}},
    {"remark with fields", {{1, Kind::Register0}, {1, Kind::ReadOnly}}},
    {"blank register field", {{1, Kind::Register0}, {1, Kind::ReadOnly}}},
    {"space after a comma", {{1, Kind::NotHex}}},
    {"0x prefix", {{1, Kind::NotHex}}},
    {"dollar prefix", {{1, Kind::NotHex}}},
    {"space before the register", {{1, Kind::NotHex}, {1, Kind::ReadOnly}}},
    {"trailing comma is no field", {}},
    {"more than eight digits", {{1, Kind::Wrapped}}},
    {"leading zeros do not wrap", {}},
    {"value above FF", {{1, Kind::ValueAbove}}},
    {"device 20 reaches bus 1", {{1, Kind::Spill}}},
    {"function 8 reaches device 1", {{1, Kind::Spill}}},
    {"register 150 reaches function 1", {{1, Kind::Spill}}},
    {"absent function", {{1, Kind::Absent}}},
    {"absent device", {{1, Kind::Absent}}},
    {"read-only bits", {{1, Kind::ReadOnly}}},
    {"register named twice", {{3, Kind::Duplicate}}},
    {"I/O decoding and bus mastering off", {{1, Kind::StopsAnswering}}},
    {"command bits set again", {}},
    {"a bridge's bus numbers", {{1, Kind::BusNumbers}, {2, Kind::BusNumbers}}},
    {"a bus number as it is", {}},
    {"IDE decode off: the boot disk's channel vanishes", {{1, Kind::ReadOnly}, {1, Kind::Hazard}}},
    {"IRQ routing that Windows owns", {{1, Kind::Hazard}}},
    {"the interrupt line the BIOS set", {{1, Kind::Owned}}},
    {"status bits cleared", {{1, Kind::Clears}}},
    {"named again through reserved address bits", {{2, Kind::Spill}, {2, Kind::Duplicate}}},
    {"64 lines", {}},
    {"65th line", {{65, Kind::NeverRead}}},
    {"0x1A ends the file", {{2, Kind::CtrlZ}}},
    {"0x1A at the end is harmless", {}},
    {"CR-only line ends", {{1, Kind::CrOnly}}},
    {"CR CR LF merges nothing", {}},
    {"line over 253 bytes", {{1, Kind::Split}}},
    {"253 bytes leave the LF alone", {{1, Kind::Register0}, {1, Kind::ReadOnly}, {1, Kind::Split}}},
    {"NUL inside a line", {{1, Kind::Nul}}},
    {"NUL first: line skipped", {{1, Kind::Nul}}},
};

std::vector<std::string> seen(const kvtlcheck::Report &r)
{
    std::vector<std::string> s;
    auto add = [&s](const kvtlcheck::Warning &w) {
        s.push_back(std::to_string(w.line) + " " + kvtlcheck::kind_name(w.kind));
    };
    for (const kvtlcheck::Applied &a : r.applied)
        for (const kvtlcheck::Warning &w : a.warnings)
            add(w);
    for (const kvtlcheck::Warning &w : r.file_warnings)
        add(w);
    return s;
}

TEST(KvtlcheckWarnings, FunctionsThatStopAnsweringAreNamed)
{
    const struct {
        const char *content, *text;
    } cases[] = {
        {"4,0,7,1\n", "00:07.1 stops answering on I/O and stops bus mastering"},
        {"4,1,1\n", "00:01.0 stops answering on memory and stops bus mastering"},
        {"4,4,B\n", "00:0b.0 stops answering on I/O and memory"},
    };
    for (const auto &c : cases) {
        kvtlcheck::Report r = check(c.content);
        ASSERT_EQ(r.applied.size(), 1u);
        ASSERT_GE(r.applied[0].warnings.size(), 1u) << c.content;
        EXPECT_EQ(r.applied[0].warnings[0].text, c.text);
    }
}

TEST(KvtlcheckWarnings, EachSharpEdgeWarnsOnceOnItsLine)
{
    ASSERT_EQ(std::size(warning_cases), files::sharp_edges().size())
        << "a file without its warnings";
    for (const WarningCase &c : warning_cases) {
        std::vector<std::string> expected;
        for (const Seen &w : c.warnings)
            expected.push_back(std::to_string(w.line) + " " + kvtlcheck::kind_name(w.kind));
        EXPECT_EQ(seen(check(files::content(c.name))), expected) << c.name;
    }
}

TEST(KvtlcheckWarnings, EveryKindIsCovered)
{
    std::set<Kind> kinds;
    for (const WarningCase &c : warning_cases)
        for (const Seen &w : c.warnings)
            kinds.insert(w.kind);
    EXPECT_EQ(kinds.size(), static_cast<size_t>(Kind::Clears) + 1);
}

TEST(KvtlcheckWarnings, SpillsNameWhatTheyReach)
{
    const struct {
        std::string content, reaches;
    } cases[] = {
        {"10,0,20\n", "01:00.0 register 10 (VGA"},
        {"50,0C,0,8\n", "00:01.0 register 50 (PCI bridge"},
        {"150,0C,7\n", "00:07.1 register 50 (IDE"},
        // Where the bus is when the line runs: the AGP bridge moved it to 3
        // (the subordinate first: a bridge reaches no bus above it).
        {"1A,03,1,0\n19,03,1,0\n40,55,60,0\n", "03:00.0 register 40 (VGA"},
    };
    for (const auto &c : cases) {
        kvtlcheck::Report r = check(c.content);
        ASSERT_FALSE(r.applied.empty());
        const std::string text = r.applied.back().warnings.at(0).text;
        EXPECT_NE(text.find(c.reaches), std::string::npos) << text;
    }
}

struct LineCase {
    const char *name;                       // of the file in tests/support/settings_files.cpp
    std::vector<std::pair<int, int>> lines; // first and last physical line per applied piece
};

const LineCase line_cases[] = {
    {"LF", {{1, 1}, {2, 2}}},
    {"CR LF", {{1, 1}, {2, 2}}},
    {"last line without its end", {{1, 1}, {2, 2}}},
    {"skipped lines still count", {{2, 2}, {3, 3}}},
    {"lone CR ends a line", {{1, 2}, {3, 3}}},
    {"CR CR LF is two line ends", {{1, 2}, {3, 3}}},
    {"pieces of a long line share its number", {{1, 1}, {2, 2}, {2, 2}, {3, 3}}},
    {"CR-only file cut at 253 bytes", {{1, 2}, {2, 3}}},
    {"0x1A mid-line", {{1, 1}, {2, 2}}},
};

TEST(KvtlcheckLines, NumberedAsAnEditorShowsThem)
{
    ASSERT_EQ(std::size(line_cases), files::line_edges().size()) << "a file without its lines";
    for (const LineCase &c : line_cases) {
        std::vector<std::pair<int, int>> got;
        for (const kvtlcheck::Applied &a : check(files::content(c.name)).applied)
            got.push_back({a.line, a.last_line});
        EXPECT_EQ(got, c.lines) << c.name;
    }
}

TEST(KvtlcheckLines, ReportEveryColumnOfAnAppliedLine)
{
    kvtlcheck::Report r = check("4B,11,7,1\n7A,F3\n");
    ASSERT_EQ(r.applied.size(), 2u);
    const kvtlcheck::Applied &a = r.applied[0];
    EXPECT_EQ(a.text, "4B,11,7,1\n");
    EXPECT_EQ(a.address, 0x8000394Bu);
    EXPECT_EQ(a.port, 0xCFF);
    EXPECT_EQ(sim::format(a.reaches), "00:07.1");
    EXPECT_EQ(a.offset, 0x4Bu);
    EXPECT_TRUE(a.present);
    EXPECT_EQ(a.before, 0x02);
    EXPECT_EQ(a.written, 0x11);
    EXPECT_EQ(a.after, 0x11);
    // Power management control keeps its reserved upper nibble.
    const kvtlcheck::Applied &b = r.applied[1];
    EXPECT_EQ(b.before, 0x0A);
    EXPECT_EQ(b.after, 0x03);
    EXPECT_EQ(seen(r), std::vector<std::string>{"2 read-only"});
}

// setpci's VALUE:MASK: the line keeps the bits outside the mask at the
// machine's byte (00:07.1 48 holds 05, 00:00.0 07 holds 22 with bit 1, DEVSEL,
// read-only: QEMU pci_init_w1cmask).
TEST(KvtlcheckSet, ALineFromValueAndMask)
{
    const struct {
        sim::Bdf at;
        unsigned reg, value, mask;
        const char *line; // "": no line can
        size_t warnings;
    } cases[] = {
        {{0, 7, 1}, 0x48, 0x02, 0x02, "48,07,7,1\r\n", 0},
        {{0, 7, 1}, 0x48, 0x00, 0x01, "48,04,7,1\r\n", 0},
        {{0, 7, 1}, 0x41, 0x00, 0x80, "41,23,7,1\r\n", 1}, // IDE decode enable
        {{0, 0, 0}, 0x07, 0x00, 0x20, "07,22,0,0\r\n", 0}, // a 1 clears it
        {{0, 0, 0}, 0x07, 0x01, 0x01, "", 0},              // nothing sets it
        {{0, 0, 0}, 0x07, 0x00, 0x02, "", 0},              // DEVSEL
        {{0, 0, 0}, 0x06, 0xFF, 0xFF, "", 0},
        {{0, 7, 1}, 0x100, 0x01, 0xFF, "", 0},
        {{0, 7, 2}, 0x48, 0x01, 0xFF, "", 0},               // absent
        {{1, 0, 0}, 0x0D, 0x40, 0xFF, "0D,40,20,0\r\n", 1}, // bus 1 through the device field
    };
    for (const auto &c : cases) {
        std::string line, error;
        std::vector<std::string> warnings;
        bool made =
            kvtlcheck::set_line(machine(), c.at, c.reg, c.value, c.mask, &line, &warnings, &error);
        SCOPED_TRACE(sim::format(c.at) + " " + kvtlcheck::hex(c.reg));
        EXPECT_EQ(made, *c.line != '\0') << error;
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(warnings.size(), c.warnings);
    }
}

// The bits a line changes, named where the tables name them (IDETIM bit 15
// is IDE decode enable: coreboot i82371eb.h), the chip told once.
TEST(KvtlcheckLines, ChangedBitsNamedAndTheChipToldOnce)
{
    const kvtlcheck::Report r = check("41,5A,7,1\n4B,11,7,1\n");
    const std::string json = kvtlcheck::render_json(r);
    EXPECT_NE(json.find("\"note\": \"Primary channel IDE timing\", \"changed_bits\": [{\"bit\": 0, "
                        "\"from\": 1, \"to\": 0, \"name\": \"RTC recovery time\"}"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("{\"bit\": 7, \"from\": 1, \"to\": 0, \"name\": \"IDE decode enable\"}]"),
              std::string::npos);
    const std::string text = kvtlcheck::render_table(r, "kvtl.cfg", false);
    EXPECT_NE(text.find("changes bit 0 RTC recovery time 1->0"), std::string::npos) << text;
    EXPECT_EQ(text.find("00:07.1: Intel 82371AB/EB PIIX4 IDE"),
              text.rfind("00:07.1: Intel 82371AB/EB PIIX4 IDE"));
    EXPECT_NE(text.find("00:07.1: Intel 82371AB/EB PIIX4 IDE"), std::string::npos);
}

// The capability structure a line's byte lies in, from the machine's bytes:
// the network card behind the bridge has power management at DC, whose +4
// lspci -vv shows as "Status:"; an "lspci -x" dump shows no structure past
// 3F, whatever the pointer at 34 says.
TEST(KvtlcheckLines, CapabilityNamedFromTheMachinesBytes)
{
    sim::Chipset header_only;
    std::string error;
    ASSERT_TRUE(header_only.load_lspci("00:00.0 0600: 8086:7190\n"
                                       "00: 86 80 90 71 06 00 10 22 03 00 00 06 00 00 00 00\n"
                                       "30: 00 00 00 00 a0 00 00 00 00 00 00 00 00 00 00 00\n",
                                       &error))
        << error;
    const struct {
        const sim::Chipset *machine;
        const char *file, *capability;
    } cases[] = {
        {&machine(), "E0,03,44\n", "Power Management Status (cap 01 at DC)+4"},
        {&machine(), "0D,40,44\n", ""},
        {&header_only, "A1,00\n", ""},
    };
    for (const auto &c : cases) {
        const kvtlcheck::Report r = check(c.file, 0, *c.machine);
        ASSERT_EQ(r.applied.size(), 1u);
        EXPECT_EQ(r.applied[0].capability, c.capability) << c.file;
    }
}

// A file that cannot be read to its end is no file to judge: the pass's own
// read or the read of what it left unread.
TEST(KvtlcheckFile, AFailedReadIsReportedInsteadOfAReport)
{
    const struct {
        const char *name;
        std::string content;
        unsigned chunk;
        int failing_call;
    } cases[] = {
        {"the pass's first read", "50,0C\n", 0, 1},
        {"the read after the 64th line", files::content("64 lines") + "50,0C\n", 64 * 7, 2},
    };
    for (const auto &c : cases) {
        memfs::reset();
        memfs::put("kvtl.cfg", c.content);
        memfs::set_chunk(c.chunk);
        memfs::fail_read(c.failing_call);
        kvtlcheck::Report report;
        std::string error;
        EXPECT_FALSE(kvtlcheck::check_file("kvtl.cfg", machine(), &report, &error)) << c.name;
        EXPECT_EQ(error, "cannot read kvtl.cfg") << c.name;
        EXPECT_EQ(memfs::open_files(), 0) << c.name;
    }
}

TEST(KvtlcheckFile, ReadsTheFileOnce)
{
    check("50,0C\n51,0D\n");
    EXPECT_EQ(memfs::read_calls(), 2) << "one read of the bytes, one that finds the end";
}

TEST(KvtlcheckRestore, EveryLineIsWrittenBackAndEachRegisterListedOnce)
{
    kvtlcheck::Report r = check("50,0C\n50,0D\n51,0E\n");
    EXPECT_TRUE(r.all_restored);
    EXPECT_EQ(r.restore_writes, 3);
    ASSERT_EQ(r.restored.size(), 2u);
    EXPECT_EQ(r.restored[0].pre_pass, 0x0C);
    EXPECT_EQ(r.restored[0].now, 0x0C);
    EXPECT_EQ(r.restored[1].pre_pass, 0x02);
    EXPECT_EQ(r.restored[1].now, 0x02);
}

// The checker's applied lines and the engine's own pass over the same file,
// both held to the plain model of the format (tests/support): same lines,
// fields, addresses and bytes, in the same order, whatever the cut of the
// reads. (The checker runs the engine's parser, so comparing the two with
// each other alone would say nothing about either.)
TEST(KvtlcheckCrossCheck, AppliedLinesAndTheEnginePassAreThePlainModels)
{
    std::vector<std::string> contents;
    for (const auto *list : {&files::sharp_edges(), &files::line_edges()})
        for (const files::Named &f : *list)
            contents.push_back(f.content);
    // Numbers in every form the parser meets: letters of both cases, more
    // than eight digits, prefixes and suffixes, spills.
    contents.push_back(
        "4f,a5,1f,7\nAbCdEf,fF\n123456789a,5ah,0x7,-1\n,,41,,5A,,\nfffff,1,ffff,ff\n");
    for (size_t i = 0; i < contents.size(); i++) {
        const std::vector<model::Line> ref = model::settings_pass(contents[i]);
        for (unsigned chunk : {0u, 1u, 5u}) {
            SCOPED_TRACE("file " + std::to_string(i) + ", chunk " + std::to_string(chunk));
            kvtlcheck::Report r = check(contents[i], chunk);
            ASSERT_EQ(r.applied.size(), ref.size());
            Trace expected;
            for (size_t n = 0; n < ref.size(); n++) {
                const kvtlcheck::Applied &a = r.applied[n];
                const model::Line &l = ref[n];
                EXPECT_EQ(a.text.substr(0, a.text.find('\0')), l.text);
                EXPECT_EQ((std::vector<std::uint32_t>{a.reg, a.value, a.device, a.function}),
                          (std::vector<std::uint32_t>{l.reg, l.value, l.device, l.function}));
                EXPECT_EQ(a.address, l.address);
                EXPECT_EQ(a.port, l.port);
                EXPECT_EQ(a.written, l.value & 0xFF);
                // The byte read is the machine's: the checker's report of it
                // must be what the engine's own pass reads below.
                expected = expected +
                           Trace{sim::out32(0xCF8, l.address), sim::in8(l.port, a.before),
                                 sim::out32(0xCF8, l.address), sim::out8(l.port, l.value & 0xFF)};
            }
            use_machine(machine());
            memfs::reset();
            memfs::put("kvtl.cfg", contents[i]);
            memfs::set_chunk(chunk);
            load_settings("kvtl.cfg");
            EXPECT_TRACE(sim::active_chipset().trace(), expected);
            EXPECT_EQ(g_journal.count, static_cast<int>(ref.size()));
        }
    }
}

} // namespace

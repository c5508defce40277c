// kvtlpeek.exe, unmodified, under the harness on the virtual chipset, with
// Wine reporting Windows 98 for that file name: the machine dump against the
// chipset's own bytes, the preview against kvtlcheck on the same file and
// machine, and no configuration write in any mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "e2e.h"
#include "pci_access.h"
#include "pci_diff.h"
#include "pci_dump.h"
#include "pci_header.h"
#include "settings_files.h"
#include "trace.h"

namespace
{

const char *const PEEK_EXE = KVTLPEEK_EXE;
// A timeout for a run that reads a whole machine through one debug
// exception per port instruction, under qemu-user.
const DWORD RUN_MS = 300000;

struct PeekRun {
    DWORD code = 0xDEAD;
    std::string out, err;
    Trace trace;
};

e2e::Options peek_options(const sim::Chipset &machine, const std::string &args)
{
    e2e::Options o;
    o.exe = PEEK_EXE;
    o.machine = machine;
    o.arguments = args;
    o.output = true;
    o.window = false;
    o.watch = false;
    return o;
}

// One run of kvtlpeek.exe ARGS in a fresh directory `name`; `cfg`, if
// given, is kvtl.cfg there.
PeekRun peek(const std::string &name, const std::string &args, const sim::Chipset &machine,
             const std::optional<std::string> &cfg = std::nullopt)
{
    e2e::Options o = peek_options(machine, args);
    o.no_settings = !cfg;
    o.settings = cfg.value_or("");
    e2e::Program p("kvtlpeek_" + name, o);
    PeekRun r;
    if (!p.started())
        return r;
    r.code = p.wait_exit(RUN_MS);
    r.trace = p.session().trace();
    r.out = p.out();
    r.err = p.err();
    return r;
}

// The promise of the tool: no write but a configuration address to 0xCF8,
// and no read beyond the configuration ports.
testing::AssertionResult read_only(const Trace &trace)
{
    for (const sim::PortOp &op : trace) {
        bool ok = op.dir == sim::PortOp::Out ? op.port == 0xCF8 && op.width == 4
                                             : (op.port == 0xCF8 && op.width == 4) ||
                                                   (op.port >= 0xCFC && op.port <= 0xCFF);
        if (!ok)
            return testing::AssertionFailure() << "port operation " << sim::format(op);
    }
    return testing::AssertionSuccess();
}

std::string hex2(unsigned v)
{
    char s[8];
    std::snprintf(s, sizeof s, "%02x", v & 0xFF);
    return s;
}

// One function as "lspci -n -xxx" (or, count 64, "-x") prints it, from the
// model's bytes.
std::string lspci_block(const sim::Bdf &at, const std::array<std::uint8_t, 256> &b, unsigned count)
{
    std::string s = sim::format(at) + " " + hex2(b[0x0B]) + hex2(b[0x0A]) + ": " + hex2(b[1]) +
                    hex2(b[0]) + ":" + hex2(b[3]) + hex2(b[2]);
    if (b[0x08])
        s += " (rev " + hex2(b[0x08]) + ")";
    s += "\r\n";
    for (unsigned row = 0; row < count; row += 16) {
        s += hex2(row) + ":";
        for (unsigned i = 0; i < 16; i++)
            s += " " + hex2(b[row + i]);
        s += "\r\n";
    }
    return s + "\r\n";
}

std::string expected_dump(const sim::Chipset &m, const std::vector<sim::Bdf> &listed,
                          unsigned count)
{
    // The bytes each function holds, whether or not a bridge routes to it
    // now: a dump is a record, not a configuration cycle.
    std::string s;
    for (const sim::Bdf &at : listed) {
        auto f = m.functions().find(at);
        if (f == m.functions().end()) {
            ADD_FAILURE() << sim::format(at) << " is not in the machine";
            continue;
        }
        s += lspci_block(at, f->second.bytes, count);
    }
    return s;
}

std::array<std::uint8_t, 256> space(unsigned vendor, unsigned device, unsigned header_type,
                                    unsigned secondary_bus = 0)
{
    std::array<std::uint8_t, 256> b{};
    b[0] = vendor & 0xFF;
    b[1] = vendor >> 8;
    b[2] = device & 0xFF;
    b[3] = device >> 8;
    b[0x08] = 0x01;
    b[0x0B] = header_type & 0x7F ? 0x06 : 0x02;
    b[0x0A] = header_type & 0x7F ? 0x04 : 0x00;
    b[0x0E] = static_cast<std::uint8_t>(header_type);
    b[0x19] = static_cast<std::uint8_t>(secondary_bus);
    b[0x1A] = static_cast<std::uint8_t>(secondary_bus); // subordinate
    for (unsigned i = 0x40; i < 256; i++)
        b[i] = static_cast<std::uint8_t>(i * 7 + device);
    return b;
}

struct DumpCase {
    const char *name;
    sim::Chipset machine;
    std::vector<sim::Bdf> listed; // in the order printed
    const char *args = "";
    unsigned count = 256; // bytes of each function shown
};

// Bus 0 first, then each bus behind a bridge once; functions 1-7 only of a
// multi-function device; nothing on a bus no bridge leads to.
std::vector<DumpCase> dump_cases()
{
    // The default machine's bus 0, and what lies behind its two bridges.
    const std::vector<sim::Bdf> bus0 = {{0, 0, 0}, {0, 1, 0},    {0, 7, 0},
                                        {0, 7, 1}, {0, 0x0B, 0}, {0, 0x0C, 0}};
    const std::vector<sim::Bdf> behind = {{1, 0, 0}, {2, 4, 0}};
    auto join = [](std::vector<std::vector<sim::Bdf>> parts) {
        std::vector<sim::Bdf> all;
        for (const auto &p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    std::vector<DumpCase> cases;
    cases.push_back({"default machine", sim::default_machine(), join({bus0, behind})});

    sim::Chipset m = sim::default_machine();
    m.add_function({0, 0x0D, 0}, space(0x1011, 0x0024, 0x01, 1)); // also claims bus 1
    m.add_function({0, 0x0E, 0}, space(0x8086, 0x1229, 0x80));    // functions 0 and 3
    m.add_function({0, 0x0E, 3}, space(0x8086, 0x122A, 0x00));
    m.add_function({0, 0x0F, 0}, space(0x5333, 0x8811, 0x00)); // function 1 never asked
    m.add_function({0, 0x0F, 1}, space(0x5333, 0x8812, 0x00));
    m.add_function({2, 5, 0}, space(0x104C, 0xAC23, 0x81, 3)); // bridge on bus 2 to bus 3
    m.add_function({2, 5, 1}, space(0x104C, 0xAC24, 0x01, 0)); // a second one back to bus 0
    m.add_function({3, 0x1F, 0}, space(0x9004, 0x7178, 0x00));
    m.poke({0, 0x0C, 0}, 0x1A, 3); // so bus 3 lies behind the bridge to bus 2
    m.add_function({4, 0, 0}, space(0x1234, 0x5678, 0x00)); // no bridge leads there
    cases.push_back({"bridges, gaps and a nested bus", m,
                     join({bus0,
                           {{0, 0x0D, 0}, {0, 0x0E, 0}, {0, 0x0E, 3}, {0, 0x0F, 0}},
                           behind,
                           {{2, 5, 0}, {2, 5, 1}, {3, 0x1F, 0}}})});

    // A CardBus bridge (header type 2) leads to its card bus at 0x19 too.
    sim::Chipset cb = sim::default_machine();
    cb.add_function({0, 0x0D, 0}, space(0x104C, 0xAC1A, 0x02, 5));
    cb.add_function({5, 0, 0}, space(0x10B7, 0x5157, 0x00));
    cases.push_back({"CardBus bridge, header only", cb,
                     join({bus0, {{0, 0x0D, 0}}, behind, {{5, 0, 0}}}), "/h", 64});

    // What some boards read from an empty slot, as Linux skips it
    // (drivers/pci/probe.c, pci_bus_generic_read_dev_vendor_id): IDs
    // 00000000, 0000FFFF or FFFF0000, as function 0 or a later one.
    sim::Chipset empty = sim::default_machine();
    empty.add_function({0, 0x0D, 0}, space(0x0000, 0x0000, 0x80));
    empty.add_function({0, 0x0D, 1}, space(0x8086, 0x7111, 0x00));
    empty.add_function({0, 0x0E, 0}, space(0x8086, 0x1229, 0x80));
    empty.add_function({0, 0x0E, 1}, space(0x0000, 0xFFFF, 0x00));
    empty.add_function({0, 0x0E, 2}, space(0xFFFF, 0x0000, 0x00));
    empty.add_function({0, 0x0E, 3}, space(0x0000, 0x0000, 0x00));
    empty.add_function({0, 0x0E, 4}, space(0x8086, 0x122A, 0x00));
    cases.push_back({"empty slots", empty, join({bus0, {{0, 0x0E, 0}, {0, 0x0E, 4}}, behind})});
    return cases;
}

TEST(Kvtlpeek, DumpsEveryPresentFunctionOnceWithEveryByte)
{
    for (const DumpCase &c : dump_cases()) {
        SCOPED_TRACE(c.name);
        PeekRun r = peek("dump", c.args, c.machine);
        EXPECT_EQ(r.code, 0u);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected_dump(c.machine, c.listed, c.count));
        EXPECT_TRUE(read_only(r.trace));
        std::printf("[ figures  ] %s: %zu port operations\n", c.name, r.trace.size());

        // The dump is a machine for the checker and the chipset, and reads
        // back as the same dump.
        sim::Chipset loaded;
        std::string error;
        ASSERT_TRUE(loaded.load_lspci(r.out, &error)) << error;
        ASSERT_EQ(loaded.functions().size(), c.listed.size());
        for (const sim::Bdf &at : c.listed) {
            EXPECT_EQ(loaded.peek(at, c.count - 1), c.machine.peek(at, c.count - 1))
                << sim::format(at);
            EXPECT_EQ(loaded.function(at)->known[0x40], c.count > 0x40) << sim::format(at);
        }
        PeekRun again = peek("dump_again", c.args, loaded);
        EXPECT_EQ(again.code, 0u);
        EXPECT_EQ(again.out, r.out);
    }
}

TEST(Kvtlpeek, DetectsMechanism1AsPciutilsDoesAndPutsTheAddressBack)
{
    const struct {
        const char *name;
        bool mechanism1;
        DWORD code;
    } cases[] = {{"with", true, 0}, {"without", false, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Chipset m = sim::default_machine();
        m.set_mechanism1(c.mechanism1);
        m.io_write(0xCF8, 4, 0x80003844); // what some driver left there
        PeekRun r = peek(std::string("mechanism_") + c.name, "kvtl.cfg", m, "48,03,7,1\n");
        EXPECT_EQ(r.code, c.code);
        std::uint32_t left = c.mechanism1 ? 0x80003844 : 0xFFFFFFFF;
        const Trace detection = {{sim::PortOp::In, 4, 0xCF8, left},
                                 sim::out32(0xCF8, 0x80000000),
                                 {sim::PortOp::In, 4, 0xCF8, c.mechanism1 ? 0x80000000 : left},
                                 sim::out32(0xCF8, left)};
        ASSERT_GE(r.trace.size(), detection.size());
        EXPECT_TRACE(Trace(r.trace.begin(), r.trace.begin() + 4), detection);
        if (!c.mechanism1) {
            EXPECT_EQ(r.trace.size(), 4u);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("mechanism #1"), std::string::npos) << r.err;
        }
    }
}

// What kvtlpeek could not read or write ends in a status of its own: 4 when
// ports CF8/CFC take an address but bus 0 shows no host bridge, display or
// Intel or Compaq device (Linux's check); 5 when standard output did not
// take every byte (WriteFile failed, or wrote fewer bytes than asked).
TEST(Kvtlpeek, EndsWithItsOwnStatusWhenItCouldNotReadOrWriteEverything)
{
    sim::Chipset nothing = sim::default_machine();
    nothing.set_answering(false);
    sim::Chipset via; // a host bridge of another vendor passes
    via.add_function({0, 0, 0}, space(0x1106, 0x0691, 0x00));
    via.poke({0, 0, 0}, 0x0A, 0x00);
    via.poke({0, 0, 0}, 0x0B, 0x06);
    sim::Chipset nic_only; // a network card alone does not
    nic_only.add_function({0, 0x0B, 0}, space(0x10EC, 0x8029, 0x00));
    const sim::Chipset board = sim::default_machine();
    const struct {
        const char *name;
        const sim::Chipset &machine;
        std::vector<std::uint32_t> write_file; // faked WriteFile results
        DWORD code;
        const char *message;
    } cases[] = {
        {"nothing answers", nothing, {}, 4, "cannot be trusted"},
        {"a network card alone", nic_only, {}, 4, "cannot be trusted"},
        {"a VIA host bridge", via, {}, 0, ""},
        {"disk full: WriteFile fails", board, {0}, 5, "written whole"},
        {"disk full: WriteFile writes nothing", board, {1}, 5, "written whole"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::Options o = peek_options(c.machine, "");
        o.no_settings = true;
        const std::vector<std::uint32_t> answers = c.write_file;
        o.prepare = [answers](harness::Session &s) {
            s.watch("WriteFile", 5);
            if (!answers.empty())
                s.fake_results("WriteFile", answers);
        };
        e2e::Program p("kvtlpeek_status", o);
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.wait_exit(RUN_MS), c.code);
        EXPECT_NE(p.err().find(c.message), std::string::npos) << p.err();
        if (c.code == 4) {
            EXPECT_EQ(p.out(), "");
        }
    }
}

// Under Wine's default (an NT version) nothing may touch a port: the copy
// under another name has no Windows 98 setting.
TEST(Kvtlpeek, RefusesUnderNtWithoutAnyPortAccessAndTellsUnreadableFiles)
{
    const std::string cfg = "48,03,7,1\n";
    std::string nt_exe = e2e::work_dir("kvtlpeek_nt", &cfg) + "/peek_nt.exe";
    ASSERT_TRUE(CopyFileA(harness::windows_path(PEEK_EXE).c_str(),
                          harness::windows_path(nt_exe).c_str(), FALSE));
    const struct {
        const char *name, *exe, *args;
        DWORD code;
        const char *message;
    } cases[] = {
        {"nt dump", nt_exe.c_str(), "", 3, "refuse direct port access"},
        {"nt preview", nt_exe.c_str(), "kvtl.cfg", 3, "refuse direct port access"},
        {"nt set", nt_exe.c_str(), "/s 00:07.1 48 02:02", 3, "refuse direct port access"},
        {"missing file", PEEK_EXE, "missing.cfg", 2, "cannot read missing.cfg\r\n"},
        {"directory", PEEK_EXE, "sub", 2, "cannot read sub\r\n"},
        {"two files", PEEK_EXE, "kvtl.cfg kvtl.cfg", 2, "usage"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::Options o = peek_options(sim::default_machine(), c.args);
        o.exe = c.exe;
        o.settings = cfg;
        const std::string name = std::string("kvtlpeek_refused_") + c.name;
        CreateDirectoryA(harness::windows_path(e2e::work_dir(name, &cfg) + "/sub").c_str(),
                         nullptr);
        e2e::Program p(name, o);
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.wait_exit(RUN_MS), c.code);
        EXPECT_TRUE(p.session().trace().empty()) << p.session().trace_lines().front();
        EXPECT_EQ(p.out(), "");
        EXPECT_NE(p.err().find(c.message), std::string::npos) << p.err();
    }
}

// kvtlpeek /d and kvtlcheck --diff: the same file and the same table for
// the same two dumps, a change of every kind in them.
TEST(Kvtlpeek, DiffPrintsWhatKvtlcheckPrints)
{
    const sim::Chipset before = sim::default_machine();
    sim::Chipset after = before;
    after.poke({0, 0, 0}, 0x5C, 0x33);                                // written
    after.poke({0, 7, 1}, 0x4A, 0x01);                                // written
    after.poke({0, 0, 0}, 0x06, 0x00);                                // status
    after.poke({0, 7, 1}, 0x09, 0x8F);                                // read-only
    after.poke({0, 0x0C, 0}, 0x19, 0x03);                             // a bus number
    after.poke({2, 4, 0}, 0x40, 0x01);                                // not on bus 0
    after.add_function({0, 7, 2}, before.function({0, 7, 1})->bytes); // in one dump
    std::string texts[2] = {
        expected_dump(before, {{0, 0, 0}, {0, 7, 1}, {0, 0x0C, 0}, {2, 4, 0}}, 256),
        expected_dump(after, {{0, 0, 0}, {0, 7, 1}, {0, 7, 2}, {0, 0x0C, 0}, {2, 4, 0}}, 256)};
    std::vector<PciDumpFunction> dumps[2];
    std::string error, settings, table;
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(kvtlcheck::read_dump(texts[i], &dumps[i], &error)) << error;
    kvtlcheck::diff_dumps(dumps[0], dumps[1], &settings, &table);
    ASSERT_EQ(settings, "5C,33,0,0\r\n4A,01,7,1\r\n");

    // The table goes to standard error, or to the file named after the dumps
    // (COMMAND.COM cannot redirect standard error); one that cannot be made
    // or written whole ends in status 5, the table then on standard error.
    // The settings go to standard output, or to the file named after the
    // table; one not written whole is deleted, status 5: a torn kvtl.cfg (a
    // full floppy) would be applied at Sorvenka's next start.
    const std::string lost = " could not be written whole (is the disk full?)\r\n";
    const std::string none = "(no file)";
    const std::string but_first = table.substr(table.find('\n') + 1); // its first line lost
    // Each piece of the table is a WriteFile of its own, before the one
    // that writes the settings.
    std::size_t table_writes = 0;
    pci_diff_print(
        dumps[0].data(), static_cast<int>(dumps[0].size()), dumps[1].data(),
        static_cast<int>(dumps[1].size()), [](const char *, void *) {},
        [](const char *, void *n) { ++*static_cast<std::size_t *>(n); }, &table_writes);
    const struct {
        const char *args;                      // after the dumps
        std::vector<std::uint32_t> write_file; // WriteFile's results, faked
        std::size_t after;                     // from its call number `after` on
        DWORD code;
        std::string out, err, file, cfg; // standard output and error, table.txt, kvtl.cfg
    } cases[] = {
        {"", {}, 0, 0, settings, table, "", none},
        {"table.txt", {}, 0, 0, settings, "", table, none},
        {"sub", {}, 0, 5, settings, table + "kvtlpeek: sub" + lost, "", none}, // a folder
        {"table.txt", {0}, 0, 5, settings, "kvtlpeek: table.txt" + lost, but_first, none},
        {"table.txt kvtl.cfg", {}, 0, 0, "", "", table, settings},
        {"table.txt kvtl.cfg", {0}, table_writes, 5, "", "kvtlpeek: kvtl.cfg" + lost, table, none},
        {"table.txt kvtl.cfg", {1}, table_writes, 5, "", "kvtlpeek: kvtl.cfg" + lost, table, none},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.args) + (c.write_file.empty() ? ""
                                            : c.write_file[0]    ? ", WriteFile writes nothing"
                                                                 : ", WriteFile fails"));
        // The fixture makes the working directory anew, without kvtl.cfg:
        // the dumps go in just before the start.
        const std::string dir = e2e::work_dir("kvtlpeek_diff", nullptr);
        e2e::Options o =
            peek_options(sim::default_machine(), std::string("/d before.txt after.txt ") + c.args);
        o.no_settings = true;
        o.prepare = [&](harness::Session &s) {
            e2e::write_file(dir + "/before.txt", texts[0]);
            e2e::write_file(dir + "/after.txt", texts[1]);
            CreateDirectoryA(harness::windows_path(dir + "/sub").c_str(), nullptr);
            DeleteFileA(harness::windows_path(dir + "/table.txt").c_str());
            s.watch("WriteFile", 5);
            s.fake_results("WriteFile", c.write_file, c.after);
        };
        e2e::Program p("kvtlpeek_diff", o);
        ASSERT_TRUE(p.started());
        EXPECT_EQ(p.wait_exit(RUN_MS), c.code);
        EXPECT_TRUE(p.session().trace().empty()) << "no port touched";
        EXPECT_EQ(p.out(), c.out);
        EXPECT_EQ(p.err(), c.err);
        EXPECT_EQ(e2e::read_file(dir + "/table.txt"), c.file);
        const bool cfg = GetFileAttributesA(harness::windows_path(dir + "/kvtl.cfg").c_str()) !=
                         INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(cfg ? e2e::read_file(dir + "/kvtl.cfg") : none, c.cfg);
    }
}

// kvtlpeek /s: the line from the byte the register holds now, the
// warnings about it on standard error; 6 where no line can do it. Only
// reads: the promise of every mode.
TEST(Kvtlpeek, SetMakesTheLineFromTheLiveByteOrSaysNoLineCan)
{
    const struct {
        const char *args;
        DWORD code;
        const char *out;
        const char *err; // a part of standard error; "" for none at all
    } cases[] = {
        {"/s 00:07.1 48 02:02", 0, "48,07,7,1\r\n", ""}, // 05 there
        // Behind two bridges, device field bus 2 x 20 + 4; 09 there.
        {"/s 02:04.0 3c 02:02", 0, "3C,0B,44,0\r\n",
         "warning: INTERRUPT_LINE bits 7-0 (interrupt line) 09->0B: "},
        {"/s 00:07.1 100 02", 6, "", "register 100: "},
        {"/s 00:0a.0 48 02", 6, "", "nothing answers"},
        {"/s 00:0d.0 48 02", 6, "", "nothing answers"},
        {"/s 00:07.1 48 22:22", 6, "", "bits 20 are read-only"}, // UDMACTL 7-4 reserved
        {"/s", 2, "", "usage"},
    };
    sim::Chipset machine = sim::default_machine();
    machine.add_function({0, 0x0D, 0}, space(0x0000, 0xFFFF, 0x00)); // an empty slot's IDs
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        PeekRun r = peek("set", c.args, machine);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        if (*c.err)
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        EXPECT_TRUE(read_only(r.trace));
    }
}

// ---- the preview against kvtlcheck ---------------------------------------

// The preview kvtlcheck's report of the same file and machine makes, but
// for the lines under the rows: each applied line's byte before and written,
// then the engine's restore, each line's byte before, newest first. The line
// column as wide as its widest numbers.
std::string expected_preview(const kvtlcheck::Report &report)
{
    std::vector<std::string> lines;
    size_t width = 4;
    for (const kvtlcheck::Applied &a : report.applied) {
        lines.push_back(std::to_string(a.line));
        if (a.last_line != a.line)
            lines.back() += "-" + std::to_string(a.last_line);
        width = std::max(width, lines.back().size());
    }
    auto column = [&](const std::string &text) {
        return text + std::string(width + 2 - text.size(), ' ');
    };
    std::string s = "What kvtl.cfg would do on this PC (nothing is written):\r\n\r\n";
    if (report.applied.empty())
        s += "Nothing: it has no settings line.\r\n";
    else
        s += column("line") + "reaches  reg  now  new  name\r\n";
    for (size_t i = 0; i < report.applied.size(); i++) {
        const kvtlcheck::Applied &a = report.applied[i];
        s += column(lines[i]) + sim::format(a.reaches) + "  " + hex2(a.offset) + "   " +
             hex2(a.before) + "   " + hex2(a.written) + "   " + (a.present ? a.reg_name : "-") +
             "\r\n";
        if (!a.capability.empty())
            s += column("") + "capability: " + a.capability + "\r\n";
    }
    if (!report.applied.empty())
        s += "\r\nExit would put these bytes back, last line first:\r\n" + column("line") +
             "reaches  reg  byte\r\n";
    for (size_t i = report.applied.size(); i-- > 0;) {
        const kvtlcheck::Applied &a = report.applied[i];
        s += column(lines[i]) + sim::format(a.reaches) + "  " + hex2(a.offset) + "   " +
             hex2(a.before) + (a.present ? "" : "  (nothing answers there)") + "\r\n";
    }
    return s + "\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
               "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt "
               "kvtl.cfg\"\r\non any other computer.\r\n";
}

// The text without the lines under the rows (the bits a line changes and
// its warnings), which kvtlcheck words with more bit names than the Windows
// 9x tool carries and, for the command register's enables, otherwise; but
// for the capability a byte lies in, which both name alike.
std::string without_lines_under_rows(const std::string &preview)
{
    std::istringstream in(preview);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line[0] != ' ' || line.find_first_not_of(' ') == line.find("capability: "))
            kept += line + "\n";
    return kept;
}

// Random files over the machine's registers, spills, absent functions, odd
// fields and every line end; reproducible from the seed.
std::string random_file(std::mt19937 &rng)
{
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    static const unsigned devices[] = {0, 1, 7, 7, 0x0B, 0x0C, 5, 0x20, 0x21, 0x42};
    static const char *const ends[] = {"\n", "\r\n", "\r", "\n\n"};
    std::string s;
    std::vector<std::array<unsigned, 3>> earlier; // register, device, function
    int lines = 1 + static_cast<int>(pick(20));
    for (int i = 0; i < lines; i++) {
        char line[64];
        unsigned kind = pick(12);
        if (kind == 3) {
            s += pick(2) ? "; remark" : ",,";
        } else {
            std::array<unsigned, 3> at;
            if (kind <= 2 && !earlier.empty()) { // a register named again
                at = earlier[pick(static_cast<unsigned>(earlier.size()))];
            } else {
                unsigned dev = devices[pick(sizeof devices / sizeof devices[0])];
                at = {pick(10) == 0 ? 0x100 + pick(0x800) : pick(256), dev,
                      dev == 0x0B     ? 0
                      : pick(10) == 0 ? 8 + pick(16)
                                      : pick(3)};
            }
            std::snprintf(line, sizeof line, pick(2) ? "%X,%X,%X,%X" : "%x,%x,%x,%x", at[0],
                          pick(8) == 0 ? 0x100 + pick(0x100) : pick(256), at[1], at[2]);
            s += line;
            earlier.push_back(at);
        }
        s += ends[pick(4)];
    }
    return s;
}

// A byte with read-only bits of the chipset's own, written and then read by a
// later line, is the one thing the preview cannot know without writing; so is
// a part that mirrors its function 0 under another function number, and a
// bridge's bus numbers, which move what later lines reach.
bool preview_can_know(const kvtlcheck::Report &report, const sim::Chipset &m)
{
    std::map<std::uint32_t, bool> took; // decoded address -> the write stuck
    for (const kvtlcheck::Applied &a : report.applied) {
        std::uint32_t key = (a.address & 0x80FFFFFC) | (a.port & 3);
        auto it = took.find(key);
        if (it != took.end() && !it->second)
            return false;
        if (a.reaches.dev == 0x0B && a.reaches.bus == 0 && a.reaches.fn != 0)
            return false;
        const unsigned type = m.peek(a.reaches, PCI_HEADER_TYPE) & 0x7F;
        if (a.present && (type == 1 || type == 2) && (a.offset == 0x19 || a.offset == 0x1A))
            return false;
        std::uint8_t id[16];
        for (unsigned i = 0; i < 16; i++)
            id[i] = m.peek(a.reaches, i);
        took[key] = !a.present || a.after == pci_after_write(id, a.offset, a.before, a.written);
    }
    return true;
}

struct PreviewFile {
    std::string name, content;
};

std::vector<PreviewFile> preview_files()
{
    std::vector<PreviewFile> out;
    const std::string examples = EXAMPLES_DIR;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(harness::windows_path(examples + "/*.cfg").c_str(), &found);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << "no sample in " << examples;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        out.push_back({found.cFileName, e2e::read_file(examples + "/" + found.cFileName)});
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    EXPECT_GE(out.size(), 3u);
    // A later line sees what the earlier one would have left, at the same
    // register reached by another spelling too; not where nothing answers.
    out.push_back({"shadow", "4A,22,7,1\n4a,33,7,1\n14A,44,7\n50,0C,7,2\n50,0D,7,2\n"});
    out.push_back({"a part that answers on every function number", "3C,05,B,3\n"});
    // Written twice where a write changes nothing: blank and remark lines
    // (register 0), status, interrupt pin, and subsystem IDs, which only a
    // bridge (header type 1) holds writable bytes in place of.
    out.push_back({"read-only bytes named twice",
                   "\n; remark\n,,\n6,FF\n6,0\n3D,5\n3D,6\n2C,1,B\n2C,2,B\n2C,1,C\n2C,2,C\n"});
    // The checker's files (tests/support), but for the 64-line limit, which
    // is the engine's and is checked with it and through sorvenka.exe.
    for (const auto *list : {&files::sharp_edges(), &files::line_edges()})
        for (const files::Named &f : *list)
            if (f.name != "64 lines" && f.name != "65th line")
                out.push_back({f.name, f.content});
    return out;
}

kvtlcheck::Report kvtlcheck_report(const std::string &content, const sim::Chipset &machine)
{
    std::string path = e2e::work_dir("kvtlpeek_kvtlcheck", &content) + "/kvtl.cfg";
    kvtlcheck::Report report;
    std::string error;
    EXPECT_TRUE(kvtlcheck::check_file(harness::windows_path(path), machine, &report, &error))
        << error;
    return report;
}

void expect_preview_as_kvtlcheck(const PreviewFile &f, const sim::Chipset &machine)
{
    SCOPED_TRACE(f.name + ": " + kvtlcheck::escape(f.content.substr(0, 120)));
    PeekRun r = peek("preview", "kvtl.cfg", machine, f.content);
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(without_lines_under_rows(r.out),
              expected_preview(kvtlcheck_report(f.content, machine)));
    EXPECT_TRUE(read_only(r.trace));
}

TEST(KvtlpeekPreview, SamplesAndSharpEdgesGiveKvtlchecksBytes)
{
    const sim::Chipset machine = sim::default_machine();
    for (const PreviewFile &f : preview_files())
        expect_preview_as_kvtlcheck(f, machine);
}

// Status clears where a 1 is written, in every header type; the capability
// pointer is read-only at 0x34 in types 0 and 1 and at 0x14 in a CardBus
// bridge, whose 0x34 is an I/O window.
TEST(KvtlpeekPreview, StatusClearsAndTheCapabilityPointerByHeaderType)
{
    sim::Chipset machine = sim::default_machine();
    machine.add_function({0, 0x0D, 0}, space(0x104C, 0xAC1A, 0x02, 5));
    machine.poke({0, 0x0D, 0}, 0x07, 0x92);
    machine.poke({0, 0x0D, 0}, 0x34, 0x40);
    machine.poke({0, 0x0D, 0}, 0x14, 0x80);
    expect_preview_as_kvtlcheck({"CardBus bridge",
                                 "7,12,D\n7,FF,D\n34,5,D\n34,6,D\n14,5,D\n14,6,D\n"
                                 "34,5,1\n34,6,1\n6,FF\n6,0\n"},
                                machine);
}

// The whole preview, each value under its heading whatever the width of the
// line numbers; under a row the bits the line changes and a warning for each
// field that the BIOS or Windows own or that can hang the PC (Intel 290562:
// IDETIM bit 15 decodes the channel, PIRQRCA bits 3-0 route PIRQA#), nothing
// under a line to nowhere; the capability structure a byte lies in (the
// network card's power management at DC, whose +4 lspci -vv shows as
// "Status:").
TEST(KvtlpeekPreview, ShowsEachValueUnderItsHeading)
{
    const std::string footer =
        "\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
        "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt kvtl.cfg\"\r\n"
        "on any other computer.\r\n";
    std::string nul_lines;
    for (int i = 7; i <= 99; i++)
        nul_lines += std::string("\0\n", 2);
    const struct {
        std::string file, text;
    } cases[] = {
        // Lines 7-99 start with a NUL, which skips them; lone CRs join lines.
        {"41,5A,7,1\n41,5A,A,1\n60,0A,7\n4A,22,7,1\r\r\r\n" + nul_lines + "D,20,7,1" +
             std::string(154, '\r') + "\n",
         "What kvtl.cfg would do on this PC (nothing is written):\r\n"
         "\r\n"
         "line     reaches  reg  now  new  name\r\n"
         "1        00:07.1  41   a3   5a   IDETIM\r\n"
         "         changes bit 0 1->0, bit 4 0->1, bit 5 1->0, bit 6 0->1, bit 7 IDE decode "
         "enable 1->0\r\n"
         "         warning: IDETIM bit 7 (IDE decode enable) 1->0: can hang a running PC: the "
         "channel's ports stop answering: its disks, the boot disk among them, vanish\r\n"
         "2        00:0a.1  41   ff   5a   -\r\n"
         "3        00:07.0  60   00   0a   PIRQRCA\r\n"
         "         changes bit 1 PIRQA# IRQ 0->1, bit 3 PIRQA# IRQ 0->1\r\n"
         "         warning: PIRQRCA bits 3-0 (PIRQA# IRQ) 00->0A: can hang a running PC: "
         "Windows' IRQ steering set it: the devices on that line lose their interrupt\r\n"
         "4-6      00:07.1  4a   02   22   UDMATIM\r\n"
         "         changes bit 5 0->1\r\n"
         "100-253  00:07.1  0d   40   20   LATENCY_TIMER\r\n"
         "         changes bit 5 0->1, bit 6 1->0\r\n"
         "\r\n"
         "Exit would put these bytes back, last line first:\r\n"
         "line     reaches  reg  byte\r\n"
         "100-253  00:07.1  0d   40\r\n"
         "4-6      00:07.1  4a   02\r\n"
         "3        00:07.0  60   00\r\n"
         "2        00:0a.1  41   ff  (nothing answers there)\r\n"
         "1        00:07.1  41   a3\r\n" +
             footer},
        {"1,2,3\n", "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                    "\r\n"
                    "line  reaches  reg  now  new  name\r\n"
                    "1     00:03.0  01   ff   02   -\r\n"
                    "\r\n"
                    "Exit would put these bytes back, last line first:\r\n"
                    "line  reaches  reg  byte\r\n"
                    "1     00:03.0  01   ff  (nothing answers there)\r\n" +
                        footer},
        {"E0,03,44\n", "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                       "\r\n"
                       "line  reaches  reg  now  new  name\r\n"
                       "1     02:04.0  e0   00   03   device-specific\r\n"
                       "      capability: Power Management Status (cap 01 at DC)+4\r\n"
                       "      changes bit 0 0->1, bit 1 0->1\r\n"
                       "\r\n"
                       "Exit would put these bytes back, last line first:\r\n"
                       "line  reaches  reg  byte\r\n"
                       "1     02:04.0  e0   00\r\n" +
                           footer},
        {std::string("\0\n", 2), "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                                 "\r\n"
                                 "Nothing: it has no settings line.\r\n" +
                                     footer},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(kvtlcheck::escape(c.file.substr(0, 40)));
        PeekRun r = peek("layout", "kvtl.cfg", sim::default_machine(), c.file);
        EXPECT_EQ(r.code, 0u);
        EXPECT_EQ(r.out, c.text);
        EXPECT_TRUE(read_only(r.trace));
    }
}

TEST(KvtlpeekPreview, RandomFilesGiveKvtlchecksBytes)
{
    const sim::Chipset machine = sim::default_machine();
    const unsigned seed = 20261208;
    std::mt19937 rng(seed);
    int done = 0, set_aside = 0;
    while (done < 25) {
        std::string content = random_file(rng);
        if (!preview_can_know(kvtlcheck_report(content, machine), machine)) {
            set_aside++;
            continue;
        }
        expect_preview_as_kvtlcheck(
            {"random file " + std::to_string(done) + " of seed " + std::to_string(seed), content},
            machine);
        done++;
    }
    std::printf("[ figures  ] %d random files compared, %d set aside\n", done, set_aside);
}

} // namespace

// What every mode of kvtlpeek checks before it reads a register, and the
// statuses of its own it ends with: no Mechanism #1 or a machine it cannot
// trust, output not taken whole, ports refused (NT, a driver), files it
// cannot read.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kvtlpeek_e2e.h"

namespace
{

using namespace kvtlpeek_e2e;

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
// under another name has no Windows 98 setting. Where the version check
// passes on a system that refuses the ports (Windows XP in a Windows 98
// compatibility mode), the refused instruction ends the run the same way,
// and nothing after it: 0xCF8 keeps the address it was given.
TEST(Kvtlpeek, RefusesUnderNtOrAtARefusedPortAndTellsUnreadableFiles)
{
    const std::string cfg = "48,03,7,1\n";
    std::string nt_exe = e2e::work_dir("kvtlpeek_nt", &cfg) + "/peek_nt.exe";
    ASSERT_TRUE(CopyFileA(harness::windows_path(PEEK_EXE).c_str(),
                          harness::windows_path(nt_exe).c_str(), FALSE));
    const std::uint32_t left = sim::default_machine().config_address();
    const Trace cf8_only = {{sim::PortOp::In, 4, 0xCF8, left},
                            sim::out32(0xCF8, 0x80000000),
                            {sim::PortOp::In, 4, 0xCF8, 0x80000000},
                            sim::out32(0xCF8, left),
                            sim::out32(0xCF8, 0x80000000)}; // 00:00.0's IDs: refused
    const struct {
        const char *name, *exe, *args;
        DWORD code;
        const char *message;
        unsigned refused_first = 1, refused_last = 0; // none
        Trace trace = {};
    } cases[] = {
        {"nt dump", nt_exe.c_str(), "", 3, "refuse direct port access"},
        {"nt preview", nt_exe.c_str(), "kvtl.cfg", 3, "refuse direct port access"},
        {"nt set", nt_exe.c_str(), "/s 00:07.1 48 02:02", 3, "refuse direct port access"},
        {"every port refused", PEEK_EXE, "", 3, "refuse direct port access", 0, 0xFFFF},
        {"a driver opens 0xCF8 only", PEEK_EXE, "kvtl.cfg", 3, "refuse direct port access", 0xCFC,
         0xCFF, cf8_only},
        {"missing file", PEEK_EXE, "missing.cfg", 2, "cannot read missing.cfg\r\n"},
        {"directory", PEEK_EXE, "sub", 2, "cannot read sub\r\n"},
        {"two files", PEEK_EXE, "kvtl.cfg kvtl.cfg", 2, "usage"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::Options o = peek_options(sim::default_machine(), c.args);
        o.exe = c.exe;
        o.settings = cfg;
        o.prepare = [&c](harness::Session &s) {
            if (c.refused_first <= c.refused_last)
                s.refuse_ports(static_cast<std::uint16_t>(c.refused_first),
                               static_cast<std::uint16_t>(c.refused_last));
        };
        const std::string name = std::string("kvtlpeek_refused_") + c.name;
        CreateDirectoryA(harness::windows_path(e2e::work_dir(name, &cfg) + "/sub").c_str(),
                         nullptr);
        e2e::Program p(name, o);
        ASSERT_TRUE(p.started());
        DWORD code = 0xDEAD;
        ASSERT_TRUE(p.session().wait_exit(RUN_MS, &code));
        EXPECT_EQ(code, c.code);
        // The refused instruction is the one fault the program sees.
        EXPECT_EQ(p.session().unhandled().size(), c.refused_first <= c.refused_last ? 1u : 0u);
        EXPECT_TRACE(p.session().trace(), c.trace);
        EXPECT_EQ(p.out(), "");
        EXPECT_NE(p.err().find(c.message), std::string::npos) << p.err();
    }
}

} // namespace

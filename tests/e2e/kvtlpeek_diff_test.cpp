// kvtlpeek /d BEFORE AFTER [TABLE [FILE]]: the settings and the table
// kvtlcheck --diff makes of the same two dumps, and what it does with a
// TABLE or FILE it cannot write whole.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "kvtlpeek_e2e.h"
#include "pci_diff.h"
#include "pci_dump.h"

namespace
{

using namespace kvtlpeek_e2e;

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
        ASSERT_TRUE(sim::read_lspci(texts[i], &dumps[i], &error)) << error;
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

} // namespace

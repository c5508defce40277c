// load_settings on real files through the C library: what the host tools read.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "pci_config.h"
#include "settings.h"
#include "trace.h"

namespace
{

std::string write_file(const std::string &content)
{
    std::string name = ::testing::TempDir() + "kvtl_posix_test.cfg";
    std::ofstream(name, std::ios::binary) << content;
    return name;
}

TEST(PosixFile, CrLfAcrossTheReadBufferBorderIsOneLineFeed)
{
    // Pad so that the CR is the last byte of the reader's first 512-byte read.
    std::string content;
    for (int i = 0; i < 5; i++)
        content += "50,1" + std::string(94, ' ') + "\r\n";
    content += std::string(512 - 7 - content.size(), ',') + "51,2,0\r" + "\n52,3\r\n";
    ASSERT_EQ(content[511], '\r');
    use_machine(sim::default_machine());
    load_settings(write_file(content).c_str());

    ASSERT_EQ(g_journal.count, 7);
    EXPECT_EQ(g_journal.address[5], 0x80000051u);
    EXPECT_EQ(g_journal.address[6], 0x80000052u);
    EXPECT_EQ(sim::active_chipset().peek({0, 0, 0}, 0x52), 3);
}

TEST(PosixFile, MissingFileIsAnEmptyOne)
{
    use_machine(sim::default_machine());
    load_settings((::testing::TempDir() + "no-such-dir/kvtl.cfg").c_str());
    EXPECT_EQ(g_journal.count, 0);
    EXPECT_TRACE(sim::active_chipset().trace(), Trace{});
}

} // namespace

// run_settings: the settings pass with a watcher, as kvtlpeek drives it. The
// watcher must see every piece the reader gives, applied or not, with its
// NUL bytes, right after that piece's journal entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"
#include "trace.h"

namespace
{

struct Seen {
    std::string piece;
    bool applied;
    int journal; // g_journal.count when told
    bool operator==(const Seen &o) const
    {
        return piece == o.piece && applied == o.applied && journal == o.journal;
    }
};

void PrintTo(const Seen &s, std::ostream *os)
{
    *os << testing::PrintToString(s.piece) << (s.applied ? " applied" : " skipped") << " journal "
        << s.journal;
}

std::vector<Seen> g_seen;

void WatchProc(const char *piece, int count, bool applied)
{
    g_seen.push_back({std::string(piece, static_cast<size_t>(count)), applied, g_journal.count});
}

std::string lines(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "50,1\n";
    return s;
}

TEST(RunSettings, TellsEveryPieceAfterItsJournalEntryAndStopsAt64)
{
    const struct {
        const char *name;
        std::string content;
        std::vector<Seen> seen;
    } cases[] = {
        {"applied and skipped pieces",
         std::string("41,5A\n\0skipped\n\r\n42", 19),
         {{"41,5A\n", true, 1},
          {std::string("\0skipped\n", 9), false, 1},
          {"\n", true, 2},
          {"42", true, 3}}},
        {"lone CR kept, CR LF as LF", "41\r42\r\n", {{"41\r42\n", true, 1}}},
        {"a piece of 253 bytes",
         std::string(300, '4'),
         {{std::string(253, '4'), true, 1}, {std::string(47, '4'), true, 2}}},
        {"nothing after the 64th applied line", lines(66), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        use_machine(sim::Chipset{});
        memfs::reset();
        memfs::put("kvtl.cfg", c.content);
        g_seen.clear();
        EXPECT_TRUE(run_settings("kvtl.cfg", WatchProc));
        EXPECT_EQ(memfs::open_files(), 0);
        if (c.seen.empty()) { // the limit case
            ASSERT_EQ(g_seen.size(), 64u);
            EXPECT_EQ(g_seen.back(), (Seen{"50,1\n", true, 64}));
        } else {
            EXPECT_EQ(g_seen, c.seen);
        }
    }
}

TEST(RunSettings, AFileThatCannotBeOpenedIsReportedAndTouchesNothing)
{
    use_machine(sim::default_machine());
    memfs::reset();
    g_seen.clear();
    EXPECT_FALSE(run_settings("kvtl.cfg", WatchProc));
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(sim::active_chipset().trace().empty());
    EXPECT_EQ(g_journal.count, 0);
}

} // namespace

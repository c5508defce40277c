// The settings file: text rules, fields, numbers and the apply pass, read
// from in-memory files on a machine where nothing answers (every byte 0xFF),
// so each applied line is exactly four port operations.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_io.h"
#include "memory_files.h"
#include "pci_config.h"
#include "settings.h"
#include "trace.h"

namespace
{

// What one applied line must have sent: CONFIG_ADDRESS as a literal (from
// the line's register, device and function by hand) and the value.
struct Applied {
    std::uint32_t address, value;
};

Trace expected_pass(const std::vector<Applied> &lines)
{
    Trace t;
    for (const Applied &l : lines)
        t = t + applied_line(l.address, l.value, 0xFF);
    return t;
}

// A machine where nothing answers and `content` as the only file, kvtl.cfg,
// read at most `chunk` bytes at a time (0: whole reads).
void use_file(const std::string &content, unsigned chunk = 0)
{
    use_machine(sim::Chipset{});
    memfs::reset();
    memfs::put("kvtl.cfg", content);
    memfs::set_chunk(chunk);
}

Trace run_pass(const std::string &content, unsigned chunk = 0)
{
    use_file(content, chunk);
    load_settings("kvtl.cfg");
    EXPECT_EQ(memfs::open_files(), 0) << "the file is closed after the pass";
    return sim::active_chipset().trace();
}

std::string repeat(char c, size_t n)
{
    return std::string(n, c);
}

struct FileCase {
    const char *name;
    std::string content;
    std::vector<Applied> applied;
};

const std::string pad244 = repeat(' ', 244);

const FileCase file_cases[] = {
    {"all four fields", "41,5A,7,1\n", {{0x80003941, 0x5A}}},
    {"device and function default to 0", "41,5A\n", {{0x80000041, 0x5A}}},
    {"register alone", "41\n", {{0x80000041, 0}}},
    {"a run of commas is one separator", "41,,5A\n", {{0x80000041, 0x5A}}},
    {"leading comma makes no empty field", ",41,5A\n", {{0x80000041, 0x5A}}},
    {"trailing commas", "41,5A,,,\n", {{0x80000041, 0x5A}}},
    {"space after a comma reads as 0", "41, 5A\n", {{0x80000041, 0}}},
    {"0x prefix reads as 0", "0x41,5A\n", {{0x80000000, 0x5A}}},
    {"h suffix is harmless", "41h,5Ah\n", {{0x80000041, 0x5A}}},
    {"lower-case digits", "4f,a5,1f,7\n", {{0x8000FF4F, 0xA5}}},
    {"fifth field ignored", "41,5A,7,1,99\n", {{0x80003941, 0x5A}}},
    {"more than eight digits wrap", "123456789,5A\n", {{0xA3456789, 0x5A}}},
    {"value above FF keeps the low byte", "41,1234\n", {{0x80000041, 0x1234}}},
    {"last line without a line feed", "41,5A\n42,11", {{0x80000041, 0x5A}, {0x80000042, 0x11}}},
    {"blank line writes register 0", "\n", {{0x80000000, 0}}},
    {"comma-only line writes register 0", ",,,\n", {{0x80000000, 0}}},
    {"remark line writes register 0", "; tune\n", {{0x80000000, 0}}},
    {"remark with commas keeps its fields", ";41,5A,7,1\n", {{0x80003900, 0x5A}}},
    {"a remark word made of hex letters", "default\n", {{0x8000DEFA, 0}}},
    {"tab before the line feed stops the digits", "41,5A\t\n", {{0x80000041, 0x5A}}},
    {"piece starting with NUL is skipped",
     std::string("\0"
                 "41,5A\n42,11\n",
                 12),
     {{0x80000042, 0x11}}},
    {"NUL ends the text of a piece", std::string("41,5A\0,7,1\n", 11), {{0x80000041, 0x5A}}},
    {"CR LF is LF", "41,5A,7,1\r\n42,11,7,1\r\n", {{0x80003941, 0x5A}, {0x80003942, 0x11}}},
    {"CR-only line ends make one line", "41,5A,7,1\r42,11,7,1\r", {{0x80003941, 0x5A}}},
    {"lone CR inside a field ends its digits", "41\r,5A\n", {{0x80000041, 0x5A}}},
    {"CR CR LF keeps one CR", "41,5A\r\r\n", {{0x80000041, 0x5A}}},
    {"0x1A ends the file",
     "41,5A\n\x1a"
     "42,11\n",
     {{0x80000041, 0x5A}}},
    {"0x1A inside a line keeps what stands before it",
     "41,5A\n42,1\x1a"
     "1\n43,1\n",
     {{0x80000041, 0x5A}, {0x80000042, 1}}},
    {"0x1A first: nothing",
     "\x1a"
     "41,5A\n",
     {}},
    {"empty file", "", {}},
    {"300-byte line is two pieces",
     "41,5A,7,1" + pad244 + "42,11,7,1" + repeat('z', 38) + "\n",
     {{0x80003941, 0x5A}, {0x80003942, 0x11}}},
    {"253-byte line leaves a piece of its line feed alone",
     "41,5A,7,1" + pad244 + "\n",
     {{0x80003941, 0x5A}, {0x80000000, 0}}},
    {"252 bytes and CR LF fit in one piece",
     "41,5A,7,1" + repeat(' ', 243) + "\r\n",
     {{0x80003941, 0x5A}}},
    {"253 bytes and CR LF: the LF is a piece",
     "41,5A,7,1" + pad244 + "\r\n",
     {{0x80003941, 0x5A}, {0x80000000, 0}}},
    {"a CR-only file is cut at 253 bytes",
     "41,5A\r" + repeat('1', 247) + "42,11\r43,22\r",
     {{0x80000041, 0x5A}, {0x80011042, 0x11}}}, // "11\r43" is the value, "22\r" the device
};

class FileFormat : public ::testing::TestWithParam<FileCase>
{
};

TEST_P(FileFormat, AppliesExactlyTheseLines)
{
    const FileCase &c = GetParam();
    EXPECT_TRACE(run_pass(c.content), expected_pass(c.applied));
    EXPECT_EQ(g_journal.count, static_cast<int>(c.applied.size()));

    // After a resume: each line's byte again, in file order, and no read.
    sim::active_chipset().clear_trace();
    journal_reapply();
    Trace again;
    for (const Applied &l : c.applied)
        again = again + restored(l.address, static_cast<std::uint16_t>(0xCFC + (l.address & 3)),
                                 static_cast<std::uint8_t>(l.value));
    EXPECT_TRACE(sim::active_chipset().trace(), again);
}

// The same files read one to seven bytes at a time: a CR LF pair that falls
// on the border between two reads is still one LF.
TEST_P(FileFormat, DoesNotDependOnHowTheReadsAreCut)
{
    const FileCase &c = GetParam();
    for (unsigned chunk = 1; chunk <= 7; chunk++) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        EXPECT_TRACE(run_pass(c.content, chunk), expected_pass(c.applied));
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, FileFormat, ::testing::ValuesIn(file_cases),
                         [](const ::testing::TestParamInfo<FileCase> &info) {
                             std::string n = std::to_string(info.index) + "_";
                             for (const char *p = info.param.name; *p; p++)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(Settings, StopsAfter64AppliedLinesWithoutReadingFurther)
{
    std::string content;
    std::vector<Applied> applied;
    for (std::uint32_t reg = 0x40; reg < 0x40 + 70; reg++) {
        char line[8];
        std::snprintf(line, sizeof line, "%x,1\n", reg); // five bytes each
        content += line;
        if (reg < 0x40 + 64)
            applied.push_back({0x80000000 | reg, 1});
    }
    // One byte per read: the pass must stop reading right after line 64.
    EXPECT_TRACE(run_pass(content, 1), expected_pass(applied));
    EXPECT_EQ(g_journal.count, 64);
    EXPECT_EQ(memfs::read_calls(), 64 * 5) << "not a byte past line 64 is read";
}

TEST(Settings, SkippedPiecesDoNotCountTowardThe64)
{
    std::string content;
    for (int i = 0; i < 64; i++)
        content += std::string("\0", 1) + "\n" + "41,1\n";
    content += "42,2\n";
    run_pass(content);
    EXPECT_EQ(g_journal.count, 64);
    EXPECT_EQ(g_journal.address[63], 0x80000041u);
}

// The gate is asked once, just before the first line with a field reaches
// a port; a refusal ends the pass with no port touched.
int g_gateCalls;
bool g_gateAnswer;
bool CountingGateProc()
{
    ++g_gateCalls;
    EXPECT_TRUE(sim::active_chipset().trace().empty()) << "asked after a port was touched";
    return g_gateAnswer;
}

// A pass the gate or a failed read ends early: `given` is the gate's answer
// or the read size, `calls` the gate's questions or the read that fails,
// `applied` the lines that reached the ports.
template <typename Given> struct EndCase {
    const char *name;
    std::string content;
    Given given;
    int calls;
    std::vector<Applied> applied;
};

TEST(Settings, GateIsAskedOnceBeforeTheFirstPort)
{
    const std::string NO_FIELD("\0\n", 2); // a line ends at a zero byte
    const EndCase<bool> cases[] = {
        {"no_line", NO_FIELD + NO_FIELD + "\x1A" + "41,5A\n", true, 0, {}},
        {"passed", NO_FIELD + "41,5A\n42,1\n", true, 1, {{0x80000041, 0x5A}, {0x80000042, 1}}},
        {"refused", NO_FIELD + "41,5A\n42,1\n", false, 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        use_file(c.content);
        g_gateCalls = 0;
        g_gateAnswer = c.given;
        EXPECT_TRUE(run_settings("kvtl.cfg", nullptr, CountingGateProc));
        EXPECT_EQ(g_gateCalls, c.calls);
        EXPECT_TRACE(sim::active_chipset().trace(), expected_pass(c.applied));
        EXPECT_EQ(g_journal.count, static_cast<int>(c.applied.size()));
    }
}

TEST(Settings, MissingFileAppliesNothingAndEmptiesTheJournal)
{
    run_pass("41,5A\n");
    ASSERT_EQ(g_journal.count, 1);
    sim::active_chipset().clear_trace();
    load_settings("missing.cfg");
    EXPECT_EQ(g_journal.count, 0);
    EXPECT_TRACE(sim::active_chipset().trace(), Trace{});
}

// A failed read ends the pass and drops the line it cut; the lines before it
// stay applied. The failing read is the last one tried.
TEST(Settings, AFailedReadEndsThePassWithoutTheLineItCut)
{
    const std::string lf = "41,5A\n42,11\n43,22\n", crlf = "41,5A\r\n42,11\r\n43,22\r\n";
    // 52 lines of 11 bytes: the first read of 512 ends inside line 47,
    // after "4A,22,".
    std::string udma;
    for (int i = 0; i < 52; i++)
        udma += "4A,22,7,1\r\n";
    const EndCase<unsigned> cases[] = {
        {"572-byte file, second read", udma, 0, 2, std::vector<Applied>(46, {0x8000394A, 0x22})},
        {"mid-line", lf, 4, 2, {}},
        {"at the start of a line", lf, 6, 2, {{0x80000041, 0x5A}}},
        {"first read", lf, 0, 1, {}},
        // "41," "5A\r" then the read that would find the LF fails.
        {"after a CR, before its LF", crlf, 3, 3, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        use_file(c.content, c.given);
        memfs::fail_read(c.calls);
        load_settings("kvtl.cfg");
        EXPECT_TRACE(sim::active_chipset().trace(), expected_pass(c.applied));
        EXPECT_EQ(memfs::read_calls(), c.calls);
        EXPECT_EQ(memfs::open_files(), 0);
    }
}

// What the watched pass tells of each piece, as "first-last +offset jN"
// and each field as [start,end)=value/digits; then how the input ended and the
// bytes left after it.
std::string told(const SettingsPiece &p)
{
    char s[64];
    std::snprintf(s, sizeof s, "%d-%d +%d j%d", p.first_line, p.last_line, p.line_offset,
                  p.journal_index);
    std::string t = s;
    for (int i = 0; i < p.field_count; i++) {
        std::snprintf(s, sizeof s, " [%d,%d)=%X/%d", p.fields[i].start, p.fields[i].end,
                      p.fields[i].value, p.fields[i].digits);
        t += s;
    }
    return t;
}

struct WatchCase {
    const char *name;
    std::string content;
    std::vector<std::string> pieces;
    ReaderEnd end;
    std::string rest;
};

TEST(Settings, WatcherIsToldWhatThePassParsed)
{
    const std::string long_line = "41,5A,7,1" + repeat(' ', 244) + "42\n";
    const WatchCase cases[] = {
        {"LF and CR LF end lines",
         "41,5A\r\n\n42,1,7\n",
         {"1-1 +0 j0 [0,2)=41/2 [3,6)=5A/2", "2-2 +0 j1 [0,1)=0/0",
          "3-3 +0 j2 [0,2)=42/2 [3,4)=1/1 [5,7)=7/1"},
         READER_END_OF_FILE,
         ""},
        {"a lone CR ends a line it does not end for the program",
         "41\r42,1\n43\n",
         {"1-2 +0 j0 [0,5)=41/2 [6,8)=1/1", "3-3 +0 j1 [0,3)=43/2"},
         READER_END_OF_FILE,
         ""},
        {"a piece cut at 253 bytes goes on on its line",
         long_line,
         {"1-1 +0 j0 [0,2)=41/2 [3,5)=5A/2 [6,7)=7/1 [8,253)=1/1", "1-1 +253 j1 [0,3)=42/2"},
         READER_END_OF_FILE,
         ""},
        {"a piece with no field is not applied",
         std::string("\0\n41,,5\n", 8),
         {"1-1 +0 j-1", "2-2 +0 j0 [0,2)=41/2 [4,6)=5/1"},
         READER_END_OF_FILE,
         ""},
        {"digits end at the first other byte",
         "0x41, 5A,123456789\n",
         {"1-1 +0 j0 [0,4)=0/1 [5,8)=0/0 [9,19)=23456789/9"},
         READER_END_OF_FILE,
         ""},
        {"four fields at most",
         "1,2,3,4,5",
         {"1-1 +0 j0 [0,1)=1/1 [2,3)=2/1 [4,5)=3/1 [6,7)=4/1"},
         READER_END_OF_FILE,
         ""},
        {"0x1A ends the input",
         "41\n\x1A"
         " 42\n\x1A",
         {"1-1 +0 j0 [0,3)=41/2"},
         READER_CTRL_Z,
         " 42\n\x1A"},
    };
    for (const WatchCase &c : cases) {
        for (unsigned chunk = 0; chunk <= 3; chunk++) {
            SCOPED_TRACE(std::string(c.name) + ", chunk " + std::to_string(chunk));
            use_file(c.content, chunk);
            file_handle file = file_open_read("kvtl.cfg");
            SettingsReader reader;
            reader_start(&reader, file);
            std::vector<std::string> pieces;
            settings_watch_pass(
                &reader,
                [](const SettingsPiece *p, void *context) {
                    static_cast<std::vector<std::string> *>(context)->push_back(told(*p));
                },
                &pieces);
            EXPECT_EQ(pieces, c.pieces);
            EXPECT_EQ(reader_end(&reader), c.end);
            std::string rest;
            char bytes[4];
            int n;
            while ((n = reader_read_rest(&reader, bytes, sizeof bytes)) > 0)
                rest.append(bytes, static_cast<size_t>(n));
            EXPECT_EQ(rest, c.rest);
            file_close(file);
        }
    }
}

// After 64 applied lines the reader reads on for the lines never applied.
TEST(Settings, SkipsTheLinesAfterThe64th)
{
    std::string applied;
    for (int i = 0; i < 64; i++)
        applied += "41,1\n";
    const std::pair<std::string, int> cases[] = {
        {"", 0},
        {"\n", 1},
        {"1\r\n2\r3", 3},
        {"1\n\x1A"
         "2\n",
         1},
        {repeat('1', 300), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        memfs::reset();
        memfs::put("kvtl.cfg", applied + c.first);
        file_handle file = file_open_read("kvtl.cfg");
        SettingsReader reader;
        reader_start(&reader, file);
        settings_pass(&reader, nullptr);
        EXPECT_EQ(reader_end(&reader), READER_OPEN);
        EXPECT_EQ(reader_skip_lines(&reader), c.second);
        file_close(file);
    }
}

struct HexCase {
    const char *text;
    std::uint32_t value;
};

TEST(Settings, ParseHex)
{
    const HexCase cases[] = {
        {"", 0},
        {"0", 0},
        {"ff", 0xFF},
        {"FF", 0xFF},
        {"DeadBeef", 0xDEADBEEF},
        {"123456789", 0x23456789},
        {"FFFFFFFF1", 0xFFFFFFF1},
        {"x1", 0},
        {"1x", 1},
        {" 1", 0},
        {"1 ", 1},
        {"-1", 0},
        {"41h", 0x41},
        {"g", 0},
        {"\x80"
         "1",
         0},
        {"1\xff", 1},
        {"9aF", 0x9AF},
        {"5A\n", 0x5A},
        {"1,2", 1},
    };
    for (const HexCase &c : cases)
        EXPECT_EQ(parse_hex(c.text), c.value) << '"' << c.text << '"';
}

} // namespace

#include "settings.h"

#include "file_io.h"
#include "hex.h"
#include "pci_config.h"

static const unsigned char CTRL_Z = 0x1A; // DOS end-of-file mark
static const int END = -1;

std::uint32_t parse_hex(const char *text)
{
    std::uint32_t result = 0;
    for (int d; (d = pci_hex_value(*text)) >= 0; text++)
        result = result * 16 + static_cast<std::uint32_t>(d);
    return result;
}

void reader_start(SettingsReader *r, void *file)
{
    r->file = file;
    r->pos = 0;
    r->len = 0;
    r->at_eof = false;
    r->failed = false;
}

// Refills the buffer; false at the end of the file and when the read failed,
// both of which end the input.
static bool refill(SettingsReader *r)
{
    r->pos = 0;
    int n = file_read(r->file, r->buf, sizeof r->buf);
    r->len = n > 0 ? n : 0;
    if (n <= 0) {
        r->at_eof = true;
        r->failed = n < 0;
    }
    return n > 0;
}

// Next byte after the text rules, or END.
static int next_byte(SettingsReader *r)
{
    if (r->at_eof || (r->pos == r->len && !refill(r)))
        return END;

    unsigned char c = r->buf[r->pos++];
    if (c == CTRL_Z) {
        r->at_eof = true;
        return END;
    }
    if (c != '\r')
        return c;
    // CR LF is one LF, even when the LF comes with the next read.
    if (r->pos == r->len && !refill(r))
        return c;
    if (r->buf[r->pos] == '\n') {
        r->pos++;
        return '\n';
    }
    return c;
}

int reader_next_piece(SettingsReader *r, char *line)
{
    int n = 0;
    while (n < LINE_BUFFER_SIZE - 1) {
        int c = next_byte(r);
        if (c == END)
            break;
        line[n++] = static_cast<char>(c);
        if (c == '\n')
            break;
    }
    if (r->failed) // a line cut by a failed read is no line
        n = 0;
    line[n] = '\0';
    return n;
}

ReaderEnd reader_end(const SettingsReader *r)
{
    if (!r->at_eof)
        return READER_OPEN;
    if (r->failed)
        return READER_FAILED;
    // A 0x1A is the only end that leaves the position past a byte it took.
    return r->pos > 0 && r->buf[r->pos - 1] == CTRL_Z ? READER_CTRL_Z : READER_END_OF_FILE;
}

int reader_read_rest(SettingsReader *r, char *bytes, int size)
{
    if (r->pos == r->len)
        return file_read(r->file, bytes, static_cast<unsigned>(size));
    int n = 0;
    while (n < size && r->pos < r->len)
        bytes[n++] = static_cast<char>(r->buf[r->pos++]);
    return n;
}

int settings_fields(const char *line, SettingsField *fields, int max_fields)
{
    int count = 0;
    const char *p = line;
    while (count < max_fields) {
        while (*p == ',')
            p++;
        if (*p == '\0')
            break;
        SettingsField &f = fields[count++];
        f.start = static_cast<int>(p - line);
        f.value = parse_hex(p);
        for (f.digits = 0; pci_hex_value(p[f.digits]) >= 0; f.digits++) {
        }
        while (*p != ',' && *p != '\0')
            p++;
        f.end = static_cast<int>(p - line);
    }
    return count;
}

int settings_line_ends(const char *piece, int count)
{
    int ends = 0;
    for (int i = 0; i < count; i++)
        ends += piece[i] == '\n' || piece[i] == '\r';
    return ends;
}

int reader_skip_lines(SettingsReader *r)
{
    char line[LINE_BUFFER_SIZE];
    int lines = 0, n;
    bool unended = false;
    while ((n = reader_next_piece(r, line)) > 0) {
        lines += settings_line_ends(line, n);
        unended = line[n - 1] != '\n' && line[n - 1] != '\r';
    }
    return lines + (unended ? 1 : 0);
}

bool settings_apply_piece(const char *line)
{
    SettingsField field[4];
    const int count = settings_fields(line, field, 4);
    if (count == 0)
        return false;
    std::uint32_t f[4] = {0, 0, 0, 0}; // register, value, device, function
    for (int i = 0; i < count; i++)
        f[i] = field[i].value;
    cfg_read_record(f[0], f[2], f[3]);
    cfg_write_byte(f[0], f[2], f[3], f[1]);
    g_journal.written[g_journal.count - 1] = f[1];
    return true;
}

void settings_pass(SettingsReader *r, SettingsPieceProc proc, SettingsGateProc gate)
{
    g_journal.count = 0;
    char line[LINE_BUFFER_SIZE];
    int count;
    while ((count = reader_next_piece(r, line)) > 0) {
        SettingsField first;
        if (gate && settings_fields(line, &first, 1) > 0) {
            if (!gate())
                break;
            gate = nullptr;
        }
        bool applied = settings_apply_piece(line);
        if (proc)
            proc(line, count, applied);
        if (g_journal.count >= MAX_JOURNAL_ENTRIES)
            break;
    }
}

// settings_pass's watcher, turned into settings_watch_pass's: the old
// watcher has no context, so the one pass watched is reached through here.
struct Watch {
    SettingsWatchProc proc;
    void *context;
    int next_line; // physical line where the next piece starts
    int line_offset;
};
static Watch *s_watch;

static void tell_watcher(const char *line, int count, bool applied)
{
    Watch &w = *s_watch;
    SettingsPiece p;
    p.text = line;
    p.count = count;
    p.first_line = w.next_line;
    const int ends = settings_line_ends(line, count);
    w.next_line += ends;
    // A piece ending in a line end lies on the line it ends.
    const char last = line[count - 1];
    p.last_line = w.next_line - (last == '\n' || last == '\r' ? 1 : 0);
    p.line_offset = w.line_offset;
    w.line_offset = last == '\n' ? 0 : w.line_offset + count;
    p.field_count = settings_fields(line, p.fields, 4);
    p.journal_index = applied ? g_journal.count - 1 : -1;
    w.proc(&p, w.context);
}

void settings_watch_pass(SettingsReader *r, SettingsWatchProc proc, void *context,
                         SettingsGateProc gate)
{
    Watch w = {proc, context, 1, 0};
    s_watch = &w;
    settings_pass(r, proc ? tell_watcher : nullptr, gate);
    s_watch = nullptr;
}

bool run_settings(const char *file_name, SettingsPieceProc proc, SettingsGateProc gate)
{
    g_journal.count = 0;
    file_handle file = file_open_read(file_name);
    if (!file)
        return false;
    SettingsReader reader;
    reader_start(&reader, file);
    settings_pass(&reader, proc, gate);
    file_close(file);
    return true;
}

void load_settings(const char *file_name)
{
    run_settings(file_name, nullptr);
}

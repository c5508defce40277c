#include "settings.h"

#include "file_io.h"
#include "pci_config.h"

static const unsigned char CTRL_Z = 0x1A; // DOS end-of-file mark
static const int END = -1;

std::uint32_t parse_hex(const char *text)
{
    std::uint32_t result = 0;
    for (;; text++) {
        char c = *text;
        if (c >= '0' && c <= '9')
            result = result * 16 + static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            result = result * 16 + static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            result = result * 16 + static_cast<std::uint32_t>(c - 'a' + 10);
        else
            return result;
    }
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

int settings_fields(const char *line, std::uint32_t *fields, int max_fields)
{
    int count = 0;
    const char *p = line;
    while (count < max_fields) {
        while (*p == ',')
            p++;
        if (*p == '\0')
            break;
        fields[count++] = parse_hex(p);
        while (*p != ',' && *p != '\0')
            p++;
    }
    return count;
}

bool settings_apply_piece(const char *line)
{
    std::uint32_t f[4] = {0, 0, 0, 0}; // register, value, device, function
    if (settings_fields(line, f, 4) == 0)
        return false;
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
        std::uint32_t field;
        if (gate && settings_fields(line, &field, 1) > 0) {
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

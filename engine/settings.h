// kvtl.cfg: one register write per line, "register,value,device,function"
// in hexadecimal, applied once at start-up with every previous byte journalled.
#pragma once

#include <cstdint>

// One read takes at most LINE_BUFFER_SIZE - 1 bytes: longer lines come in
// pieces, and each piece is a line of its own.
const int LINE_BUFFER_SIZE = 254;

// Hex digits up to the first other character; 32-bit, wrapping. No digit: 0.
std::uint32_t parse_hex(const char *text);

// Text-mode reader over file_io.h: CR LF reads as LF (also across a buffer
// border), a lone CR stays, 0x1A ends the input for good. A failed read ends
// it too, and the piece in progress is dropped: on a floppy, a CD or a
// network share the rest of a cut line would land in other registers.
struct SettingsReader {
    void *file;
    unsigned char buf[512];
    int pos;
    int len;
    bool at_eof; // end of file, 0x1A or a failed read: nothing more
    bool failed; // a read failed
};

void reader_start(SettingsReader *r, void *file);
// Reads one piece into line (LINE_BUFFER_SIZE bytes): up to and including a
// LF, or 253 bytes. Returns the byte count; 0 when nothing could be read.
// line[count] is 0; the piece itself may hold zero bytes. A failed read
// gives 0, whatever the piece held.
int reader_next_piece(SettingsReader *r, char *line);

// How the input ended for the reader: not yet (the pass stopped first), at
// the end of the file, at a 0x1A, or at a failed read.
enum ReaderEnd { READER_OPEN, READER_END_OF_FILE, READER_CTRL_Z, READER_FAILED };
ReaderEnd reader_end(const SettingsReader *r);
// Reads on by the text rules, applying nothing: the physical lines left
// (counted as settings_line_ends does, an unended last one too).
int reader_skip_lines(SettingsReader *r);
// The bytes after the last one the reader took, as the file holds them (a
// 0x1A and what follows it included): those it has buffered, then the
// file's. Returns the count, 0 at the end of the file, -1 for a failed read.
int reader_read_rest(SettingsReader *r, char *bytes, int size);

// One field of a piece: bytes start..end-1.
struct SettingsField {
    int start;
    int end;
    int digits; // the hex digits it starts with, which make its value
    std::uint32_t value;
};
// Splits a piece at commas like strtok: runs of commas are one separator,
// no empty fields. Text ends at the first zero byte. Returns the number of
// fields found (at most max_fields), each with its place and parsed value.
int settings_fields(const char *line, SettingsField *fields, int max_fields);

// Physical lines a piece ends, as an editor counts them: each LF, and each
// CR, since the reader has already made every CR LF a LF and leaves only
// lone CRs (which end no line for the program: it reads on).
int settings_line_ends(const char *piece, int count);

// Applies one piece as a settings line: register, value, device, function
// (missing ones are 0). Returns false for a piece with no field.
bool settings_apply_piece(const char *line);

// The settings pass: each line read is applied at once (journal, then write)
// until the input ends (or a read fails) or MAX_JOURNAL_ENTRIES lines are
// applied. Lines applied before a failed read stay applied and journalled.
// A file that cannot be opened applies nothing.
void load_settings(const char *file_name);

// Asked once, before the pass reaches a port for its first line; false ends
// the pass there with no port touched. The caller's last check before any
// byte changes (the configuration mechanism, say).
typedef bool (*SettingsGateProc)();

// Told of each piece the pass reads: its `count` bytes (NUL bytes included)
// and whether it was applied, in which case its journal entry is the last.
typedef void (*SettingsPieceProc)(const char *piece, int count, bool applied);

// What the pass read and did, told for each piece.
struct SettingsPiece {
    const char *text; // `count` bytes (NUL bytes included), then a 0
    int count;
    // The physical lines of its first and last byte, from 1. LF and CR LF
    // end a line; so does a lone CR, as an editor shows it, though the
    // program reads on past it (settings_line_ends).
    int first_line;
    int last_line;
    // Bytes of the same LF-ended line before it: 0, or 253, 506... for the
    // later pieces of a long line.
    int line_offset;
    int field_count; // at most 4: register, value, device, function
    SettingsField fields[4];
    int journal_index; // the applied line's entry, -1 when not applied
};
typedef void (*SettingsWatchProc)(const SettingsPiece *piece, void *context);

// settings_pass with a watcher that is told what the pass parsed; the
// reader is left where the pass stopped. It watches through settings_pass's
// own watcher, so the programs' pass is the same code; one at a time.
void settings_watch_pass(SettingsReader *r, SettingsWatchProc proc, void *context,
                         SettingsGateProc gate = nullptr);

// load_settings with a watcher and a gate (null for none). False when the
// file cannot be opened.
bool run_settings(const char *file_name, SettingsPieceProc proc, SettingsGateProc gate = nullptr);
// The pass itself over a started reader, which is left where the pass
// stopped (the journal is emptied first).
void settings_pass(SettingsReader *r, SettingsPieceProc proc, SettingsGateProc gate = nullptr);

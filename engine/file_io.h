// Raw byte input for the settings reader. The text rules live in the reader
// itself, so every definition here only moves bytes: the C library on the
// host, CreateFileA/ReadFile on Windows (no C runtime DLL there).
#pragma once

typedef void *file_handle;

// Opens an existing file for reading, sharing read and write with others.
// Null when it cannot be opened.
file_handle file_open_read(const char *name);
// Bytes read into buf (at most size), 0 at the end of the file, -1 when the
// read failed; a later call may try again.
int file_read(file_handle file, void *buf, unsigned size);
void file_close(file_handle file);

// file_io.h over in-memory files, with the reads cut into chunks of a chosen
// size and chosen read calls failing, so tests and the fuzzer can reach the
// reader's border cases without a disk.
#pragma once

#include <string>

namespace memfs
{

void reset();
void put(const std::string &name, const std::string &content);
// Each file_read returns at most this many bytes (default: all requested).
void set_chunk(unsigned bytes);
// Read calls (counted from 1 over all files) that fail and consume nothing.
void fail_read(int call);
int read_calls();
int open_files(); // opened and not yet closed

} // namespace memfs

// kvtl.cfg read a second time, plainly and apart from the engine (nothing of
// engine/ is used): the reference that the settings fuzzer and the
// checker's cross-check hold the engine and the checker to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace model
{

struct Line {
    std::string text; // the piece as applied: CR LF read as LF, cut at a NUL
    std::uint32_t reg, value, device, function;
    std::uint32_t address; // to CONFIG_ADDRESS
    std::uint16_t port;    // the data port of the register's byte lane
};

// The lines the program applies from `file`, in order: the file ends at its
// first 0x1A; CR LF is LF; pieces end after a LF or at 253 bytes; a piece
// ends at a NUL; runs of commas separate up to four hex fields (register,
// value, device, function; missing ones 0); a number is its leading hex
// digits, the last eight of them; a piece without a field is skipped; 64
// lines at most.
std::vector<Line> settings_pass(const std::string &file);

} // namespace model

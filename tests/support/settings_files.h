// Settings files with the sharp edges of the format, shared by the checker's
// tests and kvtlpeek's: each is named for the edge it shows.
#pragma once

#include <string>
#include <vector>

namespace files
{

struct Named {
    std::string name, content;
};

// One file per sharp edge of how a line is read and applied.
const std::vector<Named> &sharp_edges();
// Files whose lines an editor numbers in ways worth a look.
const std::vector<Named> &line_edges();
// The content of the file so named in either list; empty if none is.
std::string content(const std::string &name);

} // namespace files

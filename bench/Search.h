// Time of a full search of a large scrollback (a term found nowhere, so every line is read).
#pragma once

#include <string>

namespace corvantix::bench {

// One line: "search ..." with the literal and the regex, each the first search (which
// builds the line cache) and a repeated one (which reuses it).
std::string searchReport(int lines);

} // namespace corvantix::bench

// Resident memory of a terminal whose scrollback is full of 80-column text.
#pragma once

#include <optional>

namespace corvantix::bench {

// Bytes of resident memory per held cell (scrollback and screen) of an 80 x 24 terminal
// with `scrollbackLines` of history, all of it written. Measured in a child process so
// that nothing the benchmark allocated before or after blurs the figure; none when the
// child could not run.
std::optional<double> residentBytesPerCell(int scrollbackLines);

} // namespace corvantix::bench

// The signal dispositions of the application's processes (the window and the command-line
// tools over the same model), set once at start, and what the programs they start get back.
#pragma once

#include <csignal>

namespace halvoren {

// Ignored by our processes, put back at their default in every program they start: an ignored
// disposition survives exec, and ssh, git, tmux or a shell must meet the file-size limit as
// they would anywhere else.
//
// SIGXFSZ: a write past the file-size limit (a user's `ulimit -f`, a service manager's limit)
// then fails with EFBIG, which the writer reports and recovers from, instead of ending the
// process with everything it has not yet written.
inline constexpr int signalsIgnoredByUs[] = {SIGXFSZ};

// Called first thing in main, before any thread or child exists.
void setUpProcessSignals();

} // namespace halvoren

// Time of the bidirectional row layout over a scrollback of mixed Hebrew, Arabic and Latin
// lines, without a view.
#pragma once

#include <string>

namespace corvantix::bench {

// One line: "bidi ..." with the layout of every line once (each paragraph new to the
// caches) and the repeated layout of one screen (served from the caches).
std::string bidiReport(int lines);

} // namespace corvantix::bench

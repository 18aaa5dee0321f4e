// What a hostile program can make the engine spend: streams built to stall the terminal or
// to grow it, each fed in a child process that reports its time and its peak memory.
#pragma once

#include <string>
#include <vector>

namespace corvantix::bench {

// The names of the hostile streams, in the order they are run.
const std::vector<std::string>& hostileStreamNames();

// Runs the streams (all, or only `only` when not empty) and prints one line each; a stream
// still running after `limitSeconds` is stopped and reported as such. The reply flood
// runs for `floodSeconds` (0 leaves it out). `quick`: each stream a small share of its full
// length. False when a stream did not finish (stopped, or its child crashed).
bool benchHostile(const std::string& only, int limitSeconds, int floodSeconds, bool quick);

} // namespace corvantix::bench

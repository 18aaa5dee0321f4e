// libFuzzer entry: arbitrary bytes, in arbitrary chunks with resizes between them, into a
// Terminal; a broken invariant aborts so that the input is kept.
#include "TerminalFuzzDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto run = corvantix::fuzz::runFuzzInput(std::span<const std::uint8_t>(data, size));
    if (run.violation) {
        std::fprintf(stderr, "invariant broken: %s\n", run.violation->c_str());
        std::abort();
    }
    return 0;
}

// libFuzzer entry for the escape-sequence parser alone; a broken property aborts so that the
// input is kept.
#include "ParserFuzzDriver.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (const auto violation = corvantix::fuzz::runParserFuzzInput(std::span<const std::uint8_t>(data, size))) {
        std::fprintf(stderr, "parser property broken: %s\n", violation->c_str());
        std::abort();
    }
    return 0;
}

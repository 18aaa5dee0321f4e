// Helpers for the image tests: a terminal with a recording host, APC framing, base64.
#pragma once

#include "engine/emulator/RecordingDelegate.h"
#include "engine/emulator/TerminalTestSupport.h"
#include "platform/Base64.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix::test {

struct KittyFixture {
    explicit KittyFixture(int cols = 80, int rows = 25) : terminal(makeTerminal(cols, rows, &delegate)) {}

    RecordingDelegate delegate;
    std::unique_ptr<Terminal> terminal;

    // Feeds the command and returns what the terminal replied to it.
    std::string command(std::string_view body)
    {
        delegate.sent.clear();
        feed(*terminal, "\x1b_G" + std::string(body) + "\x1b\\");
        return delegate.sent;
    }
};

// A reply as the program receives it with 7-bit controls.
inline std::string apc(std::string_view text)
{
    return "\x1b_" + std::string(text) + "\x1b\\";
}

inline std::string base64(std::string_view bytes)
{
    return base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

inline std::string base64(const std::vector<std::uint8_t>& bytes)
{
    return base64Encode(bytes);
}

} // namespace corvantix::test

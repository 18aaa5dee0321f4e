// C1 transmission mode of the terminal's replies: 7-bit escape pairs (ESC [, ESC ], ESC P,
// ESC _, ESC \) or single 8-bit C1 bytes (0x9B, 0x9D, 0x90, 0x9F, 0x9C). The 8-bit forms are
// raw bytes in the reply, not UTF-8 encodings of U+0080-U+009F.
#pragma once

#include <string>
#include <string_view>

namespace corvantix {

struct CC {
    bool send8bit = false;

    // Introducers and the string terminator in the current mode.
    std::string_view csi() const { return send8bit ? std::string_view("\x9b", 1) : std::string_view("\x1b[", 2); }
    std::string_view osc() const { return send8bit ? std::string_view("\x9d", 1) : std::string_view("\x1b]", 2); }
    std::string_view dcs() const { return send8bit ? std::string_view("\x90", 1) : std::string_view("\x1bP", 2); }
    std::string_view apc() const { return send8bit ? std::string_view("\x9f", 1) : std::string_view("\x1b_", 2); }
    std::string_view st() const { return send8bit ? std::string_view("\x9c", 1) : std::string_view("\x1b\\", 2); }

    // Whole replies: CSI + body; OSC, DCS and APC strings + body + string terminator.
    std::string csiReply(std::string_view body) const;
    std::string oscReply(std::string_view body) const;
    std::string dcsReply(std::string_view body) const;
    std::string apcReply(std::string_view body) const;

    bool operator==(const CC&) const = default;
};

} // namespace corvantix

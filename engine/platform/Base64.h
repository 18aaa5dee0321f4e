// Base64 with the standard alphabet (A-Z a-z 0-9 + /), as OSC 52 and OSC 1337 carry it.
//
// The decoder is strict: the input is whole groups of four characters, "=" padding is
// required and may only end the last group, and any other byte (whitespace and line breaks
// included) makes the whole input invalid. Bits left over in the last character of a padded
// group are ignored, as most encoders leave them zero anyway.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// Padded, without line breaks.
std::string base64Encode(std::span<const std::uint8_t> data);

// The decoded bytes; none when the input is not strict base64. The empty input decodes to
// no bytes.
std::optional<std::vector<std::uint8_t>> base64Decode(std::span<const std::uint8_t> text);
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

} // namespace corvantix

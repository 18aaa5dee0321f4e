#include "platform/Base64.h"

#include <array>

namespace corvantix {

namespace {

constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t invalid = 0xFF;

// Byte -> 6-bit value, or `invalid`.
constexpr std::array<std::uint8_t, 256> makeDecodeTable()
{
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table)
        entry = invalid;
    for (std::size_t i = 0; i < alphabet.size(); ++i)
        table[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::uint8_t>(i);
    return table;
}

constexpr std::array<std::uint8_t, 256> decodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::span<const std::uint8_t> data)
{
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t group = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
        text += alphabet[group >> 18 & 0x3F];
        text += alphabet[group >> 12 & 0x3F];
        text += alphabet[group >> 6 & 0x3F];
        text += alphabet[group & 0x3F];
    }
    const std::size_t rest = data.size() - i;
    if (rest == 1) {
        const std::uint32_t group = std::uint32_t{data[i]} << 16;
        text += alphabet[group >> 18 & 0x3F];
        text += alphabet[group >> 12 & 0x3F];
        text += "==";
    } else if (rest == 2) {
        const std::uint32_t group = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8;
        text += alphabet[group >> 18 & 0x3F];
        text += alphabet[group >> 12 & 0x3F];
        text += alphabet[group >> 6 & 0x3F];
        text += '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::span<const std::uint8_t> text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;

    // Padding: at most two "=" and only at the very end.
    std::size_t padding = 0;
    if (!text.empty() && text[text.size() - 1] == '=') {
        padding = 1;
        if (text[text.size() - 2] == '=')
            padding = 2;
    }
    const std::size_t dataChars = text.size() - padding;
    for (std::size_t i = 0; i < dataChars; ++i) {
        if (decodeTable[text[i]] == invalid)
            return std::nullopt;
    }

    std::vector<std::uint8_t> data;
    data.reserve(text.size() / 4 * 3 - padding);
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (std::size_t i = 0; i < dataChars; ++i) {
        accumulator = (accumulator << 6 | decodeTable[text[i]]) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            data.push_back(static_cast<std::uint8_t>(accumulator >> bits & 0xFF));
        }
    }
    return data;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text)
{
    return base64Decode(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

} // namespace corvantix

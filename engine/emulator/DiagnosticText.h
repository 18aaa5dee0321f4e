// Small text helpers shared by the handlers' diagnostic lines and their byte checks.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvantix {

// "[a, b, c]" with the values in decimal, as the diagnostic lines print lists.
template <typename Value>
std::string listText(std::span<const Value> values)
{
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(static_cast<long long>(values[i]));
    }
    return text + "]";
}

inline std::string listText(std::span<const int> values)
{
    return listText<int>(values);
}

inline std::string listText(std::span<const std::uint8_t> values)
{
    return listText<std::uint8_t>(values);
}

// True when the private marker and intermediates are exactly the one given byte.
inline bool collectIs(std::span<const std::uint8_t> collect, std::uint8_t byte)
{
    return collect.size() == 1 && collect[0] == byte;
}

} // namespace corvantix

#include "emulator/TerminalOptions.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#ifndef CORVANTIX_BUILD_IDENTIFIER
#define CORVANTIX_BUILD_IDENTIFIER "unknown"
#endif

namespace corvantix {

namespace {

struct CursorStyleNames {
    std::string_view raw;
    std::string_view display;
};

// Indexed by ordinal.
constexpr std::array<CursorStyleNames, 6> cursorStyleNames = {{
    {"blinkBlock", "Blinking Block"},
    {"steadyBlock", "Steady Block"},
    {"blinkUnderline", "Blinking Underline"},
    {"steadyUnderline", "Steady Underline"},
    {"blinkBar", "Blinking Bar"},
    {"steadyBar", "Steady Bar"},
}};

const CursorStyleNames& namesOf(CursorStyle style)
{
    const auto index = static_cast<std::size_t>(ordinal(style));
    return cursorStyleNames[index < cursorStyleNames.size() ? index : 0];
}

} // namespace

std::string_view rawValue(CursorStyle style)
{
    return namesOf(style).raw;
}

std::optional<CursorStyle> cursorStyleFromRawValue(std::string_view rawValue)
{
    for (CursorStyle style : allCursorStyles)
        if (namesOf(style).raw == rawValue)
            return style;
    return std::nullopt;
}

std::string_view displayName(CursorStyle style)
{
    return namesOf(style).display;
}

std::optional<CursorStyle> cursorStyleFromOrdinal(int ordinal)
{
    if (ordinal < 0 || ordinal >= static_cast<int>(allCursorStyles.size()))
        return std::nullopt;
    return allCursorStyles[static_cast<std::size_t>(ordinal)];
}

const TerminalOptions& TerminalOptions::defaultOptions()
{
    static const TerminalOptions options;
    return options;
}

const std::string_view CorvantixBuildInfo::buildIdentifier = CORVANTIX_BUILD_IDENTIFIER;

std::vector<std::string> getEnvironmentVariables(std::optional<std::string_view> termName,
                                                 bool trueColor)
{
    std::vector<std::string> list;
    list.push_back("TERM=" + std::string(termName.value_or("xterm-256color")));
    if (trueColor)
        list.emplace_back("COLORTERM=truecolor");
    list.emplace_back("LANG=en_US.UTF-8");
    // USER stands twice and the name is LC_TYPE, not LC_CTYPE: hosts receive this exact list.
    static constexpr std::array<const char*, 6> copied = {"LOGNAME", "USER",  "DISPLAY",
                                                          "LC_TYPE", "USER", "HOME"};
    for (const char* name : copied)
        if (const char* value = std::getenv(name))
            list.push_back(std::string(name) + "=" + value);
    return list;
}

} // namespace corvantix

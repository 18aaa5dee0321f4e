#include "view/TerminalViewTypes.h"

namespace corvantix {

std::string_view rawValue(BellStyle style)
{
    switch (style) {
    case BellStyle::none:
        return "none";
    case BellStyle::sound:
        return "sound";
    case BellStyle::visual:
        return "visual";
    case BellStyle::soundAndVisual:
        return "soundAndVisual";
    }
    return "none";
}

std::string_view displayName(BellStyle style)
{
    switch (style) {
    case BellStyle::none:
        return "None";
    case BellStyle::sound:
        return "Sound";
    case BellStyle::visual:
        return "Visual";
    case BellStyle::soundAndVisual:
        return "Sound and Visual";
    }
    return "None";
}

std::optional<BellStyle> bellStyleFromRawValue(std::string_view text)
{
    for (BellStyle style : allBellStyles) {
        if (rawValue(style) == text)
            return style;
    }
    return std::nullopt;
}

} // namespace corvantix

#include "drawing/EmojiPresentation.h"

#include <unicode/uchar.h>

namespace corvantix {

namespace {

// The rule over any sequence of scalars; `next` hands them out in order (false at the end).
template <typename Next>
bool prefersEmojiPresentation(Next next)
{
    char32_t base = 0;
    if (!next(base))
        return false;
    const bool pictographic = u_hasBinaryProperty(static_cast<UChar32>(base), UCHAR_EXTENDED_PICTOGRAPHIC) != 0;
    bool joined = false;
    for (char32_t scalar = 0; next(scalar);) {
        if (scalar == 0xFE0E)
            return false;
        if (scalar == 0xFE0F || scalar == 0x20E3 || (scalar >= 0x1F3FB && scalar <= 0x1F3FF))
            return true;
        if (scalar == 0x20DD && pictographic)
            return true;
        joined |= scalar == 0x200D;
    }
    if (joined && pictographic)
        return true;
    return u_hasBinaryProperty(static_cast<UChar32>(base), UCHAR_EMOJI_PRESENTATION) != 0;
}

} // namespace

bool clusterPrefersEmojiPresentation(std::u32string_view cluster)
{
    std::size_t i = 0;
    return prefersEmojiPresentation([&](char32_t& scalar) {
        if (i >= cluster.size())
            return false;
        scalar = cluster[i++];
        return true;
    });
}

bool clusterPrefersEmojiPresentation(std::u16string_view cluster)
{
    std::size_t i = 0;
    return prefersEmojiPresentation([&](char32_t& scalar) {
        if (i >= cluster.size())
            return false;
        const char16_t unit = cluster[i++];
        scalar = unit;
        if (unit >= 0xD800 && unit < 0xDC00 && i < cluster.size() && cluster[i] >= 0xDC00 && cluster[i] < 0xE000)
            scalar = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (cluster[i++] - 0xDC00);
        return true;
    });
}

} // namespace corvantix

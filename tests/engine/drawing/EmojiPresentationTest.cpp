// Which clusters ask to be drawn as a colour picture, in UTF-32 and in UTF-16.
#include "drawing/EmojiPresentation.h"

#include <gtest/gtest.h>

#include <string>

namespace corvantix {
namespace {

TEST(EmojiPresentation, ClustersThatAskForAPicture)
{
    struct Case { const char* name; std::u32string cluster; bool picture; };
    const Case cases[] = {
        {"emoji by default", U"\U0001F600", true},
        {"text by default", U"\u2764", false},
        {"text base with the emoji selector", U"\u2764\uFE0F", true},
        {"emoji base with the text selector", U"\U0001F600\uFE0E", false},
        {"joined sequence on a text-default base", U"\U0001F3F3\u200D\U0001F308", true},
        {"joiner between letters", U"a\u200Db", false},
        {"keycap without a selector", U"1\u20E3", true},
        {"enclosing circle on a pictograph", U"\u2620\u20DD", true},
        {"enclosing circle on a letter", U"a\u20DD", false},
        {"skin tone", U"\u270B\U0001F3FD", true},
        {"flag of two regional indicators", U"\U0001F1EB\U0001F1F7", true},
        {"letter with an accent", U"e\u0301", false},
        {"nothing", U"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(clusterPrefersEmojiPresentation(std::u32string_view(c.cluster)), c.picture);
        std::u16string units;
        for (const char32_t scalar : c.cluster) {
            if (scalar >= 0x10000) {
                units.push_back(static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<char16_t>(scalar));
            }
        }
        EXPECT_EQ(clusterPrefersEmojiPresentation(std::u16string_view(units)), c.picture);
    }
}

} // namespace
} // namespace corvantix

// Kitty keyboard protocol flags: push, pop, set and query, per screen.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

std::string pushes(int from, int to)
{
    std::string bytes;
    for (int value = from; value <= to; ++value) bytes += "\x1b[>" + std::to_string(value) + "u";
    return bytes;
}

TEST(KittyKeysTest, QueryRepliesWithTheFlagsOfTheActiveScreen)
{
    struct Case { const char* name; std::string bytes; std::string reply; }; // bytes: fed before the query
    const Case cases[] = {
        {"initial", "", "\x1b[?0u"},
        {"push", "\x1b[>1u", "\x1b[?1u"},
        {"push without parameter", "\x1b[>5u\x1b[>u", "\x1b[?0u"},
        {"push keeps the low five bits", "\x1b[>40u", "\x1b[?8u"},
        {"pop two", "\x1b[>1u\x1b[>2u\x1b[>4u\x1b[<2u", "\x1b[?1u"},
        {"pop 0 pops one", "\x1b[>1u\x1b[>2u\x1b[<0u", "\x1b[?1u"},
        {"pop past the bottom clears", "\x1b[>1u\x1b[>2u\x1b[<5u", "\x1b[?0u"},
        {"set, mode 2 adds", "\x1b[=4u\x1b[=3;2u", "\x1b[?7u"},
        {"set, mode 3 removes", "\x1b[=4u\x1b[=3;2u\x1b[=1;3u", "\x1b[?6u"},
        {"set, unknown mode changes nothing", "\x1b[=6u\x1b[=1;9u", "\x1b[?6u"},
        {"set without parameters clears", "\x1b[=6u\x1b[=u", "\x1b[?0u"},
        {"8-bit introducer", "\x1b[>3u\x1b G", "\x9b?3u"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture f;
        feed(*f.terminal, c.bytes);
        EXPECT_EQ(f.replies("\x1b[?u"), std::vector<std::string>{c.reply});
    }
}

TEST(KittyKeysTest, StackKeepsTheNewestSixteenEntries)
{
    auto terminal = makeTerminal();
    // Flags 5 are pushed first and fall off when the seventeenth push arrives.
    feed(*terminal, "\x1b[=5u" + pushes(1, 17));
    EXPECT_EQ(terminal->keyboardModeNormal().stack.size(), 16u);
    EXPECT_EQ(terminal->keyboardModeNormal().stack.front(), 1);
    EXPECT_EQ(terminal->activeKeyboardFlags(), 17);
    feed(*terminal, "\x1b[<16u");
    EXPECT_EQ(terminal->activeKeyboardFlags(), 1);
    feed(*terminal, "\x1b[<u");
    EXPECT_EQ(terminal->activeKeyboardFlags(), 0);
}

TEST(KittyKeysTest, NormalAndAlternateScreensKeepTheirOwnFlags)
{
    TerminalFixture f;
    const std::string query = "\x1b[?u";
    feed(*f.terminal, "\x1b[>1u\x1b[?1049h");
    EXPECT_EQ(f.reply(query), "\x1b[?0u");
    feed(*f.terminal, "\x1b[>3u\x1b[>5u\x1b[?1049l");
    EXPECT_EQ(f.reply(query), "\x1b[?1u");
    feed(*f.terminal, "\x1b[<u");
    EXPECT_EQ(f.reply(query), "\x1b[?0u");
    feed(*f.terminal, "\x1b[?1049h\x1b[<u");
    EXPECT_EQ(f.reply(query), "\x1b[?3u");
}

TEST(KittyKeysTest, ResetClearsBothScreens)
{
    auto terminal = makeTerminal();
    feed(*terminal, "\x1b[>1u\x1b[?1049h\x1b[>2u\x1b[?1049l\x1b" "c");
    EXPECT_EQ(terminal->keyboardModeNormal(), KeyboardModeState{});
    EXPECT_EQ(terminal->keyboardModeAlt(), KeyboardModeState{});
}

} // namespace
} // namespace corvantix

// Kitty keyboard protocol flags: push, pop, set and query, per screen.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using test::RecordingDelegate;

std::string pushes(int from, int to)
{
    std::string bytes;
    for (int value = from; value <= to; ++value) bytes += "\x1b[>" + std::to_string(value) + "u";
    return bytes;
}

TEST(KittyKeysTest, QueryRepliesWithTheFlagsOfTheActiveScreen)
{
    struct Case {
        const char* name;
        std::string bytes; // fed before the query
        std::string reply;
    };
    const Case cases[] = {
        {"initial", "", "\x1b[?0u"},
        {"push", "\x1b[>1u", "\x1b[?1u"},
        {"push then pop", "\x1b[>1u\x1b[<u", "\x1b[?0u"},
        {"push without parameter", "\x1b[>5u\x1b[>u", "\x1b[?0u"},
        {"push keeps the low five bits", "\x1b[>40u", "\x1b[?8u"},
        {"pop two", "\x1b[>1u\x1b[>2u\x1b[>4u\x1b[<2u", "\x1b[?1u"},
        {"pop 0 pops one", "\x1b[>1u\x1b[>2u\x1b[<0u", "\x1b[?1u"},
        {"pop past the bottom clears", "\x1b[>1u\x1b[>2u\x1b[<5u", "\x1b[?0u"},
        {"set", "\x1b[=4u", "\x1b[?4u"},
        {"set, mode 2 adds", "\x1b[=4u\x1b[=3;2u", "\x1b[?7u"},
        {"set, mode 3 removes", "\x1b[=4u\x1b[=3;2u\x1b[=1;3u", "\x1b[?6u"},
        {"set, unknown mode changes nothing", "\x1b[=6u\x1b[=1;9u", "\x1b[?6u"},
        {"set without parameters clears", "\x1b[=6u\x1b[=u", "\x1b[?0u"},
        {"set keeps the low five bits", "\x1b[=33u", "\x1b[?1u"},
        {"8-bit introducer", "\x1b[>3u\x1b G", "\x9b?3u"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingDelegate delegate;
        auto terminal = makeTerminal(80, 25, &delegate);
        feed(*terminal, c.bytes);
        delegate.clear();
        feed(*terminal, "\x1b[?u");
        EXPECT_EQ(delegate.sent, c.reply);
        EXPECT_EQ(delegate.sends.size(), 1u);
    }
}

TEST(KittyKeysTest, StackKeepsTheNewestSixteenEntries)
{
    RecordingDelegate delegate;
    auto terminal = makeTerminal(80, 25, &delegate);
    // Flags 5 are pushed first and fall off when the seventeenth push arrives.
    feed(*terminal, "\x1b[=5u" + pushes(1, 17));
    EXPECT_EQ(terminal->keyboardModeNormal.stack.size(), 16u);
    EXPECT_EQ(terminal->keyboardModeNormal.stack.front(), 1);
    EXPECT_EQ(terminal->activeKeyboardFlags(), 17);
    feed(*terminal, "\x1b[<16u");
    EXPECT_EQ(terminal->activeKeyboardFlags(), 1);
    feed(*terminal, "\x1b[<u");
    EXPECT_EQ(terminal->activeKeyboardFlags(), 0);
}

TEST(KittyKeysTest, NormalAndAlternateScreensKeepTheirOwnFlags)
{
    RecordingDelegate delegate;
    auto terminal = makeTerminal(80, 25, &delegate);
    const auto query = [&] {
        delegate.clear();
        feed(*terminal, "\x1b[?u");
        return delegate.sent;
    };
    feed(*terminal, "\x1b[>1u");
    feed(*terminal, "\x1b[?1049h");
    EXPECT_EQ(query(), "\x1b[?0u");
    feed(*terminal, "\x1b[>3u\x1b[>5u");
    EXPECT_EQ(terminal->activeKeyboardFlags(), 5);
    feed(*terminal, "\x1b[?1049l");
    EXPECT_EQ(query(), "\x1b[?1u");
    feed(*terminal, "\x1b[<u");
    EXPECT_EQ(query(), "\x1b[?0u");
    feed(*terminal, "\x1b[?1049h");
    EXPECT_EQ(query(), "\x1b[?5u");
    feed(*terminal, "\x1b[<u");
    EXPECT_EQ(query(), "\x1b[?3u");
}

TEST(KittyKeysTest, ResetClearsBothScreens)
{
    auto terminal = makeTerminal();
    feed(*terminal, "\x1b[>1u\x1b[?1049h\x1b[>2u\x1b[?1049l\x1b" "c");
    EXPECT_EQ(terminal->keyboardModeNormal, KeyboardModeState{});
    EXPECT_EQ(terminal->keyboardModeAlt, KeyboardModeState{});
}

} // namespace
} // namespace corvantix

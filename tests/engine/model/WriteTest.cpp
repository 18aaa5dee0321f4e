// Writing cells straight into a buffer: what the printing tests cannot see through bytes
// (the scroll hook, the line's direction, the stamps on a placeholder, how often the link
// payload is asked for) and the narrow-run writer beside the single-character one.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/emulator/TerminalTestSupport.h"
#include "model/Buffer.h"

namespace corvantix {
namespace {

// Counts how often the buffer asks for the link payload.
struct CountingLinks final : LinkPayloadSource {
    int asked = 0;
    TinyAtom linkPayload() override { return ++asked, TinyAtom{7}; }
};

// A screen of its own with a scroll hook that records its calls.
class WriteFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen = std::make_unique<Buffer>(80, 5, 8, 100);
        screen->fillViewportRows();
        screen->wraparound = true;
        screen->scroll = [this](bool isWrapped) { scrollCalls.push_back(isWrapped); };
    }
    void put(char32_t scalar, int width = 1)
    {
        screen->insertCharacter(CharData(static_cast<int32_t>(scalar), static_cast<int8_t>(width), attribute), links);
    }
    int narrowRun(std::string_view text)
    {
        const auto* data = reinterpret_cast<const uint8_t*>(text.data());
        return screen->insertNarrowRun(std::span<const uint8_t>(data, text.size()), attribute, links);
    }
    CharData cell(int col, int row) { return screen->lines()[screen->yBase() + row]->getCell(col); }
    BufferLine& line(int row) { return *screen->lines()[screen->yBase() + row]; }
    void moveTo(int x, int y) { screen->setX(x), screen->setY(y); }
    CountingLinks links;
    std::unique_ptr<Buffer> screen;
    std::vector<bool> scrollCalls;
    Attribute attribute{Attribute::Color::ansi256(3), Attribute::Color::ansi256(4), CharacterStyle::bold,
                        UnderlineStyle::none, std::nullopt};
};

TEST_F(WriteFixture, WrapKeepsTheLineDirectionAndAtTheBottomAsksTheOwnerToScroll)
{
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    line(0).setBidiState(rtl);
    moveTo(80, 0);
    put('b');
    EXPECT_TRUE(line(1).isWrapped());
    EXPECT_EQ(line(1).bidiState(), rtl);
    EXPECT_TRUE(scrollCalls.empty());
    // Either writer: the owner scrolls, the cursor stays on the bottom row.
    screen->setScrollBottom(2);
    moveTo(80, 2);
    put('x');
    EXPECT_EQ(scrollCalls, std::vector<bool>{true});
    EXPECT_EQ(cell(0, 2).code, 'x');
    EXPECT_EQ(screen->y(), 2);
    screen->setScrollBottom(4);
    moveTo(80, 4);
    EXPECT_EQ(narrowRun("yz"), 2);
    EXPECT_EQ(scrollCalls, (std::vector<bool>{true, true}));
    EXPECT_EQ(cell(1, 4).code, 'z');
}

TEST_F(WriteFixture, MarginModeWrapsToTheLeftMargin)
{
    screen->marginMode = true;
    screen->setMarginLeft(10);
    screen->setMarginRight(39);
    moveTo(39, 0);
    put('a');
    put('b');
    EXPECT_EQ(cell(10, 1).code, 'b');
    EXPECT_EQ(screen->x(), 11);
    // A cursor right of the margin wraps on its first character.
    moveTo(50, 2);
    put('c');
    EXPECT_EQ(cell(50, 2).code, 0);
    EXPECT_EQ(cell(10, 3).code, 'c');
}

TEST_F(WriteFixture, PlaceholderCarriesThePayloadSemanticCodeAndAttribute)
{
    screen->semanticContent = SemanticContent::output();
    moveTo(78, 0);
    put(U'\u4E00', 2);
    EXPECT_EQ(cell(79, 0), CharData(0, 0, attribute, cell(78, 0).payload, cell(78, 0).semanticContentCode));
    EXPECT_EQ(screen->x(), 80);
    // Insert mode pushes it to the last column without room for its placeholder: blanked,
    // keeping its own attribute.
    screen->insertMode = true;
    moveTo(0, 0);
    put('X');
    EXPECT_TRUE(cell(79, 0).code == 0 && cell(79, 0).width == 1 && cell(79, 0).attribute == attribute);
}

TEST_F(WriteFixture, NarrowRunWrapsLikeSingleWritesAndStopsWhereItCannotWrite)
{
    moveTo(77, 0);
    EXPECT_EQ(narrowRun("abcdef"), 6);
    EXPECT_EQ(cell(79, 0).code, 'c');
    EXPECT_EQ(cell(0, 1).code, 'd');
    EXPECT_EQ(cell(2, 1).attribute, attribute);
    EXPECT_TRUE(line(1).isWrapped());
    EXPECT_TRUE(screen->x() == 3 && screen->y() == 1);
    screen->wraparound = false;
    moveTo(77, 2);
    EXPECT_EQ(narrowRun("abcdef"), 3);
    EXPECT_EQ(narrowRun("g"), 0);
    EXPECT_EQ(cell(79, 2).code, 'c');
    // Insert mode is the single-character path's.
    screen->insertMode = true;
    moveTo(0, 3);
    EXPECT_EQ(narrowRun("hi"), 0);
    EXPECT_EQ(cell(0, 3).code, 0);
}

TEST_F(WriteFixture, BothWritersStampTheSemanticContent)
{
    screen->semanticContent = SemanticContent::prompt(SemanticPromptKind::secondary);
    moveTo(0, 0);
    narrowRun("ab");
    put('c');
    screen->semanticContent = SemanticContent::input();
    narrowRun("d");
    const int prompt = SemanticContent::prompt(SemanticPromptKind::secondary).cellCode();
    EXPECT_EQ(std::vector<int>({cell(0, 0).semanticContentCode, cell(2, 0).semanticContentCode, cell(3, 0).semanticContentCode}),
              std::vector<int>({prompt, prompt, SemanticContent::input().cellCode()}));
}

TEST_F(WriteFixture, LinkPayloadIsAskedForOncePerRunAndOnlyWhenACellIsWritten)
{
    screen->insertMode = true;
    EXPECT_EQ(narrowRun("ab"), 0);
    EXPECT_EQ(links.asked, 0);
    screen->insertMode = false;
    moveTo(78, 0);
    EXPECT_EQ(narrowRun("abcd"), 4);
    EXPECT_EQ(links.asked, 1);
    put('e');
    EXPECT_EQ(links.asked, 2);
    EXPECT_EQ(cell(1, 1).payload, TinyAtom{7});
    EXPECT_EQ(cell(2, 1).payload, TinyAtom{7});
}

// Through the terminal: a link printed across a wrap is registered once, so both rows hold
// the same code.
TEST(WriteThroughTheTerminal, ALinkPrintedAcrossAWrapHoldsOneCode)
{
    auto terminal = makeTerminal(4, 3);
    feed(*terminal, "\x1b]8;id=1;https://example.org/\x1b\\abcdef\x1b]8;;\x1b\\g");
    const auto first = terminal->getCharData(0, 0);
    const auto wrapped = terminal->getCharData(1, 1);
    const auto after = terminal->getCharData(2, 1);
    ASSERT_TRUE(first && wrapped && after);
    EXPECT_NE(first->payload.code, 0);
    EXPECT_EQ(wrapped->payload, first->payload);
    EXPECT_EQ(after->payload.code, 0);
}

} // namespace
} // namespace corvantix

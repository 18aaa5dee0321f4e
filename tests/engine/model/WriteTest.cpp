// Writing cells into a buffer: wrapping, pending wrap, margins, insert mode, wide
// characters, and the narrow-run writer.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/CharSets.h"
#include "emulator/Terminal.h"
#include "model/Buffer.h"

namespace corvantix {
namespace {

// A screen of its own with a scroll hook that records its calls; the terminal only
// supplies the hyperlink state.
class WriteFixture : public ::testing::Test {
protected:
    void SetUp() override { makeScreen(80, 5); }

    void makeScreen(int cols, int rows)
    {
        screen = std::make_unique<Buffer>(cols, rows, 8, 100);
        screen->fillViewportRows();
        screen->wraparound = true;
        screen->scroll = [this](bool isWrapped) { scrollCalls.push_back(isWrapped); };
    }

    void put(char32_t scalar, int width = 1)
    {
        screen->insertCharacter(CharData(static_cast<int32_t>(scalar), static_cast<int8_t>(width), attribute), terminal);
    }

    const CharData& cell(int col, int row) { return screen->lines()[screen->yBase() + row]->getCell(col); }
    BufferLine& line(int row) { return *screen->lines()[screen->yBase() + row]; }
    void moveTo(int x, int y)
    {
        screen->setX(x);
        screen->setY(y);
    }
    int narrowRun(std::string_view text, const CharacterMap* map = nullptr)
    {
        const auto* data = reinterpret_cast<const uint8_t*>(text.data());
        return screen->insertNarrowRun(std::span<const uint8_t>(data, text.size()), attribute, terminal, map);
    }

    Terminal terminal{nullptr};
    std::unique_ptr<Buffer> screen;
    std::vector<bool> scrollCalls;
    Attribute attribute{Attribute::Color::ansi256(3), Attribute::Color::ansi256(4), CharacterStyle::bold,
                        UnderlineStyle::none, std::nullopt};
};

TEST_F(WriteFixture, NarrowCharacterAtLastColumnLeavesPendingWrapThenWraps)
{
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    line(0).setBidiState(rtl);
    moveTo(79, 0);
    put('a');
    EXPECT_EQ(cell(79, 0).code, 'a');
    EXPECT_EQ(screen->x(), 80);
    EXPECT_EQ(screen->y(), 0);

    put('b');
    EXPECT_EQ(cell(0, 1).code, 'b');
    EXPECT_EQ(screen->x(), 1);
    EXPECT_EQ(screen->y(), 1);
    EXPECT_TRUE(line(1).isWrapped());
    EXPECT_EQ(line(1).bidiState(), rtl);
    EXPECT_TRUE(scrollCalls.empty());
}

TEST_F(WriteFixture, WideCharacterThatDoesNotFitWrapsFirst)
{
    moveTo(79, 0);
    put('z');
    moveTo(79, 0);
    put(U'\u4E00', 2);
    EXPECT_EQ(cell(79, 0).code, 'z');
    EXPECT_EQ(cell(0, 1).code, 0x4E00);
    EXPECT_EQ(cell(0, 1).width, 2);
    EXPECT_EQ(cell(1, 1).width, 0);
    EXPECT_EQ(cell(1, 1).code, 0);
    EXPECT_TRUE(line(1).isWrapped());
    EXPECT_EQ(screen->x(), 2);
}

TEST_F(WriteFixture, WithoutWraparoundNarrowOverwritesLastColumnAndWideIsDropped)
{
    screen->wraparound = false;
    moveTo(79, 0);
    put('a');
    put('b');
    EXPECT_EQ(cell(79, 0).code, 'b');
    EXPECT_EQ(screen->x(), 80);
    EXPECT_EQ(screen->y(), 0);

    put(U'\u4E00', 2);
    EXPECT_EQ(cell(79, 0).code, 'b');
    EXPECT_EQ(cell(78, 0).code, 0);
    EXPECT_EQ(screen->x(), 80);
    EXPECT_FALSE(line(1).isWrapped());
}

TEST_F(WriteFixture, MarginModeWrapsToTheLeftMargin)
{
    screen->marginMode = true;
    screen->setMarginLeft(10);
    screen->setMarginRight(39);
    moveTo(39, 0);
    put('a');
    EXPECT_EQ(screen->x(), 40);
    put('b');
    EXPECT_EQ(cell(10, 1).code, 'b');
    EXPECT_EQ(screen->x(), 11);
    EXPECT_EQ(screen->y(), 1);

    // A cursor right of the margin wraps on its first character.
    moveTo(50, 2);
    put('c');
    EXPECT_EQ(cell(50, 2).code, 0);
    EXPECT_EQ(cell(10, 3).code, 'c');
    EXPECT_EQ(screen->y(), 3);
}

TEST_F(WriteFixture, WrapOnBottomOfRegionAsksTheOwnerToScroll)
{
    screen->setScrollBottom(2);
    moveTo(80, 2);
    put('x');
    EXPECT_EQ(scrollCalls, std::vector<bool>{true});
    EXPECT_EQ(screen->y(), 2);
    EXPECT_EQ(cell(0, 2).code, 'x');
    EXPECT_EQ(screen->x(), 1);

    screen->setScrollBottom(4);
    scrollCalls.clear();
    moveTo(80, 4);
    EXPECT_EQ(narrowRun("yz"), 2);
    EXPECT_EQ(scrollCalls, std::vector<bool>{true});
    EXPECT_EQ(cell(0, 4).code, 'y');
    EXPECT_EQ(cell(1, 4).code, 'z');
}

TEST_F(WriteFixture, WideCharacterGetsPlaceholderWithItsPayloadAndSemanticCode)
{
    screen->semanticContent = SemanticContent::output();
    moveTo(78, 0);
    put(U'\u4E00', 2);
    EXPECT_EQ(cell(78, 0).width, 2);
    EXPECT_EQ(cell(78, 0).semanticContentCode, 6);
    EXPECT_EQ(cell(79, 0).width, 0);
    EXPECT_EQ(cell(79, 0).code, 0);
    EXPECT_EQ(cell(79, 0).semanticContentCode, 6);
    EXPECT_EQ(cell(79, 0).payload, cell(78, 0).payload);
    EXPECT_EQ(cell(79, 0).attribute, attribute);
    EXPECT_EQ(screen->x(), 80);
}

TEST_F(WriteFixture, InsertModeShiftsCellsAndBlanksAWideCharacterCutAtTheEdge)
{
    moveTo(0, 0);
    put('a');
    put('b');
    moveTo(78, 0);
    put(U'\u4E00', 2);
    screen->insertMode = true;
    moveTo(0, 0);
    put('X');
    EXPECT_EQ(cell(0, 0).code, 'X');
    EXPECT_EQ(cell(1, 0).code, 'a');
    EXPECT_EQ(cell(2, 0).code, 'b');
    // The wide character moved to 79 without room for its placeholder: blanked, keeping
    // its own attribute.
    EXPECT_EQ(cell(79, 0).code, 0);
    EXPECT_EQ(cell(79, 0).width, 1);
    EXPECT_EQ(cell(79, 0).attribute, attribute);
    EXPECT_EQ(screen->x(), 1);
}

TEST_F(WriteFixture, NarrowRunWritesRowsAndWrapsLikeSingleWrites)
{
    moveTo(77, 0);
    EXPECT_EQ(narrowRun("abcdef"), 6);
    EXPECT_EQ(cell(77, 0).code, 'a');
    EXPECT_EQ(cell(79, 0).code, 'c');
    EXPECT_EQ(cell(0, 1).code, 'd');
    EXPECT_EQ(cell(2, 1).code, 'f');
    EXPECT_EQ(cell(2, 1).attribute, attribute);
    EXPECT_TRUE(line(1).isWrapped());
    EXPECT_EQ(screen->x(), 3);
    EXPECT_EQ(screen->y(), 1);
}

TEST_F(WriteFixture, NarrowRunStopsWhereItCannotWrite)
{
    screen->wraparound = false;
    moveTo(77, 0);
    EXPECT_EQ(narrowRun("abcdef"), 3);
    EXPECT_EQ(screen->x(), 80);
    EXPECT_EQ(narrowRun("g"), 0);
    EXPECT_EQ(cell(79, 0).code, 'c');

    screen->wraparound = true;
    screen->insertMode = true;
    moveTo(0, 2);
    EXPECT_EQ(narrowRun("hi"), 0);
    EXPECT_EQ(cell(0, 2).code, 0);
    EXPECT_EQ(screen->x(), 0);
}

TEST_F(WriteFixture, NarrowRunMapsThroughACharacterSet)
{
    moveTo(0, 0);
    EXPECT_EQ(narrowRun("lqkA", &CharSets::decSpecialGraphics), 4);
    EXPECT_EQ(cell(0, 0).code, 0x250C);
    EXPECT_EQ(cell(1, 0).code, 0x2500);
    EXPECT_EQ(cell(2, 0).code, 0x2510);
    EXPECT_EQ(cell(3, 0).code, 'A');
}

TEST_F(WriteFixture, BothWritersStampTheSemanticContent)
{
    screen->semanticContent = SemanticContent::prompt(SemanticPromptKind::secondary);
    moveTo(0, 0);
    narrowRun("ab");
    put('c');
    screen->semanticContent = SemanticContent::input();
    narrowRun("d");
    EXPECT_EQ(cell(0, 0).semanticContentCode, 4);
    EXPECT_EQ(cell(2, 0).semanticContentCode, 4);
    EXPECT_EQ(cell(3, 0).semanticContentCode, 5);
}

TEST_F(WriteFixture, PendingHyperlinkIsRegisteredOnceForARun)
{
    terminal.feed("\x1b]8;id=1;https://example.org/\x07");
    ASSERT_EQ(terminal.activeHyperlink, ActiveHyperlink::pending("id=1;https://example.org/"));
    moveTo(78, 0);
    narrowRun("abcd");
    const TinyAtom payload = cell(78, 0).payload;
    EXPECT_NE(payload.code, 0);
    EXPECT_EQ(cell(79, 0).payload, payload);
    EXPECT_EQ(cell(0, 1).payload, payload);
    EXPECT_EQ(cell(1, 1).payload, payload);
    put('e');
    EXPECT_EQ(cell(2, 1).payload, payload);
    EXPECT_EQ(terminal.payloadCodes.size(), 1u);
}

// Counts how often the buffer asks for the link payload.
struct CountingLinks final : LinkPayloadSource {
    int asked = 0;
    TinyAtom linkPayload() override
    {
        ++asked;
        return TinyAtom{7};
    }
};

TEST_F(WriteFixture, LinkPayloadIsAskedForOnlyWhenACellIsWritten)
{
    CountingLinks links;
    const auto bytes = [](std::string_view text) {
        return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    // A narrow run in insert mode writes nothing (the single-character path does).
    screen->insertMode = true;
    EXPECT_EQ(screen->insertNarrowRun(bytes("ab"), attribute, links), 0);
    EXPECT_EQ(links.asked, 0);
    // A run across rows asks once; each character asks once.
    screen->insertMode = false;
    moveTo(78, 0);
    EXPECT_EQ(screen->insertNarrowRun(bytes("abcd"), attribute, links), 4);
    EXPECT_EQ(links.asked, 1);
    screen->insertCharacter(CharData('e', 1, attribute), links);
    EXPECT_EQ(links.asked, 2);
    EXPECT_EQ(cell(1, 1).payload, TinyAtom{7});
    EXPECT_EQ(cell(2, 1).payload, TinyAtom{7});
}

} // namespace
} // namespace corvantix

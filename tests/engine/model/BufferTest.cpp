#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/model/ModelTestSupport.h"
#include "model/Buffer.h"

namespace corvantix {
namespace {

using Color = Attribute::Color;

// Pushes n blank lines under the screen and moves the screen down over them, as scrolling does.
void scrollIntoHistory(Buffer& buffer, int n)
{
    for (int i = 0; i < n; ++i) {
        buffer.lines().push(buffer.getBlankLine(Attribute{}));
        buffer.setYBase(buffer.yBase() + 1);
        buffer.setYDisp(buffer.yDisp() + 1);
    }
}

TEST(Buffer, CapacityIsHistoryPlusRows)
{
    // A zero history is still history (the buffer reflows); a negative one counts as none.
    Buffer normal(80, 25, 8, 500), alternate(80, 25, 8, std::nullopt), zero(80, 25, 8, 0), negative(80, 25, 8, -100);
    EXPECT_EQ(std::vector<int>({normal.lines().maxLength(), alternate.lines().maxLength(), zero.lines().maxLength(),
                                negative.lines().maxLength()}),
              std::vector<int>({525, 25, 25, 25}));
    EXPECT_TRUE(zero.hasScrollback && !alternate.hasScrollback);
}

TEST(Buffer, GuardedPropertiesIgnoreNegativeWrites)
{
    Buffer buffer(80, 25, 8, 500);
    for (const int value : {5, -1}) {
        buffer.setX(value);
        buffer.setY(value);
        buffer.setScrollTop(value);
        buffer.setScrollBottom(value);
    }
    EXPECT_EQ(std::vector<int>({buffer.x(), buffer.y(), buffer.scrollTop(), buffer.scrollBottom()}), std::vector<int>(4, 5));
}

TEST(Buffer, GetCharOutsideALineAnswersTheDefaultCell)
{
    Buffer buffer(10, 3, 8, 10);
    buffer.fillViewportRows();
    const CharData a('a', 1, Attribute{});
    buffer.lines()[1]->setCell(9, a);
    buffer.lines()[1]->setCell(0, a);
    EXPECT_EQ(buffer.getChar(9, 1), a);
    // Past the end (not the last cell), before the start, below and above the lines.
    for (const auto& [col, row] : {std::pair{10, 1}, {-1, 1}, {0, 3}, {0, -1}})
        EXPECT_EQ(buffer.getChar(col, row), CharData::defaultCell()) << col << "," << row;
    EXPECT_EQ(buffer.lines().count(), 3) << "reading never adds lines";
    EXPECT_EQ(buffer.lines()[1]->dataSize(), 10) << "nor extends them";
    scrollIntoHistory(buffer, 1);
    EXPECT_EQ(buffer.getCharInViewport(0, 0), a);
}

TEST(Buffer, LinesKnowTheirBufferAndTheBlankAttribute)
{
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    auto buffer = std::make_shared<Buffer>(12, 3, 8, 10, rtl);
    Attribute blue;
    blue.bg = Color::ansi256(4);
    buffer->fillViewportRows(blue);
    buffer->fillViewportRows(); // only on an empty ring
    ASSERT_EQ(buffer->lines().count(), 3);
    const auto line = buffer->lines()[2];
    EXPECT_EQ(line->dataSize(), 12);
    EXPECT_EQ(line->getCell(5), CharData(0, 1, blue));
    EXPECT_EQ(line->bidiState(), rtl);
    EXPECT_EQ(line->owningBuffer(), buffer.get());
    // An empty slot is made in the default cell's attribute.
    buffer->lines().setCount(4);
    EXPECT_EQ(buffer->lines()[3]->getCell(0), CharData::defaultCell());
    // A line that outlives its buffer no longer points at it.
    buffer.reset();
    EXPECT_EQ(line->owningBuffer(), nullptr);
}

TEST(Buffer, CountsLinesWithImages)
{
    Buffer buffer(10, 2, 8, std::nullopt);
    auto withImage = buffer.getBlankLine(Attribute{});
    withImage->setImages(BufferLine::Images{std::make_shared<FakeImage>()});
    buffer.lines().push(withImage);
    buffer.lines().push(buffer.getBlankLine(Attribute{}));
    EXPECT_TRUE(buffer.hasLinesWithImages());
    buffer.removeLineImages(0);
    buffer.removeLineImages(0);
    EXPECT_FALSE(withImage->images().has_value());
    EXPECT_EQ(buffer.linesWithImagesCount(), 0) << "never below zero";
    buffer.lines()[1]->setImages(BufferLine::Images{});
    buffer.recountLinesWithImages();
    EXPECT_EQ(buffer.linesWithImagesCount(), 1);
    // Recycling the line with images counts it down.
    buffer.lines().push(buffer.getBlankLine(Attribute{}));
    buffer.lines().recycle(Attribute{});
    EXPECT_EQ(buffer.linesWithImagesCount(), 0);
}

TEST(Buffer, ClearEmptiesTheScreenAndKeepsSavedStateAndTabs)
{
    Buffer buffer(20, 5, 8, 10);
    buffer.fillViewportRows();
    scrollIntoHistory(buffer, 3);
    buffer.setX(4);
    buffer.setY(2);
    buffer.linesTop = 7;
    buffer.setScrollTop(1);
    buffer.setScrollBottom(3);
    buffer.setMarginLeft(2);
    buffer.savedX = 3;
    buffer.savedY = 2;
    buffer.tabStops[3] = true;
    buffer.insertMode = true;
    buffer.semanticInput = SemanticInputState::armed;
    buffer.semanticGroupCounter = 4;
    buffer.activeSemanticGroupID = 4;
    buffer.semanticPromptStartLine = buffer.lines()[2];
    buffer.semanticPromptStartRowCache = 2;
    buffer.clear();
    EXPECT_EQ(layoutOf(buffer), "lines 0/15 base 0 disp 0 y 0 saved 2");
    EXPECT_EQ(buffer.x() + buffer.linesTop, 0);
    EXPECT_EQ(std::vector<int>({buffer.scrollTop(), buffer.scrollBottom(), buffer.marginLeft(), buffer.marginRight()}),
              std::vector<int>({0, 4, 0, 19}));
    EXPECT_EQ(buffer.semanticInput, SemanticInputState::idle);
    EXPECT_EQ(buffer.activeSemanticGroupID, 0u);
    EXPECT_EQ(buffer.semanticPromptStartLine, nullptr);
    // Left as they were.
    EXPECT_TRUE(buffer.savedX == 3 && buffer.tabStops[3] && buffer.insertMode);
    // The fresh ring is wired to this buffer.
    buffer.fillViewportRows();
    EXPECT_EQ(buffer.lines()[0]->owningBuffer(), &buffer);
}

TEST(Buffer, ClearScrollbackForgetsHistoryAndKeepsTheSavedRow)
{
    Buffer buffer(20, 5, 8, 100);
    buffer.fillViewportRows();
    scrollIntoHistory(buffer, 10);
    const auto firstScreenLine = buffer.lines()[10];
    buffer.savedY = 4;
    // savedY is a screen row: forgetting history moves no row of the screen.
    buffer.clearScrollback();
    EXPECT_EQ(layoutOf(buffer), "lines 5/105 base 0 disp 0 y 0 saved 4");
    EXPECT_EQ(buffer.lines()[0], firstScreenLine);
    buffer.clearScrollback(); // nothing above the screen: nothing happens
    EXPECT_EQ(layoutOf(buffer), "lines 5/105 base 0 disp 0 y 0 saved 4");
}

TEST(Buffer, ChangeHistorySize)
{
    Buffer buffer(20, 5, 8, 10);
    buffer.fillViewportRows();
    scrollIntoHistory(buffer, 8);
    buffer.savedY = 3;
    const auto firstScreenLine = buffer.lines()[8];
    buffer.changeHistorySize(20);
    EXPECT_EQ(layoutOf(buffer), "lines 13/25 base 8 disp 8 y 0 saved 3");
    EXPECT_EQ(buffer.lines()[8], firstScreenLine);
    buffer.changeHistorySize(4); // 13 lines, room for 9: the 4 oldest go
    EXPECT_EQ(layoutOf(buffer), "lines 9/9 base 4 disp 4 y 0 saved 3");
    EXPECT_EQ(buffer.lines()[4], firstScreenLine);
    buffer.changeHistorySize(std::nullopt);
    EXPECT_FALSE(buffer.hasScrollback);
    EXPECT_EQ(layoutOf(buffer), "lines 5/5 base 0 disp 0 y 0 saved 3");
    EXPECT_EQ(buffer.lines()[0], firstScreenLine);
}

TEST(Buffer, PromptStartMarkPrefersTheInitialMark)
{
    Buffer buffer(20, 5, 8, 10);
    EXPECT_FALSE(buffer.promptStartMarkKind().has_value());
    buffer.fillViewportRows();
    const auto line = buffer.lines()[1];
    buffer.semanticPromptStartLine = line;
    EXPECT_FALSE(buffer.promptStartMarkKind().has_value());
    line->setSemanticMark(SemanticPromptKind::secondary, 2, 1);
    EXPECT_EQ(buffer.promptStartMarkKind()->kind, SemanticPromptKind::secondary);
    line->setSemanticMark(SemanticPromptKind::initial, 5, 1);
    const auto mark = buffer.promptStartMarkKind();
    ASSERT_TRUE(mark.has_value());
    EXPECT_TRUE(mark->line == line && mark->kind == SemanticPromptKind::initial && mark->column == 5);
}

} // namespace
} // namespace corvantix

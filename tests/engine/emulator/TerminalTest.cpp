#include "emulator/Terminal.h"

#include "emulator/SelectionService.h"
#include "model/TinyAtom.h"
#include "RecordingDelegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace corvantix {
namespace {

using test::RecordingDelegate;

TerminalOptions sized(int cols, int rows)
{
    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    return options;
}

CharData letter(char32_t scalar)
{
    return CharData(static_cast<std::int32_t>(scalar), 1, Attribute::defaultAttribute());
}

TEST(TerminalInstance, ConstructionValues)
{
    RecordingDelegate host;
    Terminal terminal(&host, sized(40, 10));

    EXPECT_EQ(terminal.getDims(), std::make_pair(40, 10));
    EXPECT_EQ(terminal.buffer, terminal.normalBuffer.get());
    EXPECT_FALSE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(terminal.normalBuffer->lines().count(), 10);
    EXPECT_EQ(terminal.normalBuffer->cols(), 40);
    EXPECT_EQ(terminal.altBuffer->lines().count(), 0) << "the alternate screen is filled when first shown";
    EXPECT_EQ(terminal.altBuffer->rows(), 10);
    EXPECT_EQ(terminal.getCursorLocation(), std::make_pair(0, 0));
    EXPECT_EQ(terminal.buffer->scrollBottom(), 9);
    EXPECT_EQ(terminal.buffer->marginRight(), 39);

    // Modes after set-up, mirrored where the buffers keep copies.
    EXPECT_TRUE(terminal.wraparound());
    EXPECT_TRUE(terminal.normalBuffer->wraparound);
    EXPECT_TRUE(terminal.altBuffer->wraparound);
    EXPECT_FALSE(terminal.insertMode() || terminal.normalBuffer->insertMode || terminal.altBuffer->insertMode);
    EXPECT_TRUE(terminal.alternateScrollMode);
    EXPECT_TRUE(terminal.reportedFocusState);
    EXPECT_TRUE(terminal.silentLog);
    EXPECT_FALSE(terminal.cc.send8bit);
    EXPECT_EQ(terminal.mouseMode(), MouseMode::off);
    EXPECT_EQ(host.count("mouseModeChanged"), 1) << "set-up announces the mouse mode";
    EXPECT_EQ(terminal.conformance, TerminalConformance::vt500);
    EXPECT_EQ(terminal.lastCharIndex, 0x400001);
    EXPECT_EQ(terminal.charset, nullptr);

    // Colours and palette.
    EXPECT_EQ(terminal.foregroundColor(), Color(35389, 35389, 35389));
    EXPECT_EQ(terminal.backgroundColor(), Color(0, 0, 0));
    EXPECT_FALSE(terminal.cursorColor().has_value());
    ASSERT_EQ(terminal.ansiColors.size(), 256u);
    EXPECT_EQ(terminal.ansiColors, terminal.defaultAnsiColors);
    EXPECT_EQ(terminal.installedColors, Color::defaultInstalledColors());

    // The graphics store is fresh, nothing is dirty, tab stops every 8 columns.
    EXPECT_EQ(terminal.kittyGraphicsState.nextImageId, 1u);
    EXPECT_EQ(terminal.kittyGraphicsState.nextPlacementId, 1u);
    EXPECT_EQ(terminal.kittyGraphicsState.nextImageAccessTick, 1u);
    EXPECT_FALSE(terminal.getUpdateRange().has_value());
    EXPECT_FALSE(terminal.getScrollInvariantUpdateRange().has_value());
    EXPECT_TRUE(terminal.buffer->tabStops[0]);
    EXPECT_TRUE(terminal.buffer->tabStops[8]);
    EXPECT_FALSE(terminal.buffer->tabStops[7]);
}

TEST(TerminalInstance, OptionSizesBelowTheMinimumAndAboveTheMaximumAreClampedButKept)
{
    Terminal narrow(nullptr, sized(1, 0));
    EXPECT_EQ(narrow.getDims(), std::make_pair(2, 1));
    EXPECT_EQ(narrow.options.cols, 1) << "the options keep what the host gave until a resize or RIS";
    EXPECT_EQ(narrow.options.rows, 0);

    Terminal tall(nullptr, sized(3, 2'000'000));
    EXPECT_EQ(tall.rows, Terminal::maximumDimension);
    EXPECT_EQ(tall.normalBuffer->rows(), Terminal::maximumDimension);
}

TEST(TerminalInstance, ResizeClampsAndKeepsTheOptionsInStep)
{
    Terminal terminal(nullptr, sized(20, 5));
    terminal.resize(1, 0);
    EXPECT_EQ(terminal.getDims(), std::make_pair(2, 1));
    EXPECT_EQ(terminal.options.cols, 2);
    EXPECT_EQ(terminal.options.rows, 1);
    EXPECT_EQ(terminal.normalBuffer->cols(), 2);
    EXPECT_EQ(terminal.altBuffer->rows(), 1);

    terminal.resize(1'000'000, 3);
    EXPECT_EQ(terminal.getDims(), std::make_pair(Terminal::maximumDimension, 3));
    EXPECT_EQ(terminal.normalBuffer->cols(), Terminal::maximumDimension);
    terminal.resize(4, -7);
    EXPECT_EQ(terminal.getDims(), std::make_pair(4, 1));
}

TEST(TerminalInstance, ResizeToTheSameSizeChangesNothing)
{
    RecordingDelegate host;
    Terminal terminal(&host, sized(20, 5));
    terminal.feed("\x1b[?2026h");
    terminal.clearUpdateRange();
    host.clear();

    terminal.resize(20, 5);
    EXPECT_TRUE(terminal.synchronizedOutputActive);
    EXPECT_FALSE(terminal.getUpdateRange().has_value());
    EXPECT_TRUE(host.events.empty());

    // A real change ends synchronized output and marks the first and last rows.
    terminal.resize(30, 8);
    EXPECT_FALSE(terminal.synchronizedOutputActive);
    EXPECT_EQ(host.count("synchronizedOutputChanged(false)"), 1);
    ASSERT_TRUE(terminal.getUpdateRange().has_value());
    EXPECT_EQ(*terminal.getUpdateRange(), (UpdateRange{0, 7}));
}

TEST(TerminalInstance, ResizeWidensTabStopsFromTheOldPatternAndKeepsTheSavedCursorWithTheCursor)
{
    Terminal terminal(nullptr, sized(20, 5));
    terminal.normalBuffer->setY(3);
    terminal.normalBuffer->savedY = 1;
    terminal.resize(30, 5);
    EXPECT_TRUE(terminal.normalBuffer->tabStops[24]);
    EXPECT_TRUE(terminal.altBuffer->tabStops[24]);
    EXPECT_EQ(terminal.normalBuffer->savedY - terminal.normalBuffer->y(), -2);
}

TEST(TerminalInstance, FullResetKeepsTitlesPaletteAndVisibilityAndHomesTheCursor)
{
    RecordingDelegate host;
    Terminal terminal(&host, sized(20, 6));
    terminal.feed("\x1b]2;older\x07\x1b[22;2t\x1b]2;title\x07\x1b]1;icon\x07");
    terminal.feed("\x1b]4;1;rgb:0001/0002/0003\x07");
    ASSERT_EQ(terminal.ansiColors[1], Color(1, 2, 3));
    terminal.feed("\x1b[?25l\x1b[?1004h\x1b[?1006h\x1b[?1003h\x1b G\x1b[?6h\x1b[1m");
    terminal.normalBuffer->setX(7);
    terminal.normalBuffer->setY(4);
    const Buffer* oldNormal = terminal.normalBuffer.get();
    host.clear();

    terminal.cmdReset();

    EXPECT_EQ(terminal.terminalTitle, "title");
    EXPECT_EQ(terminal.iconTitle, "icon");
    EXPECT_EQ(terminal.terminalTitleStack, std::vector<std::string>{"older"});
    EXPECT_EQ(terminal.ansiColors[1], Color(1, 2, 3));
    EXPECT_TRUE(terminal.cursorHidden);
    EXPECT_TRUE(terminal.sendFocus);
    EXPECT_EQ(terminal.mouseProtocol, MouseProtocolEncoding::sgr);
    EXPECT_EQ(terminal.mouseMode(), MouseMode::off);
    EXPECT_FALSE(terminal.cc.send8bit);
    EXPECT_FALSE(terminal.originMode);
    EXPECT_EQ(terminal.curAttr, Attribute::defaultAttribute());

    EXPECT_NE(terminal.normalBuffer.get(), oldNormal) << "the normal screen is made anew";
    EXPECT_EQ(terminal.buffer, terminal.normalBuffer.get());
    EXPECT_EQ(terminal.getCursorLocation(), std::make_pair(0, 0));
    EXPECT_EQ(terminal.options.cols, 20);
    EXPECT_EQ(terminal.options.rows, 6);
    EXPECT_EQ(host.count("bufferActivated"), 1);
    ASSERT_TRUE(terminal.getUpdateRange().has_value());
    EXPECT_EQ(*terminal.getUpdateRange(), (UpdateRange{0, 6}));
}

TEST(TerminalInstance, FullResetOnTheAlternateScreenReturnsToAFreshNormalScreen)
{
    Terminal terminal(nullptr, sized(20, 6));
    terminal.normalBuffer->lines()[0]->setCell(0, letter('N'));
    terminal.activateAltBuffer(std::nullopt);
    terminal.altBuffer->lines()[2]->setCell(3, letter('A'));
    terminal.altBuffer->setX(9);
    terminal.altBuffer->setY(5);

    terminal.cmdReset();

    EXPECT_FALSE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(terminal.normalBuffer->lines().count(), 6);
    EXPECT_EQ(terminal.normalBuffer->lines()[0]->getCell(0).code, 0) << "fresh and empty";
    EXPECT_EQ(terminal.altBuffer->lines()[2]->getCell(3).code, 'A') << "the alternate content stays";
    EXPECT_EQ(terminal.getCursorLocation(), std::make_pair(0, 0))
        << "a full reset homes the cursor instead of taking the alternate screen's";
}

TEST(TerminalInstance, ScreenSwitchHandsTheCursorOverAndFillsTheAlternateScreenOnce)
{
    Terminal terminal(nullptr, sized(10, 4));
    terminal.normalBuffer->setX(3);
    terminal.normalBuffer->setY(2);
    Attribute red;
    red.bg = Attribute::Color::ansi256(1);

    terminal.activateAltBuffer(red);
    EXPECT_TRUE(terminal.isCurrentBufferAlternate());
    EXPECT_EQ(terminal.getCursorLocation(), std::make_pair(3, 2));
    ASSERT_EQ(terminal.altBuffer->lines().count(), 4);
    EXPECT_EQ(terminal.altBuffer->lines()[0]->getCell(0).attribute.bg, Attribute::Color::ansi256(1));

    terminal.altBuffer->setX(5);
    terminal.activateNormalBuffer(false);
    EXPECT_EQ(terminal.getCursorLocation(), std::make_pair(5, 2));
    EXPECT_EQ(terminal.altBuffer->lines().count(), 4) << "kept without clearAlt";

    terminal.activateAltBuffer(std::nullopt);
    terminal.activateNormalBuffer(true);
    EXPECT_EQ(terminal.altBuffer->lines().count(), 0) << "cleared with clearAlt";
}

class DelegateStoringForegroundBack : public RecordingDelegate {
public:
    void setForegroundColor(Terminal& source, const Color& color) override
    {
        events.push_back("setForegroundColor");
        source.setForegroundColor(color);
    }
};

TEST(TerminalInstance, ColourObserversCallTheDelegateOnceAndRebuildThePalette)
{
    DelegateStoringForegroundBack storing;
    Terminal terminal(&storing);
    storing.clear();
    terminal.setForegroundColor(Color(1, 2, 3));
    EXPECT_EQ(storing.count("setForegroundColor"), 1);
    EXPECT_EQ(storing.count("colorChanged(nil)"), 1);
    EXPECT_EQ(terminal.foregroundColor(), Color(1, 2, 3));

    RecordingDelegate host;
    TerminalOptions xterm;
    xterm.ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm;
    Terminal plain(&host, xterm);
    const std::vector<Color> palette = plain.ansiColors;
    host.clear();
    plain.setBackgroundColor(Color(9, 9, 9));
    EXPECT_EQ(host.events, std::vector<std::string>{"setBackgroundColor(rgb:0009/0009/0009)"})
        << "the xterm palette does not depend on the default colours";
    EXPECT_EQ(plain.ansiColors, palette);

    host.clear();
    plain.setCursorColor(Color(4, 5, 6));
    plain.setCursorColor(std::nullopt);
    EXPECT_EQ(host.events, (std::vector<std::string>{"setCursorColor(rgb:0004/0005/0006)", "setCursorColor(nil)"}));
    EXPECT_FALSE(plain.cursorColor().has_value());
}

TEST(TerminalInstance, PaletteStrategyAndBaseColours)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    terminal.ansiColors[20] = Color(7, 7, 7);
    host.clear();

    terminal.setAnsi256PaletteStrategy(terminal.ansi256PaletteStrategy());
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(terminal.ansiColors[20], Color(7, 7, 7)) << "the same strategy rebuilds nothing";

    terminal.setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(host.events, std::vector<std::string>{"colorChanged(nil)"});
    EXPECT_EQ(terminal.ansiColors, Color::makeXterm256Palette(Color::defaultInstalledColors()));

    host.clear();
    std::vector<Color> base(16, Color(100, 100, 100));
    terminal.installColors(std::span<const Color>(base).first(15));
    EXPECT_EQ(terminal.installedColors, Color::defaultInstalledColors()) << "not exactly 16: ignored";
    terminal.installColors(base);
    EXPECT_EQ(terminal.installedColors, base);
    EXPECT_EQ(terminal.ansiColors[3], Color(100, 100, 100));
    EXPECT_TRUE(host.events.empty()) << "installing base colours rebuilds without notifying";
}

TEST(TerminalInstance, SelectionsAreRegisteredOnceAndForgottenWhenReleased)
{
    Terminal terminal(nullptr);
    auto first = std::make_shared<SelectionService>(&terminal);
    auto second = std::make_shared<SelectionService>(&terminal);
    terminal.registerSelection(first);
    terminal.registerSelection(first);
    terminal.registerSelection(second);
    EXPECT_EQ(terminal.selections.size(), 2u);

    first.reset();
    EXPECT_EQ(terminal.selections.size(), 2u) << "kept until the next registration";
    terminal.registerSelection(second);
    ASSERT_EQ(terminal.selections.size(), 1u);
    EXPECT_EQ(terminal.selections[0].value.lock(), second);
}

std::shared_ptr<SelectionService> activeSelection(Terminal& terminal, Position start, Position end)
{
    auto selection = std::make_shared<SelectionService>(&terminal);
    selection->_active = true;
    selection->hasSelectionRange = true;
    selection->start = start;
    selection->end = end;
    selection->wordSelectionAnchor = SelectionService::WordRange{start, end};
    terminal.registerSelection(selection);
    return selection;
}

TEST(TerminalInstance, LineShiftsMoveSelectionsWithinTheRangeAndClearTheOthers)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    auto inside = activeSelection(terminal, {2, 5}, {4, 6});
    auto straddling = activeSelection(terminal, {0, 9}, {3, 11});
    auto outside = activeSelection(terminal, {0, 20}, {1, 20});
    auto leaving = activeSelection(terminal, {0, 3}, {1, 3});
    host.clear();

    terminal.adjustSelectionsForLineShift(3, 10, 1);

    EXPECT_EQ(inside->start, (Position{2, 4}));
    EXPECT_EQ(inside->end, (Position{4, 5}));
    EXPECT_TRUE(inside->_active);
    EXPECT_FALSE(straddling->_active);
    EXPECT_FALSE(straddling->hasSelectionRange);
    EXPECT_EQ(straddling->start, (Position{}));
    EXPECT_FALSE(straddling->wordSelectionAnchor.has_value());
    EXPECT_TRUE(outside->_active);
    EXPECT_EQ(outside->start, (Position{0, 20}));
    EXPECT_FALSE(leaving->_active) << "row 3 would move above the range";
    EXPECT_EQ(host.count("selectionChanged"), 3);

    host.clear();
    terminal.adjustSelectionsForLineShift(0, 30, 0);
    EXPECT_TRUE(host.events.empty());
}

TEST(TerminalInstance, ClearingARectangleClearsOnlyOverlappingSelections)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    auto sameRowOverlap = activeSelection(terminal, {8, 2}, {4, 2}); // given backwards
    auto sameRowBeside = activeSelection(terminal, {12, 2}, {15, 2});
    auto multiRow = activeSelection(terminal, {30, 1}, {31, 3});
    auto below = activeSelection(terminal, {0, 9}, {5, 9});
    host.clear();

    terminal.clearSelectionsInRange(2, 5, 0, 10);

    EXPECT_FALSE(sameRowOverlap->_active);
    EXPECT_TRUE(sameRowBeside->_active);
    EXPECT_FALSE(multiRow->_active) << "a selection spanning rows overlaps whatever its columns";
    EXPECT_TRUE(below->_active);
    EXPECT_EQ(host.count("selectionChanged"), 2);
}

TEST(TerminalInstance, PruningReleasesOnlyCodesNoCellOrOpenLinkUses)
{
    Terminal terminal(nullptr);
    // On the alternate screen: a link kept on a cell, one whose cell is erased, and one
    // still open whose cell is erased too.
    terminal.feed("\x1b[?1049h\x1b[2;5H\x1b]8;;http://a\x07x\x1b]8;;\x07");
    terminal.feed("\x1b]8;;http://c\x07z\x1b]8;;\x07\x1b[2;6H\x1b[X");
    terminal.feed("\x1b[2;7H\x1b]8;;http://b\x07y\x1b[2;7H\x1b[X");
    const auto codeOf = [&](std::string_view text) {
        for (const std::uint16_t code : terminal.payloadCodes) {
            if (TinyAtom::lookup(code) == std::optional<std::string>(text)) {
                TinyAtom atom;
                atom.code = code;
                return std::optional<TinyAtom>(atom);
            }
        }
        return std::optional<TinyAtom>();
    };
    const auto onCell = codeOf(";http://a");
    const auto openLink = codeOf(";http://b");
    const auto unused = codeOf(";http://c");
    ASSERT_TRUE(onCell && openLink && unused);
    ASSERT_EQ(terminal.altBuffer->lines()[1]->getCell(4).payload, *onCell);

    terminal.pruneUnusedPayloadCodes();

    EXPECT_EQ(terminal.payloadCodes, (std::unordered_set<std::uint16_t>{onCell->code, openLink->code}));
    EXPECT_TRUE(TinyAtom::lookup(onCell->code).has_value());
    EXPECT_TRUE(TinyAtom::lookup(openLink->code).has_value());
    EXPECT_FALSE(TinyAtom::lookup(unused->code).has_value());
}

TEST(TerminalInstance, TeardownReleasesEveryRegisteredCode)
{
    std::optional<TinyAtom> code;
    {
        Terminal terminal(nullptr);
        terminal.feed("\x1b]8;teardown;http://x\x07x\x1b]8;;\x07");
        code = terminal.buffer->lines()[0]->getCell(0).payload;
        ASSERT_NE(code->code, 0);
        ASSERT_TRUE(TinyAtom::lookup(code->code).has_value());
    }
    EXPECT_FALSE(TinyAtom::lookup(code->code).has_value());
}

TEST(TerminalInstance, QueriesOutsideTheScreenAnswerNone)
{
    Terminal terminal(nullptr, sized(10, 3));
    terminal.buffer->lines()[1]->setCell(9, letter('z'));

    EXPECT_EQ(terminal.getDisplayLine(-1), nullptr);
    EXPECT_EQ(terminal.getDisplayLine(3), nullptr);
    EXPECT_EQ(terminal.getDisplayLine(1), terminal.buffer->lines()[1].get());
    EXPECT_FALSE(terminal.getCharData(-1, 0).has_value());
    EXPECT_FALSE(terminal.getCharData(10, 0).has_value());
    EXPECT_FALSE(terminal.getCharData(0, 3).has_value());
    ASSERT_TRUE(terminal.getCharData(9, 1).has_value());
    EXPECT_EQ(terminal.getCharData(9, 1)->code, 'z');

    EXPECT_EQ(terminal.getScrollInvariantLine(-1), nullptr);
    EXPECT_EQ(terminal.getScrollInvariantLine(3), nullptr);
    terminal.buffer->linesTop = 5;
    EXPECT_EQ(terminal.getScrollInvariantLine(6), terminal.buffer->lines()[1].get())
        << "line numbers count the lines dropped from the ring";
    EXPECT_EQ(terminal.getScrollInvariantLine(1), nullptr);
}

class FakeImage : public TerminalImage {
public:
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 20; }
    int col() const override { return column; }
    void setCol(int value) override { column = value; }
    int column = 0;
};

TEST(TerminalInstance, ResettingKittyGraphicsDropsLineImagesAndEmptiesTheStore)
{
    Terminal terminal(nullptr, sized(10, 4));
    terminal.activateAltBuffer(std::nullopt);
    for (Buffer* screen : {terminal.normalBuffer.get(), terminal.altBuffer.get()}) {
        BufferLine::Images images{std::make_shared<FakeImage>()};
        screen->lines()[2]->setImages(images);
        screen->recountLinesWithImages();
        ASSERT_EQ(screen->linesWithImagesCount(), 1);
    }
    KittyGraphicsState& store = terminal.kittyGraphicsState;
    store.imagesById[7] = {100, 3};
    store.imageNumbers[2] = 7;
    store.placementsByKey[{7, 1}] = {};
    store.totalImageBytes = 100;
    store.nextImageAccessTick = 4;
    store.nextImageId = 9;
    terminal.clearUpdateRange();

    terminal.resetKittyGraphics();

    for (Buffer* screen : {terminal.normalBuffer.get(), terminal.altBuffer.get()}) {
        EXPECT_FALSE(screen->lines()[2]->images().has_value());
        EXPECT_EQ(screen->linesWithImagesCount(), 0);
    }
    EXPECT_TRUE(store.imagesById.empty());
    EXPECT_TRUE(store.imageNumbers.empty());
    EXPECT_TRUE(store.placementsByKey.empty());
    EXPECT_EQ(store.totalImageBytes, 0);
    EXPECT_EQ(store.nextImageAccessTick, 1u);
    EXPECT_EQ(store.nextImageId, 9u) << "ids are not handed out twice";
    ASSERT_TRUE(terminal.getUpdateRange().has_value());
    EXPECT_EQ(*terminal.getUpdateRange(), (UpdateRange{0, 3}));
}

} // namespace
} // namespace corvantix

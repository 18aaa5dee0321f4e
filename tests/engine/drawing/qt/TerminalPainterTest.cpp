#include "drawing/qt/TerminalPainter.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QImage>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QPainter>

#include <memory>
#include <tuple>

#include "drawing/qt/CellArtPainter.h"
#include "drawing/qt/TextShaper.h"
#include "emulator/SelectionService.h"
#include "engine/emulator/TerminalTestSupport.h"

namespace corvantix {
namespace {

const QColor foreground(200, 200, 200);
const QColor background(0, 0, 0);
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);

// Renders a small terminal into an image with cells of 8 x 16 pixels, the widget cleared to
// transparent so that anything painted stands out.
class TerminalPainterTest : public ::testing::Test {
protected:
    static constexpr int cols = 10;
    static constexpr int rows = 3;
    static constexpr double cellWidth = 8;
    static constexpr double cellHeight = 16;
    std::unique_ptr<Terminal> terminal = makeTerminal(cols, rows);
    RowBuilder builder{[this](const Attribute::Color& color, bool isForeground, bool, bool) {
        const bool reverse = terminal->reverseColors();
        switch (color.kind()) {
        case Attribute::Color::Case::ansi256:
            return color.code() == 1 ? toRgbaColor(red) : toRgbaColor(green);
        case Attribute::Color::Case::trueColor:
            return RgbaColor{color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0, 1.0};
        case Attribute::Color::Case::defaultColor:
            return toRgbaColor(isForeground != reverse ? foreground : background);
        case Attribute::Color::Case::defaultInvertedColor:
            return toRgbaColor(isForeground != reverse ? background : foreground);
        }
        return RgbaColor{};
    }};
    TerminalPainter painter;
    QFont font;
    int extraHeight = 0; // a strip below the last row
    TerminalPainterTest() : font(QStringLiteral("DejaVu Sans Mono")) { font.setPixelSize(12); }
    TerminalFrame frame()
    {
        TerminalFrame f;
        f.terminal = terminal.get();
        f.rowBuilder = &builder;
        QFont bold = font, italic = font;
        bold.setBold(true);
        italic.setItalic(true);
        QFont boldItalic = bold;
        boldItalic.setItalic(true);
        f.fonts = {font, bold, italic, boldItalic};
        f.cell = CellDimension{cellWidth, cellHeight};
        f.nativeFg = foreground;
        f.nativeBg = background;
        f.clearColor = Qt::transparent;
        f.bounds = QSizeF(cols * cellWidth, rows * cellHeight + extraHeight);
        return f;
    }
    QImage render(std::optional<QRect> dirty = std::nullopt)
    {
        const TerminalFrame f = frame();
        QImage image(static_cast<int>(f.bounds.width()), static_cast<int>(f.bounds.height()),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        painter.drawVisibleRows(p, f, terminal->buffer().yDisp(), QRectF(dirty.value_or(image.rect())));
        p.end();
        return image;
    }
    double baseline(int row) const
    {
        const QFontMetricsF metrics(font);
        return cellHeight * (row + 1) - std::ceil(metrics.descent() + metrics.leading());
    }
};

// The pixels of one image row from x0 to x1 (excluded) that are painted (not transparent).
std::string paintedRow(const QImage& image, int y, int x0, int x1)
{
    std::string s;
    for (int x = x0; x < x1; ++x)
        s += qAlpha(image.pixel(x, y)) != 0 ? '#' : '.';
    return s;
}

// Whether any pixel of the area is painted, or all of them have the colour.
bool anyPainted(const QImage& image, const QRect& area)
{
    QImage clear(area.size(), image.format());
    clear.fill(Qt::transparent);
    return image.copy(area) != clear;
}
bool allOf(const QImage& image, const QRect& area, const QColor& color)
{
    QImage filled(area.size(), image.format());
    filled.fill(color);
    return image.copy(area) == filled;
}

TEST_F(TerminalPainterTest, DefaultBackgroundsPaintNothingOverTheClearedWidget)
{
    feed(*terminal, "  \x1b[41m  \x1b[0m  ");
    const QImage image = render();
    EXPECT_FALSE(anyPainted(image, QRect(0, 0, 16, 48)));             // default cells: cleared only
    EXPECT_TRUE(allOf(image, QRect(16, 0, 16, 16), red));             // exactly cells 2 and 3
    EXPECT_FALSE(anyPainted(image, QRect(32, 0, 48, 48)));
    EXPECT_FALSE(anyPainted(image, QRect(16, 16, 16, 32)));            // nothing below them
}

TEST_F(TerminalPainterTest, CombiningMarkDoesNotShiftTheNextCell)
{
    // "e" + U+0301 in cell 0, then "l" in cell 1: the l's ink begins inside cell 1 exactly as
    // it does without the mark.
    feed(*terminal, "e\xcc\x81l\r\n\x1b[1Cl");
    const QImage image = render();
    EXPECT_EQ(image.copy(8, 0, 8, 16), image.copy(8, 16, 8, 16));
    // The mark draws above the e, inside cell 0.
    EXPECT_NE(image.copy(0, 0, 8, 16), image.copy(0, 16, 8, 16));
}

TEST_F(TerminalPainterTest, CombiningMarksDrawOnTheirBaseCell)
{
    // Overlay, below and doubled marks on "a": all of the cluster's ink stays in cell 0 and
    // the mark shows there (the cell differs from a bare "a").
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"short stroke overlay", "a\u0335"}, {"long stroke overlay", "a\u0336"},
        {"palatalized hook below", "a\u0321"}, {"acute and dot below", "e\u0301\u0323"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        terminal = makeTerminal(cols, rows);
        feed(*terminal, text + "\r\n" + text.substr(0, 1));
        const QImage image = render();
        EXPECT_FALSE(anyPainted(image, QRect(8, 0, 16, 16)));
        EXPECT_NE(image.copy(0, 0, 8, 16), image.copy(0, 16, 8, 16));
    }
    // Both marks of the last cluster are drawn: it differs from the acute alone and from the
    // dot alone.
    terminal = makeTerminal(cols, rows);
    feed(*terminal, "e\u0301\u0323\r\ne\u0301\r\ne\u0323");
    const QImage image = render();
    EXPECT_NE(image.copy(0, 0, 8, 16), image.copy(0, 16, 8, 16));
    EXPECT_NE(image.copy(0, 0, 8, 16), image.copy(0, 32, 8, 16));
}

// An emoji sequence of two cells draws as one picture inside them: the cells around it look
// as they do beside two blanks, and its cells hold colour.
TEST_F(TerminalPainterTest, EmojiSequencesStayInsideTheirCells)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        GTEST_FAIL() << "no colour emoji font: install fonts-noto-color-emoji";
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"rainbow flag", "\U0001F3F3\uFE0F\u200D\U0001F308"}, {"heart on fire", "\u2764\uFE0F\u200D\U0001F525"},
        {"technologist", "\U0001F468\u200D\U0001F4BB"}, {"keycap", "1\uFE0F\u20E3"},
    };
    for (const auto& [name, cluster] : cases) {
        SCOPED_TRACE(name);
        terminal = makeTerminal(cols, rows);
        feed(*terminal, "A[" + cluster + "]B\r\nA[  ]B");
        ASSERT_EQ(terminal->buffer().x(), 6) << "the cluster takes two cells";
        const QImage image = render();
        EXPECT_EQ(image.copy(0, 0, 16, 16), image.copy(0, 16, 16, 16));
        EXPECT_EQ(image.copy(32, 0, 48, 16), image.copy(32, 16, 48, 16));
        int coloured = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 16; x < 32; ++x) {
                const QColor c = image.pixelColor(x, y);
                coloured += c.alpha() > 0 && (std::abs(c.red() - c.green()) > 40 || std::abs(c.green() - c.blue()) > 40);
            }
        EXPECT_GT(coloured, 20);
    }
}

// A mark the cell's font lacks comes from another font, unattached: its ink is centred on
// its letter, not left where that font's letters would end (half in the next cell).
TEST_F(TerminalPainterTest, AMarkFromAnotherFontIsCentredOnItsLetter)
{
    font = QFont(QStringLiteral("Noto Sans Mono CJK SC")); // has no combining overlays
    if (QFontInfo(font).family() != font.family())
        GTEST_FAIL() << "no Noto Sans Mono CJK SC: install fonts-noto-cjk";
    font.setPixelSize(14);
    for (const char* text : {"a\u0335", "b\u0335", "x\u20D2"}) {
        SCOPED_TRACE(text);
        terminal = makeTerminal(cols, rows);
        feed(*terminal, std::string(text) + " z\r\n" + std::string(text, 1) + " z");
        const QImage image = render();
        // The cell after the mark's letter stays as it is without the mark.
        EXPECT_EQ(image.copy(8, 0, 16, 16), image.copy(8, 16, 16, 16));
        // The mark's own ink (where the row differs from the bare letter) is centred on the
        // letter's ink.
        int letterLeft = 8, letterRight = -1, markLeft = 8, markRight = -1;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 8; ++x) {
                if (qAlpha(image.pixel(x, 16 + y)) != 0) {
                    letterLeft = std::min(letterLeft, x);
                    letterRight = std::max(letterRight, x);
                }
                if (image.pixel(x, y) != image.pixel(x, 16 + y)) {
                    markLeft = std::min(markLeft, x);
                    markRight = std::max(markRight, x);
                }
            }
        ASSERT_GE(markRight, markLeft) << "the mark is drawn";
        EXPECT_NEAR((markLeft + markRight) / 2.0, (letterLeft + letterRight) / 2.0, 1.5);
    }
}

// Letters that form conjuncts or join across their cells are shaped as one run: the row shows
// the glyphs the shaper gives the whole text, each from the cell its text starts in (a
// conjunct wider than its first cell reaches into the next), and underlines stay on the grid.
TEST_F(TerminalPainterTest, RunsAreShapedAcrossTheirCells)
{
    struct Case {
        const char* family;
        std::string text;
        std::vector<int> ordinals; // the cell of each UTF-16 unit
        int glyphs;                // that the shaper gives the whole text
    };
    const Case cases[] = {
        {"Noto Sans Devanagari", "\u0915\u094D\u0937", {0, 0, 1}, 1}, // two cells, one conjunct glyph
        {"Noto Sans Mongolian", "\u1820\u182A", {0, 1}, 2},            // the initial and final forms
        {"Noto Sans Devanagari", "\u0928\u092E\u0938\u094D\u0924\u0947", {0, 1, 2, 2, 3, 3}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        font = QFont(QString::fromLatin1(c.family));
        if (QFontInfo(font).family() != font.family())
            GTEST_FAIL() << "no " << c.family << ": install fonts-noto-core";
        font.setPixelSize(12);
        const QRawFont raw = QRawFont::fromFont(font);
        const auto whole = shapeTextRun(QString::fromStdString(c.text), raw);
        ASSERT_TRUE(whole);
        if (c.glyphs > 0) {
            ASSERT_EQ(whole->glyphCount, c.glyphs);
        }
        QImage expected(static_cast<int>(cols * cellWidth), static_cast<int>(cellHeight),
                        QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        {
            QPainter p(&expected);
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setRenderHint(QPainter::TextAntialiasing, true);
            p.setPen(foreground);
            // A glyph after the first of its cell keeps its offset from that one.
            double cellStart = 0;
            int cell = -1;
            for (const ShaperGlyphRun& glyphRun : whole->glyphRuns)
                for (std::size_t g = 0; g < glyphRun.glyphs.size(); ++g) {
                    const int ordinal = c.ordinals[static_cast<std::size_t>(glyphRun.stringIndices[g])];
                    if (ordinal != cell)
                        cellStart = glyphRun.positions[g].x();
                    cell = ordinal;
                    QGlyphRun one;
                    one.setRawFont(raw);
                    one.setGlyphIndexes({glyphRun.glyphs[g]});
                    one.setPositions({QPointF(cellWidth * cell + glyphRun.positions[g].x() - cellStart,
                                              baseline(0) - glyphRun.positions[g].y())});
                    p.drawGlyphRun(QPointF(0, 0), one);
                }
        }
        terminal = makeTerminal(cols, rows);
        // Row 2 (marks above may reach into the row over them), underlined.
        feed(*terminal, c.text + "\r\n\r\n\x1b[4m" + c.text);
        const QImage image = render();
        const QImage drawn = image.copy(0, 0, expected.width(), expected.height());
        EXPECT_TRUE(drawn == expected);
        if (drawn != expected) {
            drawn.save(QStringLiteral("runs-drawn.png"));
            expected.save(QStringLiteral("runs-expected.png"));
        }
        // Underlined, every cell of the text has its piece, the conjunct's second cell too:
        // each differs from the plain row somewhere below the baseline.
        const int cells = terminal->buffer().x();
        ASSERT_GT(cells, 0);
        const int below = static_cast<int>(std::ceil(baseline(0)));
        for (int cell = 0; cell < cells; ++cell) {
            bool underlined = false;
            for (int y = below; y < static_cast<int>(cellHeight); ++y)
                for (int x = static_cast<int>(cell * cellWidth); x < static_cast<int>((cell + 1) * cellWidth); ++x)
                    underlined = underlined || image.pixel(x, y) != image.pixel(x, y + 2 * static_cast<int>(cellHeight));
            EXPECT_TRUE(underlined) << "cell " << cell;
        }
    }
}

TEST_F(TerminalPainterTest, ConcealedTextDrawsBlankButKeepsItsBackgroundAndText)
{
    feed(*terminal, "\x1b[8mab\x1b[41mc\x1b[0md");
    const QImage image = render();
    EXPECT_FALSE(anyPainted(image, QRect(0, 0, 16, 16)));
    EXPECT_TRUE(allOf(image, QRect(16, 0, 8, 16), red));
    EXPECT_TRUE(anyPainted(image, QRect(24, 0, 8, 16))); // revealed again after SGR 0
    EXPECT_EQ(screenLine(*terminal, 0), "abcd");
}

TEST_F(TerminalPainterTest, UnderlineAndStrikeSpanWholeCells)
{
    // The third row: an ideographic space (wide, without ink) underlined, then a blank.
    feed(*terminal, "\x1b[4m  \x1b[0m  \r\n\x1b[9m   \x1b[0m\r\n\x1b[4m\u3000\x1b[0m ");
    const QImage image = render();
    const QFontMetricsF metrics(font);
    const int underlineY = static_cast<int>(std::floor(baseline(0) + metrics.underlinePos()));
    // One segment per cell, ceil(cellWidth) long: the two underlined cells, nothing after; the
    // line may land a pixel either way.
    const auto lineNear = [&](int y, int x1, const std::string& expected) {
        return paintedRow(image, y - 1, 0, x1) == expected || paintedRow(image, y, 0, x1) == expected
            || paintedRow(image, y + 1, 0, x1) == expected;
    };
    EXPECT_TRUE(lineNear(underlineY, 32, std::string(16, '#') + std::string(16, '.')));
    const double offset = (metrics.xHeight() + std::max(0.5, std::round(metrics.lineWidth()))) * 0.5;
    EXPECT_TRUE(lineNear(static_cast<int>(std::floor(baseline(1) - offset)), 40, std::string(24, '#') + std::string(16, '.')));
    // A wide cell's piece covers both of its cells.
    EXPECT_TRUE(lineNear(underlineY + 2 * static_cast<int>(cellHeight), 32, std::string(16, '#') + std::string(16, '.')));
}

TEST_F(TerminalPainterTest, UnderlineColourAndDoubleUnderline)
{
    // SGR 4:2 (double) with an underline colour of palette 1 (red in this mapping).
    feed(*terminal, "\x1b[4:2m\x1b[58;5;1m \x1b[0m");
    const QImage image = render();
    int redRows = 0;
    for (int y = 0; y < 16; ++y)
        redRows += image.pixelColor(3, y) == red;
    EXPECT_GE(redRows, 2); // two lines
    EXPECT_FALSE(anyPainted(image, QRect(8, 0, 72, 16)));
}

TEST_F(TerminalPainterTest, ReverseVideoSwapsDefaultsAndFillsTheStrip)
{
    extraHeight = 5;
    feed(*terminal, "\x1b[?5h\xe2\x96\x88 ");
    ASSERT_TRUE(terminal->reverseColors());
    const QImage image = render();
    // Default text (here a full block) in the native background colour...
    EXPECT_TRUE(allOf(image, QRect(0, 0, 8, 16), background));
    // ...and the strip below the last whole row in the native foreground.
    EXPECT_TRUE(allOf(image, QRect(0, 48, 80, 5), foreground));
}

TEST_F(TerminalPainterTest, DoubleHeightRowsStayInTheirRow)
{
    for (const char* mode : {"\x1b#3", "\x1b#4"}) {
        terminal = makeTerminal(cols, rows);
        feed(*terminal, std::string("\r\n") + mode + "\x1b[41m X\xe2\x96\x88\xe2\x94\xbc\xee\x82\xb0gy\x1b[0m");
        const QImage image = render();
        EXPECT_TRUE(anyPainted(image, QRect(0, 16, 80, 16))) << mode;
        EXPECT_FALSE(anyPainted(image, QRect(0, 0, 80, 16))) << mode;
        EXPECT_FALSE(anyPainted(image, QRect(0, 32, 80, 16))) << mode;
        // Doubled: the red background of the first cell covers two cells.
        EXPECT_TRUE(allOf(image, QRect(0, 16, 16, 16), red)) << mode;
    }
}

TEST_F(TerminalPainterTest, DoubleWidthRowsAreNotClipped)
{
    feed(*terminal, "\x1b#6\xe2\x96\x88");
    const QImage image = render();
    EXPECT_TRUE(allOf(image, QRect(0, 0, 16, 16), foreground)); // one cell drawn two wide
    EXPECT_FALSE(anyPainted(image, QRect(16, 0, 64, 48)));
}

TEST_F(TerminalPainterTest, PartialDirtyRectDrawsWholeRowsItTouches)
{
    feed(*terminal, "\r\n\x1b[41m          \x1b[0m\r\n\x1b[41m          ");
    const QImage image = render(QRect(2, 20, 4, 4));
    EXPECT_TRUE(allOf(image, QRect(0, 16, 80, 16), red));
    EXPECT_FALSE(anyPainted(image, QRect(0, 32, 80, 16)));
}

TEST_F(TerminalPainterTest, RowsOutsideTheBufferAreSkipped)
{
    extraHeight = 32; // bounds taller than the buffer: rows 3 and 4 do not exist
    feed(*terminal, "\x1b[41m          ");
    const QImage image = render();
    EXPECT_TRUE(allOf(image, QRect(0, 0, 80, 16), red));
}

TEST_F(TerminalPainterTest, PlaceholderCellsShowTheirSliceOfTheImage)
{
    // Two placeholder cells of image 9 (virtual placement of 2 x 1 cells) showing its two
    // columns; the image is red on the left half, green on the right.
    KittyPlacementRecord record;
    record.imageId = 9, record.placementId = 1, record.cols = 2, record.rows = 1, record.isVirtual = true;
    terminal->recordKittyPlacement(record);
    feed(*terminal, "\xf4\x8e\xbb\xae\xf4\x8e\xbb\xae\xf4\x8e\xbb\xae"); // U+10EEEE three times
    builder.decodeKittyPlaceholderCell = [](std::u32string_view, const Attribute&, int row, int column,
                                            const std::optional<RowBuilder::LeftPlaceholder>& left)
        -> std::optional<KittyPlaceholderCell> {
        KittyPlaceholderCell cell;
        cell.row = row, cell.col = column;
        cell.imageId = column < 2 ? 9 : 10; // the third cell names an image without placement
        cell.placeholderCol = left ? left->first.placeholderCol + 1 : 0;
        return cell;
    };
    QImage picture(2, 1, QImage::Format_ARGB32_Premultiplied);
    picture.setPixelColor(0, 0, red);
    picture.setPixelColor(1, 0, green);
    TerminalFrame f = frame();
    int lookups = 0;
    f.kittyImageForId = [&](uint32_t id) -> std::optional<QImage> {
        ++lookups;
        return id == 9 ? std::optional<QImage>(picture) : std::nullopt;
    };
    QImage image(80, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    painter.drawVisibleRows(p, f, 0, QRectF(image.rect()));
    p.end();
    // The 2 x 1 image fitted into 16 x 16 points: 8 points high, centred vertically.
    EXPECT_EQ(std::vector<QColor>({image.pixelColor(2, 8), image.pixelColor(5, 8), image.pixelColor(10, 8), image.pixelColor(2, 1)}),
              std::vector<QColor>({red, red, green, QColor(Qt::transparent)}));
    EXPECT_FALSE(anyPainted(image, QRect(16, 0, 64, 48))); // no placement: nothing drawn
    EXPECT_EQ(lookups, 1);                                  // decoded once per frame
}

// A line's image as the view makes one: a picture with the placement fields.
class PictureImage final : public KittyPlacementImage {
public:
    PictureImage(QImage picture, int col) : picture(std::move(picture)), col_(col) {}
    int pixelWidth() const override { return picture.width(); }
    int pixelHeight() const override { return picture.height(); }
    int col() const override { return col_; }
    void setCol(int col) override { col_ = col; }
    QImage picture;

private:
    int col_;
};

TEST_F(TerminalPainterTest, KittyImagesGoUnderOrOverTheTextByZIndex)
{
    // "W" in cells 0, 2 and 4; a green cell-sized image on each: z -1 (under), z 0 (over), and
    // an image of no placement (over).
    feed(*terminal, "W W W");
    QImage green8x16(8, 16, QImage::Format_ARGB32_Premultiplied);
    green8x16.fill(green);
    for (const auto& [col, z, kitty] : {std::tuple{0, -1, true}, std::tuple{2, 0, true}, std::tuple{4, 0, false}}) {
        auto image = std::make_shared<PictureImage>(green8x16, col);
        image->kittyIsKitty = kitty;
        image->kittyZIndex = z;
        terminal->buffer().attachImagesToLine(image, 0);
    }
    TerminalFrame f = frame();
    f.imageContents = [](const TerminalImage& image) -> const QImage* {
        const auto* picture = dynamic_cast<const PictureImage*>(&image);
        return picture != nullptr ? &picture->picture : nullptr;
    };
    QImage image(80, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    painter.drawVisibleRows(p, f, 0, QRectF(image.rect()));
    p.end();
    EXPECT_FALSE(allOf(image, QRect(0, 0, 8, 16), green)); // the glyph shows on the image
    EXPECT_TRUE(allOf(image, QRect(16, 0, 8, 16), green));
    EXPECT_TRUE(allOf(image, QRect(32, 0, 8, 16), green));
}

TEST_F(TerminalPainterTest, PixelOffsetHangsIntoTheRowBelowAlsoWhenOnlyThatRowIsRedrawn)
{
    QImage green8x16(8, 16, QImage::Format_ARGB32_Premultiplied);
    green8x16.fill(green);
    auto picture = std::make_shared<PictureImage>(green8x16, 1);
    picture->kittyIsKitty = true;
    picture->kittyPixelOffsetX = 2;
    picture->kittyPixelOffsetY = 5;
    terminal->buffer().attachImagesToLine(picture, 0);
    TerminalFrame f = frame();
    f.imageContents = [](const TerminalImage& image) -> const QImage* {
        return &dynamic_cast<const PictureImage&>(image).picture;
    };
    for (const QRect dirty : {QRect(0, 0, 80, 48), QRect(0, 16, 80, 16)}) {
        QImage image(80, 48, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setClipRect(dirty);
        painter.drawVisibleRows(p, f, 0, QRectF(dirty));
        p.end();
        // Down and right, inside the cell first, then five rows into the row below.
        EXPECT_TRUE(allOf(image, QRect(10, 16, 8, 5), green)) << dirty.y();
        EXPECT_FALSE(anyPainted(image, QRect(0, 21, 80, 27))) << dirty.y();
        if (dirty.y() == 0) {
            EXPECT_TRUE(allOf(image, QRect(10, 5, 8, 11), green));
            EXPECT_FALSE(anyPainted(image, QRect(0, 0, 80, 5)));
        }
    }
}

} // namespace
} // namespace corvantix

namespace corvantix {
namespace {

// A Tibetan stack (བསྒྲུབས) and g with a tilde below: ink that hangs below its row.
const std::string hangingBelow = "\xe0\xbd\x96\xe0\xbd\xa6\xe0\xbe\x92\xe0\xbe\xb2\xe0\xbd\xb4\xe0\xbd\x96\xe0\xbd\xa6 g\xcc\xb0";

// Pixels of the area that are painted in another colour than `background`.
int inkOver(const QImage& image, const QRect& area, const QColor& background)
{
    int lit = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            lit += qAlpha(image.pixel(x, y)) != 0 && image.pixelColor(x, y) != background ? 1 : 0;
    return lit;
}

// What a row shows does not depend on which rows were drawn after it or how: the next row,
// with a coloured background, drawn one cell at a time as it is typed, or the whole screen
// at once, both keep the ink hanging into it, and give the same picture.
TEST_F(TerminalPainterTest, InkHangingIntoTheNextRowStaysWhateverIsDrawnAfterIt)
{
    feed(*terminal, hangingBelow + "\r\n");
    QImage typed(80, 48, QImage::Format_ARGB32_Premultiplied);
    typed.fill(Qt::transparent);
    const TerminalFrame f = frame();
    const auto draw = [&](QImage& image, const QRect& dirty) {
        QPainter p(&image);
        p.setClipRect(dirty); // as the widget's paint is clipped to what it updates
        const QRectF stale = painter.drawVisibleRows(p, f, 0, QRectF(dirty));
        p.end();
        return stale;
    };
    draw(typed, typed.rect());
    const QColor blue(0, 0, 255);
    feed(*terminal, "\x1b[48;2;0;0;255m");
    for (int column = 0; column < cols; ++column) {
        feed(*terminal, "x");
        EXPECT_TRUE(draw(typed, QRect(column * 8, 16, 8, 16)).isEmpty()) << column;
    }
    QImage whole(80, 48, QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    draw(whole, whole.rect());

    // Under the stack (cell 1) and under the g (cell 5), in the top rows of the blue row.
    for (const auto& [picture, how] : {std::pair(&typed, "typed"), std::pair(&whole, "whole")}) {
        EXPECT_GT(inkOver(*picture, QRect(8, 16, 8, 6), blue), 3) << "the stack's foot is gone, " << how;
        EXPECT_GT(inkOver(*picture, QRect(40, 16, 8, 4), blue), 0) << "the tilde under g is gone, " << how;
    }
    EXPECT_EQ(typed, whole);
}

// A row drawn alone whose glyphs start or stop hanging into the row below names the part of
// that row to draw again; drawn, it shows the new ink. A row whose ink did not change names
// nothing, so redrawing it does not go on.
TEST_F(TerminalPainterTest, ARowWhoseHangingInkChangedAsksForTheRowItHangsInto)
{
    QImage image(80, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const TerminalFrame f = frame();
    const auto draw = [&](const QRect& dirty) {
        QPainter p(&image);
        p.setClipRect(dirty);
        const QRectF stale = painter.drawVisibleRows(p, f, 0, QRectF(dirty));
        p.end();
        return stale.toAlignedRect();
    };
    const QRect firstRow(0, 0, 80, 16);
    const QRect under(8, 16, 8, 6);
    EXPECT_TRUE(draw(image.rect()).isEmpty());
    feed(*terminal, hangingBelow);
    const QRect stale = draw(firstRow);
    EXPECT_EQ(stale.top(), 16);
    EXPECT_TRUE(stale.contains(under)) << stale.y() << " " << stale.height();
    EXPECT_FALSE(stale.intersects(QRect(0, 32, 80, 16)));
    EXPECT_EQ(inkOver(image, under, Qt::transparent), 0); // not drawn outside the row yet
    EXPECT_TRUE(draw(stale).isEmpty());
    EXPECT_GT(inkOver(image, under, Qt::transparent), 3);
    EXPECT_TRUE(draw(firstRow).isEmpty()); // the same ink again

    feed(*terminal, "\x1b[2K");
    const QRect erased = draw(firstRow);
    EXPECT_TRUE(erased.contains(under));
    draw(erased);
    EXPECT_EQ(inkOver(image, QRect(0, 0, 80, 48), Qt::transparent), 0);
}

} // namespace
} // namespace corvantix

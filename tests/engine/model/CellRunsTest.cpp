// The bulk cell writers against the plain element-by-element loop they replace, for every
// run length around their four-cell steps and at odd offsets in the block.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/CellRuns.h"

namespace corvantix {
namespace {

CharData styledCell()
{
    Attribute attribute;
    attribute.fg = Attribute::Color::trueColor(1, 2, 3);
    attribute.bg = Attribute::Color::ansi256(200);
    attribute.style = CharacterStyle::bold | CharacterStyle::italic;
    attribute.underlineStyle = UnderlineStyle::curly;
    attribute.underlineColor = Attribute::Color::ansi256(7);
    return CharData(0x41, 1, attribute, TinyAtom{4242}, 5);
}

TEST(CellRuns, FillMatchesElementLoopForEveryLengthAndOffset)
{
    const PackedCell fill(styledCell());
    const PackedCell guard(CharData(0x7A, 2, Attribute{}, TinyAtom{9}, 1));
    for (std::size_t offset = 0; offset < 3; ++offset) {
        for (std::size_t count = 0; count <= 11; ++count) {
            std::vector<PackedCell> cells(16, guard);
            fillCellRun(cells.data() + offset, count, fill);
            for (std::size_t i = 0; i < cells.size(); ++i)
                EXPECT_EQ(cells[i], i >= offset && i < offset + count ? fill : guard) << offset << " " << count << " " << i;
        }
    }
}

TEST(CellRuns, ByteRunTakesEachCodeAndKeepsTheRestOfTheTemplate)
{
    CharData model = styledCell();
    model.code = 0;
    const std::vector<std::uint8_t> bytes = {'h', 'e', 'l', 'l', 'o', ' ', 0x7E, 0x20, '!', 'z', 'q'};
    const CharData guard(0x7A, 2, Attribute{}, TinyAtom{9}, 1);
    for (std::size_t offset = 0; offset < 3; ++offset) {
        for (std::size_t count = 0; count <= bytes.size(); ++count) {
            std::vector<PackedCell> cells(16, PackedCell(guard));
            writeByteRun(cells.data() + offset, bytes.data(), count, PackedCell(model));
            for (std::size_t i = 0; i < cells.size(); ++i) {
                const bool inside = i >= offset && i < offset + count;
                CharData expected = inside ? model : guard;
                expected.code = inside ? bytes[i - offset] : guard.code;
                EXPECT_EQ(cells[i].value(), expected) << "offset " << offset << " count " << count << " cell " << i;
            }
        }
    }
}

TEST(CellRuns, NarrowRunBuildsTheSameCellsAsTheConstructor)
{
    const CharData model = styledCell();
    const std::vector<std::uint8_t> bytes = {'a', 'b', 'c', 'd', 'e', 'f', 'g'};
    for (std::size_t count = 0; count <= bytes.size(); ++count) {
        std::vector<PackedCell> cells(8, PackedCell(CharData::defaultCell()));
        writeNarrowRun(cells.data(), bytes.data(), count, PackedCell::packAttribute(model.attribute), model.payload,
                       model.semanticContentCode);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const CharData expected = i < count
                ? CharData(bytes[i], 1, model.attribute, model.payload, model.semanticContentCode)
                : CharData::defaultCell();
            EXPECT_EQ(cells[i].value(), expected) << "count " << count << " cell " << i;
        }
    }
}

TEST(CellRuns, StoreCellMatchesTheConstructorForWideAndPlaceholderCells)
{
    const CharData model = styledCell();
    const struct { std::int32_t code; std::int8_t width; } cases[] = {{0x4E2D, 2}, {0, 0}, {0x1F600, 2}, {0x400123, 1}, {0x41, 1}};
    for (const auto& c : cases) {
        PackedCell cell;
        storeCell(&cell, c.code, c.width, PackedCell::packAttribute(model.attribute), model.payload, model.semanticContentCode);
        EXPECT_EQ(cell.value(), CharData(c.code, c.width, model.attribute, model.payload, model.semanticContentCode)) << c.code;
    }
}

} // namespace
} // namespace corvantix

// Character sets: designation into G0-G3, the shifts that invoke them, the maps themselves,
// and how they reach printed text.
#include "TerminalTestSupport.h"
#include "emulator/CharSets.h"
#include "model/UnicodeUtil.h"

namespace corvantix {
namespace {

struct ScreenCase { const char* name; std::string input; std::string firstRow; };

void PrintTo(const ScreenCase& c, std::ostream* out) { *out << c.name; }

class CharsetScreen : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(CharsetScreen, PrintsTheMappedText)
{
    const auto terminal = makeTerminal(30, 3);
    feed(*terminal, GetParam().input);
    EXPECT_EQ(screenLine(*terminal, 0), GetParam().firstRow);
}

INSTANTIATE_TEST_SUITE_P(
    Charset, CharsetScreen,
    ::testing::Values(
        ScreenCase{"G0LineDrawing", "\x1b(0lqk", "┌─┐"},
        ScreenCase{"BackToAscii", "\x1b(0q\x1b(Bq", "─q"},
        ScreenCase{"ShiftOutToG1AndBack", "\x1b)0\x0elqk\x0fq", "┌─┐q"},
        ScreenCase{"DesignatingG0WhileG1IsInvokedWaitsForShiftIn", "\x1b)A\x0e\x1b(0q#\x0fq", "q£─"},
        ScreenCase{"LockingShift2", "\x1b*0\x1bnx", "│"},
        ScreenCase{"LockingShift3", "\x1b+0\x1box", "│"},
        ScreenCase{"LockingShift1Right", "\x1b)0\x1b~x", "│"},
        ScreenCase{"NinetySixCharacterIntermediates", "\x1b-0\x0ex\x1b.0\x1bnx\x1b/0\x1box", "│││"},
        ScreenCase{"UnitedKingdom", "\x1b(A#$", "£$"},
        ScreenCase{"DutchBarAndBracket", "\x1b(4|]", "f|"},
        ScreenCase{"UnknownDesignatorChangesNothing", "\x1b(0\x1b(Xq", "─"},
        ScreenCase{"SelectDefaultCharsetG", "\x1b(0\x1b%Gq", "q"},
        ScreenCase{"SaveAndRestoreCursorKeepTheMap", "\x1b(0\x1b" "7\x1b(B\x1b" "8q", "─"},
        ScreenCase{"BytesFromDelUpAreNeverMapped", "\x1b(0\xc3\xa9~\x7f", "é·"},
        ScreenCase{"German", "\x1b(K@[\\]{|}~", "§ÄÖÜäöüß"},
        ScreenCase{"FinnishByEitherDesignator", "\x1b(5[\x1b(C]", "ÄÅ"}),
    [](const ::testing::TestParamInfo<ScreenCase>& info) { return std::string(info.param.name); });

TEST(Charset, DesignateTakesIntermediateAndFinal)
{
    const auto terminal = makeTerminal(20, 3);
    const auto designate = [&](std::string_view bytes) {
        terminal->designateCharset(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    };
    designate("+K");
    EXPECT_EQ(terminal->gCharsets()[3], &CharSets::german);
    designate("/Y");
    EXPECT_EQ(terminal->gCharsets()[3], &CharSets::italian);
    // An intermediate that names no slot changes nothing.
    designate(",0");
    EXPECT_EQ(terminal->gCharsets(), (std::array<const CharacterMap*, 4>{nullptr, nullptr, nullptr, &CharSets::italian}));
    // Anything but two bytes resets G0 and invokes it.
    designate("(0");
    terminal->setgLevel(3);
    designate("(");
    EXPECT_EQ(terminal->gLevel(), 0);
    EXPECT_EQ(terminal->gCharsets()[0], nullptr);
    EXPECT_EQ(terminal->charset(), nullptr);
}

// The print path writes mapped bytes as single-width cells without joining; that holds
// only while every replacement is a single-width character of the first plane.
TEST(Charset, EveryReplacementIsOneNarrowCharacter)
{
    int entries = 0;
    for (int designator = 0; designator < 256; ++designator) {
        const CharacterMap* map = CharSets::all(static_cast<std::uint8_t>(designator));
        if (!map)
            continue;
        for (int byte = 0; byte < 128; ++byte) {
            const char32_t replacement = map->replacement[static_cast<std::size_t>(byte)];
            if (replacement == 0)
                continue;
            ++entries;
            EXPECT_TRUE(byte >= 0x20 && byte < 0x7F) << designator << " " << byte;
            EXPECT_LT(replacement, 0x10000u);
            EXPECT_EQ(UnicodeUtil::columnWidth(replacement), 1) << designator << " " << byte;
        }
    }
    EXPECT_GT(entries, 100);
}

} // namespace
} // namespace corvantix

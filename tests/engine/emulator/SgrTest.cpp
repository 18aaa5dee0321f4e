// SGR: every code and colour form, the separators of the colon forms, the walk past unknown
// codes, and the SGR text of the current attribute as DECRQSS reports it.
#include "TerminalTestSupport.h"
#include "engine/platform/LogCapture.h"

namespace corvantix {
namespace {

using Color = Attribute::Color;

std::string describe(const Color& color)
{
    switch (color.kind()) {
    case Color::Case::ansi256: return "ansi(" + std::to_string(color.code()) + ")";
    case Color::Case::trueColor:
        return "rgb(" + std::to_string(color.red()) + "," + std::to_string(color.green()) + "," + std::to_string(color.blue()) + ")";
    case Color::Case::defaultColor: return "default";
    case Color::Case::defaultInvertedColor: return "inverted";
    }
    return "?";
}

// A readable form, so a failing case shows which field differs.
std::string describe(const Attribute& attribute)
{
    return "fg=" + describe(attribute.fg) + " bg=" + describe(attribute.bg)
        + " style=" + std::to_string(attribute.style.rawValue)
        + " underline=" + std::to_string(static_cast<int>(attribute.underlineStyle))
        + " underlineColor=" + (attribute.underlineColor ? describe(*attribute.underlineColor) : "none");
}

struct Expected {
    Color fg = Color::defaultColor();
    Color bg = Color::defaultColor();
    CharacterStyle style{};
    UnderlineStyle underline = UnderlineStyle::none;
    std::optional<Color> underlineColor = std::nullopt;
    Attribute attribute() const { return Attribute{fg, bg, style, underline, underlineColor}; }
};

constexpr CharacterStyle bold = CharacterStyle::bold;
constexpr CharacterStyle underlined = CharacterStyle::underline;

struct SgrCase { const char* input; Expected expected; };

TEST(SgrTest, CodesAndColourFormsGiveTheAttribute)
{
    const std::vector<SgrCase> cases = {
        // Style bits, each code once.
        {"\x1b[1;2;3;5;7;8;9m",
         {.style = bold | CharacterStyle::dim | CharacterStyle::italic | CharacterStyle::blink
                   | CharacterStyle::inverse | CharacterStyle::invisible | CharacterStyle::crossedOut}},
        {"\x1b[4m", {.style = underlined, .underline = UnderlineStyle::single}},
        {"\x1b[21m", {.style = underlined, .underline = UnderlineStyle::double_}},
        // Underline sub-parameters.
        {"\x1b[4:3m", {.style = underlined, .underline = UnderlineStyle::curly}},
        {"\x1b[4:9m", {.style = underlined, .underline = UnderlineStyle::single}},
        {"\x1b[4m\x1b[4:0m", {}},
        {"\x1b[4;3m", {.style = underlined | CharacterStyle::italic, .underline = UnderlineStyle::single}},
        {"\x1b[4:3;1m", {.style = underlined | bold, .underline = UnderlineStyle::curly}},
        // Clearing codes: 22 clears bold and dim together.
        {"\x1b[1;2;3;4;5;7;8;9;22;23;24;25;27;28;29m", {}},
        {"\x1b[1;3;22m", {.style = CharacterStyle::italic}},
        {"\x1b[21;58;5;1;24m", {.underlineColor = Color::ansi256(1)}},
        // Basic and bright colours.
        {"\x1b[30m", {.fg = Color::ansi256(0)}},
        {"\x1b[31;39m", {}},
        {"\x1b[90m", {.fg = Color::ansi256(8)}},
        // Extended colours, semicolon form.
        {"\x1b[38;5;123m", {.fg = Color::ansi256(123)}},
        {"\x1b[38;5;300m", {.fg = Color::ansi256(255)}},
        {"\x1b[38;2;10;20;30m", {.fg = Color::trueColor(10, 20, 30)}},
        {"\x1b[38;2;300;0;999m", {.fg = Color::trueColor(255, 0, 255)}},
        {"\x1b[58;2;255;0;0m", {.underlineColor = Color::trueColor(255, 0, 0)}},
        {"\x1b[58;2;255;0;0;59m", {}},
        {"\x1b[38;5m", {}},
        {"\x1b[38;7;1m", {.style = bold}}, // unknown mode 7 consumes itself only
        {"\x1b[1;6;31m", {.fg = Color::ansi256(1), .style = bold}}, // an unknown code does not stop the walk
        // Extended colours, colon form.
        {"\x1b[38:2:10:20:30m", {.fg = Color::trueColor(10, 20, 30)}},
        {"\x1b[38:2:0:10:20:30m", {.fg = Color::trueColor(10, 20, 30)}},
        {"\x1b[38:2::10:20:30m", {.fg = Color::trueColor(10, 20, 30)}},
        {"\x1b[38:5:200m", {.fg = Color::ansi256(200)}},
        {"\x1b[38:2:10:20m", {}},
        {"\x1b[38:5m", {}},
        {"\x1b[38:9:1m", {}}, // an unknown mode of the ":" form takes its whole run, unlike 38;7;1
        {"\x1b[58:2::9:8:7;4:3m", {.style = underlined, .underline = UnderlineStyle::curly, .underlineColor = Color::trueColor(9, 8, 7)}},
        // Combined forms and resets.
        {"\x1b[31;0;1m", {.style = bold}},
        // A prefix or intermediate makes the sequence do nothing.
        {"\x1b[31m\x1b[?1m", {.fg = Color::ansi256(1)}},
    };
    for (const SgrCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        auto terminal = makeTerminal();
        LogCapture quiet;
        feed(*terminal, c.input);
        EXPECT_EQ(describe(terminal->curAttr()), describe(c.expected.attribute()));
    }
}

TEST(SgrTest, DecrqssReportsTheSgrTextOfTheCurrentAttribute)
{
    struct ReportCase { const char* sgr; const char* reply; };
    const std::vector<ReportCase> cases = {
        {"", "\x1bP1$r0m\x1b\\"},
        {"\x1b[1;31m", "\x1bP1$r0;1;31m\x1b\\"},
        {"\x1b[4;5;7;8m", "\x1bP1$r0;4;5;7;8m\x1b\\"},
        {"\x1b[94;103m", "\x1bP1$r0;94;103m\x1b\\"},
        {"\x1b[38;5;200;48;2;1;2;3m", "\x1bP1$r0;38;5;200;48;2;1;2;3m\x1b\\"},
        // Dim, italic, crossed out and the underline style and colour are not reported.
        {"\x1b[2;3;9;4:3;58;5;1m", "\x1bP1$r0;4m\x1b\\"},
    };
    for (const ReportCase& c : cases) {
        TerminalFixture f;
        feed(*f.terminal, c.sgr);
        EXPECT_EQ(f.replies("\x1bP$qm\x1b\\"), std::vector<std::string>{c.reply}) << testing::PrintToString(std::string(c.sgr));
    }
}

} // namespace
} // namespace corvantix

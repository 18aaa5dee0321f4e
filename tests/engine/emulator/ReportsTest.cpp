// Status reports (DSR, CPR, DECXCPR), device attributes, XTVERSION, DECRQSS and its length
// cap, the cursor style, and the scroll region and margins as DECRQSS reports them.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

const std::string ST7 = "\x1b\\";

using Fixture = TerminalFixture;

struct ReplyCase {
    const char* name;
    std::string prepare; // fed first
    std::string query;
    std::string reply;
};

void runReplyCases(const std::vector<ReplyCase>& cases, const TerminalOptions& options = {})
{
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(options);
        feed(*f.terminal, c.prepare);
        EXPECT_EQ(f.reply(c.query), c.reply);
        // A reply is one send call; no reply is no call at all.
        EXPECT_EQ(f.delegate.sends.size(), c.reply.empty() ? 0u : 1u);
    }
}

const std::string eightBit = "\x1b[62;2\"p";

TEST(ReportsTest, DeviceStatusReports)
{
    runReplyCases({
        {"DSR 5", "", "\x1b[5n", "\x1b[0n"},
        {"CPR 8-bit", eightBit, "\x1b[6n", "\x9b" "1;1R"},
        {"CPR", "\x1b[5;10H", "\x1b[6n", "\x1b[5;10R"},
        {"DECXCPR", "\x1b[5;10H", "\x1b[?6n", "\x1b[?5;10;1R"},
        {"CPR origin mode, top of region", "\x1b[5;20r\x1b[5;1H\x1b[?6h", "\x1b[6n", "\x1b[1;1R"},
        {"CPR origin mode, above region", "\x1b[5;20r\x1b[2;3H\x1b[?6h", "\x1b[6n", "\x1b[1;3R"},
        {"CPR origin and margin modes", "\x1b[?69h\x1b[3;10s\x1b[1;6H\x1b[?6h", "\x1b[6n", "\x1b[1;4R"},
        {"CPR origin mode, left of the margin", "\x1b[?69h\x1b[10;20s\x1b[1;3H\x1b[?6h", "\x1b[6n", "\x1b[1;1R"},
        // After a character in the last column the cursor waits for the wrap; it is
        // reported on that column, not beyond the screen.
        {"CPR after the last column", "\x1b[3;1H" + std::string(80, 'x'), "\x1b[6n", "\x1b[3;80R"},
        {"DEC 15", "", "\x1b[?15n", "\x1b[?10n"},
        {"DEC 25", "", "\x1b[?25n", "\x1b[?21n"},
        {"DEC 26", "", "\x1b[?26n", "\x1b[?27;1;0;0n"},
        {"DEC 55", "", "\x1b[?55n", "\x1b[?53n"},
        {"DEC 56", "", "\x1b[?56n", "\x1b[?57;1n"},
        {"DEC 62", "", "\x1b[?62n", "\x1b[0*{"},
        {"DECCKSR with id", "", "\x1b[?63;7n", "\x1bP7!~0000" + ST7},
        {"DEC 75", "", "\x1b[?75n", "\x1b[?70n"},
        {"DEC 85", "", "\x1b[?85n", "\x1b[?83n"},
        {"unknown DEC", "", "\x1b[?99n", ""},
        {"DEC form of 5", "", "\x1b[?5n", ""},
    });
}

TEST(ReportsTest, DeviceAttributes)
{
    const std::vector<ReplyCase> common = {
        {"DA2", "", "\x1b[>c", "\x1b[>65;20;1c"},
        {"DA with parameter", "", "\x1b[1c", ""},
        {"tertiary DA", "", "\x1b[=c", ""},
    };
    runReplyCases(common);
    struct Case { std::string termName; bool sixel; std::string reply; };
    const std::vector<Case> cases = {
        {"xterm-256color", true, "\x1b[?65;4;1;2;6;21;22;17;28c"},
        {"xterm-256color", false, "\x1b[?65;1;2;6;21;22;17;28c"},
        {"screen-256color", true, "\x1b[?1;2c"},
        {"linux", true, "\x1b[?6c"},
        {"vt100", true, ""},
    };
    for (const Case& c : cases) {
        TerminalOptions options;
        options.termName = c.termName;
        options.enableSixelReported = c.sixel;
        SCOPED_TRACE(c.termName + (c.sixel ? " with sixel" : " without sixel"));
        runReplyCases({{"CSI c", "", "\x1b[c", c.reply}}, options);
    }
    runReplyCases({{"DA 8-bit", eightBit, "\x1b[c", "\x9b?65;4;1;2;6;21;22;17;28c"}, {"DA2 8-bit", eightBit, "\x1b[>c", "\x9b>65;20;1c"}});
}

TEST(ReportsTest, VersionReportIsAlwaysSevenBit)
{
    const std::string version = "\x1bP>|Corvantix 1.20.0+v1.20.0:" + ST7;
    runReplyCases({
        {"XTVERSION", "", "\x1b[>q", version},
        {"XTVERSION 8-bit", eightBit, "\x1b[>q", version},
        {"XTVERSION 1", "", "\x1b[>1q", ""},
    });
}

TEST(ReportsTest, VersionText)
{
    using Text = std::optional<std::string>;
    struct Case { Text version, suffix, build; std::string text; };
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt, std::nullopt, "Corvantix:"},
        {"v1.20.0", std::nullopt, "v1.20.0", "Corvantix 1.20.0+v1.20.0:"},
        {"vv1", std::nullopt, std::nullopt, "Corvantix v1:"},
        {"\x01v2\x7f", "\xc3\xa9x", "unknown", "Corvantix 2-x:"},
        {std::nullopt, "\t", "b\n", "Corvantix+b:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto view = [](const Text& s) { return s ? std::optional<std::string_view>(*s) : std::nullopt; };
        EXPECT_EQ(terminalVersionText(view(c.version), view(c.suffix), view(c.build)), c.text);
    }
    // Long texts are cut to 256 bytes and still end with ":".
    EXPECT_EQ(terminalVersionText(std::string(300, 'a'), std::nullopt, std::nullopt), "Corvantix " + std::string(245, 'a') + ":");
}

TEST(ReportsTest, SettingRequests)
{
    const auto dcs = [](const std::string& text) { return "\x1bP$q" + text + "\x1b\\"; };
    runReplyCases({
        {"DECSCA", "", dcs("\"q"), "\x1bP1$r\"q" + ST7},
        {"DECSCL", "", dcs("\"p"), "\x1bP1$r65;1\"p" + ST7},
        {"DECSCUSR after a bar", "\x1b[5 q", dcs(" q"), "\x1bP1$r2 q" + ST7},
        {"SGR", "\x1b[1;31m", dcs("m"), "\x1bP1$r0;1;31m" + ST7},
        {"DECSTBM default", "", dcs("r"), "\x1bP1$r1;25r" + ST7},
        {"DECSLRM default", "", dcs("s"), "\x1bP1$r1;80s" + ST7},
        {"unknown", "", dcs("x"), "\x1bP0$r" + ST7},
        {"not exact", "", dcs("mm"), "\x1bP0$r" + ST7},
        {"8-bit known", eightBit, dcs("r"), "\x90" "1$r1;25r\x9c"},
    });
}

TEST(ReportsTest, SettingRequestDataIsCapped)
{
    const std::string unknown = "\x1bP0$r" + ST7;
    runReplyCases({
        {"65 bytes starting with a valid request", "", "\x1bP$qm" + std::string(64, ' ') + ST7, unknown},
        {"8-bit overflow", eightBit, "\x1bP$q" + std::string(100, 'r') + ST7, "\x90" "0$r\x9c"},
    });
    // Exactly the cap is not an overflow; one byte more is.
    Fixture f;
    DECRQSS handler(*f.terminal);
    handler.hook({}, {}, 'q');
    const std::string full(DECRQSS::maximumDataLength, 'x');
    handler.put(std::span(reinterpret_cast<const std::uint8_t*>(full.data()), full.size()));
    EXPECT_FALSE(handler.overflowed);
    const std::uint8_t m = 'm';
    handler.put(std::span(&m, 1));
    EXPECT_TRUE(handler.overflowed);
    EXPECT_EQ(handler.data.size(), DECRQSS::maximumDataLength);
    // Streamed over many feeds it is answered once, and the next request starts afresh.
    feed(*f.terminal, "\x1bP$q");
    for (int i = 0; i < 100; ++i) feed(*f.terminal, std::string(1000, 'm'));
    EXPECT_EQ(f.replies(ST7), std::vector<std::string>{unknown});
    EXPECT_EQ(f.reply("\x1bP$qm" + ST7), "\x1bP1$r0m" + ST7);
}

TEST(ReportsTest, CursorStyle)
{
    struct Case { const char* input; CursorStyle style; std::vector<std::string> events; };
    const std::vector<Case> cases = {
        {"\x1b[6 q", CursorStyle::steadyBar, {"cursorStyleChanged(steadyBar)"}},
        {"\x1b[6 q\x1b[0 q", CursorStyle::blinkBlock, {"cursorStyleChanged(steadyBar)", "cursorStyleChanged(blinkBlock)"}},
        // An unchanged style calls nothing.
        {"\x1b[5 q\x1b[5 q", CursorStyle::blinkBar, {"cursorStyleChanged(blinkBar)"}},
        // Ignored.
        {"\x1b[7 q", CursorStyle::blinkBlock, {}},
        {"\x1b[5q", CursorStyle::blinkBlock, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        Fixture f;
        feed(*f.terminal, c.input);
        EXPECT_EQ(f.terminal->options().cursorStyle, c.style);
        EXPECT_EQ(f.delegate.events, c.events);
    }
}

TEST(ReportsTest, ScrollRegionAsReported)
{
    struct Case { const char* input; const char* region; };
    const std::vector<Case> cases = {
        {"\x1b[5;20r", "5;20r"},
        {"\x1b[5;5r", "1;25r"}, // top not above bottom: kept
        {"\x1b[5;20r\x1b[5;5r", "5;20r"},
        {"\x1b[5;20r\x1b[0;0r", "1;25r"},
        {"\x1b[3;100r", "3;25r"},
        {"\x1b[10r", "10;25r"},
        {"\x1b[25;25r", "1;25r"},
        {"\x1b[20;5r", "1;25r"},
        {"\x1b[>5;20r", "1;25r"}, // a prefix makes it do nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        Fixture f;
        feed(*f.terminal, c.input);
        EXPECT_EQ(f.reply("\x1bP$qr" + ST7), "\x1bP1$r" + std::string(c.region) + ST7);
    }
}

TEST(ReportsTest, MarginsAsReported)
{
    struct Case { const char* input; const char* margins; };
    const std::vector<Case> cases = {
        {"\x1b[?69h\x1b[3;60s", "3;60s"},
        {"\x1b[?69h\x1b[10;5s", "5;5s"}, // no order check: both become the right margin
        {"\x1b[?69h\x1b[5;0s", "1;1s"},
        {"\x1b[?69h\x1b[s", "1;80s"},
        {"\x1b[?69h\x1b[5;200s", "5;80s"},
        {"\x1b[10;20s", "1;80s"}, // without margin mode this is DECSC
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        Fixture f;
        feed(*f.terminal, "\x1b[10;8H");
        feed(*f.terminal, c.input);
        EXPECT_EQ(f.reply("\x1bP$qs" + ST7), "\x1bP1$r" + std::string(c.margins) + ST7);
        EXPECT_EQ(cursor(*f.terminal), (CursorPosition{7, 9})); // DECSLRM does not move the cursor
    }
}

} // namespace
} // namespace corvantix

// Operating system commands fed as bytes: titles, palette, dynamic colours, directory,
// hyperlinks, progress, clipboard, notifications and inline files.
#include "TerminalTestSupport.h"
#include "model/TinyAtom.h"

#include "engine/platform/LogCapture.h"
namespace corvantix {
namespace {

using test::RecordingDelegate;
using namespace std::string_literals;

constexpr std::string_view BEL = "\x07";
constexpr std::string_view ST = "\x1b\\";

std::string osc(std::string_view body, std::string_view terminator = BEL)
{
    return "\x1b]" + std::string(body) + std::string(terminator);
}

// The reply form: always ended by ST.
std::string oscReply(std::string_view body) { return "\x1b]" + std::string(body) + "\x1b\\"; }

using Fixture = TerminalFixture;

std::uint16_t payloadAt(const Fixture& f, int col, int row) { return f.terminal->getCharData(col, row)->payload.code; }

TEST(OscTest, Titles)
{
    Fixture f;
    feed(*f.terminal, osc("2;first") + osc("1;icon", ST));
    EXPECT_EQ(f.terminal->terminalTitle(), "first");
    feed(*f.terminal, osc("0;both"));
    EXPECT_EQ(f.terminal->terminalTitle(), "both");
    EXPECT_EQ(f.terminal->iconTitle(), "icon"); // OSC 0 leaves the icon title alone
    // A title that is not UTF-8 is stored empty; a missing or bad number is no title at all.
    feed(*f.terminal, osc("2;bad\xff"));
    EXPECT_EQ(f.terminal->terminalTitle(), "");
    f.delegate.clear();
    feed(*f.terminal, osc("2;x") + osc(";t") + osc("x;t"));
    EXPECT_EQ(f.delegate.events, std::vector<std::string>{"setTerminalTitle(x)"});
}

TEST(OscTest, PaletteSetAndQuery)
{
    struct Case { std::string input; std::vector<std::string> replies, events; }; // events: besides the sends
    const std::vector<Case> cases = {
        {osc("4;5;rgb:12/34/56"), {}, {"colorChanged(5)"}},
        // a BEL-terminated query is still answered with ST
        {osc("4;5;#ffffff") + osc("4;5;?", BEL), {oscReply("4;5;rgb:ffff/ffff/ffff")}, {"colorChanged(5)"}},
        {osc("4;1;#100;2;#200") + osc("4;1;?;2;?", ST),
         {oscReply("4;1;rgb:1010/0000/0000"), oscReply("4;2;rgb:2020/0000/0000")},
         {"colorChanged(1)", "colorChanged(2)"}},
        {osc("4;255;#010203") + osc("4;255;?"), {oscReply("4;255;rgb:0101/0202/0303")}, {"colorChanged(255)"}},
        {"\x1b G" + osc("4;7;#123456") + osc("4;7;?"), {"\x9d" "4;7;rgb:1212/3434/5656\x9c"}, {"colorChanged(7)"}},
        // an index above 255 stops the command; pairs before it stay
        {osc("4;1;rgb:ff/00/00;300;red"), {}, {"colorChanged(1)"}},
        // an unreadable colour is skipped
        {osc("4;2;bogus;3;#000003"), {}, {"colorChanged(3)"}},
        // a trailing index without a colour is ignored
        {osc("4;1;#f00;2"), {}, {"colorChanged(1)"}},
    };
    for (const Case& c : cases) {
        Fixture f;
        EXPECT_EQ(f.replies(c.input), c.replies) << c.input;
        EXPECT_EQ(f.delegate.eventsBesidesSends(), c.events) << c.input;
    }
}

TEST(OscTest, PaletteReset)
{
    struct Case { std::string reset; std::vector<int> restored; std::vector<std::string> events; }; // restored: of 0..3
    const std::vector<Case> cases = {
        {osc("104"), {0, 1, 2, 3}, {"colorChanged(none)"}},
        {osc("104;2"), {2}, {"colorChanged(2)"}},
        {osc("104;3;1"), {1, 3}, {"colorChanged(3)", "colorChanged(1)"}},
        // a field that is not a number resets entry 0
        {osc("104;x"), {0}, {"colorChanged(0)"}},
        {osc("104;300;2;-1"), {2}, {"colorChanged(2)"}},
    };
    for (const Case& c : cases) {
        Fixture f;
        feed(*f.terminal, osc("4;0;#010101;1;#010101;2;#010101;3;#010101"));
        f.delegate.clear();
        feed(*f.terminal, c.reset);
        EXPECT_EQ(f.delegate.events, c.events) << c.reset;
        for (int i = 0; i < 4; ++i) {
            const bool restored = std::find(c.restored.begin(), c.restored.end(), i) != c.restored.end();
            EXPECT_EQ(f.terminal->ansiColors()[i],
                      restored ? f.terminal->defaultAnsiColors()[i] : Color(0x0101, 0x0101, 0x0101))
                << c.reset << " entry " << i;
        }
    }
}

TEST(OscTest, DynamicColorQueries)
{
    struct Case { std::string input; std::vector<std::string> replies; };
    const std::vector<Case> cases = {
        {osc("10;?"), {oscReply("10;rgb:1111/2222/3333")}},
        {osc("11;?", ST), {oscReply("11;rgb:4444/5555/6666")}},
        // without a cursor colour the cursor query answers the foreground
        {osc("12;?"), {oscReply("12;rgb:1111/2222/3333")}},
        {osc("12;#ff0000") + osc("12;?"), {oscReply("12;rgb:ffff/0000/0000")}},
        // each further field addresses the next colour; past the cursor colour nothing
        {osc("10;?;?;?"), {oscReply("10;rgb:1111/2222/3333"), oscReply("11;rgb:4444/5555/6666"), oscReply("12;rgb:1111/2222/3333")}},
        {osc("12;?;?"), {oscReply("12;rgb:1111/2222/3333")}},
        {osc("10;;?"), {oscReply("10;rgb:1111/2222/3333")}}, // empty fields are dropped
        {osc("10"), {}},
        // an unreadable field is skipped, the next one sets the next colour
        {osc("11;nonsense;#ffffff") + osc("12;?"), {oscReply("12;rgb:ffff/ffff/ffff")}},
        {osc("12;#ff0000") + osc("112") + osc("12;?"), {oscReply("12;rgb:1111/2222/3333")}},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.delegate.colors = TerminalColors{Color(0x1111, 0x2222, 0x3333), Color(0x4444, 0x5555, 0x6666)};
        EXPECT_EQ(f.replies(c.input), c.replies) << c.input;
    }
}

TEST(OscTest, DynamicColorsWithoutDelegate)
{
    auto terminal = makeTerminal();
    feed(*terminal, osc("11;?") + osc("10;#102030") + osc("12;?"));
    EXPECT_EQ(terminal->foregroundColor(), Color(0x1010, 0x2020, 0x3030));
}

TEST(OscTest, CurrentDirectoryAndDocument)
{
    Fixture f;
    feed(*f.terminal, osc("7;file://host.example/home/user/d%20ir") + osc("6;file:///tmp/notes.txt", ST));
    EXPECT_EQ(f.terminal->hostCurrentDirectory(), "file://host.example/home/user/d%20ir");
    EXPECT_EQ(f.terminal->hostCurrentDocument(), "file:///tmp/notes.txt");
    EXPECT_EQ(f.delegate.count("hostCurrentDirectoryUpdated"), 1);
    EXPECT_EQ(f.delegate.count("hostCurrentDocumentUpdated"), 1);
    // An untrusted host is not listened to.
    f.delegate.trusts = false;
    f.delegate.clear();
    feed(*f.terminal, osc("7;/elsewhere") + osc("6;/other"));
    EXPECT_EQ(f.terminal->hostCurrentDirectory(), "file://host.example/home/user/d%20ir");
    EXPECT_EQ(f.terminal->hostCurrentDocument(), "file:///tmp/notes.txt");
    EXPECT_EQ(f.delegate.events, (std::vector<std::string>{"trustsHost", "trustsHost"}));
}

TEST(OscTest, HyperlinkCellsCarryOnePayload)
{
    Fixture f(10, 5);
    // "ab" then "cdefghijkl" wraps: the link spans two rows; "Z" after the close has none.
    feed(*f.terminal, osc("8;id=1;https://example.com/a", ST) + "abcdefghijkl" + osc("8;;", ST) + "Z");
    const std::uint16_t code = payloadAt(f, 0, 0);
    ASSERT_NE(code, 0);
    EXPECT_EQ(payloadAt(f, 9, 0), code);
    EXPECT_EQ(payloadAt(f, 1, 1), code);
    EXPECT_EQ(payloadAt(f, 2, 1), 0); // "Z"
    EXPECT_EQ(TinyAtom::lookup(code), "id=1;https://example.com/a");
    EXPECT_TRUE(f.terminal->payloadCodes().contains(code));
    EXPECT_FALSE(f.terminal->activeHyperlink().has_value());
}

TEST(OscTest, OverlongHyperlinkPayloadWritesNoLink)
{
    struct Case { std::size_t uriLength; bool linked; }; // the payload is ";" + URI
    const std::vector<Case> cases = {
        {Terminal::maximumHyperlinkPayloadLength - 1, true},
        {Terminal::maximumHyperlinkPayloadLength, false},
        {1 << 20, false},
    };
    for (const Case& c : cases) {
        Fixture f;
        // An open link is ended by the overlong one, not kept.
        feed(*f.terminal, osc("8;;https://open.example") + "a");
        const std::string uri = "https://x.example/" + std::string(c.uriLength - 18, 'p');
        feed(*f.terminal, osc("8;;" + uri) + "b" + osc("8;;") + "c");
        const std::uint16_t code = payloadAt(f, 1, 0);
        EXPECT_EQ(code != 0, c.linked) << c.uriLength;
        if (c.linked) {
            EXPECT_EQ(TinyAtom::lookup(code), ";" + uri);
        }
        EXPECT_NE(payloadAt(f, 0, 0), 0);
        EXPECT_EQ(payloadAt(f, 2, 0), 0);
    }
}

// Fills the process-wide registry with codes of nobody's, and gives them back at the end.
class FullRegistry {
public:
    FullRegistry()
    {
        while (auto atom = TinyAtom::register_("filler " + std::to_string(codes_.size()))) codes_.push_back(atom->code);
    }
    ~FullRegistry() { TinyAtom::releaseAll(std::span<const std::uint16_t>(codes_)); }
    FullRegistry(const FullRegistry&) = delete;
    FullRegistry& operator=(const FullRegistry&) = delete;

private:
    std::vector<std::uint16_t> codes_;
};

TEST(OscTest, FullRegistryLeavesTheLinkUnavailable)
{
    Fixture f;
    {
        FullRegistry full;
        feed(*f.terminal, osc("8;;https://full.example") + "ab");
        EXPECT_EQ(payloadAt(f, 0, 0), 0);
        EXPECT_EQ(payloadAt(f, 1, 0), 0);
        ASSERT_TRUE(f.terminal->activeHyperlink().has_value());
        EXPECT_EQ(f.terminal->activeHyperlink()->kind, ActiveHyperlink::Case::unavailable);
    }
    // Still unavailable until the next OSC 8, even with codes free again.
    feed(*f.terminal, "c");
    EXPECT_EQ(payloadAt(f, 2, 0), 0);
    feed(*f.terminal, osc("8;;https://again.example") + "d");
    EXPECT_NE(payloadAt(f, 3, 0), 0);
}

TEST(OscTest, ProgressReports)
{
    struct Case { std::string payload; std::string event; }; // event "": not a progress report
    const std::vector<Case> cases = {
        {"4;1", "progressReport(1,0)"},
        {"4;1;150", "progressReport(1,100)"},
        {"4;0;50", "progressReport(0,none)"},
        {"4;4;10", "progressReport(4,10)"},
        {"4;12", ""},
        {"04;1", ""},
        {"4;1;abc", ""},
        {"4;1;99999999999999999999", ""},
    };
    for (const Case& c : cases) {
        Fixture f;
        feed(*f.terminal, osc("9;" + c.payload));
        EXPECT_EQ(f.delegate.events, c.event.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.event})
            << c.payload;
    }
}

TEST(OscTest, Clipboard)
{
    // content: what the host's clipboard holds; events: besides the sends
    struct Case { std::string payload; std::optional<std::string> content; std::vector<std::string> events, replies; };
    const std::vector<Case> cases = {
        {"c;aGVsbG8=", {}, {"clipboardCopy(hello)"}, {}},
        {"c;", {}, {"clipboardCopy()"}, {}},
        {"c;?", "hi"s, {"clipboardRead"}, {oscReply("52;c;aGk=")}},
        {"pc;?", "\xff\x00\x01"s, {"clipboardRead"}, {oscReply("52;pc;/wAB")}},
        {"c;?", std::nullopt, {"clipboardRead"}, {}},
        {"c;??", std::nullopt, {}, {}},     // not a query, not base64
        {"c;aGVsbG8", {}, {}, {}},          // padding missing
        {"c", {}, {}, {}},                  // no ";"
    };
    for (const Case& c : cases) {
        Fixture f;
        if (c.content)
            f.delegate.clipboardContent = std::vector<std::uint8_t>(c.content->begin(), c.content->end());
        EXPECT_EQ(f.replies(osc("52;" + c.payload)), c.replies) << c.payload;
        EXPECT_EQ(f.delegate.eventsBesidesSends(), c.events) << c.payload;
    }
}

TEST(OscTest, Notifications)
{
    struct Case { std::string payload; std::vector<std::string> events; };
    const std::vector<Case> cases = {
        {"notify;Build;done", {"notify(Build,done)"}},
        {"notify;Caf\xc3\xa9;\xe2\x9c\x93", {"notify(Caf\xc3\xa9,\xe2\x9c\x93)"}},
        {"notify;Title", {}},
        {"notify;a;\xff", {}},
    };
    for (const Case& c : cases) {
        Fixture f;
        feed(*f.terminal, osc("777;" + c.payload));
        EXPECT_EQ(f.delegate.events, c.events) << c.payload;
    }
}

TEST(OscTest, InlineContent)
{
    struct Case { std::string payload; std::vector<std::string> events; };
    const std::vector<Case> cases = {
        {"File=inline=1;width=50%:aGVsbG8=", {"createImage(5,percent(50),auto,true)"}},
        {"File=inline=1;width=200:aGk=", {"createImage(2,auto,auto,true)"}},
        {"File=inline=1;width=199;height=12px:aGk=", {"createImage(2,cells(199),pixels(12),true)"}},
        // the walk over arguments stops at a field without "="
        {"File=size=2;bogus;inline=1:aGk=", {"inlineContentReceived(File=size=2;bogus;inline=1:aGk=)"}},
        {"File=inline=0:aGk=", {"inlineContentReceived(File=inline=0:aGk=)"}},
        {"SetMark=1", {"inlineContentReceived(SetMark=1)"}},
        {"File=inline=1:not base64!", {}}, // no fallback for bad data
        {"File=inline=1", {}},             // no ":"
    };
    for (const Case& c : cases) {
        Fixture f;
        feed(*f.terminal, osc("1337;" + c.payload));
        EXPECT_EQ(f.delegate.events, c.events) << c.payload;
    }
}

} // namespace
} // namespace corvantix

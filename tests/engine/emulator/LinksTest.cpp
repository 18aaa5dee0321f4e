// Link detection: OSC 8 links under each of their cells, implicit links found by the
// expression over wrapped rows and over rows a program broke by hand, and position lookup.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

std::string osc8(std::string_view uri) { return "\x1b]8;;" + std::string(uri) + "\x1b\\"; }

const std::string osc8End = "\x1b]8;;\x1b\\";

std::optional<LinkMatch> linkAt(Terminal& terminal, int col, int row,
                                 LinkLookupMode mode = LinkLookupMode::explicitAndImplicit)
{
    return terminal.linkMatch(LinkLookupLocation::buffer(Position{col, row}), mode);
}

TEST(LinksTest, ExplicitLinksUnderTheirCells)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<int> columns;
        std::optional<std::string> text;
        ColumnRange range;
        LinkLookupMode mode = LinkLookupMode::explicitAndImplicit;
    };
    const std::string link = osc8("http://a.example/") + "link" + osc8End;
    const Case cases[] = {
        {"each cell of the link", "ab" + link + " cd", {2, 3, 4, 5}, "http://a.example/", {2, 6},
         LinkLookupMode::explicitOnly},
        {"cells around it", "ab" + link + " cd", {0, 1, 6, 7, 15}, std::nullopt, {}},
        {"both halves of a wide character", "x" + osc8("http://wide.example/") + "\xe4\xb8\xad" "y" + osc8End,
         {1, 2, 3}, "http://wide.example/", {1, 4}},
        {"the link before the text under it", osc8("http://real.example/") + "http://shown.example/" + osc8End,
         {3}, "http://real.example/", {0, 21}},
        {"an implicit link only when asked for", "see http://example.com/path now", {10}, std::nullopt, {},
         LinkLookupMode::explicitOnly},
    };
    for (const Case& c : cases) {
        auto terminal = makeTerminal(40, 3);
        feed(*terminal, c.bytes);
        for (const int col : c.columns) {
            SCOPED_TRACE(std::string(c.name) + ", column " + std::to_string(col));
            const std::optional<LinkMatch> match = linkAt(*terminal, col, 0, c.mode);
            ASSERT_EQ(match.has_value(), c.text.has_value());
            if (c.text) {
                EXPECT_EQ(*match, (LinkMatch{*c.text, 0, c.range, true, {RowRange{0, c.range}}}));
            }
        }
    }
}

TEST(LinksTest, ImplicitLinksOnOneRow)
{
    struct Case { const char* name; std::string bytes; int col; std::optional<std::string> text; ColumnRange range; };
    const Case cases[] = {
        {"url", "see http://example.com/path now", 10, "http://example.com/path", {4, 27}},
        {"trailing comma and full stop excluded", "go to http://example.com/a,.", 6, "http://example.com/a", {6, 26}},
        {"click on the comma", "go to http://example.com/a,.", 26, std::nullopt, {}},
        {"bracketed word inside", "x https://e.org/w(ab)c y", 8, "https://e.org/w(ab)c", {2, 22}},
        {"relative path with ./", "ls ./src/main.cpp now", 5, "./src/main.cpp", {3, 17}},
        {"word/path with a dot", "x a b/c.txt", 8, "b/c.txt", {4, 11}},
        {"match after $ is skipped", "x a$b/c.txt", 8, std::nullopt, {}},
        {"after wide characters", "\xe4\xb8\xad\xe6\x96\x87 http://a.example/x", 9, "http://a.example/x", {5, 23}},
        {"plain words", "hello world", 2, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(80, 5);
        feed(*terminal, c.bytes);
        const std::optional<LinkMatch> match = linkAt(*terminal, c.col, 0);
        if (!c.text) {
            EXPECT_FALSE(match.has_value()) << match->text;
            continue;
        }
        ASSERT_TRUE(match.has_value());
        EXPECT_EQ(match->text, *c.text);
        EXPECT_EQ(match->range, c.range);
        EXPECT_FALSE(match->isExplicit);
        EXPECT_EQ(match->rowRanges, (std::vector<RowRange>{{0, c.range}}));
    }
}

TEST(LinksTest, UrlWrappedOverTwoRows)
{
    auto terminal = makeTerminal(20, 4);
    feed(*terminal, "abc http://example.com/some/path xyz");
    const std::string url = "http://example.com/some/path";
    const std::vector<RowRange> rows = {{0, {4, 20}}, {1, {0, 12}}};
    const std::optional<LinkMatch> lower = linkAt(*terminal, 3, 1);
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(*lower, (LinkMatch{url, 1, {0, 12}, false, rows}));
    const std::optional<LinkMatch> upper = linkAt(*terminal, 5, 0);
    ASSERT_TRUE(upper.has_value());
    EXPECT_EQ(*upper, (LinkMatch{url, 0, {4, 20}, false, rows}));
    EXPECT_FALSE(linkAt(*terminal, 14, 1).has_value()); // "xyz"
}

TEST(LinksTest, LongLinkBrokenByHardLineEnds)
{
    const std::string head = "url: https://example.com/";
    const std::string joined = "https://example.com/" + std::string(55, 'a') + "bcdef/index.html";
    struct Case { const char* name; std::string upper, lower; int lookupRow, lookupCol; std::string text; std::vector<RowRange> rowRanges; };
    const Case cases[] = {
        {"joined, looked up below", head + std::string(55, 'a'), "bcdef/index.html and more", 1, 2, joined, {{0, {5, 80}}, {1, {0, 16}}}},
        // Column 63 is left of 80 - 80/5 = 64: the upper row is not used up.
        {"upper row ends too early", head + std::string(39, 'a'), "bcdef/index.html", 1, 2, "bcdef/index.html", {{1, {0, 16}}}},
        {"upper row ends at column 64", head + std::string(40, 'a'), "bcdef/index.html", 1, 2,
         "https://example.com/" + std::string(40, 'a') + "bcdef/index.html", {{0, {5, 65}}, {1, {0, 16}}}},
        {"lower row starts outside the link characters", head + std::string(55, 'a'), "<bcdef/index.html", 1, 3, "bcdef/index.html", {{1, {1, 17}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(80, 5);
        feed(*terminal, c.upper + "\r\n" + c.lower);
        ASSERT_FALSE(terminal->buffer().lines()[1]->isWrapped());
        const std::optional<LinkMatch> match = linkAt(*terminal, c.lookupCol, c.lookupRow);
        ASSERT_TRUE(match.has_value());
        EXPECT_EQ(match->text, c.text);
        EXPECT_EQ(match->rowRanges, c.rowRanges);
    }
}

TEST(LinksTest, LongWrappedLines)
{
    auto terminal = makeTerminal(100, 50);
    // A URL deep inside a long wrapped line of prose is found from the rows around it.
    std::string prose;
    while (prose.size() < 9000)
        prose += "lorem ipsum, dolor sit amet. ";
    feed(*terminal, prose + "https://example.org/a/b.html tail");
    const int offset = static_cast<int>(prose.size()) + 3;
    EXPECT_EQ(terminal->linkText(offset % 100, offset / 100, LinkLookupLocation::Kind::buffer,
                                 LinkLookupMode::explicitAndImplicit),
              "https://example.org/a/b.html");
    // A long run of link characters without a dot makes the expression slow; the search
    // gives up in bounded time and finds nothing.
    auto blob = makeTerminal(200, 60);
    feed(*blob, std::string(200 * 60 - 1, 'a'));
    EXPECT_FALSE(linkAt(*blob, 100, 30).has_value());
}

TEST(LinksTest, ScreenLocationsAndClamping)
{
    auto terminal = makeTerminal(40, 3);
    feed(*terminal, "line1\r\nline2\r\nline3\r\nsee http://x.example/ ok");
    ASSERT_EQ(terminal->buffer().yDisp(), 1);
    const Buffer& screen = terminal->buffer();
    using Kind = LinkLookupLocation::Kind;
    struct Case { int col; int row; Kind kind; Position expected; };
    const Case cases[] = {
        {6, 2, Kind::screen, {6, 3}},   // the scrollback position is added
        {6, 50, Kind::screen, {6, 3}},  // rows clamp to the last line
        {99, 1, Kind::buffer, {39, 1}}, // columns clamp to the screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.col) + "," + std::to_string(c.row));
        EXPECT_EQ(terminal->resolveLinkPosition(c.col, c.row, c.kind, screen), c.expected);
    }
    EXPECT_EQ(terminal->linkText(6, 2, Kind::screen, LinkLookupMode::explicitAndImplicit), "http://x.example/");
    EXPECT_FALSE(terminal->linkText(6, 2, Kind::buffer, LinkLookupMode::explicitAndImplicit).has_value());
    // A screen without lines has no position at all.
    ASSERT_EQ(terminal->altBuffer().lines().count(), 0);
    EXPECT_FALSE(terminal->resolveLinkPosition(0, 0, Kind::buffer, terminal->altBuffer()).has_value());
}

// A program writing link after link, far more than there are codes, keeps to its share:
// a terminal beside it still gets codes, and the flooding one keeps writing (its newer
// links without a code) without rescanning its screens for each.
TEST(LinksTest, LinksOfOneTerminalLeaveCodesForTheOthers)
{
    TerminalOptions options = TerminalFixture::sizedOptions(200, 50);
    options.scrollback = 1000;
    Terminal flooding(nullptr, options);
    std::string stream;
    for (int i = 0; i < 70'000; ++i)
        stream += osc8("https://e.invalid/" + std::to_string(i)) + "L" + osc8End;
    flooding.feed(stream);
    EXPECT_LE(flooding.payloadCodes().size(), Terminal::maximumPayloadCodes);
    // The first links, still on screen, keep theirs.
    EXPECT_EQ(linkAt(flooding, 0, 0, LinkLookupMode::explicitOnly).value_or(LinkMatch{}).text, "https://e.invalid/0");
    auto other = makeTerminal(20, 3);
    feed(*other, "ab" + osc8("http://other.example/") + "link" + osc8End);
    const std::optional<LinkMatch> match = linkAt(*other, 3, 0, LinkLookupMode::explicitOnly);
    ASSERT_TRUE(match.has_value());
    EXPECT_EQ(match->text, "http://other.example/");
    EXPECT_EQ(match->range, (ColumnRange{2, 6}));
}

} // namespace
} // namespace corvantix

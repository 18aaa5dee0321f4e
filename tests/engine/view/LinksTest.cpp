// Links apart from the widget: OSC 8 parameters, which link a click opens in each highlight
// mode, and what a link's text points at.
#include "engine/emulator/TerminalTestSupport.h"
#include "view/Links.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <set>
#include <string>

namespace corvantix {

struct ParameterCase {
    const char* name;
    const char* payload;
    std::optional<LinkParameters> expected;
};

void PrintTo(const ParameterCase& c, std::ostream* out) { *out << c.name << " \"" << c.payload << '"'; }

struct ClickCase {
    const char* name;
    LinkHighlightMode mode;
    bool hovered;     // the pointer moved over the link with the modifier first
    bool commandHeld; // at the click
    int col;          // 0: the OSC 8 link, 12: the link found in the text
    std::optional<std::string> opens;
};

void PrintTo(const ClickCase& c, std::ostream* out) { *out << c.name; }

struct TargetCase {
    const char* name;
    const char* link;
    std::optional<LinkTarget> expected;
};

void PrintTo(const TargetCase& c, std::ostream* out) { *out << c.name; }

namespace {

using Params = std::map<std::string, std::string>;

class LinkParameterParsing : public ::testing::TestWithParam<ParameterCase> {};

TEST_P(LinkParameterParsing, GivesTheLinkAndItsParameters)
{
    EXPECT_EQ(parseLinkParameters(GetParam().payload), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Links, LinkParameterParsing,
    ::testing::Values(ParameterCase{"IdAndAnotherParameter", "id=1:foo=bar;http://h/x", LinkParameters{"http://h/x", Params{{"id", "1"}, {"foo", "bar"}}}},
                      ParameterCase{"NoParameters", ";http://h/x", LinkParameters{"http://h/x", {}}},
                      // The URI keeps its own ";".
                      ParameterCase{"TheUriKeepsItsSemicolon", "id=1;https://host/a;b=c", LinkParameters{"https://host/a;b=c", Params{{"id", "1"}}}},
                      ParameterCase{"NoSeparatorIsNoLink", "http://h/x", std::nullopt},
                      ParameterCase{"EmptyKeysAndValuesAreSkipped", "k=:=v:a=b=c;u", LinkParameters{"u", {}}},
                      ParameterCase{"ValueStartingWithEquals", "k==v;u", LinkParameters{"u", Params{{"k", "v"}}}},
                      ParameterCase{"TheLastIdWins", "id=1::id=2;u", LinkParameters{"u", Params{{"id", "2"}}}}),
    [](const ::testing::TestParamInfo<ParameterCase>& info) { return std::string(info.param.name); });

// Row 0: "LINK" written as an OSC 8 link to http://explicit/, then at column 12 a URL in
// plain text.
class LinkClicks : public ::testing::TestWithParam<ClickCase> {};

TEST_P(LinkClicks, OpenOnlyWhatTheModeAllows)
{
    const ClickCase& c = GetParam();
    auto terminal = makeTerminal(60, 5);
    feed(*terminal, "\x1b]8;id=7;http://explicit/\x1b\\LINK\x1b]8;;\x1b\\        http://implicit.example/x\r\n");
    std::optional<std::vector<RowRange>> highlight;
    if (c.hovered)
        highlight = hoverLinkRanges(*terminal, c.mode, true, c.col, 0);
    const std::optional<LinkParameters> opened = linkAt(*terminal, c.mode, highlight, c.col, 0, c.commandHeld);
    ASSERT_EQ(opened.has_value(), c.opens.has_value());
    if (opened) {
        EXPECT_EQ(opened->link, *c.opens);
    }
}

constexpr auto hover = LinkHighlightMode::hover;
constexpr auto hoverWithModifier = LinkHighlightMode::hoverWithModifier;
constexpr auto always = LinkHighlightMode::always;
constexpr auto alwaysWithModifier = LinkHighlightMode::alwaysWithModifier;

INSTANTIATE_TEST_SUITE_P(
    Links, LinkClicks,
    ::testing::Values(
        ClickCase{"ModifierClickOnTheHighlightedUrl", hoverWithModifier, true, true, 14, "http://implicit.example/x"},
        ClickCase{"PlainClickOnTheHighlightedUrl", hoverWithModifier, true, false, 14, std::nullopt},
        ClickCase{"ModifierClickWithoutHover", hoverWithModifier, false, true, 14, std::nullopt},
        ClickCase{"ModifierClickOnAnOsc8Link", hoverWithModifier, true, true, 1, "http://explicit/"},
        ClickCase{"HoverClickOnTheHighlightedUrl", hover, true, false, 14, "http://implicit.example/x"},
        ClickCase{"AlwaysClickOnAUrlInTheText", always, true, true, 14, std::nullopt},
        ClickCase{"AlwaysClickOnAnOsc8Link", always, false, false, 2, "http://explicit/"},
        ClickCase{"AlwaysWithModifierPlainClick", alwaysWithModifier, false, false, 2, std::nullopt},
        ClickCase{"AlwaysWithModifierModifierClick", alwaysWithModifier, false, true, 2, "http://explicit/"}),
    [](const ::testing::TestParamInfo<ClickCase>& info) { return std::string(info.param.name); });

TEST(LinkClicks, OnlyTheHighlightedLinkOpensInHoverMode)
{
    auto terminal = makeTerminal(60, 5);
    feed(*terminal, "http://one.example/a http://two.example/b\r\n");
    const auto highlight = hoverLinkRanges(*terminal, hover, false, 2, 0);
    ASSERT_TRUE(highlight);
    EXPECT_FALSE(linkAt(*terminal, hover, highlight, 25, 0, false));
    EXPECT_TRUE(linkAt(*terminal, hover, highlight, 3, 0, false));
}

TEST(LinkClicks, TheRightHalfOfAWideCharacterOpensItsLink)
{
    auto terminal = makeTerminal(20, 5);
    feed(*terminal, "\x1b]8;id=w;http://wide/\x1b\\\xE6\x97\xA5\x1b]8;;\x1b\\ \x1b]8;;http://other/\x1b\\o\x1b]8;;\x1b\\\r\n");
    const std::optional<LinkParameters> opened = linkAt(*terminal, always, std::nullopt, 1, 0, false);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->link, "http://wide/");
    EXPECT_EQ(opened->params, (Params{{"id", "w"}}));
}

class LinkTargets : public ::testing::TestWithParam<TargetCase> {};

TEST_P(LinkTargets, ResolveToAUrlOrAnExistingFile)
{
    const std::set<std::string> files = {"/home/u/x.txt", "/srv/a:1", "/srv/b", "/srv/c:7"};
    const auto exists = [&](const std::string& path) { return files.contains(path); };
    EXPECT_EQ(resolveLinkTarget(GetParam().link, std::string("/home/u"), exists), GetParam().expected);
}

LinkTarget file(const char* path) { return LinkTarget{LinkTarget::Kind::file, path}; }

INSTANTIATE_TEST_SUITE_P(
    Links, LinkTargets,
    ::testing::Values(TargetCase{"UrlWithAScheme", "https://h/x?a=1", LinkTarget{LinkTarget::Kind::url, "https://h/x?a=1"}},
                      TargetCase{"TildeWithLineAndColumn", "~/x.txt:12:3", file("/home/u/x.txt")},
                      TargetCase{"TildeWithLine", "~/x.txt:12", file("/home/u/x.txt")},
                      TargetCase{"SuffixNotEndingInDigits", "~/x.txt:12:", std::nullopt},
                      TargetCase{"FileNamedWithTheSuffixItself", "/srv/c:7", file("/srv/c:7")},
                      TargetCase{"AtMostLineAndColumnAreCut", "/srv/a:1:2:3", file("/srv/a:1")},
                      TargetCase{"PlainExistingFile", "/srv/b", file("/srv/b")},
                      TargetCase{"MissingFile", "/srv/missing:3", std::nullopt},
                      TargetCase{"TildeOfAnotherUser", "~x/x.txt", std::nullopt}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace corvantix

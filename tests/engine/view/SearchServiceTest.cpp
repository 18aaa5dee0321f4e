// The scrollback search: where find next and find previous continue, how matches map to
// cells across wrapped rows and wide characters, the match options, and findAll.
#include "engine/emulator/TerminalTestSupport.h"
#include "view/SearchService.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix {

// A search step: the term, the options, the direction, and the match it must select
// (col, row, size) or none.
struct Step {
    std::string term;
    SearchOptions options;
    bool forward = true;
    std::optional<SearchResult> expected;
};

struct SearchCase {
    const char* name;
    int cols;
    const char* output; // what the program printed
    std::vector<Step> steps;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.name; }

namespace {

constexpr SearchOptions plain{};
constexpr SearchOptions caseSensitive{true, false, false};
constexpr SearchOptions regex{false, true, false};
constexpr SearchOptions wholeWord{false, false, true};

std::optional<SearchResult> at(const char* term, int col, int row, int size)
{
    return SearchResult{term, col, row, size};
}

Step next(const char* term, std::optional<SearchResult> expected, SearchOptions options = plain)
{
    return Step{term, options, true, std::move(expected)};
}

Step previous(const char* term, std::optional<SearchResult> expected, SearchOptions options = plain)
{
    return Step{term, options, false, std::move(expected)};
}

class SearchSteps : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchSteps, SelectTheExpectedMatches)
{
    const SearchCase& c = GetParam();
    auto terminal = makeTerminal(c.cols, 5);
    feed(*terminal, c.output);
    SearchService service(*terminal);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const Step& step = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1) + " " + (step.forward ? "next " : "previous ") + step.term);
        const std::optional<SearchResult> found =
            step.forward ? service.findNext(step.term, step.options) : service.findPrevious(step.term, step.options);
        ASSERT_EQ(found.has_value(), step.expected.has_value());
        if (found) {
            EXPECT_EQ(found->term, step.expected->term);
            EXPECT_EQ(found->col, step.expected->col);
            EXPECT_EQ(found->row, step.expected->row);
            EXPECT_EQ(found->size, step.expected->size);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Search, SearchSteps,
    ::testing::Values(
        SearchCase{"SecondFindNextStartsAtTheMatchEnd", 20, "ab ab\r\n",
                   {next("ab", at("ab", 0, 0, 2)), next("ab", at("ab", 3, 0, 2)), next("ab", at("ab", 0, 0, 2))}},
        SearchCase{"ASingleMatchIsSelectedAgain", 20, "xyz\r\n", {next("xyz", at("xyz", 0, 0, 3)), next("xyz", at("xyz", 0, 0, 3))}},
        SearchCase{"ALongerTermThatStillMatchesStaysForward", 20, "abc abd\r\n",
                   {next("ab", at("ab", 0, 0, 2)), next("abc", at("abc", 0, 0, 3))}},
        SearchCase{"ALongerTermThatStillMatchesStaysBackward", 20, "abc abd\r\n",
                   {previous("ab", at("ab", 4, 0, 2)), previous("abd", at("abd", 4, 0, 3))}},
        // 10 columns: "0123456789" wraps into "abc" on the row below.
        SearchCase{"AMatchAcrossAWrapCountsTheColumnsOfEveryRow", 10, "0123456789abc",
                   {next("89ab", at("89ab", 8, 0, 4))}},
        SearchCase{"AMatchOnTheWrappedRowStartsThere", 10, "0123456789abc", {next("bc", at("bc", 1, 1, 2))}},
        SearchCase{"AWideCharacterIsOneCharacterAndTwoColumns", 20, "\xE6\x97\xA5\xE6\x9C\xAC" "x\r\n",
                   {next("x", at("x", 4, 0, 1)), next("\xE6\x9C\xAC", at("\xE6\x9C\xAC", 2, 0, 2))}},
        SearchCase{"ACombiningMarkJoinsItsCharacter", 20, "e\xCC\x81x e\r\n",
                   {next("x", at("x", 1, 0, 1)), next("e", at("e", 3, 0, 1))}},
        SearchCase{"TrailingBlanksAreNoText", 20, "ab\r\n", {next("b ", std::nullopt)}},
        SearchCase{"BlanksInsideALineAreSpaces", 20, "a\x1b[3Cb\r\n", {next("a   b", at("a   b", 0, 0, 5))}},
        SearchCase{"FindPreviousWithoutASelectionStartsAtTheEnd", 20, "foo\r\nfoo\r\n",
                   {previous("foo", at("foo", 0, 1, 3))}},
        SearchCase{"FindPreviousMovesBackAndWrapsRound", 20, "foo\r\nfoo foo\r\n",
                   {previous("foo", at("foo", 4, 1, 3)), previous("foo", at("foo", 0, 1, 3)),
                    previous("foo", at("foo", 0, 0, 3)), previous("foo", at("foo", 4, 1, 3))}},
        SearchCase{"CaseIsIgnoredUnlessAskedFor", 20, "Hello HELLO\r\n",
                   {next("hello", at("hello", 0, 0, 5)), next("hello", at("hello", 6, 0, 5)),
                    next("HELLO", at("HELLO", 6, 0, 5), caseSensitive)}},
        SearchCase{"CaseFoldingCoversMoreThanAscii", 20, "\xC3\x84pfel\r\n",
                   {next("\xC3\xA4pfel", at("\xC3\xA4pfel", 0, 0, 5))}},
        SearchCase{"ARegexGivesTheMatchedText", 20, "cat cot cut\r\n",
                   {next("c[ou]t", at("cot", 4, 0, 3), regex), next("c[ou]t", at("cut", 8, 0, 3), regex),
                    previous("C[AO]T", at("cot", 4, 0, 3), regex)}},
        SearchCase{"ARegexThatDoesNotCompileFindsNothing", 20, "(((\r\n", {next("(", std::nullopt, regex)}},
        // A failed whole-word candidate does not end the search of its row.
        SearchCase{"WholeWordLooksPastAFailedCandidate", 20, "foobar foo\r\n", {next("foo", at("foo", 7, 0, 3), wholeWord)}},
        SearchCase{"WholeWordLooksBeforeAFailedCandidate", 20, "foo barfoo\r\n",
                   {previous("foo", at("foo", 0, 0, 3), wholeWord)}},
        SearchCase{"WholeWordRegexLooksPastAFailedCandidate", 20, "foobar foo\r\n",
                   {next("fo+", at("foo", 7, 0, 3), SearchOptions{false, true, true})}},
        SearchCase{"UnderscoreIsAWordCharacter", 20, "a_foo foo_\r\n", {next("foo", std::nullopt, wholeWord)}},
        SearchCase{"AnEmptyTermFindsNothing", 20, "abc\r\n", {next("", std::nullopt)}}),
    [](const ::testing::TestParamInfo<SearchCase>& info) { return std::string(info.param.name); });

TEST(SearchSelection, EndsAfterTheMatchInReadingOrder)
{
    // A match that ends exactly at a row's end ends at the first cell of the next row.
    EXPECT_EQ(SearchSelection::of(SearchResult{"6789", 6, 0, 4}, 10), (SearchSelection{{6, 0}, {0, 1}}));
    EXPECT_EQ(SearchSelection::of(SearchResult{"89ab", 8, 0, 4}, 10), (SearchSelection{{8, 0}, {2, 1}}));
    EXPECT_EQ(SearchSelection::of(SearchResult{"", 3, 2, 0}, 10), (SearchSelection{{3, 2}, {3, 2}}));
}

TEST(SearchService, FindAllListsMatchesInOrderUpToTheLimit)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "ab ab\r\n0123456ab9ab\r\n");
    SearchService service(*terminal);
    EXPECT_TRUE(service.findAll("ab", plain, 0).empty());
    const std::vector<SearchResult> all = service.findAll("ab", plain, 100);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2], (SearchResult{"ab", 7, 1, 2}));
    // The last one runs from the wrapped row's start.
    EXPECT_EQ(all[3], (SearchResult{"ab", 0, 2, 2}));
    EXPECT_EQ(service.findAll("ab", plain, 3).size(), 3u);
}

TEST(SearchLineCache, LinesAreDroppedAfterFifteenSecondsOrALineCountChange)
{
    auto terminal = makeTerminal(20, 3);
    feed(*terminal, "old\r\n");
    SearchLineCache cache(*terminal);
    double now = 1000;
    cache.clock = [&] { return now; };
    cache.validate();
    EXPECT_EQ(cache.line(0).text, u"old");
    // Rewritten in place: the line count stays, so the kept text is still served...
    feed(*terminal, "\x1b[Hnew");
    now += 14.9;
    cache.validate();
    EXPECT_EQ(cache.line(0).text, u"old");
    // ...until it is too old, or the line count changes.
    now += 15.0;
    cache.validate();
    EXPECT_EQ(cache.line(0).text, u"new");
    feed(*terminal, "\x1b[Hnow\r\n\r\n\r\n");
    now += 1;
    cache.validate();
    EXPECT_EQ(cache.line(0).text, u"now");
}

TEST(SearchEngine, AVeryLongWrappedLineIsSearchedInOnePass)
{
    // 2,000 wrapped rows with the only match at the very end: found forward from the top
    // and backward from the end, without searching the line once per row.
    auto terminal = makeTerminal(10, 5);
    terminal->changeHistorySize(5000);
    feed(*terminal, std::string(20'000, 'x') + "needle\r\n");
    SearchService service(*terminal);
    const std::optional<SearchResult> forward = service.findNext("needle", plain);
    ASSERT_TRUE(forward);
    EXPECT_EQ(forward->col, 0);
    const std::optional<SearchResult> backward = service.findPrevious("x", plain);
    ASSERT_TRUE(backward);
    EXPECT_EQ(backward->col, 9);
    EXPECT_EQ(backward->row, forward->row - 1);
}

} // namespace
} // namespace corvantix

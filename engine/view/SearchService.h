// Text search over the active screen of a Terminal, scrollback included.
//
// A search reads logical lines: a row and the wrapped rows that continue it, joined into
// one text, so a match may run across a row boundary. Text positions count characters as
// the user sees them (grapheme clusters), never bytes or UTF-16 units; a wide character is
// one character and two columns.
//
// SearchService keeps where the previous search ended so that "find next" continues after
// the current match and "find previous" before it. SearchLineCache keeps the text of each
// logical line between searches; the view drops it whenever the terminal changes.
//
// Positions are (col, row) with row an index into the active screen's line ring (0 the
// oldest line kept).
#pragma once

#include "emulator/Terminal.h"
#include "model/Position.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct UBreakIterator;

namespace corvantix {

struct SearchOptions {
    bool caseSensitive = false;
    bool regex = false;
    bool wholeWord = false;

    friend bool operator==(const SearchOptions&, const SearchOptions&) = default;
};

struct SearchResult {
    std::string term; // the term of a plain search, the matched text of a regular expression
    int col = 0;      // first cell of the match
    int row = 0;
    int size = 0; // cells, counted across wrapped rows

    friend bool operator==(const SearchResult&, const SearchResult&) = default;
};

// A match as a range of cells; `end` is the cell after the match.
struct SearchSelection {
    Position start;
    Position end;

    // The range of a result, rows `cols` wide (at least 1).
    static SearchSelection of(const SearchResult& result, int cols);

    friend bool operator==(const SearchSelection&, const SearchSelection&) = default;
};

// The position `count` cells after `start` in reading order over rows `cols` wide.
Position advancePosition(Position start, int count, int cols);

struct SearchState {
    std::optional<std::string> cachedSearchTerm;
    std::optional<SearchOptions> lastSearchOptions;
};

// The text of one logical line as searched: UTF-16 for the matchers, with where each
// character and each row starts.
struct SearchLine {
    std::u16string text;
    // UTF-16 offset of each character, then the text's length; empty when every UTF-16 unit
    // is a character of its own (the common case: no combining marks, no surrogates).
    std::vector<std::int32_t> characterStarts;
    // Character index at which each row of the logical line starts; the first is 0.
    std::vector<int> rowOffsets;

    int characterCount() const;
    // The character that starts at or contains the UTF-16 offset.
    int characterAt(int unit) const;
    // The UTF-16 offset of a character index (the text's length for the count).
    int unitOf(int character) const;
    // Whether a UTF-16 offset is the start of a character (or the end of the text).
    bool isCharacterBoundary(int unit) const;
};

class SearchLineCache {
public:
    // Lines are kept for this long after the last search.
    static constexpr double validitySeconds = 15.0;

    explicit SearchLineCache(const Terminal& terminal);
    ~SearchLineCache();
    SearchLineCache(const SearchLineCache&) = delete;
    SearchLineCache& operator=(const SearchLineCache&) = delete;

    // At the start of every scan: keeps the lines while they are recent and the line count
    // has not changed, else starts over empty.
    void validate();
    // Drops every line.
    void clear();
    // The logical line starting at `row` (a head row), from the cache or built and stored.
    const SearchLine& line(int row);
    // Builds the text of the logical line that starts at `row`; trailing empty cells of its
    // last row are left out when `trimTrailing` is set.
    void lineText(int row, bool trimTrailing, SearchLine& out);

    // Seconds on the wall clock; tests replace it.
    std::function<double()> clock;
    bool hasLines() const { return linesCache.has_value(); }

private:
    const Terminal& terminal;
    std::optional<std::vector<std::unique_ptr<SearchLine>>> linesCache;
    double lastAccessTimestamp = 0;
    SearchLine scratch; // the line built when it cannot be stored
    std::vector<int> rowStartsScratch;
    UBreakIterator* characters = nullptr;
};

class SearchEngine {
public:
    SearchEngine(const Terminal& terminal, SearchLineCache& lineCache);
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    std::optional<SearchResult> findNext(const std::string& term, const SearchOptions& options,
                                         const std::optional<std::string>& previousTerm,
                                         const std::optional<SearchSelection>& selection);
    std::optional<SearchResult> findPrevious(const std::string& term, const SearchOptions& options,
                                             const std::optional<std::string>& previousTerm,
                                             const std::optional<SearchSelection>& selection);
    // Forward from (col, row) to the last line, without wrapping round.
    std::optional<SearchResult> findFrom(const std::string& term, int row, int col, const SearchOptions& options);
    // Every match from the top in order, at most maxCount; the expression is compiled once.
    std::vector<SearchResult> findAll(const std::string& term, const SearchOptions& options, int maxCount);

    int textIndexForColumn(int row, int col) const;
    int columnForTextIndex(int row, int index) const;
    // The match's neighbours are non-word characters or the ends of the text.
    static bool isWholeWord(const SearchLine& line, int matchStart, int matchLength);
    static bool isNonWordCharacter(const SearchLine& line, int character);

private:
    struct Query;
    // One logical line, forward from or backward before the position. A continuation row
    // passes the search to its head row (forward) or hands the caller a wider column
    // (backward).
    std::optional<SearchResult> matchInLine(Query& query, Position& position, bool backward);
    // Rows first ..= last forward from column 0; rows already covered by the search of the
    // row above them in the same logical line are skipped.
    std::optional<SearchResult> scanDown(Query& query, int first, int last);
    bool prepare(Query& query, const std::string& term, const SearchOptions& options);
    int lineCount() const;
    bool isWrappedRow(int row) const;

    const Terminal& terminal;
    SearchLineCache& lineCache;
};

class SearchService {
public:
    explicit SearchService(const Terminal& terminal);

    std::optional<SearchResult> findNext(const std::string& term, const SearchOptions& options);
    std::optional<SearchResult> findPrevious(const std::string& term, const SearchOptions& options);
    // Every match from the top, at most maxCount.
    std::vector<SearchResult> findAll(const std::string& term, const SearchOptions& options, int maxCount);
    // The terminal changed: cached lines, the last result and the starting point go; the term
    // and options stay.
    void invalidate();
    // Forgets everything, the term and options too.
    void reset();

    const Terminal& terminal;
    SearchState state;
    SearchLineCache lineCache;
    SearchEngine engine;
    std::optional<SearchSelection> lastSelection;
    std::optional<SearchResult> lastResult;

private:
    template <typename Scan>
    std::optional<SearchResult> find(const std::string& term, const SearchOptions& options, Scan scan);
};

} // namespace corvantix

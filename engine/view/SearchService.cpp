#include "view/SearchService.h"

#include "platform/RegexUtil.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/uregex.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string_view>

namespace corvantix {

namespace {

// A user's expression that backtracks without end gives up on the line instead of freezing
// the view (ICU match steps, roughly milliseconds).
constexpr int regexTimeLimit = 500;

// Columns carried from row to row only grow; past this they mean "the whole line".
int saturatingAdd(int a, int b)
{
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, INT_MIN / 2, INT_MAX / 2));
}

double wallClockSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::u16string utf8ToUtf16(const std::string& text)
{
    std::u16string out(text.size() + 1, u'\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                         static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status))
        return {};
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// Simple case folding, with ASCII kept off ICU's tables.
inline UChar32 fold(UChar32 c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

// A scalar that can be part of a grapheme cluster of more than one UTF-16 unit: below
// U+0300 every code point but CR stands alone.
bool needsCharacterBreaks(char32_t scalar)
{
    return scalar >= 0x300 || scalar == 0x0D;
}

bool isContinuationIn(const Buffer& buffer, int row)
{
    if (row <= 0 || row >= buffer.lines().count())
        return false;
    const std::shared_ptr<BufferLine>& line = buffer.lines().peek(row);
    return line && line->isWrapped();
}

} // namespace

// ---------------------------------------------------------------- Values

Position advancePosition(Position start, int count, int cols)
{
    const long long width = std::max(cols, 1);
    if (count < 1)
        return start;
    const long long linear = static_cast<long long>(start.row) * width + start.col + count;
    return Position{static_cast<int>(linear % width), static_cast<int>(linear / width)};
}

SearchSelection SearchSelection::of(const SearchResult& result, int cols)
{
    const Position start{result.col, result.row};
    return SearchSelection{start, advancePosition(start, result.size, cols)};
}

int SearchLine::characterCount() const
{
    if (characterStarts.empty())
        return static_cast<int>(text.size());
    return static_cast<int>(characterStarts.size()) - 1;
}

int SearchLine::characterAt(int unit) const
{
    if (characterStarts.empty())
        return std::clamp(unit, 0, static_cast<int>(text.size()));
    const auto after = std::upper_bound(characterStarts.begin(), characterStarts.end(), unit);
    const int index = static_cast<int>(after - characterStarts.begin()) - 1;
    return std::clamp(index, 0, characterCount());
}

int SearchLine::unitOf(int character) const
{
    if (characterStarts.empty())
        return std::clamp(character, 0, static_cast<int>(text.size()));
    return characterStarts[static_cast<std::size_t>(std::clamp(character, 0, characterCount()))];
}

bool SearchLine::isCharacterBoundary(int unit) const
{
    if (characterStarts.empty())
        return unit >= 0 && unit <= static_cast<int>(text.size());
    return std::binary_search(characterStarts.begin(), characterStarts.end(), unit);
}

// ---------------------------------------------------------------- Line cache

SearchLineCache::SearchLineCache(const Terminal& terminal) : clock(wallClockSeconds), terminal(terminal)
{
    UErrorCode status = U_ZERO_ERROR;
    characters = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (U_FAILURE(status))
        characters = nullptr;
}

SearchLineCache::~SearchLineCache()
{
    if (characters != nullptr)
        ubrk_close(characters);
}

void SearchLineCache::validate()
{
    const double now = clock();
    const int count = terminal.buffer().lines().count();
    const bool keep = linesCache && now - lastAccessTimestamp < validitySeconds
        && static_cast<int>(linesCache->size()) == count;
    if (!keep) {
        linesCache.emplace();
        linesCache->resize(static_cast<std::size_t>(std::max(count, 0)));
    }
    lastAccessTimestamp = now;
}

void SearchLineCache::clear()
{
    linesCache.reset();
    lastAccessTimestamp = 0;
}

const SearchLine& SearchLineCache::line(int row)
{
    if (linesCache && row >= 0 && row < static_cast<int>(linesCache->size())) {
        std::unique_ptr<SearchLine>& slot = (*linesCache)[static_cast<std::size_t>(row)];
        if (!slot) {
            slot = std::make_unique<SearchLine>();
            lineText(row, true, *slot);
        }
        return *slot;
    }
    lineText(row, true, scratch);
    return scratch;
}

void SearchLineCache::lineText(int row, bool trimTrailing, SearchLine& out)
{
    out.text.clear();
    out.characterStarts.clear();
    out.rowOffsets.assign(1, 0);
    // Where each row starts, in UTF-16 units, turned into characters at the end.
    std::vector<int>& rowStarts = rowStartsScratch;
    rowStarts.assign(1, 0);
    bool breaks = false;

    const Buffer& buffer = terminal.buffer();
    const int count = buffer.lines().count();
    for (int r = row; r >= 0 && r < count; ++r) {
        const BufferLine* line = buffer.lines().peek(r).get();
        const bool nextWrapped = isContinuationIn(buffer, r + 1);
        int n = line != nullptr ? line->dataSize() : 0;
        if (!nextWrapped && trimTrailing && line != nullptr)
            n = std::max(std::min(n, line->getTrimmedLength()), 0);

        const std::size_t rowStart = out.text.size();
        bool lastWasBlank = false;
        for (int c = 0; c < n; ++c) {
            const PackedCell& cell = line->packedCell(c);
            // The right half of a wide character.
            if (cell.code() == 0 && c > 0 && line->packedCell(c - 1).width() == 2) {
                lastWasBlank = false;
                continue;
            }
            lastWasBlank = cell.code() == 0;
            if (cell.code() > CharData::firstSyntheticCode) {
                const auto found = terminal.indexToCharMap().find(cell.code());
                if (found == terminal.indexToCharMap().end() || found->second.empty()) {
                    out.text.push_back(u' ');
                    continue;
                }
                for (const char32_t scalar : found->second) {
                    const char32_t shown = scalar == 0 ? U' ' : scalar;
                    breaks = breaks || needsCharacterBreaks(shown);
                    appendUtf16(out.text, shown);
                }
                continue;
            }
            const char32_t scalar = isValidScalar(cell.code()) && cell.code() != 0 ? static_cast<char32_t>(cell.code()) : U' ';
            breaks = breaks || needsCharacterBreaks(scalar);
            if (scalar < 0x10000)
                out.text.push_back(static_cast<char16_t>(scalar));
            else
                appendUtf16(out.text, scalar);
        }
        // The blank left at the row's end where a wide character did not fit is no text.
        if (nextWrapped && n > 0 && lastWasBlank && line->packedCell(n - 1).width() <= 1 && out.text.size() > rowStart) {
            const BufferLine* next = buffer.lines().peek(r + 1).get();
            if (next != nullptr && next->dataSize() > 0 && next->packedCell(0).width() == 2)
                out.text.pop_back();
        }
        if (!nextWrapped)
            break;
        rowStarts.push_back(static_cast<int>(out.text.size()));
    }

    if (breaks && characters != nullptr) {
        UErrorCode status = U_ZERO_ERROR;
        ubrk_setText(characters, out.text.data(), static_cast<int32_t>(out.text.size()), &status);
        if (U_SUCCESS(status)) {
            for (int32_t at = ubrk_first(characters); at != UBRK_DONE; at = ubrk_next(characters))
                out.characterStarts.push_back(at);
        }
        // Detach from the text, which moves when the line is stored.
        static constexpr UChar nothing[1] = {0};
        status = U_ZERO_ERROR;
        ubrk_setText(characters, nothing, 0, &status);
    }
    for (std::size_t i = 1; i < rowStarts.size(); ++i)
        out.rowOffsets.push_back(out.characterAt(rowStarts[i]));
}

// ---------------------------------------------------------------- Engine

struct SearchEngine::Query {
    std::string term;
    std::u16string term16;
    std::vector<UChar32> folded; // the term's code points, folded (case-insensitive plain search)
    SearchOptions options;
    URegularExpression* regex = nullptr;

    ~Query()
    {
        if (regex != nullptr)
            uregex_close(regex);
    }
};

SearchEngine::SearchEngine(const Terminal& terminal, SearchLineCache& lineCache)
    : terminal(terminal), lineCache(lineCache)
{
}

SearchEngine::~SearchEngine() = default;

int SearchEngine::lineCount() const
{
    return terminal.buffer().lines().count();
}

bool SearchEngine::isWrappedRow(int row) const
{
    return isContinuationIn(terminal.buffer(), row);
}

bool SearchEngine::prepare(Query& query, const std::string& term, const SearchOptions& options)
{
    query.term = term;
    query.term16 = utf8ToUtf16(term);
    query.options = options;
    if (query.term16.empty())
        return false;
    // Every search starts from the screen as it is now.
    lineCache.validate();
    if (options.regex) {
        UErrorCode status = U_ZERO_ERROR;
        UParseError parseError{};
        const uint32_t flags = options.caseSensitive ? 0 : UREGEX_CASE_INSENSITIVE;
        query.regex = uregex_open(query.term16.data(), static_cast<int32_t>(query.term16.size()), flags, &parseError,
                                  &status);
        if (U_FAILURE(status)) {
            query.regex = nullptr;
            return false;
        }
        uregex_setTimeLimit(query.regex, regexTimeLimit, &status);
        return true;
    }
    if (!options.caseSensitive) {
        for (int32_t i = 0; i < static_cast<int32_t>(query.term16.size());) {
            UChar32 c = 0;
            U16_NEXT(query.term16.data(), i, static_cast<int32_t>(query.term16.size()), c);
            query.folded.push_back(fold(c));
        }
    }
    return true;
}

int SearchEngine::textIndexForColumn(int row, int col) const
{
    const Buffer& buffer = terminal.buffer();
    const int count = buffer.lines().count();
    int result = 0;
    while (col >= 1 && row >= 0 && row < count) {
        const BufferLine* line = buffer.lines().peek(row).get();
        const int cells = std::min(terminal.cols(), col);
        if (line != nullptr) {
            const int available = std::min(cells, line->dataSize());
            for (int c = 0; c < available; ++c) {
                if (line->packedCell(c).width() >= 1)
                    ++result;
            }
        }
        ++row;
        if (!isWrappedRow(row))
            break;
        col -= terminal.cols();
    }
    return result;
}

int SearchEngine::columnForTextIndex(int row, int index) const
{
    const Buffer& buffer = terminal.buffer();
    if (row < 0 || row >= buffer.lines().count() || index <= 0)
        return 0;
    const BufferLine* line = buffer.lines().peek(row).get();
    const int cells = line != nullptr ? line->dataSize() : 0;
    int col = index;
    for (int i = 1;; ++i) {
        if (i < cells && line->packedCell(i - 1).width() == 2 && line->packedCell(i).width() == 0)
            ++col;
        if (i >= col || i >= cells)
            break;
    }
    return col;
}

bool SearchEngine::isNonWordCharacter(const SearchLine& line, int character)
{
    static constexpr std::u16string_view nonWord = u" ~!@#$%^&*()+`-=[]{}|\\;:\"',./<>?";
    const int start = line.unitOf(character);
    const int end = line.unitOf(character + 1);
    return end - start == 1 && nonWord.find(line.text[static_cast<std::size_t>(start)]) != std::u16string_view::npos;
}

bool SearchEngine::isWholeWord(const SearchLine& line, int matchStart, int matchLength)
{
    const bool before = matchStart == 0 || isNonWordCharacter(line, matchStart - 1);
    const int after = matchStart + matchLength;
    return before && (after >= line.characterCount() || isNonWordCharacter(line, after));
}

namespace {

// A match inside a logical line, in UTF-16 units.
struct Candidate {
    int start = 0;
    int end = 0;
};

// The end of the folded term matched at `at`, or -1.
int foldedMatchEnd(std::u16string_view text, int at, int limit, const std::vector<UChar32>& folded)
{
    int i = at;
    for (const UChar32 expected : folded) {
        if (i >= limit)
            return -1;
        UChar32 c = 0;
        U16_NEXT(text.data(), i, limit, c);
        if (fold(c) != expected)
            return -1;
    }
    return i;
}

} // namespace

std::optional<SearchResult> SearchEngine::matchInLine(Query& query, Position& position, bool backward)
{
    int row = position.row;
    if (row < 0 || row >= lineCount())
        return std::nullopt;
    if (isWrappedRow(row)) {
        if (backward) {
            position.col = saturatingAdd(position.col, terminal.cols());
            return std::nullopt;
        }
        // The head row's text holds this row: search it from this row's offset.
        int col = position.col;
        while (isWrappedRow(row)) {
            col = saturatingAdd(col, terminal.cols());
            --row;
        }
        position = Position{col, row};
    }

    const SearchLine& line = lineCache.line(row);
    const std::u16string_view text = line.text;
    const int characters = line.characterCount();
    const int idx = std::min(textIndexForColumn(row, position.col), characters);
    const int idxUnit = line.unitOf(idx);
    const bool wholeWord = query.options.wholeWord;
    auto accepts = [&](Candidate c) {
        if (!wholeWord)
            return true;
        const int start = line.characterAt(c.start);
        return isWholeWord(line, start, line.characterAt(c.end) - start);
    };

    std::optional<Candidate> found;
    if (query.regex != nullptr) {
        UErrorCode status = U_ZERO_ERROR;
        uregex_setText(query.regex, text.data(), static_cast<int32_t>(text.size()), &status);
        if (backward)
            uregex_setRegion(query.regex, 0, idxUnit, &status);
        else
            uregex_setRegion(query.regex, idxUnit, static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status))
            return std::nullopt;
        std::optional<Candidate> lastAny;
        while (uregex_findNext(query.regex, &status) && U_SUCCESS(status)) {
            const Candidate c{uregex_start(query.regex, 0, &status), uregex_end(query.regex, 0, &status)};
            if (U_FAILURE(status))
                break;
            if (!backward) {
                // An empty match ends the search of the line; a match that is not a whole
                // word lets the search go on after it.
                if (c.end == c.start)
                    break;
                if (accepts(c)) {
                    found = c;
                    break;
                }
                continue;
            }
            lastAny = c;
            if (c.end > c.start && accepts(c))
                found = c;
        }
        if (backward && lastAny && lastAny->end == lastAny->start && !wholeWord)
            found.reset();
        uregex_setText(query.regex, u"", 0, &status);
    } else {
        const std::u16string_view term = query.term16;
        const bool folding = !query.options.caseSensitive;
        auto endAt = [&](int at, int limit) -> int {
            if (!line.isCharacterBoundary(at))
                return -1;
            int end = -1;
            if (folding) {
                end = foldedMatchEnd(text, at, limit, query.folded);
            } else if (static_cast<std::size_t>(limit - at) >= term.size()
                       && text.compare(static_cast<std::size_t>(at), term.size(), term) == 0) {
                end = at + static_cast<int>(term.size());
            }
            return end >= 0 && line.isCharacterBoundary(end) ? end : -1;
        };
        // Most positions fail on their first unit: that test stays in the loop.
        const UChar32 first = folding ? query.folded.front() : 0;
        auto startsLikeTerm = [&](int at) {
            const char16_t unit = text[static_cast<std::size_t>(at)];
            return U16_IS_SURROGATE(unit) || fold(unit) == first;
        };
        if (!backward) {
            const int limit = static_cast<int>(text.size());
            for (int at = idxUnit; at < limit; ++at) {
                if (folding && !startsLikeTerm(at))
                    continue;
                if (!folding) {
                    const std::size_t next = text.find(term, static_cast<std::size_t>(at));
                    if (next == std::u16string_view::npos)
                        break;
                    at = static_cast<int>(next);
                }
                const int end = endAt(at, limit);
                if (end >= 0 && accepts(Candidate{at, end})) {
                    found = Candidate{at, end};
                    break;
                }
            }
        } else {
            for (int at = idxUnit - 1; at >= 0; --at) {
                if (folding && !startsLikeTerm(at))
                    continue;
                if (!folding) {
                    const std::u16string_view before = text.substr(0, static_cast<std::size_t>(idxUnit));
                    const std::size_t next = before.rfind(term, static_cast<std::size_t>(at));
                    if (next == std::u16string_view::npos)
                        break;
                    at = static_cast<int>(next);
                }
                const int end = endAt(at, idxUnit);
                if (end >= 0 && accepts(Candidate{at, end})) {
                    found = Candidate{at, end};
                    break;
                }
            }
        }
    }
    if (!found)
        return std::nullopt;

    const int matchStart = line.characterAt(found->start);
    const int matchEnd = line.characterAt(found->end);
    const std::vector<int>& offsets = line.rowOffsets;
    const int m = static_cast<int>(offsets.size());
    int startRowIndex = std::max(m - 1, 0);
    int endRowIndex = startRowIndex;
    for (int i = 0; i + 1 < m; ++i) {
        if (matchStart < offsets[static_cast<std::size_t>(i + 1)]) {
            startRowIndex = i;
            endRowIndex = m - 1;
            for (int j = i; j + 1 < m; ++j) {
                if (offsets[static_cast<std::size_t>(j + 1)] > matchEnd) {
                    endRowIndex = j;
                    break;
                }
            }
            break;
        }
    }
    const int col = columnForTextIndex(row + startRowIndex, matchStart - offsets[static_cast<std::size_t>(startRowIndex)]);
    const int endCol = columnForTextIndex(row + endRowIndex, matchEnd - offsets[static_cast<std::size_t>(endRowIndex)]);
    const long long size =
        static_cast<long long>(endCol) - col + static_cast<long long>(terminal.cols()) * (endRowIndex - startRowIndex);
    std::string matched = query.regex != nullptr
        ? utf16ToUtf8(text.substr(static_cast<std::size_t>(found->start),
                                  static_cast<std::size_t>(found->end - found->start)))
        : query.term;
    return SearchResult{std::move(matched), col, row + startRowIndex,
                        static_cast<int>(std::clamp<long long>(size, INT_MIN / 2, INT_MAX / 2))};
}

std::optional<SearchResult> SearchEngine::scanDown(Query& query, int first, int last)
{
    for (int row = std::max(first, 0); row <= last; ++row) {
        // The search of the row above, from its start, already covered this row.
        if (row > first && isWrappedRow(row))
            continue;
        Position position{0, row};
        if (std::optional<SearchResult> result = matchInLine(query, position, false))
            return result;
    }
    return std::nullopt;
}

std::optional<SearchResult> SearchEngine::findNext(const std::string& term, const SearchOptions& options,
                                                   const std::optional<std::string>& previousTerm,
                                                   const std::optional<SearchSelection>& selection)
{
    Query query;
    if (!prepare(query, term, options))
        return std::nullopt;
    const int last = lineCount() - 1;
    Position start{0, 0};
    if (selection)
        start = previousTerm == term ? selection->end : selection->start;
    Position position = start;
    if (std::optional<SearchResult> result = matchInLine(query, position, false))
        return result;
    if (std::optional<SearchResult> result = scanDown(query, start.row + 1, last))
        return result;
    if (std::optional<SearchResult> result = scanDown(query, 0, std::min(start.row - 1, last)))
        return result;
    if (selection) {
        Position again{0, selection->start.row};
        return matchInLine(query, again, false);
    }
    return std::nullopt;
}

std::optional<SearchResult> SearchEngine::findPrevious(const std::string& term, const SearchOptions& options,
                                                       const std::optional<std::string>& previousTerm,
                                                       const std::optional<SearchSelection>& selection)
{
    Query query;
    if (!prepare(query, term, options))
        return std::nullopt;
    const int lastRow = lineCount() - 1;
    Position position{terminal.cols(), lastRow};
    int current = lastRow;
    if (selection) {
        position = selection->start;
        current = selection->start.row;
        if (previousTerm != term) {
            // A changed term that still matches where the previous match began stays there.
            Position forward = position;
            if (std::optional<SearchResult> result = matchInLine(query, forward, false))
                return result;
        }
        // Otherwise the search goes on before the current match.
    }
    if (std::optional<SearchResult> result = matchInLine(query, position, true))
        return result;
    position.col = std::max(terminal.cols(), position.col);
    for (int row = std::min(current - 1, lastRow); row >= 0; --row) {
        position.row = row;
        if (std::optional<SearchResult> result = matchInLine(query, position, true))
            return result;
    }
    if (current != lastRow) {
        for (int row = lastRow; row >= std::max(current, 0); --row) {
            position.row = row;
            if (std::optional<SearchResult> result = matchInLine(query, position, true))
                return result;
        }
    }
    return std::nullopt;
}

std::optional<SearchResult> SearchEngine::findFrom(const std::string& term, int row, int col,
                                                   const SearchOptions& options)
{
    if (col > terminal.cols())
        return std::nullopt;
    Query query;
    if (!prepare(query, term, options))
        return std::nullopt;
    Position position{col, row};
    if (std::optional<SearchResult> result = matchInLine(query, position, false))
        return result;
    return scanDown(query, row + 1, lineCount() - 1);
}

std::vector<SearchResult> SearchEngine::findAll(const std::string& term, const SearchOptions& options, int maxCount)
{
    std::vector<SearchResult> results;
    if (maxCount <= 0)
        return results;
    Query query;
    if (!prepare(query, term, options))
        return results;
    const int last = lineCount() - 1;
    Position position{0, 0};
    std::optional<SearchResult> match = matchInLine(query, position, false);
    if (!match)
        match = scanDown(query, 1, last);
    while (match && static_cast<int>(results.size()) < maxCount) {
        results.push_back(*match);
        const Position next = advancePosition(Position{match->col, match->row}, std::max(match->size, 1), terminal.cols());
        lineCache.validate();
        Position from = next;
        std::optional<SearchResult> following = matchInLine(query, from, false);
        if (!following)
            following = scanDown(query, next.row + 1, last);
        if (!following || (following->row == match->row && following->col == match->col))
            break;
        match = std::move(following);
    }
    return results;
}

// ---------------------------------------------------------------- Service

SearchService::SearchService(const Terminal& terminal)
    : terminal(terminal), lineCache(terminal), engine(terminal, lineCache)
{
}

template <typename Scan>
std::optional<SearchResult> SearchService::find(const std::string& term, const SearchOptions& options, Scan scan)
{
    if (term.empty()) {
        lastResult.reset();
        lastSelection.reset();
        state = SearchState{};
        return std::nullopt;
    }
    state.lastSearchOptions = options;
    std::optional<SearchResult> result = scan(term, options, state.cachedSearchTerm, lastSelection);
    state.cachedSearchTerm = term;
    lastResult = result;
    if (result)
        lastSelection = SearchSelection::of(*result, terminal.cols());
    else
        lastSelection.reset();
    return result;
}

std::optional<SearchResult> SearchService::findNext(const std::string& term, const SearchOptions& options)
{
    return find(term, options, [this](const auto&... arguments) { return engine.findNext(arguments...); });
}

std::optional<SearchResult> SearchService::findPrevious(const std::string& term, const SearchOptions& options)
{
    return find(term, options, [this](const auto&... arguments) { return engine.findPrevious(arguments...); });
}

std::vector<SearchResult> SearchService::findAll(const std::string& term, const SearchOptions& options, int maxCount)
{
    return engine.findAll(term, options, maxCount);
}

void SearchService::invalidate()
{
    lineCache.clear();
    lastResult.reset();
    lastSelection.reset();
}

void SearchService::reset()
{
    invalidate();
    state = SearchState{};
}

} // namespace corvantix

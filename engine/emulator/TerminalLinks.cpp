// Link detection: explicit OSC 8 links and implicit links found in the text.
//
// An explicit link is the run of neighbouring cells of one row that carry the same payload
// code. An implicit link is a match of one fixed expression over the logical line around
// the position: the rows joined by wrapping, or, for a row standing alone, the rows that a
// program visibly broke with hard line ends in the middle of a long link.
#include "emulator/Terminal.h"

#include "platform/RegexUtil.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <map>

namespace corvantix {

namespace {

// How many rows the logical line around the looked-up row may reach in each direction,
// whether joined by wrapping or by the join test: a hover over a very long wrapped line
// searches only the rows near it. No real link is that long.
constexpr int maximumContextRows = 32;
// Bound of one search, in ICU match steps (roughly milliseconds). Long runs of link
// characters without a dot make the expression's look-aheads quadratic; a hover over
// such a blob gives up instead of stalling the view. Real text takes a small fraction.
constexpr int searchTimeLimit = 30;
// Cells taken from each side of a row junction when testing whether a link crosses it.
constexpr int junctionWindow = 96;

constexpr std::u16string_view implicitLinkPattern =
    uR"re((?:https?://|mailto:|ftp://|file:|ssh:|git://|ssh://|tel:|magnet:|ipfs://|ipns://|gemini://|gopher://|news:)(?:(?:\[[:0-9a-fA-F]+\](?::[0-9]+)?)|[\w\-.~:/?#@!$&*+,;=%](?:(?:[\(\[]\w*[\)\]]))?)+(?<![,.])|(?:\.\.\/|\.\/|(?<!\w)~\/|(?:[\w][\w\-.]*\/)*(?<!\w)\$[A-Za-z_]\w*\/|\.[\w][\w\-.]*\/|(?<![\w~\/])\/(?!\/))(?:(?=[\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?|(?![\w\-.~:\/?#@!$&*+;=%]*\.)[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]+)*(?<!:)(?: +(?= *$))?)|(?=[\w\-.~:\/?#@!$&*+;=%]*\.)(?<!\w)[\w][\w\-.]*\/[\w\-.~:\/?#@!$&*+;=%]+(?:(?<!:) (?!\w+:\/\/)[\w\-.~:\/?#@!$&*+;=%]*[\/.])*(?<!:)(?: +(?= *$))?)re";
static_assert(implicitLinkPattern.size() == 704);

// Compiled once for the process; every search clones it.
const RegularExpression& implicitLinkExpression()
{
    static const RegularExpression expression(implicitLinkPattern);
    return expression;
}

bool isLinkCharacterScalar(char32_t scalar)
{
    static constexpr std::u32string_view linkCharacters =
        U"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~:/?#[]@!$&*+,;=%()";
    return linkCharacters.find(scalar) != std::u32string_view::npos;
}

bool consistsOfLinkCharacters(std::u32string_view character)
{
    return !character.empty() && std::all_of(character.begin(), character.end(), isLinkCharacterScalar);
}

bool isWhitespaceCharacter(std::u32string_view character)
{
    return character.empty() || u_isUWhiteSpace(static_cast<UChar32>(character.front()));
}

const BufferLine* lineAt(const Buffer& screen, int row)
{
    if (row < 0 || row >= screen.lines().count())
        return nullptr;
    return screen.lines().peek(row).get();
}

bool isWrappedRow(const Buffer& screen, int row)
{
    const BufferLine* line = lineAt(screen, row);
    return line != nullptr && line->isWrapped();
}

bool isWideSpacer(const BufferLine& line, int col)
{
    return col > 0 && line.packedCell(col).code() == 0 && line.packedCell(col - 1).width() == 2;
}

// The character of a cell code; empty cells, invalid codes and unknown multi-scalar codes
// read as a space.
std::u32string cellCharacter(const Terminal& terminal, std::int32_t code)
{
    if (code <= CharData::firstSyntheticCode)
        return std::u32string(1, isValidScalar(code) && code != 0 ? static_cast<char32_t>(code) : U' ');
    std::u32string character = terminal.getCharacter(code);
    if (character.empty())
        character.push_back(U' ');
    return character;
}

// The column after the row's last non-empty cell, within the line and the screen width.
int usedLength(const Terminal& terminal, const BufferLine& line)
{
    return std::min({line.getTrimmedLength(), line.dataSize(), terminal.cols()});
}

// Appends the characters of columns start ..< end as UTF-16 (wide-character spacers are
// skipped), calling onCharacter(col, width, utf16Start) for each.
template <typename OnCharacter>
void appendRowCharacters(const Terminal& terminal, const BufferLine& line, int start, int end, std::u16string& text,
                         OnCharacter onCharacter)
{
    for (int col = std::max(start, 0); col < end; ++col) {
        if (isWideSpacer(line, col))
            continue;
        const PackedCell& cell = line.packedCell(col);
        const int utf16Start = static_cast<int>(text.size());
        for (const char32_t scalar : cellCharacter(terminal, cell.code()))
            appendUtf16(text, scalar);
        onCharacter(col, static_cast<int>(cell.width()), utf16Start);
    }
}

// The first and last non-whitespace characters of a row and their columns.
struct RowEdges {
    int firstCol = 0;
    std::u32string first;
    int lastCol = 0;
    std::u32string last;
};

std::optional<RowEdges> rowEdges(const Terminal& terminal, const Buffer& screen, int row)
{
    const BufferLine* line = lineAt(screen, row);
    if (line == nullptr)
        return std::nullopt;
    std::optional<RowEdges> edges;
    const int end = usedLength(terminal, *line);
    for (int col = 0; col < end; ++col) {
        // The spacer of a wide character reads as the character itself.
        const int source = isWideSpacer(*line, col) ? col - 1 : col;
        std::u32string character = cellCharacter(terminal, line->packedCell(source).code());
        if (isWhitespaceCharacter(character))
            continue;
        if (!edges) {
            edges = RowEdges{col, character, col, character};
        } else {
            edges->lastCol = col;
            edges->last = std::move(character);
        }
    }
    return edges;
}

int firstNonWhitespaceColumn(const Terminal& terminal, const BufferLine& line, int end)
{
    for (int col = 0; col < end; ++col) {
        const int source = isWideSpacer(line, col) ? col - 1 : col;
        if (!isWhitespaceCharacter(cellCharacter(terminal, line.packedCell(source).code())))
            return col;
    }
    return end;
}

// A match right after "$" is the tail of a $NAME variable, not a link of its own.
bool suppressImplicitLikeMatch(std::u16string_view text, int start)
{
    return start > 0 && static_cast<std::size_t>(start) <= text.size() && text[static_cast<std::size_t>(start) - 1] == u'$';
}

// True when a link match runs from the end of row a into the start of row b.
bool linkCrossesRowBoundary(const Terminal& terminal, const Buffer& screen, int a, int b, const RowEdges& upper,
                            const RowEdges& lower)
{
    const BufferLine* upperLine = lineAt(screen, a);
    const BufferLine* lowerLine = lineAt(screen, b);
    if (upperLine == nullptr || lowerLine == nullptr)
        return false;

    std::u16string text;
    const int upperEnd = std::min(upper.lastCol + 1, std::min(upperLine->dataSize(), terminal.cols()));
    appendRowCharacters(terminal, *upperLine, std::max(0, upperEnd - junctionWindow), upperEnd, text,
                        [](int, int, int) {});
    const int junction = static_cast<int>(text.size());
    const int lowerLimit = std::min({lowerLine->dataSize(), terminal.cols(), usedLength(terminal, *lowerLine)});
    appendRowCharacters(terminal, *lowerLine, lower.firstCol, std::min(lower.firstCol + junctionWindow, lowerLimit),
                        text, [](int, int, int) {});
    if (junction == 0 || static_cast<int>(text.size()) == junction)
        return false;

    for (const RegularExpression::Match& match : implicitLinkExpression().allMatches(text, searchTimeLimit)) {
        if (match.start < junction && match.end > junction && !suppressImplicitLikeMatch(text, match.start))
            return true;
    }
    return false;
}

// The join test for two rows not joined by wrapping: the upper row is used nearly to the
// right edge, both edge characters may belong to a link, and a link really crosses.
bool rowsJoinForLink(const Terminal& terminal, const Buffer& screen, int a, int b)
{
    const std::optional<RowEdges> upper = rowEdges(terminal, screen, a);
    const std::optional<RowEdges> lower = rowEdges(terminal, screen, b);
    if (!upper || !lower)
        return false;
    const int cols = terminal.cols();
    const int slack = cols > 9 ? cols / 5 : 2;
    if (upper->lastCol < cols - slack)
        return false;
    if (!consistsOfLinkCharacters(upper->last) || !consistsOfLinkCharacters(lower->first))
        return false;
    return linkCrossesRowBoundary(terminal, screen, a, b, *upper, *lower);
}

// The rows of the logical line around `row`: by wrapping, or for a lone row by the join test.
std::pair<int, int> implicitLinkRowRange(const Terminal& terminal, const Buffer& screen, int row)
{
    int first = row;
    while (first > 0 && row - first < maximumContextRows && isWrappedRow(screen, first))
        --first;
    int last = row;
    while (last - row < maximumContextRows && isWrappedRow(screen, last + 1))
        ++last;
    if (first != row || last != row || isWrappedRow(screen, row) || isWrappedRow(screen, row + 1))
        return {first, last};

    while (first > 0 && row - first < maximumContextRows && !isWrappedRow(screen, first)
           && rowsJoinForLink(terminal, screen, first - 1, first))
        --first;
    while (last + 1 < screen.lines().count() && last - row < maximumContextRows && !isWrappedRow(screen, last + 1)
           && rowsJoinForLink(terminal, screen, last, last + 1))
        ++last;
    return {first, last};
}

// The text searched for implicit links, one cell reference per character.
struct ImplicitLinkContext {
    std::u16string text;
    std::vector<int> characterStarts; // UTF-16 offset of each character
    std::vector<ImplicitCellRef> refs;
    int targetCol = 0;
};

std::optional<ImplicitLinkContext> implicitLinkContext(const Terminal& terminal, const Buffer& screen, int col,
                                                       int row)
{
    const BufferLine* targetLine = lineAt(screen, row);
    if (targetLine == nullptr)
        return std::nullopt;
    const int limit = std::min(targetLine->dataSize(), terminal.cols());
    if (limit <= 0)
        return std::nullopt;
    ImplicitLinkContext context;
    context.targetCol = std::clamp(col, 0, limit - 1);
    if (isWideSpacer(*targetLine, context.targetCol))
        --context.targetCol;

    const auto [first, last] = implicitLinkRowRange(terminal, screen, row);
    bool hit = false;
    for (int r = first; r <= last; ++r) {
        const BufferLine* line = lineAt(screen, r);
        if (line == nullptr)
            continue;
        const int end = usedLength(terminal, *line);
        if (end == 0)
            continue;
        // A soft-wrapped row continues the text exactly, leading blanks included; a row
        // joined by the test is read from its first visible character (a program's
        // indentation of the continued link).
        int start = 0;
        if (r != first && !line->isWrapped())
            start = firstNonWhitespaceColumn(terminal, *line, end);
        appendRowCharacters(terminal, *line, start, end, context.text, [&](int c, int width, int utf16Start) {
            context.characterStarts.push_back(utf16Start);
            context.refs.push_back(ImplicitCellRef{r, c, width});
        });
        if (r == row && context.targetCol >= start && context.targetCol < end)
            hit = true;
    }
    if (context.text.empty() || context.refs.empty() || !hit)
        return std::nullopt;
    return context;
}

} // namespace

std::optional<std::string> parseHyperlinkPayload(std::string_view payload)
{
    const std::size_t separator = payload.find(';');
    if (separator == std::string_view::npos)
        return std::nullopt;
    return std::string(payload.substr(separator + 1));
}

std::optional<LinkMatch> Terminal::linkMatch(LinkLookupLocation at, LinkLookupMode mode)
{
    const Buffer& screen = *buffer_;
    const std::optional<Position> position = resolveLinkPosition(at.position.col, at.position.row, at.kind, screen);
    if (!position)
        return std::nullopt;
    if (std::optional<LinkMatch> match = explicitLinkMatch(position->col, position->row, screen))
        return match;
    if (mode == LinkLookupMode::explicitAndImplicit)
        return implicitLinkMatch(position->col, position->row, screen);
    return std::nullopt;
}

std::optional<std::string> Terminal::linkText(int col, int row, LinkLookupLocation::Kind kind, LinkLookupMode mode)
{
    std::optional<LinkMatch> match = linkMatch(LinkLookupLocation{kind, Position{col, row}}, mode);
    if (!match)
        return std::nullopt;
    return std::move(match->text);
}

std::optional<Position> Terminal::resolveLinkPosition(int col, int row, LinkLookupLocation::Kind kind,
                                                      const Buffer& screen) const
{
    const int count = screen.lines().count();
    if (count <= 0)
        return std::nullopt;
    long long line = row;
    if (kind == LinkLookupLocation::Kind::screen)
        line += screen.yDisp();
    return Position{std::clamp(col, 0, cols_ - 1), static_cast<int>(std::clamp<long long>(line, 0, count - 1))};
}

std::optional<std::uint16_t> Terminal::payloadCodeAt(int col, int row, const Buffer& screen) const
{
    const BufferLine* line = lineAt(screen, row);
    if (line == nullptr || line->dataSize() == 0)
        return std::nullopt;
    const int limit = std::min(line->dataSize(), cols_);
    if (limit <= 0)
        return std::nullopt;
    const int c = std::clamp(col, 0, limit - 1);
    const PackedCell& cell = line->packedCell(c);
    if (cell.payload().code != 0)
        return cell.payload().code;
    // The right half of a wide character belongs to the wide character's link.
    if (isWideSpacer(*line, c) && line->packedCell(c - 1).payload().code != 0)
        return line->packedCell(c - 1).payload().code;
    return std::nullopt;
}

std::optional<LinkMatch> Terminal::explicitLinkMatch(int col, int row, const Buffer& screen) const
{
    const std::optional<std::uint16_t> code = payloadCodeAt(col, row, screen);
    if (!code)
        return std::nullopt;
    const BufferLine* line = lineAt(screen, row);
    const int limit = std::min(cols_, line->dataSize());
    if (limit <= 0)
        return std::nullopt;
    const int c = std::clamp(col, 0, limit - 1);

    int start = c;
    while (start > 0 && payloadCodeAt(start - 1, row, screen) == code)
        --start;
    int end = c + 1;
    while (end < limit && payloadCodeAt(end, row, screen) == code)
        ++end;

    std::optional<std::string> payload = TinyAtom::lookup(line->packedCell(c).payload().code);
    if (!payload && c > 0)
        payload = TinyAtom::lookup(line->packedCell(c - 1).payload().code);
    if (!payload)
        return std::nullopt;
    std::optional<std::string> uri = parseHyperlinkPayload(*payload);
    if (!uri)
        return std::nullopt;
    return LinkMatch{std::move(*uri), row, ColumnRange{start, end}, true, {RowRange{row, ColumnRange{start, end}}}};
}

std::optional<LinkMatch> Terminal::implicitLinkMatch(int col, int row, const Buffer& screen) const
{
    const std::optional<ImplicitLinkContext> context = implicitLinkContext(*this, screen, col, row);
    if (!context)
        return std::nullopt;
    const RegularExpression& expression = implicitLinkExpression();
    if (!expression.isValid())
        return std::nullopt;

    const std::vector<int>& starts = context->characterStarts;
    for (const RegularExpression::Match& match : expression.allMatches(context->text, searchTimeLimit)) {
        if (match.end <= match.start || match.start < 0 || match.end > static_cast<int>(context->text.size()))
            continue;
        if (suppressImplicitLikeMatch(context->text, match.start))
            continue;
        // Character offsets: the character holding the first unit, up to the last
        // character that begins inside the match.
        const auto lo = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), match.start)
                                                 - starts.begin() - 1);
        const auto hi = static_cast<std::size_t>(std::lower_bound(starts.begin(), starts.end(), match.end)
                                                 - starts.begin());

        std::map<int, ColumnRange> spans;
        ColumnRange rowSpan;
        bool hasRowSpan = false;
        bool containsTarget = false;
        for (std::size_t i = lo; i < std::min(hi, context->refs.size()); ++i) {
            const ImplicitCellRef& ref = context->refs[i];
            const ColumnRange cells{ref.col, ref.col + std::max(ref.width, 1)};
            const auto [entry, inserted] = spans.try_emplace(ref.row, cells);
            if (!inserted) {
                entry->second.lowerBound = std::min(entry->second.lowerBound, cells.lowerBound);
                entry->second.upperBound = std::max(entry->second.upperBound, cells.upperBound);
            }
            if (ref.row == row) {
                rowSpan = hasRowSpan ? ColumnRange{std::min(rowSpan.lowerBound, cells.lowerBound),
                                                   std::max(rowSpan.upperBound, cells.upperBound)}
                                     : cells;
                hasRowSpan = true;
                if (cells.contains(context->targetCol))
                    containsTarget = true;
            }
        }
        if (!containsTarget || !hasRowSpan || rowSpan.isEmpty())
            continue;

        LinkMatch result;
        result.text = utf16ToUtf8(std::u16string_view(context->text)
                                      .substr(static_cast<std::size_t>(match.start),
                                              static_cast<std::size_t>(match.end - match.start)));
        result.row = row;
        result.range = rowSpan;
        result.isExplicit = false;
        for (const auto& [spanRow, span] : spans) {
            if (!span.isEmpty())
                result.rowRanges.push_back(RowRange{spanRow, span});
        }
        return result;
    }
    return std::nullopt;
}

} // namespace corvantix

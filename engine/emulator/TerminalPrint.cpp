// The print path (UTF-8 reassembly, widths, joining, grapheme clusters) and the character
// sets G0-G3.
#include "emulator/Terminal.h"

#include "emulator/CharSets.h"
#include "model/CellRuns.h"
#include "model/ScalarProperties.h"
#include "model/UnicodeUtil.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvantix {

namespace {

// A grapheme cluster longer than this takes no further joiners: every join registers the
// longer cluster, so unbounded clusters would grow the table quadratically.
constexpr std::size_t maximumClusterScalars = 32;
constexpr char32_t replacementCharacter = U'\uFFFD';
constexpr char32_t zeroWidthJoiner = U'\u200D';
constexpr char32_t textPresentationSelector = U'\uFE0E';
constexpr char32_t emojiPresentationSelector = U'\uFE0F';

// Length of the UTF-8 sequence a byte starts; 1 for ASCII and for bytes that cannot start
// a sequence (they print as their Latin-1 character).
constexpr std::array<std::uint8_t, 256> leadLengths = [] {
    std::array<std::uint8_t, 256> lengths{};
    for (int b = 0; b < 256; ++b) {
        if (b >= 0xC2 && b <= 0xDF)
            lengths[b] = 2;
        else if (b >= 0xE0 && b <= 0xEF)
            lengths[b] = 3;
        else if (b >= 0xF0 && b <= 0xF4)
            lengths[b] = 4;
        else
            lengths[b] = 1;
    }
    return lengths;
}();

constexpr bool isContinuationByte(std::uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

// A value decoded from a sequence of `length` bytes: not overlong, not a surrogate, at most
// U+10FFFF.
constexpr bool isValidDecodedScalar(char32_t value, std::size_t length)
{
    constexpr std::array<char32_t, 5> minimumValue{0, 0, 0x80, 0x800, 0x10000};
    return value >= minimumValue[length] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
}

// Bytes the narrow-run writer may take: printable ASCII (DEL and C0 controls that reach a
// print run must be dropped by the width rule instead).
constexpr bool isPrintableAscii(std::uint8_t b)
{
    return b >= 0x20 && b <= 0x7E;
}

// End of the run of printable ASCII that starts at `from`, many bytes at a time: the print
// handler looks at every byte of plain text, so this scan is part of the cost of every
// character written.
std::size_t printableAsciiEnd(std::span<const std::uint8_t> bytes, std::size_t from)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::uint8_t* data = bytes.data();
    const std::size_t end = bytes.size();
    std::size_t i = from;
#if defined(__SSE2__)
    // Sixteen at a time. The compares are signed: bytes from 0x80 up are negative, so
    // "greater than 0x1F" holds for 0x20 to 0x7F only, and 0x7F is then taken out.
    const __m128i belowSpace = _mm_set1_epi8(0x1F);
    const __m128i del = _mm_set1_epi8(0x7F);
    while (i + 16 <= end) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i printable = _mm_andnot_si128(_mm_cmpeq_epi8(chunk, del), _mm_cmpgt_epi8(chunk, belowSpace));
        const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(printable)) & 0xFFFFu;
        if (others != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(others));
        i += 16;
    }
#endif
    while (i + 8 <= end) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        // A byte below 0x20 sets its high bit in the first term, one from 0x80 up in the
        // second, and 0x7F in the third (a carry out of 0xFF only follows a byte the
        // second term already caught).
        if ((((word - ones * 0x20) & ~word) | word | (word + ones)) & highs)
            break;
        i += 8;
    }
    while (i < end && isPrintableAscii(data[i]))
        ++i;
    return i;
}

bool isPrintableAsciiRun(std::span<const std::uint8_t> bytes)
{
    return printableAsciiEnd(bytes, 0) == bytes.size();
}

constexpr bool isRegionalIndicator(char32_t s)
{
    return s >= 0x1F1E6 && s <= 0x1F1FF;
}

bool isExtendedPictographic(char32_t s)
{
    return scalarProperties(s).extendedPictographic;
}

// True when the scalars form exactly one extended grapheme cluster (the boundary rules of
// Unicode text segmentation, as of the Unicode version of the linked ICU).
bool isSingleGraphemeCluster(std::u32string_view text)
{
    if (text.empty())
        return false;
    const auto breakClass = [](char32_t s) { return scalarProperties(s).graphemeBreak; };
    const auto isControl = [](int gcb) { return gcb == U_GCB_CONTROL || gcb == U_GCB_CR || gcb == U_GCB_LF; };

    int previous = breakClass(text[0]);
    int regionalIndicators = previous == U_GCB_REGIONAL_INDICATOR ? 1 : 0;
    bool pictographicRun = isExtendedPictographic(text[0]); // text so far ends in ExtPict Extend*
    bool joinerAfterPictographic = false;                    // ... or in ExtPict Extend* ZWJ

    for (std::size_t i = 1; i < text.size(); ++i) {
        const char32_t s = text[i];
        const int current = breakClass(s);
        const bool pictographic = isExtendedPictographic(s);
        bool joins = false;
        if (previous == U_GCB_CR && current == U_GCB_LF)
            joins = true;
        else if (isControl(previous) || isControl(current))
            joins = false;
        else if (previous == U_GCB_L
                 && (current == U_GCB_L || current == U_GCB_V || current == U_GCB_LV || current == U_GCB_LVT))
            joins = true;
        else if ((previous == U_GCB_LV || previous == U_GCB_V) && (current == U_GCB_V || current == U_GCB_T))
            joins = true;
        else if ((previous == U_GCB_LVT || previous == U_GCB_T) && current == U_GCB_T)
            joins = true;
        else if (current == U_GCB_EXTEND || current == U_GCB_ZWJ || current == U_GCB_SPACING_MARK)
            joins = true;
        else if (previous == U_GCB_PREPEND)
            joins = true;
        else if (previous == U_GCB_ZWJ && joinerAfterPictographic && pictographic)
            joins = true;
        else if (previous == U_GCB_REGIONAL_INDICATOR && current == U_GCB_REGIONAL_INDICATOR)
            joins = regionalIndicators % 2 == 1;
        if (!joins)
            return false;

        regionalIndicators = current == U_GCB_REGIONAL_INDICATOR ? regionalIndicators + 1 : 0;
        joinerAfterPictographic = current == U_GCB_ZWJ && pictographicRun;
        pictographicRun = pictographic || (pictographicRun && current == U_GCB_EXTEND);
        previous = current;
    }
    return true;
}

std::int8_t checkedWidth(int width)
{
    assert(width >= -128 && width <= 127);
    return static_cast<std::int8_t>(width);
}

struct PrintFile;

} // namespace

template <>
struct TerminalFileHelpers<PrintFile> {
// The scalars of a cell code without copying: a scalar code is put in `scratch`.
    static std::u32string_view characterOf(const Terminal& terminal, std::int32_t code, char32_t& scratch)
    {
        static constexpr char32_t blank = U' ';
        if (code <= CharData::firstSyntheticCode) {
            if (!isValidScalar(code))
                return {&blank, 1};
            scratch = static_cast<char32_t>(code);
            return {&scratch, 1};
        }
        const auto found = terminal.indexToCharMap_.find(code);
        if (found == terminal.indexToCharMap_.end())
            return {&blank, 1};
        return found->second;
    }

    // The cache entry for a code and a scalar.
    static Terminal::JoinCacheEntry& joinCacheEntry(Terminal& terminal, std::int32_t code, char32_t s)
    {
        const std::uint32_t mix = static_cast<std::uint32_t>(code) * 0x9E3779B1u ^ static_cast<std::uint32_t>(s) * 0x85EBCA77u;
        return terminal.joinCache_[mix >> (32 - Terminal::joinCacheBits)];
    }

    // The cell code of a single scalar: the scalar itself below U+10000, else a table code.
    static std::int32_t singleScalarCode(Terminal& terminal, char32_t scalar)
    {
        if (scalar < 0x10000)
            return static_cast<std::int32_t>(scalar);
        Terminal::JoinCacheEntry& entry = joinCacheEntry(terminal, Terminal::joinCacheSingle, scalar);
        if (entry.base != Terminal::joinCacheSingle || entry.scalar != scalar)
            entry = {Terminal::joinCacheSingle, scalar, terminal.getCharacterCode(std::u32string_view(&scalar, 1))};
        return entry.joined;
    }

    // Writes one character as a new cell at the cursor.
    static void printCell(Terminal& terminal, char32_t scalar, int width)
    {
        const std::int32_t code = singleScalarCode(terminal, scalar);
        terminal.buffer_->insertCharacter(code, checkedWidth(width), terminal.curAttrPacked_, terminal);
    }

    // One narrow character written straight into its cell when that is all the cell writer
    // would do: no insert mode, the cursor at or before the right limit (no wrap), a row as
    // long as the screen. Answers false, having done nothing, otherwise.
    static bool writeNarrowCellInPlace(Terminal& terminal, Buffer& screen, std::uint8_t b)
    {
        const int x = screen.x();
        if (screen.insertMode || x > screen.writeRightLimit())
            return false;
        BufferLine* line = screen.lines()[screen.yBase() + screen.y()].get();
        if (!line)
            return false;
        const std::size_t size = line->cellSpan().size();
        const auto at = static_cast<std::size_t>(x);
        if (at >= size)
            return false;
        PackedCell* cells = line->mutableCells(x, x + 1).data();
        // A wide character with one half overwritten loses the other. The new cell is narrow,
        // so only a lead just before it or a placeholder just after it can be left alone; the
        // neighbours are read once here, and the general mending runs only when one is.
        const bool halfLeft = (at > 0 && cells[at - 1].width() == 2) || (at + 1 < size && cells[at + 1].width() == 0);
        storeCell(cells + at, b, 1, terminal.curAttrPacked_, terminal.activeHyperlink_ ? terminal.linkPayload() : TinyAtom{},
                  screen.semanticContent.cellCode());
        screen.setX(x + 1);
        if (halfLeft) [[unlikely]]
            line->mendWideEdges(x, x + 1);
        return true;
    }

    // A single byte: ASCII (through the invoked character set) or a byte that starts no UTF-8
    // sequence, shown as its Latin-1 character. Controls, DEL and C1 bytes are dropped.
    static void printSingleByte(Terminal& terminal, std::uint8_t b)
    {
        if (b < 0x7F && terminal.charset_) {
            if (const char32_t replacement = terminal.charset_->replacement[b]) {
                printCell(terminal, replacement, 1);
                return;
            }
        }
        const int width = UnicodeUtil::columnWidth(b);
        if (width < 1)
            return;
        printCell(terminal, b, width);
    }

    // The cell a scalar may join, as combiningTarget finds it, with its line and code.
    struct JoinTarget {
        BufferLine* line;
        Position position;
        std::int32_t code;
    };

    static std::optional<JoinTarget> joinTarget(Terminal& terminal)
    {
        Buffer& screen = *terminal.buffer_;
        if (screen.x() == 0)
            return std::nullopt;
        const int row = screen.yBase() + screen.y();
        BufferLine* line = screen.lines().peek(row).get();
        if (!line || line->dataSize() == 0)
            return std::nullopt;
        const std::span<const PackedCell> cells = line->cellSpan();
        int col = std::min(screen.x() - 1, line->dataSize() - 1);
        // Skip the second half of a wide character.
        while (col > 0 && cells[static_cast<std::size_t>(col)].width() == 0)
            --col;
        const PackedCell& cell = cells[static_cast<std::size_t>(col)];
        if (cell.code() == 0 || cell.width() < 1)
            return std::nullopt;
        return JoinTarget{line, Position{col, row}, cell.code()};
    }

    // What joining scalar s onto the character of `code` gives: the joined character's code, 0
    // when the two form no single grapheme cluster, -1 when the character stays as it is (a
    // cluster at its length cap, or a presentation selector after a character without one).
    // Remembered per pair, so a repeated cluster costs one probe.
    static std::int32_t joinedCode(Terminal& terminal, std::int32_t code, char32_t s)
    {
        Terminal::JoinCacheEntry& entry = joinCacheEntry(terminal, code, s);
        if (entry.base == code && entry.scalar == s)
            return entry.joined;

        char32_t scratch = 0;
        const std::u32string_view base = characterOf(terminal, code, scratch);
        std::int32_t joined = -1;
        if (base.size() < maximumClusterScalars) {
            std::array<char32_t, maximumClusterScalars> buffer; // only the first base.size() + 1 are read
            std::copy(base.begin(), base.end(), buffer.begin());
            buffer[base.size()] = s;
            const std::u32string_view text(buffer.data(), base.size() + 1);
            if (!isSingleGraphemeCluster(text))
                joined = 0;
            else if ((s == textPresentationSelector || s == emojiPresentationSelector)
                     && !UnicodeUtil::bisearch(base.back(), UnicodeUtil::emojiVariationBases(),
                                               UnicodeUtil::emojiVariationBasesMax))
                joined = -1; // no presentation to select
            else
                joined = terminal.getCharacterCode(text);
        }
        entry = Terminal::JoinCacheEntry{code, s, joined};
        return joined;
    }

    // Which scalars that do not always join may still join a character: those after one that
    // ends in the joiner, and a second regional indicator after a lone one.
    enum class FollowerKind : std::int32_t { none = 0, afterJoiner = 1, regionalPair = 2 };

    // The follower kind of a cell code, remembered in the join cache under scalar 0 (which is
    // never printed, so never joined): emoji after emoji ask this for every cell, and the
    // character table is a hash lookup far from the cache.
    static FollowerKind followerKind(Terminal& terminal, std::int32_t code)
    {
        constexpr char32_t marker = 0;
        Terminal::JoinCacheEntry& entry = joinCacheEntry(terminal, code, marker);
        if (entry.base == code && entry.scalar == marker)
            return static_cast<FollowerKind>(entry.joined);
        char32_t scratch = 0;
        const std::u32string_view character = characterOf(terminal, code, scratch);
        FollowerKind kind = FollowerKind::none;
        if (character.back() == zeroWidthJoiner)
            kind = FollowerKind::afterJoiner;
        else if (character.size() == 1 && isRegionalIndicator(character[0]))
            kind = FollowerKind::regionalPair;
        entry = Terminal::JoinCacheEntry{code, marker, static_cast<std::int32_t>(kind)};
        return kind;
    }

    // Joins scalar s (width w) into the target cell, or prints or drops it when the result
    // would not be one character.
    static void joinInto(Terminal& terminal, const JoinTarget& target, char32_t s, int width)
    {
        const std::int32_t joined = joinedCode(terminal, target.code, s);
        if (joined < 0)
            return; // the cell keeps its character; the scalar is dropped
        if (joined == 0) {
            if (width != 0)
                printCell(terminal, s, width);
            return;
        }

        Buffer& screen = *terminal.buffer_;
        BufferLine& line = *target.line;
        const int col = target.position.col;
        if (s != emojiPresentationSelector && s != textPresentationSelector && !isRegionalIndicator(s)) {
            // The usual join (a mark, a skin tone, a joiner and what follows it) keeps the
            // cell's width: only its code changes. joinTarget found the column inside the line.
            line.mutableCells(col, col + 1)[static_cast<std::size_t>(col)].setCode(joined);
            terminal.updateRangeForBuffer(screen, screen.y());
            return;
        }
        CharData cell = line.getCell(col);
        const int oldWidth = cell.width;
        int newWidth = cell.width;
        const CharData continuation(0, 0, cell.attribute, cell.payload, cell.semanticContentCode);
        if (s == emojiPresentationSelector) {
            if (cell.width != 2 && col + 1 < terminal.cols_) {
                line.setCell(col + 1, continuation);
                screen.setX(std::min(screen.x() + 1, terminal.cols_));
                newWidth = 2;
            }
        } else if (s == textPresentationSelector) {
            newWidth = 1;
            if (cell.width == 2)
                screen.setX(std::max(screen.x() - 1, 0));
        } else if (isRegionalIndicator(s) && terminal.options_.regionalIndicatorWidth == RegionalIndicatorWidth::narrow
                   && cell.width == 1 && col + 1 < terminal.cols_) {
            // A flag pair printed with narrow indicators takes two columns.
            line.setCell(col + 1, continuation);
            screen.setX(std::min(screen.x() + 1, terminal.cols_));
            newWidth = 2;
        }

        cell.code = joined;
        cell.width = checkedWidth(newWidth);
        line.setCell(col, cell);
        // A cell that grew over its neighbour's first half, or shrank off its placeholder,
        // leaves no lone half behind.
        if (newWidth != oldWidth) {
            for (int edge = col; edge <= col + 2; ++edge)
                line.mendWideEdge(edge);
        }
        terminal.updateRangeForBuffer(screen, screen.y());
    }

    // A decoded scalar with its properties: joined into the cell before the cursor or printed
    // as a new cell.
    static void printScalar(Terminal& terminal, char32_t s, const ScalarProperties& properties)
    {
        int width = properties.width;
        if (width < 0)
            return;
        if (!properties.mayJoin) {
            // Most scalars join nothing: no need to look at the cell before the cursor.
            printCell(terminal, s, width);
            return;
        }
        const bool regional = isRegionalIndicator(s);
        if (regional && width == 2 && terminal.options_.regionalIndicatorWidth == RegionalIndicatorWidth::narrow)
            width = 1;

        if (properties.joinsPrevious) {
            if (const auto target = joinTarget(terminal))
                joinInto(terminal, *target, s, width);
            else if (width != 0)
                printCell(terminal, s, width);
            return;
        }

        // Any other scalar joins only a character that ends in the joiner, or a lone regional
        // indicator when it is one too. Both are kept under table codes (a single scalar in a
        // cell is never the joiner), so a cell holding a plain scalar needs no lookup.
        if (const auto target = joinTarget(terminal);
            target && (target->code > CharData::firstSyntheticCode || target->code == static_cast<std::int32_t>(zeroWidthJoiner))) {
            const FollowerKind takes = followerKind(terminal, target->code);
            if (takes == FollowerKind::afterJoiner || (regional && takes == FollowerKind::regionalPair)) {
                joinInto(terminal, *target, s, width);
                return;
            }
        }
        printCell(terminal, s, width);
    }

    static void printScalar(Terminal& terminal, char32_t s)
    {
        printScalar(terminal, s, scalarProperties(s));
    }

    // Characters gathered for the cell-run writer: codes that are the scalars themselves, of
    // width 1 or 2, that join nothing before them. Most text outside ASCII is made of these.
    class PendingCells {
    public:
        static constexpr std::size_t capacity = 64;

        bool empty() const { return count == 0; }
        void add(Terminal& terminal, char32_t code, int width)
        {
            codes[count] = code;
            widths[count] = static_cast<std::int8_t>(width);
            if (++count == capacity)
                flush(terminal);
        }
        // Writes them in one call; what the run writer leaves goes through the steps for one
        // character, as it would have without the batch.
        void flush(Terminal& terminal)
        {
            if (count == 0)
                return;
            const auto written = static_cast<std::size_t>(terminal.buffer_->insertCellRun(
                std::span<const char32_t>(codes.data(), count), std::span<const std::int8_t>(widths.data(), count),
                terminal.curAttrPacked_, terminal));
            for (std::size_t k = written; k < count; ++k) {
                if (codes[k] < 0x80)
                    printSingleByte(terminal, static_cast<std::uint8_t>(codes[k])); // ASCII joins nothing
                else
                    printScalar(terminal, codes[k]);
            }
            count = 0;
        }

    private:
        std::array<char32_t, capacity> codes;
        std::array<std::int8_t, capacity> widths;
        std::size_t count = 0;
    };

    // A decoded scalar: into the batch when it is a plain character, else through printScalar.
    static void printDecoded(Terminal& terminal, PendingCells& pending, char32_t s)
    {
        if (s < 0x10000) {
            const ScalarProperties properties = scalarProperties(s);
            if (properties.width > 0 && !properties.joinsPrevious) {
                // Only the first of a batch can meet a character that takes it (one that ends in
                // the joiner); the others follow a plain cell of the batch.
                if (pending.empty() && properties.mayJoin) {
                    const auto target = joinTarget(terminal);
                    if (target
                        && (target->code > CharData::firstSyntheticCode
                            || target->code == static_cast<std::int32_t>(zeroWidthJoiner))) {
                        printScalar(terminal, s, properties);
                        return;
                    }
                }
                pending.add(terminal, s, properties.width);
                return;
            }
            pending.flush(terminal);
            printScalar(terminal, s, properties);
            return;
        }
        pending.flush(terminal);
        printScalar(terminal, s);
    }

    // Printable ASCII stretches shorter than this join the batch; longer ones go to the
    // narrow-run writer.
    static constexpr std::size_t shortAsciiRun = 16;

    // The lead byte of a broken or invalid sequence, shown as its fallback character after the
    // batch so far.
    static void printFallbackByte(Terminal& terminal, PendingCells& pending, std::uint8_t lead)
    {
        pending.flush(terminal);
        printSingleByte(terminal, lead);
    }

    // A stretch of printable ASCII starting at run[start]: a short one joins the batch (unless
    // a character set maps it), a longer one goes to the narrow-run writer. Returns the bytes
    // written and sets `end` to the end of the stretch; the writer may stop short of it (insert
    // mode, a full row without wraparound).
    [[gnu::always_inline]] static std::size_t printAsciiStretch(Terminal& terminal, PendingCells& pending,
                                                                std::span<const std::uint8_t> run, std::size_t start,
                                                                std::size_t& end)
    {
        end = printableAsciiEnd(run, start);
        if (end - start < shortAsciiRun && !terminal.charset_) {
            for (std::size_t k = start; k < end; ++k)
                pending.add(terminal, run[k], 1);
            return end - start;
        }
        pending.flush(terminal);
        const int written = terminal.buffer_->insertNarrowRun(run.subspan(start, end - start), terminal.curAttrPacked_,
                                                              terminal, terminal.charset_);
        return static_cast<std::size_t>(written);
    }

    // A multi-byte sequence that starts at run[pos] and lies inside the run, the common case,
    // read without the kept-back bytes: decoded and printed, or its lead byte printed as a
    // fallback. Returns the bytes consumed, 0 when the sequence is not of that kind.
    [[gnu::always_inline]] static std::size_t printSequenceInRun(Terminal& terminal, PendingCells& pending,
                                                                 std::span<const std::uint8_t> run, std::size_t pos)
    {
        const std::uint8_t lead = run[pos];
        const std::size_t length = leadLengths[lead];
        if (length == 3 && pos + 3 <= run.size() && isContinuationByte(run[pos + 1]) && isContinuationByte(run[pos + 2])) {
            // Three bytes, the form of most text outside Latin scripts, without the loops.
            const char32_t value = static_cast<char32_t>(lead & 0x0F) << 12 | static_cast<char32_t>(run[pos + 1] & 0x3F) << 6
                | (run[pos + 2] & 0x3F);
            if (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))
                printFallbackByte(terminal, pending, lead);
            else
                printDecoded(terminal, pending, value);
            return 3;
        }
        if (length == 1 || pos + length > run.size())
            return 0;
        std::size_t continuations = 0;
        while (continuations < length - 1 && isContinuationByte(run[pos + 1 + continuations]))
            ++continuations;
        if (continuations < length - 1) {
            // A sequence ends at the first byte that cannot continue it; that byte is read next.
            printFallbackByte(terminal, pending, lead);
            return 1 + continuations;
        }
        char32_t value = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            value = value << 6 | (run[pos + k] & 0x3F);
        if (isValidDecodedScalar(value, length))
            printDecoded(terminal, pending, value);
        else
            printFallbackByte(terminal, pending, lead);
        return length;
    }

    // The kept-back bytes of the last feed followed by this feed's run, read as one sequence.
    struct GeneralInput {
        const std::vector<std::uint8_t>& putback;
        std::span<const std::uint8_t> run;

        std::size_t putbackSize() const { return putback.size(); }
        std::size_t size() const { return putback.size() + run.size(); }
        std::uint8_t at(std::size_t i) const { return i < putback.size() ? putback[i] : run[i - putback.size()]; }
    };

    // The bytes of a sequence that the input ended inside, kept for the next feed.
    struct KeptBytes {
        std::array<std::uint8_t, 4> bytes{};
        std::size_t count = 0;
    };

    // One character at input position idx that may start in the kept-back bytes, or a byte
    // that starts none. Returns the bytes consumed; when the input ends inside a sequence its
    // bytes go to `kept` and the rest of the input is consumed.
    static std::size_t printSequenceAcrossInput(Terminal& terminal, PendingCells& pending, const GeneralInput& input,
                                                std::size_t idx, KeptBytes& kept)
    {
        const std::uint8_t lead = input.at(idx);
        const std::size_t length = leadLengths[lead];
        if (length == 1) {
            printFallbackByte(terminal, pending, lead);
            return 1;
        }
        const std::size_t available = input.size() - idx - 1;
        std::size_t continuations = 0;
        while (continuations < length - 1 && continuations < available
               && isContinuationByte(input.at(idx + 1 + continuations)))
            ++continuations;
        if (continuations < length - 1 && continuations == available) {
            // The data ends inside the sequence: keep it for the next feed.
            kept.bytes[0] = lead;
            for (std::size_t k = 0; k < continuations; ++k)
                kept.bytes[k + 1] = input.at(idx + 1 + k);
            kept.count = continuations + 1;
            return input.size() - idx;
        }
        if (continuations < length - 1) {
            printFallbackByte(terminal, pending, lead);
            return 1 + continuations;
        }
        char32_t value = lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            value = value << 6 | (input.at(idx + k) & 0x3F);
        if (isValidDecodedScalar(value, length))
            printDecoded(terminal, pending, value);
        else
            printFallbackByte(terminal, pending, lead);
        return length;
    }

    // One step of the general path at input position idx: inside this feed's run, a stretch
    // of printable ASCII (byte by byte below `singleBytesUntil`, what a partial narrow write
    // left over) or a sequence that lies wholly in the run; otherwise a character read across
    // the kept-back bytes, of which there are `putbackSize`. Returns the bytes consumed.
    [[gnu::always_inline]] static std::size_t printGeneralStep(Terminal& terminal, PendingCells& pending,
                                                               const GeneralInput& input, std::size_t putbackSize,
                                                               std::size_t idx, std::size_t& singleBytesUntil,
                                                               KeptBytes& kept)
    {
        if (idx >= putbackSize) {
            const std::size_t pos = idx - putbackSize;
            if (idx >= singleBytesUntil && isPrintableAscii(input.run[pos])) {
                std::size_t end = 0;
                const std::size_t written = printAsciiStretch(terminal, pending, input.run, pos, end);
                if (written < end - pos)
                    singleBytesUntil = putbackSize + end;
                return written;
            }
            if (const std::size_t consumed = printSequenceInRun(terminal, pending, input.run, pos))
                return consumed;
        }
        return printSequenceAcrossInput(terminal, pending, input, idx, kept);
    }

    // After the general path: the bytes of an unfinished sequence wait for the next feed, and
    // the run is done with.
    static void keepForNextFeed(ReadingBuffer& reading, const KeptBytes& kept)
    {
        reading.putbackBuffer.assign(kept.bytes.begin(), kept.bytes.begin() + static_cast<std::ptrdiff_t>(kept.count));
        reading.rest = {};
        reading.idx = 0;
        reading.count = reading.putbackBuffer.size();
    }

    // The general path over the kept-back bytes and the run: UTF-8 decoding, character sets,
    // widths and joining. Printable ASCII stretches still go through the narrow-run writer.
    static void printGeneral(Terminal& terminal, std::span<const std::uint8_t> run)
    {
        ReadingBuffer& reading = terminal.readingBuffer_;
        const GeneralInput input{reading.putbackBuffer, run};
        const std::size_t putbackSize = input.putbackSize();
        const std::size_t count = input.size();
        reading.rest = run;
        terminal.updateRangeForBuffer(*terminal.buffer_, terminal.buffer_->y());

        PendingCells pending;
        KeptBytes kept;
        std::size_t singleBytesUntil = 0;
        // The read position stays in a local: the calls below cannot see it, and the member
        // would be stored and reloaded around every one of them.
        for (std::size_t idx = 0; idx < count;)
            idx += printGeneralStep(terminal, pending, input, putbackSize, idx, singleBytesUntil, kept);
        pending.flush(terminal);

        terminal.updateRangeForBuffer(*terminal.buffer_, terminal.buffer_->y());
        keepForNextFeed(reading, kept);
    }

    // ---------------------------------------------------------------- Print path

    // One character that the in-place writer did not take (insert mode, a wrap, a short row):
    // the cell writer's full steps. Kept out of handlePrint so that its common case stays small.
    [[gnu::noinline]] static void printOneCharacterSlowly(Terminal& terminal, std::uint8_t b)
    {
        Buffer& screen = *terminal.buffer_;
        const int row = screen.y();
        const int top = screen.yDisp();
        screen.insertCharacter(b, 1, terminal.curAttrPacked_, terminal);
        // Marked again only when it wrapped (or scrolled the view): the same row and view
        // would mark nothing new.
        if (terminal.buffer_ != &screen || terminal.buffer_->y() != row || terminal.buffer_->yDisp() != top)
            terminal.updateRangeForBuffer(*terminal.buffer_, terminal.buffer_->y());
    }

    [[gnu::noinline]] static void printRun(Terminal& terminal, std::span<const std::uint8_t> bytes)
    {
        std::size_t start = 0;
        if (terminal.readingBuffer_.putbackBuffer.empty() && isPrintableAsciiRun(bytes)) {
            // Plain text: one pass per row. The invoked set only maps bytes to single-width
            // characters, which never join the cell before them.
            Buffer& screen = *terminal.buffer_;
            terminal.updateRangeForBuffer(screen, screen.y());
            const int written = screen.insertNarrowRun(bytes, terminal.curAttrPacked_, terminal, terminal.charset_);
            if (static_cast<std::size_t>(written) == bytes.size()) {
                terminal.updateRangeForBuffer(*terminal.buffer_, terminal.buffer_->y());
                return;
            }
            // Insert mode, or the row is full without wraparound: the rest byte by byte.
            start = static_cast<std::size_t>(written);
        }
        printGeneral(terminal, bytes.subspan(start));
    }
};

namespace {

using PrintPath = TerminalFileHelpers<PrintFile>;

} // namespace

void Terminal::handlePrint(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() == 1 && !charset_ && isPrintableAscii(bytes[0]) && readingBuffer_.putbackBuffer.empty()) {
        // One character between two sequences (a cell repainted with new attributes or at a
        // new place): straight to the cell writer, which does what the run writer would.
        Buffer& screen = *buffer_;
        updateRangeForCursorRow(screen);
        if (!PrintPath::writeNarrowCellInPlace(*this, screen, bytes[0]))
            PrintPath::printOneCharacterSlowly(*this, bytes[0]);
        return;
    }
    PrintPath::printRun(*this, bytes);
}

void Terminal::flushIncompleteCharacter()
{
    if (readingBuffer_.putbackBuffer.empty())
        return;
    // As inside a run: the lead byte shows its fallback and the continuation bytes it
    // took are dropped.
    const std::uint8_t lead = readingBuffer_.putbackBuffer.front();
    readingBuffer_.putbackBuffer.clear();
    readingBuffer_.idx = 0;
    readingBuffer_.count = 0;
    updateRangeForBuffer(*buffer_, buffer_->y());
    PrintPath::printSingleByte(*this, lead);
    updateRangeForBuffer(*buffer_, buffer_->y());
}

std::int32_t Terminal::getCharacterCode(std::u32string_view character)
{
    if (character.size() == 1 && character[0] < 0x10000)
        return static_cast<std::int32_t>(character[0]);
    if (character == U"\r\n")
        return 10;
    if (character.empty() || character.size() > maximumClusterScalars)
        return replacementCharacter;
    if (const auto found = charToIndexMap_.find(character); found != charToIndexMap_.end())
        return found->second;
    if (lastCharIndex_ == std::numeric_limits<std::int32_t>::max())
        return replacementCharacter; // the table is out of codes
    std::u32string key(character);
    const std::int32_t code = lastCharIndex_++;
    indexToCharMap_.emplace(code, key);
    charToIndexMap_.emplace(std::move(key), code);
    return code;
}

std::u32string Terminal::getCharacter(std::int32_t code) const
{
    char32_t scratch = 0;
    return std::u32string(PrintPath::characterOf(*this, code, scratch));
}

CharData Terminal::makeCell(const Attribute& attribute, char32_t scalar, int width)
{
    return CharData(static_cast<std::int32_t>(scalar), checkedWidth(width), attribute);
}

CharData Terminal::makeCell(const Attribute& attribute, std::u32string_view character, int width)
{
    return CharData(getCharacterCode(character), checkedWidth(width), attribute);
}

CharData Terminal::makeCell(const Attribute& attribute, std::int32_t code, int width)
{
    return CharData(code, checkedWidth(width), attribute);
}

void Terminal::setCellCharacter(CharData& cell, std::u32string_view character, int width)
{
    cell.code = getCharacterCode(character);
    cell.width = checkedWidth(width);
}

void Terminal::setCellCode(CharData& cell, std::int32_t code, int width)
{
    cell.code = code;
    cell.width = checkedWidth(width);
}

std::optional<Position> Terminal::combiningTarget() const
{
    const Buffer& screen = *buffer_;
    if (screen.x() == 0)
        return std::nullopt;
    const int row = screen.yBase() + screen.y();
    const BufferLine* line = screen.lines().peek(row).get();
    if (!line || line->dataSize() == 0)
        return std::nullopt;
    int col = std::min(screen.x() - 1, line->dataSize() - 1);
    // Skip the second half of a wide character.
    while (col > 0 && line->cellWidth(col) == 0)
        --col;
    const PackedCell& cell = line->packedCell(col);
    if (cell.code() == 0 || cell.width() < 1)
        return std::nullopt;
    return Position{col, row};
}

std::string Terminal::lineDisplayText(const BufferLine& line) const
{
    std::string text;
    for (const PackedCell& cell : line.cellSpan()) {
        if (cell.width() == 0)
            continue; // the placeholder after a wide character
        if (cell.code() == 0) {
            text += ' ';
            continue;
        }
        char32_t scratch = 0;
        for (char32_t scalar : PrintPath::characterOf(*this, cell.code(), scratch))
            appendUtf8(text, scalar);
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

void Terminal::registerOscHandler(int code, EscapeSequenceParser::OscHandler handler)
{
    parser_.oscHandlers.insert_or_assign(code, std::move(handler));
}

// ---------------------------------------------------------------- Character sets

const CharacterMap* Terminal::charsetForDesignator(std::uint8_t designator)
{
    return CharSets::all(designator);
}

void Terminal::setgLevel(std::uint8_t level)
{
    gLevel_ = level;
    charset_ = level < gCharsets_.size() ? gCharsets_[level] : nullptr;
}

void Terminal::setCharset(int level, const CharacterMap* map)
{
    if (level < 0 || level >= static_cast<int>(gCharsets_.size()))
        return;
    gCharsets_[static_cast<std::size_t>(level)] = map;
    // Designating into the invoked slot takes effect at once.
    if (level == gLevel_)
        charset_ = map;
}

void Terminal::designateCharset(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() != 2) {
        setgLevel(0);
        setCharset(0, nullptr);
        return;
    }
    const CharacterMap* map = CharSets::all(bytes[1]);
    int slot = 0;
    switch (bytes[0]) {
    case '(':
        slot = 0;
        break;
    case ')':
    case '-':
        slot = 1;
        break;
    case '*':
    case '.':
        slot = 2;
        break;
    case '+':
    case '/':
        slot = 3;
        break;
    default:
        return;
    }
    setCharset(slot, map);
}

} // namespace corvantix

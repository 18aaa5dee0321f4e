// Semantic prompt zones of a screen: the numbering of command groups, the line where the
// current prompt starts, and the questions asked about rows (is it in the prompt, does it
// continue the group, which prompt does a click belong to).
//
// Marks live on the lines, so they travel with them through scrolling and reflow; the
// buffer finds the prompt-start line again by object identity and caches its row.
#include "model/Buffer.h"

#include <algorithm>
#include <limits>

namespace corvantix {

namespace {

bool isPromptMark(const SemanticMark& mark)
{
    return mark.kind == SemanticPromptKind::initial || mark.kind == SemanticPromptKind::secondary;
}

bool holdsPromptMark(const BufferLine& line)
{
    return std::ranges::any_of(line.semanticMarks(), isPromptMark);
}

} // namespace

void Buffer::beginSemanticGroup(int row)
{
    if (row < 0 || row >= lines_.count())
        return;
    semanticGroupCounter = semanticGroupCounter == std::numeric_limits<uint64_t>::max() ? 1 : semanticGroupCounter + 1;
    activeSemanticGroupID = semanticGroupCounter;
    semanticPromptStartLine = lines_[row];
    semanticPromptStartRowCache = row;
}

void Buffer::addSemanticMark(SemanticPromptKind kind, int row, int column)
{
    if (row < 0 || row >= lines_.count())
        return;
    BufferLine& line = *lines_[row];
    if (line.dataSize() < 1)
        return;
    line.setSemanticMark(kind, std::clamp(column, 0, line.dataSize() - 1), activeSemanticGroupID);
}

std::optional<int> Buffer::semanticPromptStartRow()
{
    if (!semanticPromptStartLine)
        return std::nullopt;
    const int cached = semanticPromptStartRowCache;
    if (cached >= 0 && cached < lines_.count() && lines_[cached] == semanticPromptStartLine
        && holdsPromptMark(*semanticPromptStartLine))
        return cached;

    ++semanticPromptRowScanCount;
    if (const std::optional<int> found = findRowOfLine(semanticPromptStartLine.get(), cached);
        found && holdsPromptMark(*semanticPromptStartLine)) {
        semanticPromptStartRowCache = *found;
        return found;
    }

    // The start line is gone (recycled or dropped from the history): fall back to the
    // nearest active prompt mark.
    if (const std::optional<int> active = findActivePromptRow()) {
        semanticPromptStartLine = lines_[*active];
        semanticPromptStartRowCache = *active;
        return active;
    }
    semanticPromptStartLine.reset();
    return std::nullopt;
}

std::optional<int> Buffer::findRowOfLine(const BufferLine* line, int hint)
{
    const int count = lines_.count();
    if (count == 0 || line == nullptr)
        return std::nullopt;
    const int h = std::min(count - 1, std::max(hint, 0));
    // h, h + 1, h - 1, h + 2, h - 2, ...: a line that moved a few rows is found quickly.
    for (int distance = 0; h + distance < count || h - distance >= 0; ++distance) {
        const int later = h + distance;
        if (later < count && lines_[later].get() == line)
            return later;
        const int earlier = h - distance;
        if (distance > 0 && earlier >= 0 && lines_[earlier].get() == line)
            return earlier;
    }
    return std::nullopt;
}

std::optional<int> Buffer::findActivePromptRow()
{
    const int count = lines_.count();
    if (count == 0)
        return std::nullopt;
    const int s = std::min(count - 1, std::max(yBase_ + y_, 0));
    for (int row = s; row >= 0; --row) {
        if (rowHasActivePromptMark(row))
            return row;
    }
    for (int row = s + 1; row < count; ++row) {
        if (rowHasActivePromptMark(row))
            return row;
    }
    return std::nullopt;
}

bool Buffer::rowHasActivePromptMark(int row)
{
    if (row < 0 || row >= lines_.count())
        return false;
    return std::ranges::any_of(lines_[row]->semanticMarks(), [this](const SemanticMark& mark) {
        return isPromptMark(mark) && mark.group == activeSemanticGroupID;
    });
}

bool Buffer::isRowInSemanticPrompt(int row)
{
    if (semanticInput != SemanticInputState::prompt && semanticInput != SemanticInputState::armed)
        return false;
    if (row < 0 || row >= lines_.count())
        return false;
    const std::optional<int> start = semanticPromptStartRow();
    return start && lines_[*start] == lines_[row] && rowHasActivePromptMark(*start);
}

std::optional<Position> Buffer::findSemanticInputStart()
{
    const std::optional<int> row = semanticPromptStartRow();
    if (!row)
        return std::nullopt;
    const int cells = lines_[*row]->dataSize();
    if (cells < 1)
        return std::nullopt;
    const std::optional<PromptStartMark> mark = promptStartMarkKind();
    if (!mark)
        return std::nullopt;
    return Position{std::clamp(mark->column, 0, cells - 1), *row};
}

std::vector<SemanticPromptAnchor> Buffer::semanticMarksOfRow(int row)
{
    std::vector<SemanticPromptAnchor> anchors;
    if (row < 0 || row >= lines_.count())
        return anchors;
    const BufferLine& line = *lines_[row];
    if (line.dataSize() < 1)
        return anchors;
    for (const SemanticMark& mark : line.semanticMarks())
        anchors.push_back({Position{std::clamp(mark.column, 0, line.dataSize() - 1), row}, mark.kind});
    return anchors;
}

std::optional<uint64_t> Buffer::promptGroupOfRow(int row, std::optional<int> startRow)
{
    if (row < 0 || row >= lines_.count())
        return std::nullopt;
    const std::vector<SemanticMark>& marks = lines_[row]->semanticMarks();
    for (const SemanticMark& mark : marks) {
        if (mark.kind == SemanticPromptKind::initial)
            return mark.group;
    }
    if (startRow != row)
        return std::nullopt;
    for (const SemanticMark& mark : marks) {
        if (mark.kind == SemanticPromptKind::secondary)
            return mark.group;
    }
    return std::nullopt;
}

std::optional<uint64_t> Buffer::continuationGroupOfRow(int row)
{
    if (row < 0 || row >= lines_.count())
        return std::nullopt;
    for (const SemanticMark& mark : lines_[row]->semanticMarks()) {
        const bool continues = mark.kind == SemanticPromptKind::right || mark.kind == SemanticPromptKind::continuation
                               || mark.kind == SemanticPromptKind::secondary;
        if (continues && mark.group != 0)
            return mark.group;
    }
    return std::nullopt;
}

bool Buffer::semanticPromptCellRange(int row)
{
    if (row < 0 || row >= lines_.count() || activeSemanticGroupID == 0)
        return false;
    if (lines_[row]->semanticHardContinuationGroup() == activeSemanticGroupID)
        return true;
    return continuationGroupOfRow(row) == activeSemanticGroupID;
}

SemanticContent Buffer::classifySemanticClick(int row)
{
    if (row < 0 || row >= lines_.count())
        return SemanticContent::none();
    const std::optional<int> start = semanticPromptStartRow();
    if (promptGroupOfRow(row, start))
        return SemanticContent::prompt(SemanticPromptKind::initial);
    if (continuationGroupOfRow(row))
        return SemanticContent::prompt(SemanticPromptKind::continuation);
    if (row == 0)
        return SemanticContent::none();

    // Walk up through wrapped rows and hard-continued rows of one group until a row that
    // holds a prompt of that group.
    uint64_t group = 0;
    bool allWrapped = true;
    for (int r = row; r > 0; --r) {
        const BufferLine& line = *lines_[r];
        if (!line.isWrapped()) {
            const std::optional<uint64_t> hard = line.semanticHardContinuationGroup();
            if (!hard)
                return SemanticContent::none();
            if (!allWrapped && group != *hard)
                return SemanticContent::none();
            group = *hard;
            allWrapped = false;
        }
        if (const std::optional<uint64_t> above = promptGroupOfRow(r - 1, start)) {
            return allWrapped || *above == group ? SemanticContent::prompt(SemanticPromptKind::continuation)
                                                 : SemanticContent::none();
        }
        if (const std::optional<uint64_t> above = continuationGroupOfRow(r - 1)) {
            return allWrapped || *above == group ? SemanticContent::prompt(SemanticPromptKind::continuation)
                                                 : SemanticContent::none();
        }
    }
    return SemanticContent::none();
}

std::optional<Position> Buffer::semanticClickTarget(int col, int row)
{
    const std::optional<Position> start = findSemanticInputStart();
    if (!start)
        return std::nullopt;
    Position target = *start;
    if (row < start->row)
        return target;
    const int last = std::min(row, lines_.count() - 1);
    for (int r = start->row; r <= last; ++r) {
        for (const SemanticMark& mark : lines_[r]->semanticMarks()) {
            const bool before = r < row || mark.column <= col;
            if (mark.kind == SemanticPromptKind::secondary && mark.group == activeSemanticGroupID && before)
                target = Position{mark.column, r};
        }
    }
    return target;
}

} // namespace corvantix

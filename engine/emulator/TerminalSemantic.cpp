// Semantic prompts (OSC 133), click-to-move, and the scan of user input for submitted commands.
//
// Only the normal screen takes part: OSC 133 on the alternate screen is ignored and clicks
// there are never handled. The per-line marks and the prompt-start search belong to the
// buffer (BufferSemantic.cpp); this file decides when groups start and what a click sends.
#include "emulator/Terminal.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

namespace corvantix {

namespace {

constexpr std::uint8_t ESC = 0x1B;
constexpr std::uint8_t inputCellCode = 5; // SemanticContent::input() in a cell
// Parameter and intermediate bytes of a scanned CSI sequence that are kept.
constexpr std::size_t scanParamsLimit = 32;

std::vector<std::string_view> splitKeepingEmpty(std::string_view text, char separator)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// Cells of the row's first `limit` cells that hold typed input (code 5, not a placeholder).
int inputCellsOf(const BufferLine& line, int limit)
{
    const int n = std::min(line.dataSize(), limit);
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const PackedCell& cell = line.packedCell(i);
        if (cell.semanticContentCode() == inputCellCode && cell.width() != 0)
            ++count;
    }
    return count;
}

// Arrow keys of click-to-move.
constexpr std::string_view rightNormal = "\x1b[C";
constexpr std::string_view leftNormal = "\x1b[D";
constexpr std::string_view downNormal = "\x1b[B";
constexpr std::string_view upNormal = "\x1b[A";
constexpr std::string_view rightApplication = "\x1bOC";
constexpr std::string_view leftApplication = "\x1bOD";
constexpr std::string_view downApplication = "\x1bOB";
constexpr std::string_view upApplication = "\x1bOA";
constexpr std::string_view rightSpecial = "\x1b[1u";
constexpr std::string_view leftSpecial = "\x1b[1;1u";

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

} // namespace

// ---------------------------------------------------------------- OSC 133

namespace {

int cursorRow(const Buffer& screen)
{
    return screen.yBase() + screen.y();
}

void setSemanticClickMode(Buffer& screen, const Terminal::SemanticPromptOptions& options)
{
    screen.semanticClickMode = options.clickEvents  ? *options.clickEvents
                               : options.cursorClick ? *options.cursorClick
                                                     : SemanticPromptClickMode::none();
    screen.semanticUsesSpecialCursorKeys = options.specialKeys;
}

void startSemanticGroup(Buffer& screen)
{
    const int row = cursorRow(screen);
    screen.beginSemanticGroup(row);
    if (row >= 0 && row < screen.lines().count())
        screen.lines()[row]->setSemanticHardContinuationGroup(std::nullopt);
}

void enterSemanticPrompt(Buffer& screen, SemanticPromptKind kind)
{
    screen.semanticContent = SemanticContent::prompt(kind);
    screen.semanticInput = SemanticInputState::prompt;
}

// A and N: a prompt starts on a fresh line; N always opens a new command group.
void startSemanticPrompt(Terminal& terminal, Buffer& screen, char command,
                         const Terminal::SemanticPromptOptions& options)
{
    const SemanticPromptKind kind = options.kind;
    if (kind == SemanticPromptKind::right) {
        terminal.addSemanticMarkAtCursor(SemanticPromptKind::right);
        return;
    }
    terminal.freshSemanticPromptLine();
    if (kind == SemanticPromptKind::continuation) {
        enterSemanticPrompt(screen, SemanticPromptKind::continuation);
        return;
    }
    if (command == 'N') {
        startSemanticGroup(screen);
        setSemanticClickMode(screen, options);
    } else if (kind == SemanticPromptKind::initial) {
        // A repeated prompt start on a row of the current prompt keeps its group.
        if (!screen.isRowInSemanticPrompt(cursorRow(screen)))
            startSemanticGroup(screen);
        setSemanticClickMode(screen, options);
    } else if (!screen.semanticPromptStartRow()) {
        startSemanticGroup(screen);
        setSemanticClickMode(screen, options);
    }
    terminal.addSemanticMarkAtCursor(kind);
    enterSemanticPrompt(screen, kind);
}

// P: more prompt text where the cursor is.
void continueSemanticPrompt(Terminal& terminal, Buffer& screen, const Terminal::SemanticPromptOptions& options)
{
    if (options.kind == SemanticPromptKind::initial && !screen.isRowInSemanticPrompt(cursorRow(screen))) {
        screen.beginSemanticGroup(cursorRow(screen));
        setSemanticClickMode(screen, options);
    }
    terminal.addSemanticMarkAtCursor(options.kind);
    screen.semanticContent = SemanticContent::prompt(options.kind);
}

} // namespace

void Terminal::oscSemanticPrompt(std::span<const std::uint8_t> payload)
{
    if (isCurrentBufferAlternate())
        return;
    const std::optional<std::string> text = decodeUtf8(payload);
    if (!text || text->empty())
        return;
    const std::vector<std::string_view> fields = splitKeepingEmpty(*text, ';');
    // The command is one character; any ASCII command is one byte, and a longer first field
    // is ignored either way.
    if (fields[0].size() != 1)
        return;
    const std::optional<SemanticPromptOptions> options
        = parseSemanticPromptOptions(std::span<const std::string_view>(fields).subspan(1));
    if (!options)
        return;

    Buffer& screen = *buffer_;
    switch (const char command = fields[0][0]) {
    case 'A':
    case 'N':
        startSemanticPrompt(*this, screen, command, *options);
        return;
    case 'P':
        continueSemanticPrompt(*this, screen, *options);
        return;
    case 'B':
    case 'I':
        screen.semanticContent = SemanticContent::input();
        screen.semanticInput = SemanticInputState::armed;
        return;
    case 'C':
    case 'D':
        screen.semanticContent = SemanticContent::output();
        screen.semanticInput = SemanticInputState::submitted;
        clearSemanticContinuation();
        return;
    case 'L':
        freshSemanticPromptLine();
        return;
    default:
        return;
    }
}

std::optional<Terminal::SemanticPromptOptions> Terminal::parseSemanticPromptOptions(
    std::span<const std::string_view> fields)
{
    SemanticPromptOptions options;
    for (const std::string_view field : fields) {
        const std::size_t equals = field.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = field.substr(0, equals);
        const std::string_view value = field.substr(equals + 1);
        if (key == "k") {
            if (value.size() != 1)
                return std::nullopt;
            const std::optional<SemanticPromptKind> kind = semanticPromptKindFromRawValue(value[0]);
            if (!kind)
                return std::nullopt;
            options.kind = *kind;
        } else if (key == "cl") {
            if (value == "line")
                options.cursorClick = SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::line);
            else if (value == "m")
                options.cursorClick = SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::multiple);
            else if (value == "v")
                options.cursorClick
                    = SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::conservativeVertical);
            else if (value == "w")
                options.cursorClick = SemanticPromptClickMode::cursorKeys(SemanticPromptCursorClickMode::smartVertical);
            else
                return std::nullopt;
        } else if (key == "click_events") {
            if (value == "0")
                options.clickEvents.reset();
            else if (value == "1")
                options.clickEvents = SemanticPromptClickMode::clickEventsAbsolute();
            else if (value == "2")
                options.clickEvents = SemanticPromptClickMode::clickEventsRelative();
            else
                return std::nullopt;
        } else if (key == "special_key") {
            if (value == "0")
                options.specialKeys = false;
            else if (value == "1")
                options.specialKeys = true;
            else
                return std::nullopt;
        }
        // Unknown keys are skipped.
    }
    return options;
}

void Terminal::freshSemanticPromptLine()
{
    const int lineStart = marginMode_ ? buffer_->marginLeft() : 0;
    if (buffer_->x() == lineStart)
        return;
    cmdCarriageReturn();
    cmdLineFeed();
}

void Terminal::addSemanticMarkAtCursor(SemanticPromptKind kind)
{
    if (kind == SemanticPromptKind::continuation)
        return;
    buffer_->addSemanticMark(kind, buffer_->yBase() + buffer_->y(), buffer_->x());
    updateRange(buffer_->y());
}

void Terminal::closeSemanticInput()
{
    for (Buffer* screen : {normalBuffer_.get(), altBuffer_.get()}) {
        if (screen == nullptr)
            continue;
        screen->semanticInput = SemanticInputState::submitted;
        if (screen->semanticContent != SemanticContent::none() && screen->semanticContent != SemanticContent::output())
            screen->semanticContent = SemanticContent::output();
    }
}

// ---------------------------------------------------------------- Queries

std::optional<SemanticContent> Terminal::semanticContentAt(int col, int row) const
{
    if (col < 0 || col >= cols_)
        return std::nullopt;
    const BufferLine* line = getLine(row);
    if (line == nullptr)
        return std::nullopt;
    // Past the line's end (but inside the screen) the last cell answers.
    return SemanticContent::fromCellCode(line->packedCell(col).semanticContentCode());
}

std::vector<SemanticPromptAnchor> Terminal::semanticMarksOfRow(int row) const
{
    return buffer_->semanticMarksOfRow(row);
}

std::optional<int> Terminal::rowOfLine(const BufferLine& line, std::uint64_t generation) const
{
    // A recycled line object now holds another row's content.
    if (line.recycleGeneration() != generation)
        return std::nullopt;
    return buffer_->findRowOfLine(&line, buffer_->semanticPromptStartRowCache);
}

SemanticContent Terminal::semanticRowKind(int row) const
{
    return buffer_->classifySemanticClick(row);
}

std::optional<Position> Terminal::semanticPromptStartPosition() const
{
    return buffer_->findSemanticInputStart();
}

const BufferLine* Terminal::getLine(int row) const
{
    CircularBufferLineList& ring = buffer_->lines();
    if (row < 0 || row >= ring.count())
        return nullptr;
    return ring[row].get();
}

// ---------------------------------------------------------------- Click-to-move

bool Terminal::semanticPromptModifiersAllow(SemanticPromptClickModifiers modifiers) const
{
    switch (semanticPromptClickBehavior_.kind) {
    case SemanticPromptClickBehavior::Case::enabled: return modifiers.rawValue == 0;
    case SemanticPromptClickBehavior::Case::requireModifier: return modifiers == semanticPromptClickBehavior_.modifiers;
    case SemanticPromptClickBehavior::Case::disabled: return false;
    }
    return false;
}

bool Terminal::isSemanticPromptClickEligible(SemanticPromptClickModifiers modifiers,
                                             const SemanticPromptPointerSnapshot& snapshot) const
{
    if (!snapshot.pressWasSemanticEligible || snapshot.clickCount != 1 || snapshot.selectionWasActive
        || snapshot.didDrag)
        return false;
    if (!semanticPromptModifiersAllow(modifiers) || isCurrentBufferAlternate())
        return false;
    return normalBuffer_->semanticInput == SemanticInputState::armed
           && normalBuffer_->semanticClickMode != SemanticPromptClickMode::none();
}

bool Terminal::handleSemanticPromptPointerClick(int col, int row, SemanticPromptClickModifiers modifiers,
                                                const SemanticPromptPointerSnapshot& snapshot)
{
    if (!snapshot.pressWasSemanticEligible || snapshot.clickCount != 1 || snapshot.selectionWasActive
        || snapshot.didDrag)
        return false;
    return handleSemanticPromptClick(col, row, modifiers);
}

std::optional<Terminal::SemanticGroupGeometry> Terminal::semanticGroupGeometry() const
{
    const std::optional<int> start = buffer_->semanticPromptStartRow();
    if (!start)
        return std::nullopt;
    CircularBufferLineList& ring = buffer_->lines();

    SemanticGroupGeometry geometry;
    int offset = 0;
    int lineIndex = 0;
    int lineStart = 0;
    int row = *start;
    while (true) {
        geometry.rows.push_back({row, offset, lineIndex, lineStart});
        const int cells = inputCellsOf(*ring[row], cols_);
        offset += cells;
        geometry.hasInput = geometry.hasInput || cells > 0;

        const int next = row + 1;
        if (next >= ring.count())
            break;
        if (!ring[next]->isWrapped()) {
            if (!buffer_->semanticPromptCellRange(next))
                break;
            // A hard line break inside the command counts as one position.
            offset += 1;
            lineIndex += 1;
            lineStart = offset;
        }
        row = next;
    }
    geometry.totalOffset = offset;
    return geometry;
}

std::optional<Terminal::SemanticInputOffset> Terminal::semanticInputOffset(const SemanticGroupGeometry& geometry,
                                                                           int col, int row) const
{
    const auto found = std::ranges::find_if(geometry.rows, [row](const auto& entry) { return entry.row == row; });
    if (found == geometry.rows.end())
        return std::nullopt;
    const BufferLine* line = getLine(row);
    if (line == nullptr)
        return std::nullopt;
    const int absolute = found->startOffset + inputCellsOf(*line, std::min(cols_, std::max(col, 0)));
    return SemanticInputOffset{absolute, found->lineIndex, absolute - found->lineStartOffset};
}

std::optional<std::vector<std::uint8_t>> Terminal::semanticCursorMovementData(SemanticPromptCursorClickMode strategy,
                                                                             const SemanticInputOffset& cursor,
                                                                             const SemanticInputOffset& click) const
{
    const bool special = buffer_->semanticUsesSpecialCursorKeys;
    const std::string_view right = special ? rightSpecial : applicationCursor_ ? rightApplication : rightNormal;
    const std::string_view left = special ? leftSpecial : applicationCursor_ ? leftApplication : leftNormal;
    const std::string_view down = applicationCursor_ ? downApplication : downNormal;
    const std::string_view up = applicationCursor_ ? upApplication : upNormal;

    std::vector<std::uint8_t> bytes;
    const bool horizontalOnly = cursor.lineIndex == click.lineIndex || strategy == SemanticPromptCursorClickMode::line
                                || strategy == SemanticPromptCursorClickMode::multiple || special;
    if (horizontalOnly) {
        const int delta = click.absolute - cursor.absolute;
        appendRepeatedSemanticSequence(bytesOf(delta > 0 ? right : left), std::abs(delta), bytes);
    } else {
        // To the start of the cursor's line, across the lines, then along the clicked line.
        appendRepeatedSemanticSequence(bytesOf(left), cursor.inLine, bytes);
        const int lines = click.lineIndex - cursor.lineIndex;
        appendRepeatedSemanticSequence(bytesOf(lines > 0 ? down : up), std::abs(lines), bytes);
        appendRepeatedSemanticSequence(bytesOf(right), click.inLine, bytes);
    }
    if (bytes.empty())
        return std::nullopt;
    return bytes;
}

void Terminal::appendRepeatedSemanticSequence(std::span<const std::uint8_t> sequence, int count,
                                              std::vector<std::uint8_t>& bytes)
{
    if (count <= 0)
        return;
    bytes.reserve(bytes.size() + sequence.size() * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        bytes.insert(bytes.end(), sequence.begin(), sequence.end());
}

void Terminal::sendRepeatedSemanticSequence(std::span<const std::uint8_t> bytes)
{
    if (tdel != nullptr)
        tdel->send(*this, bytes);
}

bool Terminal::handleSemanticPromptClick(int col, int row, SemanticPromptClickModifiers modifiers)
{
    // Who may click, and where.
    if (!semanticPromptModifiersAllow(modifiers) || isCurrentBufferAlternate())
        return false;
    Buffer& screen = *buffer_;
    if (screen.semanticInput != SemanticInputState::armed)
        return false;
    if (col < 0 || col >= cols_ || row < 0 || row >= screen.lines().count())
        return false;

    // The command group must hold the clicked row and some input.
    const std::optional<SemanticGroupGeometry> geometry = semanticGroupGeometry();
    if (!geometry || !geometry->hasInput)
        return false;
    const auto rowInGroup = [&](int r) {
        return std::ranges::any_of(geometry->rows, [r](const auto& entry) { return entry.row == r; });
    };
    if (!rowInGroup(row))
        return false;

    // What the shell asked for.
    const SemanticPromptClickMode mode = screen.semanticClickMode;
    switch (mode.kind()) {
    case SemanticPromptClickMode::Case::none:
        return false;

    case SemanticPromptClickMode::Case::clickEventsAbsolute:
    case SemanticPromptClickMode::Case::clickEventsRelative: {
        // One SGR press of the first button.
        int rowValue = 0;
        if (mode.kind() == SemanticPromptClickMode::Case::clickEventsAbsolute) {
            rowValue = std::clamp(row - screen.yBase() + 1, 1, rows_);
        } else {
            const std::optional<Position> target = screen.semanticClickTarget(col, row);
            if (!target || row < target->row)
                return false;
            rowValue = row - target->row;
        }
        sendResponse("\x1b[<0;" + std::to_string(col + 1) + ";" + std::to_string(rowValue) + "M");
        return true;
    }

    case SemanticPromptClickMode::Case::cursorKeys:
        break;
    }

    // The cursor must stand in the group; a click on the second half of a wide input
    // character counts on its first half.
    const SemanticPromptCursorClickMode strategy = *mode.cursorClickMode();
    const int cursorRow = screen.yBase() + screen.y();
    if (!rowInGroup(cursorRow))
        return false;
    const BufferLine& clickedLine = *screen.lines()[row];
    int column = col;
    while (column > 0 && column < clickedLine.dataSize() && clickedLine.packedCell(column).width() == 0
           && clickedLine.packedCell(column).semanticContentCode() == inputCellCode)
        --column;

    // Offsets of cursor and click.
    const std::optional<SemanticInputOffset> cursor = semanticInputOffset(*geometry, screen.x(), cursorRow);
    const std::optional<SemanticInputOffset> click = semanticInputOffset(*geometry, column, row);
    if (!cursor || !click)
        return false;
    if (strategy == SemanticPromptCursorClickMode::line && cursor->lineIndex != click->lineIndex)
        return false;
    if (click->absolute == cursor->absolute)
        return false;

    // The arrow keys that walk the cursor to the click.
    const std::optional<std::vector<std::uint8_t>> bytes = semanticCursorMovementData(strategy, *cursor, *click);
    if (!bytes || bytes->empty())
        return false;
    if (tdel == nullptr)
        return true;
    sendRepeatedSemanticSequence(*bytes);
    return true;
}

// ---------------------------------------------------------------- User input scan

bool Terminal::scanUserInput(std::span<const std::uint8_t> bytes)
{
    bool submitted = false;
    for (const std::uint8_t byte : bytes) {
        // Return and line feed end any sequence; outside a paste they submit.
        if (byte == '\r' || byte == '\n') {
            if (!semanticScanInPaste_)
                submitted = true;
            semanticScanState_ = SemanticScanState::ground;
            continue;
        }
        switch (semanticScanState_) {
        case SemanticScanState::ground:
            if (byte == ESC)
                semanticScanState_ = SemanticScanState::escape;
            break;
        case SemanticScanState::escape:
            if (byte == '[') {
                semanticScanState_ = SemanticScanState::csi;
                semanticScanParams_.clear();
            } else if (byte == 'O') {
                semanticScanState_ = SemanticScanState::ss3;
            } else if (byte != ESC) {
                semanticScanState_ = SemanticScanState::ground;
            }
            break;
        case SemanticScanState::ss3:
            // SS3 M is Enter on the application keypad.
            if (byte == 'M')
                submitted = true;
            semanticScanState_ = SemanticScanState::ground;
            break;
        case SemanticScanState::csi:
            if (byte >= 0x20 && byte <= 0x3F) {
                if (semanticScanParams_.size() < scanParamsLimit)
                    semanticScanParams_.push_back(byte);
            } else if (byte >= 0x40 && byte <= 0x7E) {
                const std::string_view params(reinterpret_cast<const char*>(semanticScanParams_.data()),
                                              semanticScanParams_.size());
                if (byte == 'u') {
                    // Kitty keyboard protocol: Enter is key 13; a release (event type 3) does
                    // not submit.
                    const std::vector<std::string_view> fields = splitKeepingEmpty(params, ';');
                    if (splitKeepingEmpty(fields[0], ':')[0] == "13") {
                        bool release = false;
                        if (fields.size() >= 2) {
                            const std::vector<std::string_view> modifiers = splitKeepingEmpty(fields[1], ':');
                            release = modifiers.size() >= 2 && modifiers[1] == "3";
                        }
                        if (!release)
                            submitted = true;
                    }
                } else if (byte == '~') {
                    if (params == "200")
                        semanticScanInPaste_ = true;
                    else if (params == "201")
                        semanticScanInPaste_ = false;
                }
                semanticScanState_ = SemanticScanState::ground;
            } else if (byte == ESC) {
                semanticScanState_ = SemanticScanState::escape;
            } else {
                semanticScanState_ = SemanticScanState::ground;
            }
            break;
        }
    }
    return submitted;
}

void Terminal::registerUserInput(std::span<const std::uint8_t> bytes)
{
    if (scanUserInput(bytes) && buffer_->semanticInput == SemanticInputState::armed)
        buffer_->semanticInput = SemanticInputState::submitted;
}

void Terminal::sendUserInput(std::span<const std::uint8_t> bytes)
{
    registerUserInput(bytes);
    if (tdel != nullptr)
        tdel->send(*this, bytes);
}

void Terminal::resetSemanticScan()
{
    semanticScanState_ = SemanticScanState::ground;
    semanticScanInPaste_ = false;
    semanticScanParams_.clear(); // keeps its storage
}

} // namespace corvantix

// One emulator instance: the two screens, the parser, the modes, colours and palette,
// character sets, titles, hyperlink bookkeeping, the table of multi-scalar characters, the
// rows the host must redraw, and the link to the host (TerminalDelegate).
//
// The handlers are split by concern over several files; each group of declarations below
// names the file that defines it. Everything runs on the host's thread without locks.
#pragma once

#include "emulator/CC.h"
#include "emulator/EscapeSequenceParser.h"
#include "emulator/TerminalDelegate.h"
#include "emulator/TerminalOptions.h"
#include "graphics/KittyGraphicsState.h"
#include "model/BidiPresentationState.h"
#include "model/Buffer.h"
#include "model/BufferLine.h"
#include "model/CharData.h"
#include "model/CharacterMap.h"
#include "model/Color.h"
#include "model/Position.h"
#include "model/SemanticTypes.h"
#include "platform/MainQueue.h"

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace corvantix {

class SelectionService;

// Which mouse events are reported (DECSET 9, 1000, 1002, 1003).
enum class MouseMode : std::uint8_t { off = 0, x10 = 1, vt200 = 2, buttonEventTracking = 3, anyEvent = 4 };

// How mouse reports are encoded (DECSET 1005, 1006, 1015, 1016).
enum class MouseProtocolEncoding : std::uint8_t { x10 = 0, utf8 = 1, sgr = 2, urxvt = 3, sgrPixel = 4 };

// The conformance level set by DECSCL; stored only.
enum class TerminalConformance : std::uint8_t { vt100, vt200, vt300, vt400, vt500 };

// State of the scanner that watches the bytes the user sends for a submitted command.
enum class SemanticScanState : std::uint8_t { ground, escape, csi, ss3 };

// The Kitty keyboard protocol flags of one screen, with the stack of earlier flags.
struct KeyboardModeState {
    static constexpr std::size_t maximumStackDepth = 16;

    int flags = 0;          // only the low 5 bits are ever set
    std::vector<int> stack; // oldest first

    friend bool operator==(const KeyboardModeState&, const KeyboardModeState&) = default;
};

// UTF-8 reassembly of printed bytes across feeds.
struct ReadingBuffer {
    // Bytes of a UTF-8 sequence left incomplete at the end of the previous feed.
    std::vector<std::uint8_t> putbackBuffer;
    // The run being printed now.
    std::span<const std::uint8_t> rest;
    // Next byte to read; byte i is putbackBuffer[i] below its size, else rest[i - size].
    std::size_t idx = 0;
    std::size_t count = 0; // putbackBuffer.size() + rest.size()
};

// The OSC 8 link being written: its payload text until the first cell needs a code, then
// the code; unavailable when the registry had no code left.
struct ActiveHyperlink {
    enum class Case : std::uint8_t { pending, resolved, unavailable };

    Case kind = Case::pending;
    std::string text;       // pending
    std::uint16_t code = 0; // resolved

    static ActiveHyperlink pending(std::string text) { return {Case::pending, std::move(text), 0}; }
    static ActiveHyperlink resolved(std::uint16_t code) { return {Case::resolved, {}, code}; }
    static ActiveHyperlink unavailable() { return {Case::unavailable, {}, 0}; }

    friend bool operator==(const ActiveHyperlink&, const ActiveHyperlink&) = default;
};

// A registered selection of the host, held weakly.
struct WeakSelection {
    std::weak_ptr<SelectionService> value;
};

// A set of BidiStateProperty values (which fields of the bidi state a change touched).
class BidiStatePropertySet {
public:
    constexpr BidiStatePropertySet() = default;
    constexpr BidiStatePropertySet(std::initializer_list<BidiStateProperty> properties)
    {
        for (BidiStateProperty property : properties)
            insert(property);
    }
    static constexpr BidiStatePropertySet all()
    {
        return {BidiStateProperty::supportMode, BidiStateProperty::autodetectDirection,
                BidiStateProperty::fallbackDirection, BidiStateProperty::boxMirroring};
    }
    constexpr void insert(BidiStateProperty property) { bits_ |= bit(property); }
    constexpr bool contains(BidiStateProperty property) const { return (bits_ & bit(property)) != 0; }
    constexpr bool isEmpty() const { return bits_ == 0; }

    friend constexpr bool operator==(BidiStatePropertySet, BidiStatePropertySet) = default;

private:
    static constexpr std::uint8_t bit(BidiStateProperty property)
    {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(property));
    }
    std::uint8_t bits_ = 0;
};

// Hash of a multi-scalar character, usable with a string view: the print path looks a
// cluster up for every character it joins.
struct ClusterHash {
    using is_transparent = void;
    // Clusters are a few scalars long: a multiply-xor per scalar is enough for a table
    // whose buckets are taken modulo a prime.
    std::size_t operator()(std::u32string_view text) const noexcept
    {
        std::uint64_t h = 0xCBF29CE484222325ull ^ text.size();
        for (const char32_t scalar : text)
            h = (h ^ scalar) * 0x100000001B3ull;
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

// Rows the host has to redraw, both ends included (see Terminal::updateFullScreen).
struct UpdateRange {
    int startY = 0;
    int endY = 0;

    friend constexpr bool operator==(const UpdateRange&, const UpdateRange&) = default;
};

// A rectangle of the visible screen for the DEC rectangle operations: zero-based inclusive
// indices, or empty.
struct ScreenRectangle {
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    bool empty = false;

    friend constexpr bool operator==(const ScreenRectangle&, const ScreenRectangle&) = default;
};

// An extended colour of SGR 38 / 48 / 58 and how many parameters it consumed.
struct ExtendedColorResult {
    std::optional<Attribute::Color> color;
    int consumed = 0;
};

// Half-open range of columns.
struct ColumnRange {
    int lowerBound = 0;
    int upperBound = 0;

    constexpr bool isEmpty() const { return upperBound <= lowerBound; }
    constexpr bool contains(int column) const { return column >= lowerBound && column < upperBound; }

    friend constexpr bool operator==(const ColumnRange&, const ColumnRange&) = default;
};

// Where a link is looked up: a line of the buffer (scrollback included) or a visible row.
struct LinkLookupLocation {
    enum class Kind : std::uint8_t { buffer, screen };

    Kind kind = Kind::buffer;
    Position position;

    static constexpr LinkLookupLocation buffer(Position position) { return {Kind::buffer, position}; }
    static constexpr LinkLookupLocation screen(Position position) { return {Kind::screen, position}; }
};

enum class LinkLookupMode : std::uint8_t { explicitOnly, explicitAndImplicit };

// The columns of one row that a link covers.
struct RowRange {
    int row = 0;
    ColumnRange range;

    friend constexpr bool operator==(const RowRange&, const RowRange&) = default;
};

struct LinkMatch {
    std::string text;     // the link target
    int row = 0;          // the row looked up
    ColumnRange range;    // the columns of that row covered by the link
    bool isExplicit = false; // an OSC 8 hyperlink, not text recognised as a link
    std::vector<RowRange> rowRanges; // one per covered row, rows ascending

    friend bool operator==(const LinkMatch&, const LinkMatch&) = default;
};

// The cell behind one character of the text searched for implicit links.
struct ImplicitCellRef {
    int row = 0;
    int col = 0;
    int width = 0;
};

// Which screen a text extraction reads.
enum class BufferKind : std::uint8_t { active, normal, alt };

// Encodings for the screen content bytes (converted without loss, or the line is left out).
enum class StringEncoding : std::uint8_t { utf8, utf16LittleEndian, utf16BigEndian, ascii, isoLatin1 };

// The helpers of one handler file, which work on the terminal's members as its handlers do.
// Each file specializes this for a tag type of its own, so that its helpers stay local to it.
template <typename FileTag>
struct TerminalFileHelpers;

class Terminal : public LinkPayloadSource {
    template <typename FileTag>
    friend struct TerminalFileHelpers;

public:
    static constexpr int MINIMUM_COLS = 2;
    static constexpr int MINIMUM_ROWS = 1;
    // Largest column or row count accepted from a host or a program: a screen allocates
    // rows x cols cells, so sizes beyond any real display are refused by clamping.
    static constexpr int maximumDimension = 10'000;
    // And at most this many cells (two screens of 16-byte cells, about 64 MB): a size with
    // both sides at their limit gives up rows, keeping its columns.
    static constexpr int maximumCells = 2'000'000;
    // The size a host or program asking for cols x rows gets: each side clamped to its
    // bounds, then rows reduced until the screen holds at most maximumCells.
    static std::pair<int, int> boundedSize(int cols, int rows);
    static constexpr double synchronizedOutputTimeoutSeconds = 1.0;
    // The code the first multi-scalar character gets.
    static constexpr std::int32_t firstCharIndex = 0x400001;

    // The delegate is not owned; the host clears it (setDelegate(nullptr)) before it goes
    // away. The queue runs the synchronized-output time-out; without a queue no time-out is
    // armed and synchronized output lasts until the program ends it (or resize / RIS).
    explicit Terminal(TerminalDelegate* delegate, TerminalOptions options = {}, MainQueue* queue = nullptr);
    ~Terminal();
    // The parser and the buffers' scroll hooks refer back to this object.
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    Terminal(Terminal&&) = delete;
    Terminal& operator=(Terminal&&) = delete;

    TerminalDelegate* delegate() const { return tdel; }
    void setDelegate(TerminalDelegate* delegate) { tdel = delegate; }

    // ================================================================ State, for reading
    // Changed only through the operations of this class; the handlers below and the helpers
    // of their files write the members themselves.

    int cols() const { return cols_; }
    int rows() const { return rows_; }
    int tabStopWidth() const { return tabStopWidth_; }
    const TerminalOptions& options() const { return options_; }
    const std::vector<WeakSelection>& selections() const { return selections_; }
    // The two screens and the active one (always one of the two). The buffers are handed
    // out for changing too: hosts and tests edit a screen through the buffer's own operations.
    Buffer& normalBuffer() { return *normalBuffer_; }
    const Buffer& normalBuffer() const { return *normalBuffer_; }
    Buffer& altBuffer() { return *altBuffer_; }
    const Buffer& altBuffer() const { return *altBuffer_; }
    Buffer& buffer() { return *buffer_; }
    const Buffer& buffer() const { return *buffer_; }
    const SemanticPromptClickBehavior& semanticPromptClickBehavior() const { return semanticPromptClickBehavior_; }
    bool synchronizedOutputActive() const { return synchronizedOutputActive_; }
    bool synchronizedOutputTimeoutArmed() const { return synchronizedOutputTimeoutItem_.has_value(); }
    bool applicationKeypad() const { return applicationKeypad_; }
    bool applicationCursor() const { return applicationCursor_; }
    bool reverseColors() const { return reverseColors_; }
    const KeyboardModeState& keyboardModeNormal() const { return keyboardModeNormal_; }
    const KeyboardModeState& keyboardModeAlt() const { return keyboardModeAlt_; }
    bool sendFocus() const { return sendFocus_; }
    const BidiPresentationState& currentBidiState() const { return currentBidiState_; }
    bool bidiArrowKeySwap() const { return bidiArrowKeySwap_; }
    const std::map<int, bool>& savedBidiPrivateModes() const { return savedBidiPrivateModes_; }
    bool cursorHidden() const { return cursorHidden_; }
    bool originMode() const { return originMode_; }
    bool bracketedPasteMode() const { return bracketedPasteMode_; }
    bool alternateScrollMode() const { return alternateScrollMode_; }
    const CharacterMap* charset() const { return charset_; }
    const std::array<const CharacterMap*, 4>& gCharsets() const { return gCharsets_; }
    int gcharset() const { return gcharset_; }
    bool reverseWraparound() const { return reverseWraparound_; }
    const Attribute& curAttr() const { return curAttr_; }
    const std::unordered_map<std::u32string, std::int32_t, ClusterHash, std::equal_to<>>& charToIndexMap() const
    {
        return charToIndexMap_;
    }
    const std::unordered_map<std::int32_t, std::u32string>& indexToCharMap() const { return indexToCharMap_; }
    // The code the next character made of several scalars gets.
    std::int32_t lastCharIndex() const { return lastCharIndex_; }
    std::uint8_t gLevel() const { return gLevel_; }
    bool cursorBlink() const { return cursorBlink_; }
    bool allow80To132() const { return allow80To132_; }
    // Hosts feed through feed(); the parser is handed out for its handler tables.
    EscapeSequenceParser& parser() { return parser_; }
    const EscapeSequenceParser& parser() const { return parser_; }
    // The images and placements of the graphics protocol.
    const KittyGraphicsState& kittyGraphicsState() const { return kittyGraphicsState_; }
    // The placement request, present only while a Kitty put hands its image to the host.
    const std::optional<KittyPlacementContext>& kittyPlacementContext() const { return kittyPlacementContext_; }
    bool userScrolling() const { return userScrolling_; }
    // How many lines have scrolled into a scroll region since the terminal was made, on either
    // screen and through any region: line feeds and wraps at the region's bottom, IND, SU.
    // Never reset, so a host compares two readings: a program that prints the same line
    // again changes no text on a full screen, yet scrolls.
    std::uint64_t scrolledLineCount() const { return scrolledLineCount_; }
    bool lineFeedMode() const { return lineFeedMode_; }
    bool smoothScroll() const { return smoothScroll_; }
    const std::vector<Color>& installedColors() const { return installedColors_; }
    const std::vector<Color>& defaultAnsiColors() const { return defaultAnsiColors_; }
    const std::vector<Color>& ansiColors() const { return ansiColors_; }
    const CC& cc() const { return cc_; }
    const std::optional<std::string>& hostCurrentDirectory() const { return hostCurrentDirectory_; }
    const std::optional<std::string>& hostCurrentDocument() const { return hostCurrentDocument_; }
    MouseProtocolEncoding mouseProtocol() const { return mouseProtocol_; }
    bool reportedFocusState() const { return reportedFocusState_; }
    bool mouseShiftCapture() const { return mouseShiftCapture_; }
    bool xtermTitleSetUtf() const { return xtermTitleSetUtf_; }
    bool xtermTitleSetHex() const { return xtermTitleSetHex_; }
    bool xtermTitleQueryUtf() const { return xtermTitleQueryUtf_; }
    bool xtermTitleQueryHex() const { return xtermTitleQueryHex_; }
    TerminalConformance conformance() const { return conformance_; }
    const ReadingBuffer& readingBuffer() const { return readingBuffer_; }
    int lastBufferCol() const { return lastBufferCol_; }
    SemanticScanState semanticScanState() const { return semanticScanState_; }
    bool semanticScanInPaste() const { return semanticScanInPaste_; }
    const std::vector<std::uint8_t>& semanticScanParams() const { return semanticScanParams_; }
    const std::optional<ActiveHyperlink>& activeHyperlink() const { return activeHyperlink_; }
    const std::unordered_set<std::uint16_t>& payloadCodes() const { return payloadCodes_; }
    bool silentLog() const { return silentLog_; }
    const std::shared_ptr<BufferLine>& blankLine() const { return blankLine_; }
    const std::string& terminalTitle() const { return terminalTitle_; }
    const std::string& iconTitle() const { return iconTitle_; }
    const std::vector<std::string>& terminalTitleStack() const { return terminalTitleStack_; }
    const std::vector<std::string>& terminalIconStack() const { return terminalIconStack_; }

private:
    // ================================================================ State
    // In the order of the field table, read through the accessors above.

    int cols_ = 80;
    int rows_ = 25;
    int tabStopWidth_ = 8; // always 8; TerminalOptions::tabStopWidth is not consulted
    TerminalOptions options_; // a plain store: re-applied by setup, resize and RIS only
    std::vector<WeakSelection> selections_;
    std::unique_ptr<Buffer> normalBuffer_;
    std::unique_ptr<Buffer> altBuffer_;
    Buffer* buffer_ = nullptr; // the active screen; always one of the two
    SemanticPromptClickBehavior semanticPromptClickBehavior_ = SemanticPromptClickBehavior::enabled();
    bool synchronizedOutputActive_ = false;
    std::optional<MainQueue::Token> synchronizedOutputTimeoutItem_;
    bool applicationKeypad_ = false;
    bool applicationCursor_ = false;
    bool reverseColors_ = false;
    KeyboardModeState keyboardModeNormal_;
    KeyboardModeState keyboardModeAlt_;
    bool sendFocus_ = false;
    BidiPresentationState currentBidiState_;
    bool bidiArrowKeySwap_ = false;
    std::map<int, bool> savedBidiPrivateModes_;
    bool cursorHidden_ = false;
    bool originMode_ = false;
    bool bracketedPasteMode_ = false;
    bool alternateScrollMode_ = true;
    const CharacterMap* charset_ = nullptr; // the map now in GL; null = no mapping
    std::array<const CharacterMap*, 4> gCharsets_{}; // G0..G3
    int gcharset_ = 0; // a G set index (0..3), reset with the character sets; nothing reads it yet
    bool reverseWraparound_ = false;
    Attribute curAttr_;
    // curAttr_ packed as cells keep it, renewed by every change (curAttrChanged): output
    // stamps it on every cell it prints, and attributes change far less often than that.
    PackedAttribute curAttrPacked_ = PackedCell::defaultAttribute();
    void curAttrChanged() { curAttrPacked_ = PackedCell::packAttribute(curAttr_); }
    // Multi-scalar characters (and scalars from U+10000 up) and their cell codes; neither
    // table is ever emptied.
    // Looked up by string view (no key is built for a lookup); see ClusterHash.
    std::unordered_map<std::u32string, std::int32_t, ClusterHash, std::equal_to<>> charToIndexMap_;
    std::unordered_map<std::int32_t, std::u32string> indexToCharMap_;
    std::int32_t lastCharIndex_ = firstCharIndex;
    // Recent joins of a scalar onto a cell's character, so that repeated clusters (accents,
    // emoji sequences) skip the segmentation rules and the table lookups; also the codes of
    // single scalars from U+10000 up (base joinCacheSingle). Codes are never reassigned, so
    // an entry stays true for the terminal's life.
    struct JoinCacheEntry {
        std::int32_t base = -1;  // the cell's code
        char32_t scalar = 0;     // the scalar joined onto it
        std::int32_t joined = 0; // the resulting code (see joinedCode in TerminalPrint.cpp)
    };
    static constexpr std::int32_t joinCacheSingle = -2;
    static constexpr int joinCacheBits = 13;
    std::array<JoinCacheEntry, std::size_t{1} << joinCacheBits> joinCache_{};
    std::uint8_t gLevel_ = 0;
    bool cursorBlink_ = false;
    bool allow80To132_ = false;
    EscapeSequenceParser parser_;
    KittyGraphicsState kittyGraphicsState_;
    // The placement request, present only while a Kitty put hands its image to the host; the
    // emulator only holds it.
    std::optional<KittyPlacementContext> kittyPlacementContext_;
    int refreshStart_ = std::numeric_limits<int>::max();
    int refreshEnd_ = -1;
    int scrollInvariantRefreshStart_ = std::numeric_limits<int>::max();
    int scrollInvariantRefreshEnd_ = -1;
    // A row, with the view's top line at the time, that both ranges already hold: marking it
    // again would change nothing, so the print after a cursor move skips the mark the move
    // just made. Forgotten whenever the ranges are cleared or replaced (they only grow
    // otherwise).
    int markedRow_ = -1;
    int markedRowYDisp_ = -1;
    bool userScrolling_ = false;
    std::uint64_t scrolledLineCount_ = 0;
    bool lineFeedMode_ = false;
    bool smoothScroll_ = false;
    std::vector<Color> installedColors_;
    std::vector<Color> defaultAnsiColors_; // what OSC 104 restores
    std::vector<Color> ansiColors_;        // the live palette (256 entries)
    CC cc_;
    std::optional<std::string> hostCurrentDirectory_;
    std::optional<std::string> hostCurrentDocument_;
    MouseProtocolEncoding mouseProtocol_ = MouseProtocolEncoding::x10;
    // Re-entrancy guards of the colour observers (not locks).
    bool settingFgColor_ = false;
    bool settingBgColor_ = false;
    bool settingCursorColor_ = false;
    bool reportedFocusState_ = true;
    bool mouseShiftCapture_ = false; // CSI > Ps s: Shift goes to the program instead of selecting
    bool xtermTitleSetUtf_ = false;   // title modes of CSI > Ps t / T: titles are set as UTF-8
    bool xtermTitleSetHex_ = false;   // titles are set in hexadecimal
    bool xtermTitleQueryUtf_ = false; // title queries answer in UTF-8
    bool xtermTitleQueryHex_ = false; // title queries answer in hexadecimal
    TerminalConformance conformance_ = TerminalConformance::vt500;
    ReadingBuffer readingBuffer_;
    int lastBufferCol_ = 0; // kept with the print path's state; nothing reads it yet
    SemanticScanState semanticScanState_ = SemanticScanState::ground;
    bool semanticScanInPaste_ = false;
    std::vector<std::uint8_t> semanticScanParams_; // at most 32 bytes are kept
    std::optional<ActiveHyperlink> activeHyperlink_;
    std::unordered_set<std::uint16_t> payloadCodes_; // every TinyAtom code this terminal registered
    // Registrations refused since the last prune, modulo payloadPruneInterval.
    int failedPayloadRegistrations_ = 0;
    bool silentLog_ = true; // when false, diagnostic lines are printed
    std::shared_ptr<BufferLine> blankLine_; // template of the line a scroll inserts
    std::string terminalTitle_;
    std::string iconTitle_;
    std::vector<std::string> terminalTitleStack_;
    std::vector<std::string> terminalIconStack_;

public:
    // Test seam of the control-function dispatch: called with the name of the handler
    // just before the dispatch calls it. Null by default; set through setDispatchTrace.
    std::function<void(std::string_view handlerName)> dispatchTrace;
    void setDispatchTrace(std::function<void(std::string_view handlerName)> trace) { dispatchTrace = std::move(trace); }

    // Moves the code the next character made of several scalars gets forward, so that a
    // caller reaches a nearly full table without registering two billion characters; it
    // never moves back, so a code already handed out is never handed out again.
    void advanceNextCharacterCode(std::int32_t code) { lastCharIndex_ = std::max(lastCharIndex_, code); }

    // Records where the host put an image; a record with the same image and placement ids
    // is replaced.
    void recordKittyPlacement(const KittyPlacementRecord& record)
    {
        kittyGraphicsState_.placementsByKey[{record.imageId, record.placementId}] = record;
    }
    // Forgets a placement record, leaving the image objects on the screen as they are.
    void forgetKittyPlacement(std::uint32_t imageId, std::uint32_t placementId)
    {
        kittyGraphicsState_.placementsByKey.erase({imageId, placementId});
    }
    // The id the next image sent with a number but no id is tried at (0 and ids in use are
    // passed over then).
    void setNextKittyImageId(std::uint32_t id) { kittyGraphicsState_.nextImageId = id; }

    // ================================================================ Observed fields

    const Color& foregroundColor() const { return foregroundColor_; }
    const Color& backgroundColor() const { return backgroundColor_; }
    const std::optional<Color>& cursorColor() const { return cursorColor_; }
    MouseMode mouseMode() const { return mouseMode_; }
    // Mirrored into both buffers; changed only through setInsertMode, setMarginMode and
    // setWraparound.
    bool insertMode() const { return insertMode_; }
    bool marginMode() const { return marginMode_; }
    bool wraparound() const { return wraparound_; } // true once set up
    Ansi256PaletteStrategy ansi256PaletteStrategy() const { return options_.ansi256PaletteStrategy; }

    // Store, then (outside the guard) tell the delegate and, unless the palette strategy is
    // xterm, rebuild the palette with notification.
    void setForegroundColor(const Color& color);
    void setBackgroundColor(const Color& color);
    // Store, then (outside the guard) tell the delegate.
    void setCursorColor(const std::optional<Color>& color);
    // A different value is stored and the palette rebuilt with notification; the same
    // value does nothing.
    void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);
    // Every store tells the delegate (mouseModeChanged), also when the value is unchanged.
    void setMouseMode(MouseMode mode);

    // ================================================================ Instance (Terminal.cpp)

    // (Re)applies the options: size, modes, character sets, attribute, mouse mode, margins.
    // With isReset the normal screen is made anew and becomes active.
    void setup(bool isReset);
    // Stores new options and applies them (setup without a reset).
    void applyOptions(const TerminalOptions& newOptions);
    // A plain store: nothing is re-applied until setup, resize or RIS.
    void setOptions(const TerminalOptions& newOptions) { options_ = newOptions; }
    // The host's own setting of DECSET 2501 (arrow keys swapped in right-to-left rows).
    void setBidiArrowKeySwap(bool swap) { bidiArrowKeySwap_ = swap; }
    // The host's view is scrolled back: new output does not move it.
    void setUserScrolling(bool scrolling) { userScrolling_ = scrolling; }
    void setSilentLog(bool silent) { silentLog_ = silent; }
    void setSemanticPromptClickBehavior(SemanticPromptClickBehavior behavior) { semanticPromptClickBehavior_ = behavior; }
    // Binds the terminal's print handler, print-state reset, error handler and fallbacks.
    void installParserHandlers(EscapeSequenceParser& parser);
    // Makes a fresh normal screen; answers the one it replaces, which may still be active.
    std::unique_ptr<Buffer> resetNormalBuffer();
    void activateNormalBuffer(bool clearAlt);
    void activateAltBuffer(std::optional<Attribute> fillAttribute);
    void resizeBuffers(int cols, int rows);
    // Sizes are clamped to 2..10,000 columns and 1..10,000 rows; the same size does nothing.
    void resize(int cols, int rows);
    void clearScrollback();
    void changeHistorySize(std::optional<int> newScrollback);
    // RIS (ESC c).
    void cmdReset();

    std::pair<int, int> getDims() const { return {cols_, rows_}; }
    bool isCurrentBufferAlternate() const { return buffer_ == altBuffer_.get(); }
    // The line shown at screen row `row`; null outside the screen. Valid until the next
    // change of the buffer.
    const BufferLine* getDisplayLine(int row) const;
    // The line at ring index n - linesTop; null outside the ring.
    const BufferLine* getScrollInvariantLine(int n) const;
    // The cell at (col, screen row); past the line's end the last cell; none outside.
    std::optional<CharData> getCharData(int col, int row) const;
    std::optional<std::u32string> getCharacterAt(int col, int row) const;

    // Exactly 16 colours become the base colours (palette rebuilt without notification);
    // any other count is ignored.
    void installColors(std::span<const Color> colors);
    void installPalette(bool notify);

    // Selections (the host's, held weakly).
    void registerSelection(const std::shared_ptr<SelectionService>& service);
    void adjustSelectionsForLineShift(int startRow, int endRow, int delta);
    void clearSelectionsInRange(int startRow, int endRow, int startCol, int endCol);

    // Releases the payload codes that no cell and no open link use any more.
    void pruneUnusedPayloadCodes();
    // The codes are shared by every terminal of the process: one terminal holds at most a
    // quarter of them, so a program flooding links cannot leave the other tabs without.
    static constexpr std::size_t maximumPayloadCodes = TinyAtom::Registry::maxCode / 4;
    // A prune reads every cell of both screens; while the codes stay exhausted it runs once
    // per this many refused registrations, not for each new link.
    static constexpr int payloadPruneInterval = 4096;

    // ================================================================ Inline graphics (Terminal.cpp, TerminalGraphics.cpp)

    // Drops the images of the active and the alternate screen's lines, empties the store and
    // marks the scroll region's rows.
    void resetKittyGraphics();
    // Drops the Kitty placements of one screen (on entering the alternate screen, or leaving
    // it cleared) and frees the images nothing refers to any more.
    void dropKittyPlacementsOfScreen(Buffer& screen, bool isAlternate);
    // After a scroll: placement records follow their cells, children follow their parents.
    void reanchorKittyPlacementsAfterScroll();
    // APC "G": the bytes after the "G".
    void handleKittyGraphicsCommand(std::span<const std::uint8_t> payload);
    // Marks the shown rows holding placeholders of the images the commands of a feed changed:
    // once at the end of the feed, on the screen as it is then, whatever the commands' count.
    void refreshKittyPlaceholderRows();
    // The handler of one Sixel string (DCS q): draws at the unhook and hands the image to the
    // delegate.
    std::unique_ptr<DcsHandler> makeSixelDcsHandler();

    // ================================================================ Feeding, refresh, sync (TerminalFeed.cpp)

    void feed(std::span<const std::uint8_t> bytes);
    void feed(std::string_view text);

    // Widen the dirty ranges by one screen row (negative rows leave the screen range alone).
    // Inline: every print, cursor move and scroll marks rows through these.
    void updateRange(int row, bool scrolling = false) { updateRangeForBuffer(*buffer_, row, scrolling); }
    void updateRangeForBuffer(const Buffer& target, int row, bool scrolling = false)
    {
        // Called for every character and cursor move: mostly the row is inside the range
        // already, so the bounds are only stored when they move.
        if (!scrolling) {
            int line = 0;
            if (!__builtin_add_overflow(row, target.yDisp(), &line) && line >= 0) {
                if (line < scrollInvariantRefreshStart_)
                    scrollInvariantRefreshStart_ = line;
                if (line > scrollInvariantRefreshEnd_)
                    scrollInvariantRefreshEnd_ = line;
            }
        }
        if (row >= 0) {
            if (row < refreshStart_)
                refreshStart_ = row;
            if (row > refreshEnd_)
                refreshEnd_ = row;
        }
    }
    // The same for two rows at once, in either order, as two calls would leave it: a cursor
    // move marks the row it leaves and the row it reaches. When both rows and their lines
    // are in range, as nearly always, no branch depends on which row is higher: on a
    // program's cursor jumps that would be a guess lost half the time.
    [[gnu::always_inline]] void updateRangeForBufferRows(const Buffer& target, int first, int second)
    {
        const long long top = target.yDisp();
        const long long firstLine = first + top;
        const long long secondLine = second + top;
        constexpr long long lineLimit = std::numeric_limits<int>::max();
        if ((first | second) < 0 || firstLine < 0 || secondLine < 0 || firstLine > lineLimit
            || secondLine > lineLimit) [[unlikely]] {
            updateRangeForBuffer(target, first);
            updateRangeForBuffer(target, second);
            return;
        }
        const auto lineA = static_cast<int>(firstLine);
        const auto lineB = static_cast<int>(secondLine);
        scrollInvariantRefreshStart_ = std::min(scrollInvariantRefreshStart_, std::min(lineA, lineB));
        scrollInvariantRefreshEnd_ = std::max(scrollInvariantRefreshEnd_, std::max(lineA, lineB));
        refreshStart_ = std::min(refreshStart_, std::min(first, second));
        refreshEnd_ = std::max(refreshEnd_, std::max(first, second));
    }
    // updateRangeForBuffer for the cursor's row, skipped when that row was marked last.
    void updateRangeForCursorRow(const Buffer& target)
    {
        const int row = target.y();
        if (row == markedRow_ && target.yDisp() == markedRowYDisp_)
            return;
        updateRangeForBuffer(target, row);
        markedRow_ = row;
        markedRowYDisp_ = target.yDisp();
    }
    // The whole screen: (0, rows), one past the last row.
    void updateFullScreen();
    void refresh(int startRow, int endRow);
    // The view's scrolling: shows the active screen from ring line `top` on and marks every
    // row for redraw. No content moves; the caller keeps `top` within the ring.
    void scrollDisplayTo(int top);
    void clearUpdateRange();
    std::optional<UpdateRange> getUpdateRange() const;
    std::optional<UpdateRange> getScrollInvariantUpdateRange() const;
    std::pair<int, int> getCursorLocation() const;
    int getTopVisibleRow() const;

    void beginSynchronizedOutput();
    void endSynchronizedOutput();
    void showCursor();
    void hideCursor();
    void setTitle(const std::string& text);
    void setIconTitle(const std::string& text);
    void setFocusState(bool focused);
    void reportFocus();
    void linefeedNotify();

    // Parser callbacks.
    void logUnknownCsi(std::span<const int> pars, std::span<const std::uint8_t> collect, std::uint8_t code);
    void logUnknownEsc(std::span<const std::uint8_t> collect, std::uint8_t code);
    void logUnknownExecute();
    void logUnknownOsc(int code, std::span<const std::uint8_t> data);
    void logUnknownApc(std::uint8_t code, std::span<const std::uint8_t> data);
    void logStringOverflow(std::string_view what);
    // The start of every sequence, and a reset of the parser, forget a half-received UTF-8
    // character: none of it is printed (a control byte, by contrast, shows its fallback).
    // Inline: this runs for every sequence.
    void resetPrintState()
    {
        if (!readingBuffer_.putbackBuffer.empty()) [[unlikely]]
            readingBuffer_.putbackBuffer.clear();
        readingBuffer_.idx = 0;
        readingBuffer_.count = 0;
    }
    ParsingState logParseError(ParsingState state);

    // ================================================================ Replies (TerminalFeed.cpp)

    // Builds one byte list from the items (text, byte lists, single bytes) and sends it with
    // one call of TerminalDelegate::send, also when it is empty.
    template <typename... Items>
    void sendResponse(const Items&... items)
    {
        std::vector<std::uint8_t> bytes;
        (appendResponseItem(bytes, items), ...);
        sendBytes(bytes);
    }
    // Introducers and terminator of replies: cc.csi(), cc.osc(), cc.dcs(), cc.apc(), cc.st().
    void sendText(std::string_view text);

    // ================================================================ Small handlers kept with the dispatch
    // (EscapeSequenceParserDispatch.cpp)

    void cmdTab();                 // HT
    void cmdNextLine();            // NEL
    void cmdKeypadApplicationMode(); // DECKPAM
    void cmdKeypadNumericMode();   // DECKPNM
    void cmdSelectDefaultCharset(); // ESC % @ / ESC % G
    void cmdSet7BitControls();     // S7C1T
    void cmdSet8BitControls();     // S8C1T
    void cmdSetDoubleHeightTop();  // DECDHL top
    void cmdSetDoubleHeightBottom(); // DECDHL bottom
    void cmdSingleWidth();         // DECSWL
    void cmdDoubleWidthSingleHeight(); // DECDWL
    void cmdXtermTitleModeReset(std::span<const int> pars); // CSI > Ps T
    void cmdXtermTitleModeSet(std::span<const int> pars);   // CSI > Ps t
    void cmdSetShiftEscape(std::span<const int> pars);      // CSI > Ps s
    void setXtermTitleModes(std::span<const int> pars, bool value);

    // ================================================================ Print path, character sets
    // (TerminalPrint.cpp)

    void handlePrint(std::span<const std::uint8_t> bytes);
    // Prints the fallback of a partial UTF-8 character kept from the last print run, when
    // a control byte shows that its missing bytes will not come.
    void flushIncompleteCharacter();
    // The cell code of one character (a grapheme cluster given as its scalars).
    std::int32_t getCharacterCode(std::u32string_view character);
    // The character of a cell code; " " for an invalid or unknown code.
    std::u32string getCharacter(std::int32_t code) const;
    CharData makeCell(const Attribute& attribute, char32_t scalar, int width);
    CharData makeCell(const Attribute& attribute, std::u32string_view character, int width);
    CharData makeCell(const Attribute& attribute, std::int32_t code, int width);
    void setCellCharacter(CharData& cell, std::u32string_view character, int width);
    void setCellCode(CharData& cell, std::int32_t code, int width);
    // Where a joining character goes: (column, absolute line) of the cell before the cursor.
    std::optional<Position> combiningTarget() const;
    void registerOscHandler(int code, EscapeSequenceParser::OscHandler handler);
    void setgLevel(std::uint8_t level);
    void setCharset(int level, const CharacterMap* map);
    void designateCharset(std::span<const std::uint8_t> bytes);
    // CharSets.all: the replacement map of a designator byte; null when there is none.
    static const CharacterMap* charsetForDesignator(std::uint8_t designator);
    // UTF-8 text of a line as shown: each character once (a wide character's placeholder
    // skipped), empty cells as spaces, trailing blanks trimmed.
    std::string lineDisplayText(const BufferLine& line) const;

    // ================================================================ Line feed, index, scrolling
    // (TerminalScroll.cpp)

    void cmdLineFeed();
    void cmdCarriageReturn();
    // CR then LF, as the two controls do one after the other (the parser's step for a line end).
    void carriageReturnLineFeed();
    void cmdBackspace();
    void cmdIndex();
    void reverseIndex();
    void scroll(bool isWrapped = false);
    // scroll for every region, margins and ring state.
    void scrollAnyRegion(bool isWrapped);
    void lineFeedStep();
    void propagateSemanticContinuation(bool moved);
    void clearSemanticContinuation();
    void resetSemanticPromptState(bool clearLines);
    // Default foreground, the background of curAttr, no style, no underline.
    Attribute eraseAttribute() const;
    // Code 0, width 1, no payload, no semantic code, the erase attribute.
    CharData eraseCell() const;
    // Widens the dirty ranges for a row the ring reports from a splice.
    void markSplicedRowDirty(int row);

    // ================================================================ Cursor movement (TerminalCursor.cpp)

    void cmdCursorUp(std::span<const int> pars);
    void cmdCursorDown(std::span<const int> pars);
    void cmdCursorForward(int count);  // 0 counts as 1
    void cmdCursorBackward(int count); // 0 counts as 1
    void cmdCursorNextLine(std::span<const int> pars);
    void cmdCursorPrecedingLine(std::span<const int> pars);
    void cmdCursorCharAbsolute(std::span<const int> pars);
    void cmdCharPosAbsolute(std::span<const int> pars);
    void cmdHPositionRelative(std::span<const int> pars);
    void cmdLinePosAbsolute(std::span<const int> pars);
    void cmdVPositionRelative(std::span<const int> pars);
    void cmdCursorPosition(std::span<const int> pars);
    void cmdHVPosition(std::span<const int> pars);
    void cmdCursorForwardTab(std::span<const int> pars);
    void cmdCursorBackwardTab(std::span<const int> pars);
    void cmdTabSet();
    void cmdTabClear(std::span<const int> pars);
    void cmdSaveCursor(std::span<const int> pars = {}, std::span<const std::uint8_t> collect = {});
    void cmdRestoreCursor(std::span<const int> pars = {}, std::span<const std::uint8_t> collect = {});
    Buffer& restrictCursor(bool limitCols = true);
    void setCursor(int col, int row);
    void indexColumn(bool back);
    void scrollColumns(bool back, int column);

    // ================================================================ Erasing, inserting, deleting
    // (TerminalEdit.cpp)

    void cmdEraseInDisplay(std::span<const int> pars);
    void cmdEraseInLine(std::span<const int> pars);
    void cmdInsertChars(std::span<const int> pars);
    void cmdDeleteChars(std::span<const int> pars);
    void cmdEraseChars(std::span<const int> pars);
    void replaceRegionLines(Buffer& screen, int top, int bottom, int count, bool upwards, const Attribute& erase);
    void cmdInsertLines(std::span<const int> pars);
    void cmdDeleteLines(std::span<const int> pars);
    void cmdScrollUp(std::span<const int> pars);
    void csiT(std::span<const int> pars); // SD
    void cmdRepeatPrecedingCharacter(std::span<const int> pars);
    void cmdDeleteColumns(std::span<const int> pars);
    void setLineRenderMode(BufferLine::RenderLineMode mode);
    void resetBufferLine(int row, bool dropImages, std::optional<BidiPresentationState> bidiState);
    void clearRegionWrapFlags(bool afterScrollDown, int n);
    void clearLineWrapFlags(int first, std::optional<int> second, int last);

    // ================================================================ Bidi presentation (TerminalBidi.cpp)

    void cmdSelectPresentationDirection(std::span<const int> pars); // SPD
    void cmdSelectCharacterPath(std::span<const int> pars);         // SCP

    // ================================================================ Modes (TerminalModes.cpp)

    void cmdSetMode(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdResetMode(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void setMode(int par, std::span<const std::uint8_t> collect);
    void resetMode(int par, std::span<const std::uint8_t> collect);
    void cmdCsiP(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void softReset(); // DECSTR
    void cmdSetConformanceLevel(std::span<const int> pars);
    void cmdRequestMode(std::span<const int> pars, bool isPrivate);
    void cmdSavePrivateModes(std::span<const int> pars);    // XTSAVE
    void cmdRestorePrivateModes(std::span<const int> pars); // XTRESTORE
    void applyBidiStateToCursorParagraph(BidiStatePropertySet changed);
    // IRM, DECLRMM and DECAWM: the terminal's flag and both buffers' copies, together.
    void setInsertMode(bool on);
    void setMarginMode(bool on);
    void setWraparound(bool on);

    // ================================================================ Character attributes (TerminalSgr.cpp)

    void cmdCharAttributes(const CsiParameters& pars, std::span<const std::uint8_t> collect);
    // The colour of SGR 38, 48 or 58 whose mode ("5" or "2") is parameter `start`, in the
    // form with ";" or with ":" (as that parameter was joined).
    ExtendedColorResult parseExtendedColor(int start, const CsiParameters& pars) const;

    // ================================================================ Reports (TerminalReports.cpp)

    void cmdDeviceStatus(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdDeviceAttributes(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdReportVersion(std::span<const int> pars, std::span<const std::uint8_t> collect);
    // The unhook of DCS $ q: answers the request text.
    void cmdDECRQSS(std::span<const std::uint8_t> data);
    void cmdSetCursorStyle(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void setCursorStyle(CursorStyle style);
    void cmdSetScrollRegion(std::span<const int> pars, std::span<const std::uint8_t> collect); // DECSTBM
    void cmdSetMargins(std::span<const int> pars, std::span<const std::uint8_t> collect);      // DECSLRM

    // ================================================================ Rectangular areas (TerminalRect.cpp)

    void cmdDECALN();
    void cmdDECCRA(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdDECFRA(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdDECERA(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdDECSERA(std::span<const int> pars, std::span<const std::uint8_t> collect);
    void cmdInsertColumns(std::span<const int> pars, std::span<const std::uint8_t> collect); // DECIC
    void cmdDECRQCRA(std::span<const int> pars);
    ScreenRectangle getRectangle(std::span<const int> pars, std::size_t start) const;

    // ================================================================ Window manipulation (TerminalWindow.cpp)

    void csit(std::span<const int> pars); // XTWINOPS
    // Depth of each title stack (window and icon); a push beyond it drops the oldest entry.
    static constexpr std::size_t maximumTitleStackDepth = 10;

    // ================================================================ Mouse reporting (TerminalMouse.cpp)

    int encodeButton(int button, bool release, bool shift, bool meta, bool control) const;
    void sendEvent(int buttonFlags, int x, int y);
    void sendMotion(int buttonFlags, int x, int y, int px, int py);
    void sendMouseReport(int buttonFlags, int x, int y, int px, int py);

    // ================================================================ Operating system commands (TerminalOsc.cpp)

    void oscSetColors(std::span<const std::uint8_t> payload);          // OSC 4
    void oscSetCurrentDocument(std::span<const std::uint8_t> payload); // OSC 6
    void oscSetCurrentDirectory(std::span<const std::uint8_t> payload); // OSC 7
    void oscHyperlink(std::span<const std::uint8_t> payload);          // OSC 8
    // Longest OSC 8 payload (parameters, ";" and URI) that opens a link. Registered payloads
    // stay in the process-wide registry until it fills up, so their size is bounded; a
    // longer one writes its text without a link.
    static constexpr std::size_t maximumHyperlinkPayloadLength = 4096;
    void oscDynamicColor(std::span<const std::uint8_t> payload, int start); // OSC 10, 11, 12
    void oscClipboard(std::span<const std::uint8_t> payload);          // OSC 52
    void oscResetColors(std::span<const std::uint8_t> payload);        // OSC 104
    void oscNotify(std::span<const std::uint8_t> payload);             // OSC 777
    void oscInlineContent(std::span<const std::uint8_t> payload);      // OSC 1337
    void resetPalette();
    // The payload code to stamp into a cell being written inside an OSC 8 link.
    std::optional<std::uint16_t> resolveActiveHyperlinkCode();
    // The open OSC 8 link's payload (registered on first use), 0 without one.
    TinyAtom linkPayload() override;
    std::optional<std::uint16_t> registerHyperlinkPayload(std::string text);
    static std::map<std::string, std::string> parseInlineFileArguments(std::span<const std::uint8_t> arguments);
    static ImageSizeRequest parseImageSizeRequest(const std::map<std::string, std::string>& arguments,
                                                  std::string_view key);

    // ================================================================ Semantic prompts, input scan
    // (TerminalSemantic.cpp)

    // The parsed options of one OSC 133 command.
    struct SemanticPromptOptions {
        SemanticPromptKind kind = SemanticPromptKind::initial;
        std::optional<SemanticPromptClickMode> clickEvents;
        std::optional<SemanticPromptClickMode> cursorClick;
        bool specialKeys = false;
    };
    // The current command group in input cells, built for a click.
    struct SemanticGroupGeometry {
        struct Row {
            int row = 0;             // absolute
            int startOffset = 0;     // input offset at the start of the row
            int lineIndex = 0;       // its logical line
            int lineStartOffset = 0; // offset at which that logical line starts
        };
        std::vector<Row> rows;
        int totalOffset = 0; // input cells in the whole group
        bool hasInput = false;
    };
    // An offset of a position in the geometry.
    struct SemanticInputOffset {
        int absolute = 0;
        int lineIndex = 0;
        int inLine = 0;
    };

    void oscSemanticPrompt(std::span<const std::uint8_t> payload); // OSC 133
    static std::optional<SemanticPromptOptions> parseSemanticPromptOptions(std::span<const std::string_view> fields);
    void freshSemanticPromptLine();
    void addSemanticMarkAtCursor(SemanticPromptKind kind);
    void closeSemanticInput();
    std::optional<SemanticContent> semanticContentAt(int col, int row) const;
    std::vector<SemanticPromptAnchor> semanticMarksOfRow(int row) const;
    std::optional<int> rowOfLine(const BufferLine& line, std::uint64_t generation) const;
    SemanticContent semanticRowKind(int row) const;
    std::optional<Position> semanticPromptStartPosition() const;
    // The line at index `row` of the active screen's ring; null outside it.
    const BufferLine* getLine(int row) const;
    bool isSemanticPromptClickEligible(SemanticPromptClickModifiers modifiers,
                                       const SemanticPromptPointerSnapshot& snapshot) const;
    bool handleSemanticPromptClick(int col, int row, SemanticPromptClickModifiers modifiers);
    bool handleSemanticPromptPointerClick(int col, int row, SemanticPromptClickModifiers modifiers,
                                          const SemanticPromptPointerSnapshot& snapshot);
    std::optional<SemanticGroupGeometry> semanticGroupGeometry() const;
    std::optional<SemanticInputOffset> semanticInputOffset(const SemanticGroupGeometry& geometry, int col,
                                                           int row) const;
    std::optional<std::vector<std::uint8_t>> semanticCursorMovementData(SemanticPromptCursorClickMode strategy,
                                                                        const SemanticInputOffset& cursor,
                                                                        const SemanticInputOffset& click) const;
    static void appendRepeatedSemanticSequence(std::span<const std::uint8_t> sequence, int count,
                                               std::vector<std::uint8_t>& bytes);
    void sendRepeatedSemanticSequence(std::span<const std::uint8_t> bytes);
    bool semanticPromptModifiersAllow(SemanticPromptClickModifiers modifiers) const;

    bool scanUserInput(std::span<const std::uint8_t> bytes);
    void registerUserInput(std::span<const std::uint8_t> bytes);
    void sendUserInput(std::span<const std::uint8_t> bytes);
    void resetSemanticScan();

    // ================================================================ Link detection (TerminalLinks.cpp)

    std::optional<LinkMatch> linkMatch(LinkLookupLocation at, LinkLookupMode mode);
    std::optional<std::string> linkText(int col, int row, LinkLookupLocation::Kind kind, LinkLookupMode mode);
    std::optional<Position> resolveLinkPosition(int col, int row, LinkLookupLocation::Kind kind,
                                                const Buffer& screen) const;
    std::optional<std::uint16_t> payloadCodeAt(int col, int row, const Buffer& screen) const;
    std::optional<LinkMatch> explicitLinkMatch(int col, int row, const Buffer& screen) const;
    std::optional<LinkMatch> implicitLinkMatch(int col, int row, const Buffer& screen) const;

    // ================================================================ Screen text (TerminalText.cpp)

    // UTF-8 text of one row from startCol up to endCol (-1: the line's length), never past
    // its trimmed length.
    std::string rowText(const Buffer& screen, int row, int startCol, int endCol) const;
    std::vector<Line> getSelectedLines(Position start, Position end, const Buffer& screen) const;
    std::string getDisplayText(Position start, Position end) const;
    std::string getText(Position start, Position end, const Buffer& screen) const;
    std::vector<std::uint8_t> bufferContentsData(BufferKind kind, StringEncoding encoding) const;
    // getLine under the name the view uses: line `row` of the active screen's ring.
    const BufferLine* bufferLineAt(int row) const;

    // ================================================================ Kitty keyboard flags (TerminalKeyboard.cpp)

    // The flags of the active screen, read by the host's key encoder.
    int activeKeyboardFlags() const;
    // CSI ... u with one intermediate; false when not taken (CSI u then restores the cursor).
    bool cmdCsiU(std::span<const int> pars, std::span<const std::uint8_t> collect);

private:
    // sendResponse items.
    static void appendResponseItem(std::vector<std::uint8_t>& bytes, std::string_view text);
    static void appendResponseItem(std::vector<std::uint8_t>& bytes, std::span<const std::uint8_t> data);
    template <typename Byte>
        requires std::same_as<Byte, std::uint8_t> || std::same_as<Byte, char>
    static void appendResponseItem(std::vector<std::uint8_t>& bytes, Byte byte)
    {
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    void sendBytes(std::span<const std::uint8_t> bytes);

    void installScrollHook(Buffer& target);
    void homeCursorAfterReset();
    void synchronizedOutputTimedOut();

    TerminalDelegate* tdel = nullptr;
    MainQueue* queue = nullptr;
    Color foregroundColor_ = Color::defaultForeground();
    Color backgroundColor_ = Color::defaultBackground();
    std::optional<Color> cursorColor_;
    MouseMode mouseMode_ = MouseMode::off;
    bool insertMode_ = false;
    bool marginMode_ = false;
    bool wraparound_ = false;
    // Expires with this object: hooks and queued work that outlive it find it gone.
    std::shared_ptr<Terminal*> lifetime = std::make_shared<Terminal*>(this);
};

// Text of wire payloads: the bytes as a string when they are valid UTF-8 (no overlong
// forms, surrogates or values past U+10FFFF) / plain ASCII; none otherwise.
std::optional<std::string> decodeUtf8(std::span<const std::uint8_t> bytes);
std::optional<std::string> decodeAscii(std::span<const std::uint8_t> bytes);

// The XTVERSION text: "Corvantix", the version (without a leading "v"), "-" suffix,
// "+" build (unless "unknown"), then ":"; printable ASCII only, at most 256 bytes.
std::string terminalVersionText(std::optional<std::string_view> version, std::optional<std::string_view> suffix,
                                std::optional<std::string_view> build);

// Appends one value in the extended UTF-8 form of mouse coordinates.
void encodeMouseUtf(std::vector<std::uint8_t>& bytes, int value);

// OSC 9: a progress report (4 ; state [; progress]); none for anything else.
std::optional<ProgressReport> parseProgressReport(std::span<const std::uint8_t> payload);

// The URI of a stored OSC 8 payload (parameters ";" URI); none without ";".
std::optional<std::string> parseHyperlinkPayload(std::string_view payload);

// The DCS handler of DECRQSS (DCS $ q Pt ST): collects the request text and answers it at
// the unhook (Terminal::cmdDECRQSS).
class DECRQSS final : public DcsHandler {
public:
    // Every valid request is a byte or two; longer data is kept only up to this length.
    static constexpr std::size_t maximumDataLength = 64;

    explicit DECRQSS(Terminal& terminal) : terminal(terminal) {}

    void hook(std::span<const std::uint8_t> collect, std::span<const int> parameters, std::uint8_t finalByte) override;
    void put(std::span<const std::uint8_t> data) override;
    void unhook() override;

    std::vector<std::uint8_t> data;
    bool overflowed = false;
    Terminal& terminal; // owns the parser that owns this handler
};

} // namespace corvantix

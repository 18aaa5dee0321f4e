// The Qt widget that hosts one Terminal: it owns the emulator and its selection, feeds it the
// child's bytes, schedules redraws, keeps the scrollbar, turns frame changes into the
// terminal's grid, and answers the emulator's callbacks (it is the terminal's delegate for
// its whole life). What it learns reaches its owner through TerminalViewDelegate.
//
// The widget's y axis grows downward: screen row 0 is at the top of the widget.
//
// Names that clash with QWidget members carry a suffix: resizeGrid (the grid, not the
// widget's size), terminalFont / setTerminalFont (QWidget::font is the widget's own font).
//
// Everything runs on the GUI thread, except sendUserInput / send (any thread) and
// updateDisplayNow (hops to the GUI thread).
//
// The members are split over several files by concern:
//   TerminalView.cpp           construction, configuration, fonts and cell metrics, colours
//   TerminalViewDisplay.cpp    feeding, redraw scheduling, scrolling, the scrollbar, resizing
//   TerminalViewCallbacks.cpp  the TerminalDelegate answers, colour properties, bell
//   TerminalViewKeyboard.cpp   key events into the keyboard handler
//   TerminalViewMouse.cpp      pointer events, mouse reports, selection, clipboard commands
//   TerminalViewLinks.cpp      links under the pointer: highlight, preview, the link a click opens
//   TerminalViewFind.cpp       searching the scrollback, the find bar and the find commands
//   TerminalViewDrawing.cpp    painting the cells (the drawing code's file)
//   TerminalViewImages.cpp     inline images: sizing, stripes, placement, Kitty records
//   TerminalProgressBarView.cpp the OSC 9;4 progress bar and its hide timer
//   TerminalDebugView.cpp      the debug overlay
#pragma once

#include "drawing/CellMetrics.h"
#include "drawing/RowBuilder.h"
#include "drawing/TextBlink.h"
#include "drawing/qt/CaretView.h"
#include "drawing/qt/GlyphMetricsCache.h"
#include "emulator/SelectionService.h"
#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"
#include "emulator/TerminalOptions.h"
#include "model/Position.h"
#include "platform/MainQueue.h"
#include "view/KeyboardInputHandler.h"
#include "view/Links.h"
#include "view/MarkedText.h"
#include "view/MetalHooks.h"
#include "view/MouseInput.h"
#include "view/Pasteboard.h"
#include "view/ScrollMetrics.h"
#include "view/SearchService.h"
#include "view/TerminalViewDelegate.h"
#include "view/TerminalViewTypes.h"

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class QAction;
class QLabel;
class QMouseEvent;
class QPainter;
class QTimer;
class QWheelEvent;
class QRawFont;
class QScrollBar;

namespace corvantix {

class TerminalFindBarView;
class TerminalProgressBarView;
class TerminalDebugView;

// The view's four fonts: the normal font and its bold, italic and bold-italic forms.
struct FontSet {
    QFont normal;
    QFont bold;
    QFont italic;
    QFont boldItalic;

    static FontSet fromFont(const QFont& font);
};

class TerminalView : public QWidget, public TerminalDelegate, public CaretHost {
    Q_OBJECT

public:
    // An empty frame, the default font and the default options.
    explicit TerminalView(QWidget* parent = nullptr);
    // The given frame and font (the default font when none).
    TerminalView(const QRect& frame, const std::optional<QFont>& font, QWidget* parent = nullptr);
    // The designated constructor: the terminal is built from `options`, its grid fitted to
    // the frame unless the frame is empty. `queue` runs the view's delayed work and gives
    // its clock (a queue on Qt's event loop when none; tests pass a manual one, which must
    // outlive the view).
    TerminalView(const QRect& frame, const std::optional<QFont>& font, const TerminalOptions& options,
                 QWidget* parent = nullptr, MainQueue* queue = nullptr);
    ~TerminalView() override;

    // The platform's fixed-pitch system font.
    static QFont defaultFont();

    // ================================================================ Host and owned objects

    // The owner; not owned (see TerminalViewDelegate).
    TerminalViewDelegate* terminalDelegate = nullptr;
    // True while the delegate's send carries the emulator's own reply rather than input,
    // so an owner can bound replies a program never reads.
    bool sendingReply() const { return replyInProgress; }
    std::unique_ptr<Terminal> terminal;
    std::shared_ptr<SelectionService> selection;
    QScrollBar* scroller = nullptr; // child widget along the right edge
    TerminalOptions startupOptions;
    Terminal& getTerminal() { return *terminal; }
    MainQueue& mainQueue() const { return *queue; }

    // ================================================================ Fonts and cell size (TerminalView.cpp)

    FontSet fontSet;
    std::optional<CellDimension> cellDimension;

    // The normal font. Setting it derives the other three, recomputes the cell size and
    // the grid, and ends the selection.
    const QFont& terminalFont() const { return fontSet.normal; }
    void setTerminalFont(const QFont& font);
    bool fontSmoothing() const { return fontSmoothing_; }
    void setFontSmoothing(bool value) { fontSmoothing_ = value; }
    double lineSpacing() const { return lineSpacing_; }
    void setLineSpacing(double value);
    // The fixed-pitch system font for all four styles; the selection is left alone.
    virtual void useSystemMonospacedFont();
    void resetFont();
    void resetCaches();
    // The normal font's measurements that the cell size follows.
    FontMetricsValue fontMetricsValue() const;
    CellDimension computeCellSize() const;
    // The backing scale of the screen the view is on (1 without one).
    double backingScaleFactor() const override;
    // Width the scrollbar takes beside the grid: 0 when it is hidden.
    double scrollerWidth() const;
    // Applies a new frame size to the grid; true when the grid changed.
    bool processSizeChange(QSize size);
    // Resizes the terminal to the grid, reports it and soft-resets the terminal.
    void resizeGrid(int cols, int rows);
    // The fit of one glyph of `font` drawn across `columnWidth` cells, from its metrics in
    // glyphMetrics.
    GlyphSlotFit glyphSlotFit(const QRawFont& font, quint32 glyph, int columnWidth) const;
    // Advances and ink boxes of the glyphs both renderers draw: asking a font for them loads
    // the glyph (decoding a colour emoji's bitmap), too slow to do for every rebuilt row.
    // Keyed by the font itself, so a change of fonts needs no emptying.
    mutable GlyphMetricsCache glyphMetrics;

    // ================================================================ Colours (TerminalView.cpp)

    static constexpr std::size_t trueColorCacheLimit = 4096;
    std::array<std::optional<QColor>, 256> colors;
    std::unordered_map<std::uint32_t, QColor> trueColors;
    QColor transparent = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.0f);
    QColor nativeFg_;
    QColor nativeBg_;
    bool settingFg = false;
    bool settingBg = false;
    bool cursorColorIsDefault = true;
    bool cursorTextColorIsDefault = true;
    // What the widget's background is painted with.
    QColor layerBackgroundColor;

    // The platform colour of a cell colour. Foregrounds pass the cell's bold bit and the
    // view's useBrightColors; backgrounds pass false and true.
    QColor mapColor(const Attribute::Color& color, bool isForeground, bool isBold, bool useBrightColors);
    // Drops the colour-dependent drawing caches and redraws every row.
    void colorsChanged();
    // Exactly 16 colours become the terminal's base palette; any count empties the
    // converted palette and redraws.
    void installColors(std::span<const Color> palette);
    // The default foreground and background from engine colours.
    void setNativeColors(const Color& foreground, const Color& background);
    // The caret colours (none: back to following the text colours).
    void setCaretColors(const std::optional<Color>& caret, const std::optional<Color>& caretText);
    // The desktop palette's text and base colours become the defaults.
    void useSystemColors();

    const QColor& nativeForegroundColor() const { return nativeFg_; }
    void setNativeForegroundColor(const QColor& color);
    const QColor& nativeBackgroundColor() const { return nativeBg_; }
    void setNativeBackgroundColor(const QColor& color);
    double backgroundOpacity() const;
    void setBackgroundOpacity(double value);
    bool useBrightColors = true; // bold text in colours 0-6 uses the bright form
    BidiHostPolicy bidiHostPolicy() const { return bidiHostPolicy_; }
    void setBidiHostPolicy(BidiHostPolicy policy);
    bool customBlockGlyphs() const override { return customBlockGlyphs_; }
    void setCustomBlockGlyphs(bool value);
    bool antiAliasCustomBlockGlyphs() const { return antiAliasCustomBlockGlyphs_; }
    void setAntiAliasCustomBlockGlyphs(bool value);
    QColor caretColor() const { return caretColor_; }
    void setCaretColor(const QColor& color);
    std::optional<QColor> caretTextColor() const { return caretTextColor_; }
    void setCaretTextColor(const std::optional<QColor>& color);
    const std::optional<QColor>& selectedTextBackgroundColor() const { return selectedTextBackgroundColor_; }
    void setSelectedTextBackgroundColor(const std::optional<QColor>& color);
    const std::optional<QColor>& selectedTextForegroundColor() const { return selectedTextForegroundColor_; }
    void setSelectedTextForegroundColor(const std::optional<QColor>& color);

    // Colours under reverse video (the terminal's reverseColors).
    QColor effectiveForegroundColor() const;
    QColor effectiveBackgroundColor() const;
    QColor effectiveCaretColor() const override;
    QColor effectiveCaretTextColor() const override;

    // ================================================================ Behaviour settings

    bool optionAsMetaKey = true;
    bool allowMouseReporting = true; // also: host output ends the selection
    LinkReporting linkReporting = LinkReporting::implicit; // which links are looked for: none, OSC 8 only, or text too
    LinkHighlightMode linkHighlightMode() const { return linkHighlightMode_; }
    void setLinkHighlightMode(LinkHighlightMode mode);
    bool notifyUpdateChanges = false;
    bool backspaceSendsControlH = false;
    BellStyle bellStyle = BellStyle::sound;
    ScrollerStyle scrollerStyle() const { return scrollerStyle_; }
    void setScrollerStyle(ScrollerStyle style);
    double scrollSensitivity = 1.0; // factor on the wheel delta
    bool disableFullRedrawOnAnyChanges = true; // asks for an 8-bit RGBA surface, which the widget always has
    bool isBigSur = true; // the desktop is new enough for that surface; always true here
    double semanticClickCoalescingDelay = 0; // seconds; the desktop's double-click interval
    bool commandActive = false;
    bool userScrolling = false;
    std::optional<std::vector<RowRange>> linkHighlightRange;
    // Pointer moves are tracked (needed for any-event mouse reporting and link hover).
    bool tracking = false;

    // ================================================================ Display (TerminalViewDisplay.cpp)

    static constexpr std::uint64_t interactiveInputDisplayWindowNs = 150'000'000;
    static constexpr std::uint64_t pendingDisplayDelayNs = 16'670'000;
    // A display pass is queued; read by other threads (updateDisplayNow).
    std::atomic<bool> pendingDisplay{false};
    // Blinking text is in its visible phase; the text-blink timer flips it.
    bool textBlinkVisible = true;
    // Makes cells with the blink attribute flash while they are on screen, the view is shown
    // and the application is active (made with the terminal, gone at teardown).
    std::unique_ptr<TextBlinkTimer> textBlinkTimer;

    // Host output: parsed, then drawn at once when the user typed within the last 150 ms,
    // else in one redraw 16.67 ms later.
    void feedBytes(std::span<const std::uint8_t> bytes);
    void feedText(std::string_view text);
    // The single exit of the user's bytes to the child. Any thread.
    void sendUserInput(std::span<const std::uint8_t> bytes);
    void send(std::span<const std::uint8_t> bytes) { sendUserInput(bytes); }
    void send(std::string_view text);
    // Uptime in nanoseconds, from the main queue's clock.
    std::uint64_t uptimeNanoseconds() const;
    std::uint64_t lastUserInputUptimeNs() const;
    bool isInteractiveInputWindow() const;
    void updateDisplayNow();
    void queuePendingDisplay();
    // One display pass: the text-blink timer, then the changed rows and the caret.
    void updateDisplay();
    // Starts or stops the text-blink timer as what is on screen and the gates say; any
    // thread (hops to the GUI thread).
    void updateTextBlinkTimer();
    // The view goes away: no timer, blinking text left visible, no activation updates.
    void stopTextBlink();
    void updateDirtyRows(bool notifyAccessibility);
    void updateCaretView();
    double scrollPosition() const;
    double scrollThumbsize() const;
    bool canScroll() const;
    void scrollTo(int row, bool notifyAccessibility = false);
    void scrollUp(int lines);
    void scrollDown(int lines);
    void pageUp();
    void pageDown();
    void updateScroller();
    void changeScrollback(std::optional<int> lines);
    void clearScrollback();
    QRect getOptimalFrameSize() const;
    std::optional<CellPixelSize> cellSizeInPixels() const;
    // Marks every screen row changed and queues a redraw.
    void updateFullScreenAndQueue();
    // Invalidates part of the widget (the widget repaints it on its next paint).
    virtual void setNeedsDisplayInRect(const QRect& rect);

    // ================================================================ GPU renderer hooks

    bool useMetalRenderer = false;
    // Set by the host while the user drags the window's edge; GPU redraws are then
    // coalesced (unless CORVANTIX_METAL_LIVE_RESIZE_THROTTLE turns that off).
    bool inLiveResize = false;
    // The renderer's widget; absent while the painter draws.
    QPointer<QWidget> metalView;
    MetalRendererStatus metalRendererStatus; // what the GPU renderer reports; disabled without one
    MetalBufferingMode metalBufferingMode = MetalBufferingMode::perRowPersistent; // per-row buffers or one per frame
    MetalAutomaticRecoveryPolicy automaticMetalRecoveryPolicy; // spaces out replacements of a failing renderer
    // Absolute lines the renderer must rebuild (first, last) although their text may be the
    // same: the view changed how they look. None: only rows whose lines changed are rebuilt.
    std::optional<std::pair<int, int>> metalDirtyRange;
    // The absolute lines the selection covered when the renderer was last told of it: a
    // change redraws those and the new ones.
    std::optional<std::pair<int, int>> metalSelectionLines;
    bool pendingMetalDisplay = false;
    struct RenderedCursor {
        int col = 0;
        int row = 0; // absolute line
        bool hidden = false;
        friend bool operator==(const RenderedCursor&, const RenderedCursor&) = default;
    };
    std::optional<RenderedCursor> lastRenderedCursor;

    std::optional<double> metalScaleFactorOverride() const { return metalScaleFactorOverride_; }
    void setMetalScaleFactorOverride(std::optional<double> value);
    void queuePendingMetalDisplay();
    bool canPresentMetalFrames() const;
    // What a GPU renderer's hosting changes in the view goes through these, so the view's
    // own invariants (caret, background, stacking) hold whoever switches the renderer.
    void setUseMetalRenderer(bool value) { useMetalRenderer = value; }
    void setAutomaticMetalRecoveryPolicy(const MetalAutomaticRecoveryPolicy& policy)
    {
        automaticMetalRecoveryPolicy = policy;
    }
    // Makes `gpuView` (reparented to this view) the renderer's widget, over the whole view:
    // just above `reference` when given, else below every other child; the caret hides at
    // full opacity because the renderer draws the cursor, the scroller stays on top, and the
    // painter stops drawing.
    void attachMetalView(QWidget* gpuView, QWidget* reference = nullptr);
    // The painter draws again, on the view's own background: the view forgets its GPU widget
    // (the caller disposes of it) and shows the caret.
    void detachMetalView();
    // Invalidates the GPU widget's whole bounds; nothing without one.
    void setMetalViewNeedsDisplay();
    // Asks the renderer's widget to draw at once; nothing while the painter draws.
    void drawMetalNow();
    // Publishes a status on the GUI thread (emits metalRendererStatusChanged); any thread.
    void setMetalRendererStatus(const MetalRendererStatus& status);
    void logMetalRecovery(const MetalRecoveryEvent& event, bool fellBackToCoreGraphics);
    // Hands the renderer the lines reported changed since its last build and forgets them.
    std::optional<std::pair<int, int>> takeMetalDirtyRange();
    // Adds the absolute lines first..last (kept within the buffer) to the rows the renderer
    // rebuilds next; nothing without a renderer.
    void widenMetalDirtyRange(int first, int last);

    // ================================================================ Cursor, selection, misc (TerminalViewCallbacks.cpp)

    // The caret widget (a child); shown while the terminal shows its cursor.
    QPointer<CaretView> caretView;
    // What the caret reads from the view.
    QWidget* caretParent() override { return this; }
    const Terminal* caretTerminal() const override { return terminal.get(); }
    bool caretTextBlinkVisible() const override { return textBlinkVisible; }
    CellGlyphCache::Fonts caretFonts() const override
    {
        return {fontSet.normal, fontSet.bold, fontSet.italic, fontSet.boldItalic};
    }
    std::optional<CellDimension> caretCellDimension() const override { return cellDimension; }
    GlyphMetricsCache& caretGlyphMetrics() const override { return glyphMetrics; }
    // Whether the caret's look follows the focus (an outline while unfocused).
    bool caretViewTracksFocus() const;
    void setCaretViewTracksFocus(bool value);
    QRect caretFrame() const;
    void ensureCursorVisible();
    // Pointer moves are tracked for any-event mouse reporting only.
    void updateMouseTracking(Terminal& source);
    void updateLinkHighlightTracking();
    bool selectionActive() const;
    void selectNone();
    // Ends an active selection (a plain click, typing, host output, a resize).
    void deactivateSelection();
    // The bell as the style says; an owner's subclass may replace it.
    virtual void bell();
    void visualBell();
    // Not empty and no C0 control, DEL or C1 control in it.
    static bool isPlainPrintableText(std::u32string_view text);

    // ================================================================ Keyboard and input method (TerminalViewKeyboard.cpp)
    // Keys reach the keyboard handler (Kitty protocol or classic forms, commands, text);
    // input-method commits and pastes go through insertText; the input method's pre-edit
    // text is the marked text, shown at the caret and never sent.

    // Decides what each key sends; the view hands it every key event. Its optionAsMetaKey
    // and backspaceSendsControlH follow the view's before each key.
    std::unique_ptr<KeyboardInputHandler> keyboard;

    // The insert routine: drops the marked text, then sends the text as UTF-8 or through the
    // Kitty encoder. A paste while the program asked for bracketed paste goes out as
    // ESC [200~, the text, ESC [201~ (three sends); markers inside the pasted text are
    // removed so that it cannot end the paste early.
    void insertText(std::string_view text, bool isPaste = false);
    // Stores the marked text (an empty text stores none but keeps the composition open) and
    // shows it at the caret.
    void setMarkedText(const QString& text, TextRange selectedRange);
    void unmarkText();
    bool hasMarkedText() const;
    TextRange markedRange() const;
    TextRange markedSelectedRange() const;
    // An active selection as a linear range (row x columns + column), else the cursor.
    TextRange selectedRange() const;
    // A piece of the marked text with the range actually returned; none outside it.
    std::optional<std::pair<TextRange, QString>> attributedSubstringForProposedRange(TextRange range) const;
    // The caret's frame in screen coordinates (the zero rectangle while the view has no
    // window); `actualRange` receives `range`.
    QRect firstRectForCharacterRange(TextRange range, TextRange* actualRange = nullptr) const;
    std::int64_t characterIndexForPoint(QPoint point) const;

    // ================================================================ Pointer, selection, clipboard (TerminalViewMouse.cpp)
    // Only the primary button acts: presses, drags and releases either become reports for the
    // program (when it asked for the mouse and Shift does not bypass it) or select text; the
    // wheel reports, sends arrow keys on the alternate screen, or scrolls.

    // The cell under a point of the widget: col, absolute row, and the clamped pixel position.
    struct GridHit {
        int col = 0;
        int row = 0;
        int pixelX = 0;
        int pixelY = 0;
    };
    GridHit gridPositionForPoint(QPointF point) const;
    // The report code of a button (0 the primary one, 4 and 5 the wheel) with its modifiers.
    int mouseButtonFlags(int button, Qt::KeyboardModifiers modifiers, bool release) const;
    bool shiftBypassesMouseReporting(Qt::KeyboardModifiers modifiers) const;
    // One press or release report at the point.
    void reportMouseEvent(QPointF point, int buttonFlags);

    // The clipboard that copy and paste use; the desktop's by default.
    std::shared_ptr<Pasteboard> generalPasteboard;
    // The selection's text onto the clipboard (the empty text without a selection).
    virtual void copy();
    // The clipboard's text to the program, as a paste.
    virtual void paste();
    void selectAll();
    // The edit actions (Ctrl+Shift+C, Ctrl+Shift+V or Shift+Insert, Ctrl+Shift+A), added to the view; hosts
    // put them in their menus too.
    QAction* copyAction = nullptr;
    QAction* pasteAction = nullptr;
    QAction* selectAllAction = nullptr;
    // Enables the actions as the current state allows.
    void updateEditActions();

    double scrollAccumulator = 0; // touchpad scrolling not yet a whole line, in pixels
    int autoScrollDelta = 0;      // lines per auto-scroll tick; negative towards older lines
    static constexpr int selectionAutoScrollIntervalMs = 50;
    QTimer* selectionAutoScrollTimer = nullptr;
    std::optional<QPointF> lastSelectionDragPoint;
    bool didSelectionDrag = false;
    // The cell of the last locally handled press: a drag's selection starts there, so it
    // keeps its start when the first motion events are merged into a later one.
    std::optional<GridHit> pressHit;
    // The link the last press was on: that click belongs to the link, and the program sees
    // none of its press, drags or release. It opens on the release, if still there.
    std::optional<LinkParameters> pressedLink;
    SemanticPromptPointerSnapshot pointerPressSnapshot;
    // The deferred prompt click (0: none).
    MainQueue::Token pendingSemanticClick = 0;
    int semanticDeferralScheduleCount = 0;
    void startSelectionAutoScrollTimer();
    void stopSelectionAutoScrollTimer();
    // One auto-scroll step: scroll, then the selection follows the pointer's cell.
    void scrollingTimerElapsed();

    // ================================================================ Links (TerminalViewLinks.cpp)
    // With Ctrl held (the key the link modes call Command) the link under the pointer is
    // highlighted, its OSC 8 target previewed at the bottom left, and a click opens it
    // through the delegate's requestOpenLink.

    // The preview of the OSC 8 target under the pointer (a child label); none while hidden.
    QPointer<QLabel> urlPreview;
    // The link under the pointer as last seen while Ctrl was down.
    std::optional<std::string> lastReportedLink;

    // Recomputes the hover highlight at a cell (absolute row); without `modifierHeld` the
    // modifier is taken as held while Ctrl is down.
    void updateLinkHighlight(int col, int row, std::optional<bool> modifierHeld);
    void clearLinkHighlight();
    // The link a click at the cell opens, as the highlight mode allows.
    std::optional<LinkParameters> linkAt(int col, int row, bool commandHeld) const;
    // Shows (or updates) the preview of an OSC 8 payload; nothing for a payload without a link.
    void updateUrlPreview(const std::string& payload);
    void removePreviewUrl();
    // The preview's font: the first of a few sans-serif faces at 12 points, else the
    // system font.
    static QFont tryUrlFont();
    void recordReportedLink(int col, int row);
    // Ctrl went down or up (the key handler reports it; leaving the view ends it too).
    void commandKeyDown();
    void commandReleased();
    // Marks the visible rows of both highlights for redraw.
    void invalidateLinkHighlightRows(const std::optional<std::vector<RowRange>>& old,
                                     const std::optional<std::vector<RowRange>>& current);
    // Pointer moves without a button are tracked while something needs them: any-event
    // mouse reporting, Ctrl held, or the hover highlight mode.
    void startWindowMouseMovedFallback();
    void stopWindowMouseMovedFallback();

    // ================================================================ Search and find bar (TerminalViewFind.cpp)

    std::unique_ptr<SearchService> search;
    // Made on first use, then only hidden and shown.
    QPointer<TerminalFindBarView> findBar;
    std::string findBarTerm;
    SearchOptions findBarOptions;
    // The term shared by every find bar of the process (and any other finder that uses it).
    std::shared_ptr<Pasteboard> findPasteboard = processFindPasteboard();
    // Find (Ctrl+Shift+F), find next, find previous, use selection for find; hosts put them
    // in their menus. Each carries its find command tag as data.
    QAction* findAction = nullptr;
    QAction* findNextAction = nullptr;
    QAction* findPreviousAction = nullptr;
    QAction* useSelectionForFindAction = nullptr;

    // Select the next (previous) match and, with `scroll`, bring it into view; true when
    // one was found. Without a match an active selection ends.
    bool findNext(const std::string& term, const SearchOptions& options, bool scroll = true);
    bool findPrevious(const std::string& term, const SearchOptions& options, bool scroll = true);
    // Forgets the search and ends the selection.
    void clearSearch();
    // The 1-based position of the current match among the first maxCount (0 when it is not
    // among them), and their count.
    std::pair<int, int> searchMatchPosition(const std::string& term, const SearchOptions& options, int maxCount);
    // Scrolls so that the row is in the middle of the screen when it is off screen; never on
    // the alternate screen.
    void scrollRowIntoView(int row);
    TerminalFindBarView* ensureFindBar();
    void showFindBar(bool useSelection);
    void hideFindBar();
    void findAgain(bool forward);
    void findBarTermChanged(const std::string& term);
    void handleFindBarOptionsChanged(const SearchOptions& options);
    void useSelectionForFind();
    // The find commands by tag: 1 show the bar, 2 next, 3 previous, 7 use the selection,
    // 11 hide the bar (text finder only); other tags do nothing.
    void performFindPanelAction(int tag);
    void performTextFinderAction(int tag);
    // Places the bar at the top right.
    void layoutFindBar();

    // ================================================================ TerminalDelegate
    // The emulator's callbacks; each receives the calling terminal first, which tells these
    // apart from the view's own operations of the same names (send, bell, ...).

    void showCursor(Terminal& source) override;
    void hideCursor(Terminal& source) override;
    void setTerminalTitle(Terminal& source, const std::string& title) override;
    void setTerminalIconTitle(Terminal& source, const std::string& title) override;
    std::optional<std::vector<std::uint8_t>> windowCommand(Terminal& source,
                                                           const WindowManipulationCommand& command) override;
    void sizeChanged(Terminal& source) override;
    void send(Terminal& source, std::span<const std::uint8_t> bytes) override;
    void scrolled(Terminal& source, int yDisp) override;
    void linefeed(Terminal& source) override;
    void bufferActivated(Terminal& source) override;
    void synchronizedOutputChanged(Terminal& source, bool active) override;
    void bell(Terminal& source) override;
    void selectionChanged(Terminal& source) override;
    bool trustsHost(Terminal& source) override;
    std::optional<CellPixelSize> cellSizeInPixels(Terminal& source) override;
    void mouseModeChanged(Terminal& source) override;
    void cursorStyleChanged(Terminal& source, CursorStyle style) override;
    void hostCurrentDirectoryUpdated(Terminal& source) override;
    void hostCurrentDocumentUpdated(Terminal& source) override;
    void colorChanged(Terminal& source, std::optional<int> index) override;
    void setForegroundColor(Terminal& source, const Color& color) override;
    void setBackgroundColor(Terminal& source, const Color& color) override;
    void inlineContentReceived(Terminal& source, std::span<const std::uint8_t> content) override;
    void clipboardCopy(Terminal& source, std::span<const std::uint8_t> content) override;
    std::optional<std::vector<std::uint8_t>> clipboardRead(Terminal& source) override;
    void notify(Terminal& source, const std::string& title, const std::string& body) override;
    // The end of synchronized output: scrollbar, queued redraw, scroll report.
    void resumeDisplay();

    // ================================================================ Inline images (TerminalViewImages.cpp)
    // Images reach the view as RGBA pixels (Sixel, Kitty) or encoded data (Kitty PNG, inline
    // files); each is sized in cells, cut into one stripe per row and attached to the lines
    // from the cursor down, the cursor moving as line feeds would move it.

    class AppleImage;
    void createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>& bytes, int width, int height) override;
    void createImage(Terminal& source, std::span<const std::uint8_t> data, ImageSizeRequest width,
                     ImageSizeRequest height, bool preserveAspectRatio) override;
    // Takes the pixels. Nothing is placed when they are fewer than width x height x 4 bytes.
    void imageFromBitmap(std::vector<std::uint8_t>& bytes, int width, int height);
    // Nothing happens for data that is not an image.
    void imageFromData(std::span<const std::uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                       bool preserveAspectRatio);
    // True when the image was placed; false for an image it refuses (wider or taller than
    // 16,384 points, more stripes than the screen and its scrollback hold, or a size that is
    // not a finite number), which leaves the screen and the cursor alone.
    bool placeImage(const QImage& image, ImageSizeRequest width, ImageSizeRequest height, bool preserveAspectRatio);
    // A stored Kitty image, decoded; none for an unknown id or data that is not an image.
    std::optional<QImage> kittyImageForId(std::uint32_t imageId) const;
    // The stripes placed so far, oldest first, and the bytes of pixels the live ones hold
    // (each stripe takes its bytes off when it goes). Past the image store's limit the
    // oldest stripes give up their pixels: a stream of images cannot grow the window without
    // end.
    std::deque<std::weak_ptr<AppleImage>> placedImageStripes;
    std::shared_ptr<std::atomic<std::int64_t>> imageStripeBytes = std::make_shared<std::atomic<std::int64_t>>(0);
    void keepImageStripesWithinBudget();

    // ================================================================ Progress bar (TerminalProgressBarView.cpp)
    // OSC 9;4 reports show as a thin bar along the top edge, hidden again 15 s after the last one.

    static constexpr std::chrono::seconds progressHideDelay{15};
    QPointer<TerminalProgressBarView> progressBarView;
    MainQueue::Token progressReportTimer = 0;
    std::optional<std::uint8_t> lastProgressValue;
    void progressReport(Terminal& source, const ProgressReport& report) override;
    // Applies the report on the GUI thread (posted there from any other thread).
    void progressReported(const ProgressReport& report);
    void applyProgressReport(const ProgressReport& report);
    void scheduleProgressHide();
    void hideProgress();

    // ================================================================ Debug overlay (TerminalDebugView.cpp)

    // Refreshed on every display pass while present; a host makes one to look inside the buffer.
    QPointer<TerminalDebugView> debug;

    // ================================================================ Drawing (TerminalViewDrawing.cpp)

    // Paints the part of the widget inside `dirtyRect`; `drawn` is what the painter is clipped
    // to (all of `dirtyRect` when not given).
    void drawTerminalContents(QPainter& painter, QRect dirtyRect);
    void drawTerminalContents(QPainter& painter, QRect dirtyRect, const QRegion& drawn);
    // State the drawing code keeps per view (its caches); made by the drawing code.
    struct DrawingState;
    std::shared_ptr<DrawingState> drawingState;
    // Buffer line `row` of the active screen (`line`) as the painter would draw it: the same
    // row builder, settings, bidi layout and placeholder decoding, so that a GPU renderer shows
    // the same colours, selection and order. Empty without a terminal.
    AttributedRow buildAttributedLine(int row, const BufferLine& line);

Q_SIGNALS:
    void metalRendererStatusChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // Tab and Shift+Tab belong to the terminal, not to focus changes.
    bool focusNextPrevChild(bool next) override;
    // Pre-edit text becomes the marked text, a commit goes through insertText.
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    // Focus reports to the program (when it asked for them) and the caret's focused form.
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    // Qt turns the second press of a double click into this event; it is a press like any other.
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // Leaving the view ends the Ctrl state and the hover highlight.
    void leaveEvent(QEvent* event) override;

private:
    void installFindActions();
    bool performSearch(const std::string& term, const SearchOptions& options, bool scroll, bool forward);
    void installEditActions();
    void handlePress(QMouseEvent& event);
    // The link a click at the cell opens, the hover highlight brought up to date first.
    std::optional<LinkParameters> linkUnderClick(const GridHit& hit, Qt::KeyboardModifiers modifiers);
    // Qt's own count stops at two; triple clicks need a counter of our own.
    ClickCounter clickCounter;
    // The key of a disabled edit action is not typed into the program either.
    bool isEditShortcut(const QKeyEvent& event) const;
    void commonInit(const QRect& frame, const std::optional<QFont>& font, const TerminalOptions& options,
                    MainQueue* injectedQueue);
    void startSetup();
    void setupView(double width, double height);
    void installScroller();
    void installProgressBar();
    void layoutProgressBar();
    void layoutScroller();
    void scrollerActionTriggered(int action);
    // The scroll state of the active buffer.
    ScrollState scrollState() const;
    // Invalidates the GPU widget's whole bounds when it can show frames.
    void redrawMetalIfVisible();
    void setCaretVisible(bool visible);
    // Follows the application's activation (text blink) once, at set-up.
    void installTextBlinkObservers();
    QMetaObject::Connection applicationStateConnection;

    class KeySink;
    void installKeyboard();
    void handleKey(const QKeyEvent& event);
    // The view gained or lost the keyboard focus (also when its window is (de)activated).
    void applyFocus(bool focused);
    // The marked text and the child widget that shows it at the caret (present only while
    // there is marked text).
    MarkedText markedText;
    QPointer<QWidget> markedTextOverlay;
    void updateMarkedTextOverlay();

    std::unique_ptr<KeyboardInputSink> keySink;
    std::unique_ptr<MainQueue> ownQueue; // outlives the terminal (see the destructor)
    MainQueue* queue = nullptr;

    bool fontSmoothing_ = true;
    double lineSpacing_ = 1.0;
    LinkHighlightMode linkHighlightMode_ = LinkHighlightMode::hoverWithModifier;
    ScrollerStyle scrollerStyle_ = ScrollerStyle::overlay;
    BidiHostPolicy bidiHostPolicy_ = BidiHostPolicy::respectTerminal;
    bool customBlockGlyphs_ = true;
    bool antiAliasCustomBlockGlyphs_ = false;
    std::optional<QColor> selectedTextBackgroundColor_ =
        QColor::fromRgbF(0.0f, static_cast<float>(166.0 / 255.0), static_cast<float>(178.0 / 255.0), 1.0f);
    std::optional<QColor> selectedTextForegroundColor_ = QColor(Qt::black);
    QColor caretColor_;
    std::optional<QColor> caretTextColor_;
    std::optional<double> metalScaleFactorOverride_;

    mutable std::mutex userInputLock; // guards lastUserInputUptimeNs_
    std::uint64_t lastUserInputUptimeNs_ = 0;
    bool replyInProgress = false;
    // Expires with the view: queued work that outlives it finds it gone.
    std::shared_ptr<TerminalView*> lifetime = std::make_shared<TerminalView*>(this);
};

} // namespace corvantix

// ANSI and DEC private modes, DECRQM, DECSTR, DECSCL, XTSAVE / XTRESTORE and the bidi mode changes.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <string>

namespace corvantix {

namespace {

// DEC private mode numbers that XTSAVE / XTRESTORE know.
constexpr int bidiArrowKeySwapMode = 1243;
constexpr int boxMirroringMode = 2500;
constexpr int autodetectDirectionMode = 2501;

bool isPrivateCollect(std::span<const std::uint8_t> collect)
{
    return collect.size() == 1 && collect[0] == '?';
}

// The print path reads the buffers' copies and DECRQM the terminal's, so every writer
// keeps the three in step.
void storeInsertMode(Terminal& terminal, bool on)
{
    terminal.insertMode = on;
    terminal.normalBuffer->insertMode = on;
    terminal.altBuffer->insertMode = on;
}

void storeMarginMode(Terminal& terminal, bool on)
{
    terminal.marginMode = on;
    terminal.normalBuffer->marginMode = on;
    terminal.altBuffer->marginMode = on;
}

void storeWraparound(Terminal& terminal, bool on)
{
    terminal.wraparound = on;
    terminal.normalBuffer->wraparound = on;
    terminal.altBuffer->wraparound = on;
}

void storeBidiState(Terminal& terminal, const BidiPresentationState& state)
{
    terminal.currentBidiState = state;
    terminal.normalBuffer->defaultBidiState = state;
    terminal.altBuffer->defaultBidiState = state;
}

// The step shared by BDSM, DECSET / DECRST 2500 and 2501 and XTRESTORE: `state` is the
// current state with the fields named in `changed` already replaced.
void bidiChange(Terminal& terminal, const BidiPresentationState& state, BidiStatePropertySet changed)
{
    storeBidiState(terminal, state);
    terminal.applyBidiStateToCursorParagraph(changed);
    terminal.updateFullScreen();
}

void setBidiSupportMode(Terminal& terminal, BidiSupportMode mode)
{
    BidiPresentationState state = terminal.currentBidiState;
    state.supportMode = mode;
    bidiChange(terminal, state, {BidiStateProperty::supportMode});
}

void setBoxMirroring(Terminal& terminal, bool on)
{
    BidiPresentationState state = terminal.currentBidiState;
    state.boxMirroring = on;
    bidiChange(terminal, state, {BidiStateProperty::boxMirroring});
}

void setAutodetectDirection(Terminal& terminal, bool on)
{
    BidiPresentationState state = terminal.currentBidiState;
    state.autodetectDirection = on;
    bidiChange(terminal, state, {BidiStateProperty::autodetectDirection});
}

// After a screen switch (47, 1047, 1049, either way).
void switchTail(Terminal& terminal)
{
    terminal.updateRange(0);
    terminal.updateRange(terminal.rows - 1);
    if (terminal.cursorHidden) {
        terminal.cursorHidden = false;
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->showCursor(terminal);
    }
    if (TerminalDelegate* delegate = terminal.delegate())
        delegate->bufferActivated(terminal);
}

// DECSCNM: only a real change redraws and tells the host.
void setReverseColors(Terminal& terminal, bool on)
{
    if (terminal.reverseColors == on)
        return;
    terminal.reverseColors = on;
    terminal.updateFullScreen();
    if (TerminalDelegate* delegate = terminal.delegate())
        delegate->colorChanged(terminal, std::nullopt);
}

// DECSET 2026.
void startSynchronizedOutput(Terminal& terminal)
{
    const bool wasActive = terminal.synchronizedOutputActive;
    terminal.synchronizedOutputActive = true;
    terminal.beginSynchronizedOutput();
    if (!wasActive) {
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->synchronizedOutputChanged(terminal, true);
    }
}

// DECCOLM, only honoured after DECSET 40. Setting resets before the host hears of the new
// size; resetting tells the host first. Both end in a full reset.
void setColumnMode(Terminal& terminal, bool wide)
{
    if (!terminal.allow80To132)
        return;
    terminal.resize(wide ? 132 : 80, terminal.rows);
    if (wide) {
        terminal.cmdReset();
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->sizeChanged(terminal);
    } else {
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->sizeChanged(terminal);
        terminal.cmdReset();
    }
}

void logUnhandledDecset(const Terminal& terminal, int par)
{
    if (!terminal.silentLog)
        logInfo(terminal.silentLog, "Unhandled DEC Private Mode Set (DECSET) with " + std::to_string(par));
}

void logUnhandledDecrst(const Terminal& terminal, int par)
{
    if (!terminal.silentLog)
        logInfo(terminal.silentLog, "Unhandled DEC Private Mode Reset (DECRST) with " + std::to_string(par));
}

// DECRQM states.
constexpr int notRecognized = 0;
constexpr int modeSet = 1;
constexpr int modeReset = 2;
constexpr int permanentlyReset = 4;

constexpr int flag(bool value)
{
    return value ? modeSet : modeReset;
}

int ansiModeState(const Terminal& terminal, int ps)
{
    switch (ps) {
    case 1:
        return permanentlyReset;
    case 2:
    case 3:
        return modeReset;
    case 4:
        return flag(terminal.insertMode);
    case 5:
    case 7:
    case 10:
    case 11:
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
    case 19:
        return permanentlyReset;
    case 8:
        return flag(terminal.currentBidiState.supportMode == BidiSupportMode::implicit);
    case 12:
        return modeSet;
    case 20:
        return flag(terminal.lineFeedMode);
    default:
        return notRecognized;
    }
}

int privateModeState(const Terminal& terminal, int ps)
{
    switch (ps) {
    case 1:
        return flag(terminal.applicationCursor);
    case 2:
    case 8:
    case 18:
    case 19:
    case 95:
        return modeSet;
    case 3:
        return flag(terminal.buffer->cols() == 132);
    case 4:
        return flag(terminal.smoothScroll);
    case 5:
        return flag(terminal.reverseColors);
    case 6:
        return flag(terminal.originMode);
    case 7:
        return flag(terminal.wraparound);
    case 9:
        return flag(terminal.mouseMode() == MouseMode::x10);
    case 10:
    case 42:
    case 44:
    case 46:
    case 67:
    case 80:
    case 1034:
        return permanentlyReset;
    case 12:
        return flag(terminal.cursorBlink);
    case 13:
    case 14:
    case 30:
    case 41:
    case 1001:
        return modeReset;
    case 25:
        return flag(!terminal.cursorHidden);
    case 40:
        return flag(terminal.allow80To132);
    case 45:
        return flag(terminal.reverseWraparound);
    case 47:
        return flag(terminal.isCurrentBufferAlternate());
    case 66:
        return flag(terminal.applicationKeypad);
    case 69:
        return flag(terminal.marginMode);
    case 1000:
        return flag(terminal.mouseMode() == MouseMode::vt200);
    case 1002:
        return flag(terminal.mouseMode() == MouseMode::buttonEventTracking);
    case 1003:
        return flag(terminal.mouseMode() == MouseMode::anyEvent);
    case 1004:
        return flag(terminal.sendFocus);
    case 1005:
        return flag(terminal.mouseProtocol == MouseProtocolEncoding::utf8);
    case 1006:
        return flag(terminal.mouseProtocol == MouseProtocolEncoding::sgr);
    case 1015:
        return flag(terminal.mouseProtocol == MouseProtocolEncoding::urxvt);
    case 1016:
        return flag(terminal.mouseProtocol == MouseProtocolEncoding::sgrPixel);
    case 1007:
        return flag(terminal.alternateScrollMode);
    case 1243:
        return flag(terminal.bidiArrowKeySwap);
    case 2004:
        return flag(terminal.bracketedPasteMode);
    case 2026:
        return flag(terminal.synchronizedOutputActive);
    case 2500:
        return flag(terminal.currentBidiState.boxMirroring);
    case 2501:
        return flag(terminal.currentBidiState.autodetectDirection);
    default:
        return notRecognized;
    }
}

} // namespace

// ---------------------------------------------------------------- SM / RM, DECSET / DECRST

void Terminal::cmdSetMode(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    for (const int par : pars)
        setMode(par, collect);
}

void Terminal::cmdResetMode(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    for (const int par : pars)
        resetMode(par, collect);
}

void Terminal::setMode(int par, std::span<const std::uint8_t> collect)
{
    if (collect.empty()) {
        switch (par) {
        case 2: // KAM
            break;
        case 4: // IRM
            storeInsertMode(*this, true);
            break;
        case 8: // BDSM
            setBidiSupportMode(*this, BidiSupportMode::implicit);
            break;
        case 20: // LNM
            lineFeedMode = true;
            break;
        default:
            if (!silentLog)
                logInfo(silentLog, "Unhandled verbatim setMode with " + std::to_string(par) + " and " + listText(collect));
            break;
        }
        return;
    }
    if (!isPrivateCollect(collect)) {
        if (!silentLog)
            logInfo(silentLog, "Unhandled setMode (SM) with " + std::to_string(par) + " and " + listText(collect));
        return;
    }

    switch (par) {
    case 1:
        applicationCursor = true;
        break;
    case 2:
        for (int level = 0; level < 4; ++level)
            setCharset(level, nullptr);
        break;
    case 3:
        setColumnMode(*this, true);
        break;
    case 4:
        smoothScroll = true;
        break;
    case 5:
        setReverseColors(*this, true);
        break;
    case 6:
        originMode = true;
        break;
    case 7:
        storeWraparound(*this, true);
        break;
    case 9:
        setMouseMode(MouseMode::x10);
        break;
    case 12:
        cursorBlink = true;
        break;
    case 25:
        showCursor();
        break;
    case 40:
        allow80To132 = true;
        break;
    case 41:
        logUnhandledDecset(*this, par);
        break;
    case 45:
        if (wraparound)
            reverseWraparound = true;
        break;
    case 47:
    case 1047:
        activateAltBuffer(std::nullopt);
        switchTail(*this);
        break;
    case 63:
    case 95:
    case 1034:
        break;
    case 66:
        applicationKeypad = true;
        break;
    case 69:
        storeMarginMode(*this, true);
        break;
    case 1000:
        setMouseMode(MouseMode::vt200);
        break;
    case 1002:
        setMouseMode(MouseMode::buttonEventTracking);
        break;
    case 1003:
        setMouseMode(MouseMode::anyEvent);
        break;
    case 1004:
        sendFocus = true;
        reportFocus();
        break;
    case 1005:
        mouseProtocol = MouseProtocolEncoding::utf8;
        break;
    case 1006:
        mouseProtocol = MouseProtocolEncoding::sgr;
        break;
    case 1007:
        alternateScrollMode = true;
        break;
    case 1015:
        mouseProtocol = MouseProtocolEncoding::urxvt;
        break;
    case 1016:
        mouseProtocol = MouseProtocolEncoding::sgrPixel;
        break;
    case 1048:
        cmdSaveCursor();
        break;
    case 1049:
        // The cursor saved here belongs to the normal screen.
        cmdSaveCursor();
        activateAltBuffer(std::nullopt);
        switchTail(*this);
        break;
    case 1243:
        bidiArrowKeySwap = true;
        break;
    case 2004:
        bracketedPasteMode = true;
        break;
    case 2026:
        startSynchronizedOutput(*this);
        break;
    case 2500:
        setBoxMirroring(*this, true);
        break;
    case 2501:
        setAutodetectDirection(*this, true);
        break;
    default:
        logUnhandledDecset(*this, par);
        break;
    }
}

void Terminal::resetMode(int par, std::span<const std::uint8_t> collect)
{
    if (collect.empty()) {
        switch (par) {
        case 4:
            storeInsertMode(*this, false);
            break;
        case 8:
            setBidiSupportMode(*this, BidiSupportMode::explicit_);
            break;
        case 20:
            lineFeedMode = false;
            break;
        default:
            break;
        }
        return;
    }
    if (!isPrivateCollect(collect))
        return;

    switch (par) {
    case 1:
        applicationCursor = false;
        break;
    case 2:
        logUnhandledDecrst(*this, par);
        break;
    case 3:
        setColumnMode(*this, false);
        break;
    case 4:
        smoothScroll = false;
        break;
    case 5:
        setReverseColors(*this, false);
        break;
    case 6:
        originMode = false;
        break;
    case 7:
        storeWraparound(*this, false);
        break;
    case 9:
    case 1000:
    case 1002:
    case 1003:
        // Any of the four switches reporting off, whichever was active.
        setMouseMode(MouseMode::off);
        break;
    case 12:
        cursorBlink = false;
        break;
    case 25:
        hideCursor();
        break;
    case 40:
        allow80To132 = false;
        break;
    case 41:
    case 95:
    case 1034:
        break;
    case 45:
        reverseWraparound = false;
        break;
    case 47:
        // The alternate content is kept; a later DECSET 47 shows it again.
        activateNormalBuffer(false);
        switchTail(*this);
        break;
    case 63:
        logUnhandledDecrst(*this, par);
        break;
    case 66:
        applicationKeypad = false;
        break;
    case 69:
        storeMarginMode(*this, false);
        break;
    case 1004:
        sendFocus = false;
        break;
    case 1005:
    case 1006:
    case 1015:
    case 1016:
        mouseProtocol = MouseProtocolEncoding::x10;
        break;
    case 1007:
        alternateScrollMode = false;
        break;
    case 1047:
        activateNormalBuffer(true);
        switchTail(*this);
        break;
    case 1048:
        cmdRestoreCursor();
        break;
    case 1049:
        activateNormalBuffer(true);
        cmdRestoreCursor();
        switchTail(*this);
        break;
    case 1243:
        bidiArrowKeySwap = false;
        break;
    case 2004:
        bracketedPasteMode = false;
        break;
    case 2026:
        endSynchronizedOutput();
        break;
    case 2500:
        setBoxMirroring(*this, false);
        break;
    case 2501:
        setAutodetectDirection(*this, false);
        break;
    default:
        logUnhandledDecrst(*this, par);
        break;
    }
}

// ---------------------------------------------------------------- CSI ... p

void Terminal::cmdCsiP(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    const std::string_view text(reinterpret_cast<const char*>(collect.data()), collect.size());
    if (text == "!") {
        softReset();
    } else if (text == "\"") {
        cmdSetConformanceLevel(pars);
    } else if (text == "?$") {
        cmdRequestMode(pars, true);
    } else if (text == "$") {
        cmdRequestMode(pars, false);
    } else if (!silentLog) {
        std::string message = "Unhandled CSI ";
        for (const std::uint8_t byte : collect)
            message += std::to_string(byte);
        message += " with pars=" + listText(pars);
        logInfo(silentLog, message);
    }
}

void Terminal::softReset()
{
    storeBidiState(*this, options.initialBidiState);
    applyBidiStateToCursorParagraph(BidiStatePropertySet::all());
    updateFullScreen();
    bidiArrowKeySwap = options.initialBidiArrowKeySwap;
    savedBidiPrivateModes.clear();

    cursorHidden = false;
    originMode = false;
    storeInsertMode(*this, false);
    storeWraparound(*this, true);
    reverseWraparound = false;
    applicationKeypad = false;
    applicationCursor = false;

    buffer->setScrollTop(0);
    buffer->setScrollBottom(rows - 1);
    curAttr = Attribute::defaultAttribute();
    buffer->clearSavedState();
    resetSemanticPromptState(true);

    charset = nullptr;
    setgLevel(0);
    conformance = TerminalConformance::vt500;
    activeHyperlink.reset();
    lineFeedMode = options.convertEol;
    resetPalette();

    // Told even when the cursor was already visible.
    if (tdel != nullptr)
        tdel->showCursor(*this);
}

void Terminal::cmdSetConformanceLevel(std::span<const int> pars)
{
    if (pars.empty())
        return;
    const int level = pars[0];
    switch (level) {
    case 61:
        conformance = TerminalConformance::vt100;
        cc.send8bit = false;
        return;
    case 62:
        conformance = TerminalConformance::vt200;
        break;
    case 63:
        conformance = TerminalConformance::vt300;
        break;
    case 64:
        conformance = TerminalConformance::vt400;
        break;
    default:
        conformance = TerminalConformance::vt500;
        break;
    }
    if (level >= 62 && pars.size() > 1)
        cc.send8bit = pars[1] == 0 || pars[1] == 2;
}

// ---------------------------------------------------------------- DECRQM

void Terminal::cmdRequestMode(std::span<const int> pars, bool isPrivate)
{
    const int ps = pars.empty() ? 0 : pars[0];
    const int state = isPrivate ? privateModeState(*this, ps) : ansiModeState(*this, ps);
    sendResponse(cc.csi(), isPrivate ? "?" : "", std::to_string(ps), ";", std::to_string(state), "$y");
}

// ---------------------------------------------------------------- XTSAVE / XTRESTORE

void Terminal::cmdSavePrivateModes(std::span<const int> pars)
{
    for (const int par : pars) {
        switch (par) {
        case bidiArrowKeySwapMode:
            savedBidiPrivateModes[par] = bidiArrowKeySwap;
            break;
        case boxMirroringMode:
            savedBidiPrivateModes[par] = currentBidiState.boxMirroring;
            break;
        case autodetectDirectionMode:
            savedBidiPrivateModes[par] = currentBidiState.autodetectDirection;
            break;
        default:
            break;
        }
    }
}

void Terminal::cmdRestorePrivateModes(std::span<const int> pars)
{
    BidiPresentationState state = currentBidiState;
    BidiStatePropertySet changed;
    for (const int par : pars) {
        const auto saved = savedBidiPrivateModes.find(par);
        if (saved == savedBidiPrivateModes.end())
            continue;
        switch (par) {
        case bidiArrowKeySwapMode:
            bidiArrowKeySwap = saved->second;
            break;
        case boxMirroringMode:
            state.boxMirroring = saved->second;
            changed.insert(BidiStateProperty::boxMirroring);
            break;
        case autodetectDirectionMode:
            state.autodetectDirection = saved->second;
            changed.insert(BidiStateProperty::autodetectDirection);
            break;
        default:
            break;
        }
    }
    // One bidi change for everything restored, so the paragraph is rewritten once.
    if (!changed.isEmpty())
        bidiChange(*this, state, changed);
}

// ---------------------------------------------------------------- Bidi paragraph of the cursor

void Terminal::applyBidiStateToCursorParagraph(BidiStatePropertySet changed)
{
    // Only a cursor at the start of a paragraph's first row takes the change into the
    // existing lines; elsewhere only the defaults for new lines change.
    if (buffer->x() != 0)
        return;
    CircularBufferLineList& lines = buffer->lines();
    const long long first = static_cast<long long>(buffer->yBase()) + buffer->y();
    if (first < 0 || first >= lines.count())
        return;
    const int r = static_cast<int>(first);
    if (r != 0 && lines[r]->isWrapped())
        return;
    int last = r;
    while (last + 1 < lines.count() && lines[last + 1]->isWrapped())
        ++last;

    BidiPresentationState state = lines[r]->bidiState();
    if (changed.contains(BidiStateProperty::supportMode))
        state.supportMode = currentBidiState.supportMode;
    if (changed.contains(BidiStateProperty::autodetectDirection))
        state.autodetectDirection = currentBidiState.autodetectDirection;
    if (changed.contains(BidiStateProperty::fallbackDirection))
        state.fallbackDirection = currentBidiState.fallbackDirection;
    if (changed.contains(BidiStateProperty::boxMirroring))
        state.boxMirroring = currentBidiState.boxMirroring;
    for (int row = r; row <= last; ++row)
        lines[row]->setBidiState(state); // raises the line's generation
}

} // namespace corvantix

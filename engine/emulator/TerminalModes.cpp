// ANSI and DEC private modes, DECRQM, DECSTR, DECSCL, XTSAVE / XTRESTORE and the bidi mode changes.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"
#include "emulator/TerminalModes.h"

#include "platform/Log.h"

#include <string>

namespace corvantix {

namespace {

bool isPrivateCollect(std::span<const std::uint8_t> collect)
{
    return collect.size() == 1 && collect[0] == '?';
}

struct ModesFile;

} // namespace

template <>
struct TerminalFileHelpers<ModesFile> {
    static void storeBidiState(Terminal& terminal, const BidiPresentationState& state)
    {
        terminal.currentBidiState_ = state;
        terminal.normalBuffer_->defaultBidiState = state;
        terminal.altBuffer_->defaultBidiState = state;
    }

    // The step shared by BDSM, DECSET / DECRST 2500 and 2501 and XTRESTORE: `state` is the
    // current state with the fields named in `changed` already replaced.
    static void bidiChange(Terminal& terminal, const BidiPresentationState& state, BidiStatePropertySet changed)
    {
        storeBidiState(terminal, state);
        terminal.applyBidiStateToCursorParagraph(changed);
        terminal.updateFullScreen();
    }

    static void setBidiSupportMode(Terminal& terminal, BidiSupportMode mode)
    {
        BidiPresentationState state = terminal.currentBidiState_;
        state.supportMode = mode;
        bidiChange(terminal, state, {BidiStateProperty::supportMode});
    }

    static void setBoxMirroring(Terminal& terminal, bool on)
    {
        BidiPresentationState state = terminal.currentBidiState_;
        state.boxMirroring = on;
        bidiChange(terminal, state, {BidiStateProperty::boxMirroring});
    }

    static void setAutodetectDirection(Terminal& terminal, bool on)
    {
        BidiPresentationState state = terminal.currentBidiState_;
        state.autodetectDirection = on;
        bidiChange(terminal, state, {BidiStateProperty::autodetectDirection});
    }

    // After a screen switch (47, 1047, 1049, either way).
    static void switchTail(Terminal& terminal)
    {
        terminal.updateRange(0);
        terminal.updateRange(terminal.rows_ - 1);
        if (terminal.cursorHidden_) {
            terminal.cursorHidden_ = false;
            if (TerminalDelegate* delegate = terminal.delegate())
                delegate->showCursor(terminal);
        }
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->bufferActivated(terminal);
    }

    // DECSCNM: only a real change redraws and tells the host.
    static void setReverseColors(Terminal& terminal, bool on)
    {
        if (terminal.reverseColors_ == on)
            return;
        terminal.reverseColors_ = on;
        terminal.updateFullScreen();
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->colorChanged(terminal, std::nullopt);
    }

    // DECSET 2026.
    static void startSynchronizedOutput(Terminal& terminal)
    {
        const bool wasActive = terminal.synchronizedOutputActive_;
        terminal.synchronizedOutputActive_ = true;
        terminal.beginSynchronizedOutput();
        if (!wasActive) {
            if (TerminalDelegate* delegate = terminal.delegate())
                delegate->synchronizedOutputChanged(terminal, true);
        }
    }

    // DECCOLM, only honoured after DECSET 40. Setting resets before the host hears of the new
    // size; resetting tells the host first. Both end in a full reset.
    static void setColumnMode(Terminal& terminal, bool wide)
    {
        if (!terminal.allow80To132_)
            return;
        terminal.resize(wide ? 132 : 80, terminal.rows_);
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

    // One row per mode, defined below the small builders its rows use.
    static const ModeRow modes[];
};

namespace {

using ModeHelpers = TerminalFileHelpers<ModesFile>;

constexpr ModeState flag(bool value)
{
    return value ? ModeState::set : ModeState::reset;
}

// Rows of modes DECRQM reports but nothing sets.
constexpr ModeRow reported(ModeKind kind, int number, ModeState state)
{
    ModeRow row{kind, number};
    switch (state) {
    case ModeState::set:
        row.state = [](const Terminal&) { return ModeState::set; };
        break;
    case ModeState::reset:
        row.state = [](const Terminal&) { return ModeState::reset; };
        break;
    case ModeState::permanentlyReset:
        row.state = [](const Terminal&) { return ModeState::permanentlyReset; };
        break;
    case ModeState::notRecognized:
        break;
    }
    return row;
}

constexpr ModeRow::Action nothing = [](Terminal&) {};

constexpr ModeKind ansi = ModeKind::ansi;
constexpr ModeKind dec = ModeKind::dec;
constexpr ModeState permanentlyReset = ModeState::permanentlyReset;

} // namespace

// clang-format off
constexpr ModeRow TerminalFileHelpers<ModesFile>::modes[] = {
    // ANSI modes (SM / RM, CSI Ps $ p).
    reported(ansi, 1, permanentlyReset),
    {ansi, 2, [](const Terminal&) { return ModeState::reset; }, nothing}, // KAM
    reported(ansi, 3, ModeState::reset),
    {ansi, 4, [](const Terminal& t) { return flag(t.insertMode()); },       // IRM
        [](Terminal& t) { t.setInsertMode(true); },
        [](Terminal& t) { t.setInsertMode(false); },
        nullptr,
        [](Terminal& t) { t.setInsertMode(false); }},
    reported(ansi, 5, permanentlyReset),
    reported(ansi, 7, permanentlyReset),
    {ansi, 8, [](const Terminal& t) { return flag(t.currentBidiState_.supportMode == BidiSupportMode::implicit); }, // BDSM
        [](Terminal& t) { setBidiSupportMode(t, BidiSupportMode::implicit); },
        [](Terminal& t) { setBidiSupportMode(t, BidiSupportMode::explicit_); }},
    reported(ansi, 10, permanentlyReset),
    reported(ansi, 11, permanentlyReset),
    reported(ansi, 12, ModeState::set),
    reported(ansi, 13, permanentlyReset),
    reported(ansi, 14, permanentlyReset),
    reported(ansi, 15, permanentlyReset),
    reported(ansi, 16, permanentlyReset),
    reported(ansi, 17, permanentlyReset),
    reported(ansi, 18, permanentlyReset),
    reported(ansi, 19, permanentlyReset),
    {ansi, 20, [](const Terminal& t) { return flag(t.lineFeedMode_); },    // LNM
        [](Terminal& t) { t.lineFeedMode_ = true; },
        [](Terminal& t) { t.lineFeedMode_ = false; },
        nullptr,
        [](Terminal& t) { t.lineFeedMode_ = t.options_.convertEol; }},

    // DEC private modes (DECSET / DECRST, CSI ? Ps $ p, XTSAVE / XTRESTORE).
    {dec, 1, [](const Terminal& t) { return flag(t.applicationCursor_); }, // DECCKM
        [](Terminal& t) { t.applicationCursor_ = true; },
        [](Terminal& t) { t.applicationCursor_ = false; },
        nullptr,
        [](Terminal& t) { t.applicationCursor_ = false; }},
    {dec, 2, [](const Terminal&) { return ModeState::set; },              // DECANM: no translation in G0-G3
        [](Terminal& t) {
            for (int level = 0; level < 4; ++level)
                t.setCharset(level, nullptr);
        }},
    {dec, 3, [](const Terminal& t) { return flag(t.buffer_->cols() == 132); }, // DECCOLM
        [](Terminal& t) { setColumnMode(t, true); },
        [](Terminal& t) { setColumnMode(t, false); }},
    {dec, 4, [](const Terminal& t) { return flag(t.smoothScroll_); },
        [](Terminal& t) { t.smoothScroll_ = true; },
        [](Terminal& t) { t.smoothScroll_ = false; }},
    {dec, 5, [](const Terminal& t) { return flag(t.reverseColors_); },     // DECSCNM
        [](Terminal& t) { setReverseColors(t, true); },
        [](Terminal& t) { setReverseColors(t, false); }},
    {dec, 6, [](const Terminal& t) { return flag(t.originMode_); },        // DECOM; the cursor stays
        [](Terminal& t) { t.originMode_ = true; },
        [](Terminal& t) { t.originMode_ = false; },
        nullptr,
        [](Terminal& t) { t.originMode_ = false; }},
    {dec, 7, [](const Terminal& t) { return flag(t.wraparound()); },        // DECAWM
        [](Terminal& t) { t.setWraparound(true); },
        [](Terminal& t) { t.setWraparound(false); },
        nullptr,
        [](Terminal& t) { t.setWraparound(true); }},
    reported(dec, 8, ModeState::set),
    // Any of 9, 1000, 1002, 1003 switches reporting off, whichever was active.
    {dec, 9, [](const Terminal& t) { return flag(t.mouseMode() == MouseMode::x10); },
        [](Terminal& t) { t.setMouseMode(MouseMode::x10); },
        [](Terminal& t) { t.setMouseMode(MouseMode::off); }},
    reported(dec, 10, permanentlyReset),
    {dec, 12, [](const Terminal& t) { return flag(t.cursorBlink_); },
        [](Terminal& t) { t.cursorBlink_ = true; },
        [](Terminal& t) { t.cursorBlink_ = false; }},
    reported(dec, 13, ModeState::reset),
    reported(dec, 14, ModeState::reset),
    reported(dec, 18, ModeState::set),
    reported(dec, 19, ModeState::set),
    {dec, 25, [](const Terminal& t) { return flag(!t.cursorHidden_); },    // DECTCEM
        [](Terminal& t) { t.showCursor(); },
        [](Terminal& t) { t.hideCursor(); },
        nullptr,
        // DECSTR tells the host once, at its end, whatever the cursor was.
        [](Terminal& t) { t.cursorHidden_ = false; }},
    reported(dec, 30, ModeState::reset),
    {dec, 40, [](const Terminal& t) { return flag(t.allow80To132_); },
        [](Terminal& t) { t.allow80To132_ = true; },
        [](Terminal& t) { t.allow80To132_ = false; }},
    {dec, 41, [](const Terminal&) { return ModeState::reset; }, nullptr, nothing},
    reported(dec, 42, permanentlyReset),
    reported(dec, 44, permanentlyReset),
    // Reverse wraparound only while wraparound is on.
    {dec, 45, [](const Terminal& t) { return flag(t.reverseWraparound_); },
        [](Terminal& t) {
            if (t.wraparound())
                t.reverseWraparound_ = true;
        },
        [](Terminal& t) { t.reverseWraparound_ = false; },
        nullptr,
        [](Terminal& t) { t.reverseWraparound_ = false; }},
    reported(dec, 46, permanentlyReset),
    // The alternate content is kept by DECRST 47; a later DECSET 47 shows it again.
    {dec, 47, [](const Terminal& t) { return flag(t.isCurrentBufferAlternate()); },
        [](Terminal& t) {
            t.activateAltBuffer(std::nullopt);
            switchTail(t);
        },
        [](Terminal& t) {
            t.activateNormalBuffer(false);
            switchTail(t);
        }},
    {dec, 63, nullptr, nothing, nullptr},
    {dec, 66, [](const Terminal& t) { return flag(t.applicationKeypad_); }, // DECNKM
        [](Terminal& t) { t.applicationKeypad_ = true; },
        [](Terminal& t) { t.applicationKeypad_ = false; },
        nullptr,
        [](Terminal& t) { t.applicationKeypad_ = false; }},
    reported(dec, 67, permanentlyReset),
    {dec, 69, [](const Terminal& t) { return flag(t.marginMode()); },       // DECLRMM
        [](Terminal& t) { t.setMarginMode(true); },
        [](Terminal& t) { t.setMarginMode(false); }},
    reported(dec, 80, permanentlyReset),
    {dec, 95, [](const Terminal&) { return ModeState::set; }, nothing, nothing},
    {dec, 1000, [](const Terminal& t) { return flag(t.mouseMode() == MouseMode::vt200); },
        [](Terminal& t) { t.setMouseMode(MouseMode::vt200); },
        [](Terminal& t) { t.setMouseMode(MouseMode::off); }},
    reported(dec, 1001, ModeState::reset),
    {dec, 1002, [](const Terminal& t) { return flag(t.mouseMode() == MouseMode::buttonEventTracking); },
        [](Terminal& t) { t.setMouseMode(MouseMode::buttonEventTracking); },
        [](Terminal& t) { t.setMouseMode(MouseMode::off); }},
    {dec, 1003, [](const Terminal& t) { return flag(t.mouseMode() == MouseMode::anyEvent); },
        [](Terminal& t) { t.setMouseMode(MouseMode::anyEvent); },
        [](Terminal& t) { t.setMouseMode(MouseMode::off); }},
    // Setting focus events reports the focus at once; resetting sends nothing.
    {dec, 1004, [](const Terminal& t) { return flag(t.sendFocus_); },
        [](Terminal& t) {
            t.sendFocus_ = true;
            t.reportFocus();
        },
        [](Terminal& t) { t.sendFocus_ = false; }},
    // Resetting any mouse encoding falls back to the x10 one, whichever was active.
    {dec, 1005, [](const Terminal& t) { return flag(t.mouseProtocol_ == MouseProtocolEncoding::utf8); },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::utf8; },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::x10; }},
    {dec, 1006, [](const Terminal& t) { return flag(t.mouseProtocol_ == MouseProtocolEncoding::sgr); },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::sgr; },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::x10; }},
    {dec, 1007, [](const Terminal& t) { return flag(t.alternateScrollMode_); },
        [](Terminal& t) { t.alternateScrollMode_ = true; },
        [](Terminal& t) { t.alternateScrollMode_ = false; }},
    {dec, 1015, [](const Terminal& t) { return flag(t.mouseProtocol_ == MouseProtocolEncoding::urxvt); },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::urxvt; },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::x10; }},
    {dec, 1016, [](const Terminal& t) { return flag(t.mouseProtocol_ == MouseProtocolEncoding::sgrPixel); },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::sgrPixel; },
        [](Terminal& t) { t.mouseProtocol_ = MouseProtocolEncoding::x10; }},
    {dec, 1034, [](const Terminal&) { return permanentlyReset; }, nothing, nothing},
    {dec, 1047, nullptr,
        [](Terminal& t) {
            t.activateAltBuffer(std::nullopt);
            switchTail(t);
        },
        [](Terminal& t) {
            t.activateNormalBuffer(true);
            switchTail(t);
        }},
    {dec, 1048, nullptr,
        [](Terminal& t) { t.cmdSaveCursor(); },
        [](Terminal& t) { t.cmdRestoreCursor(); }},
    // The cursor saved here belongs to the normal screen: saved before the switch, restored
    // after the switch back.
    {dec, 1049, nullptr,
        [](Terminal& t) {
            t.cmdSaveCursor();
            t.activateAltBuffer(std::nullopt);
            switchTail(t);
        },
        [](Terminal& t) {
            t.activateNormalBuffer(true);
            t.cmdRestoreCursor();
            switchTail(t);
        }},
    {dec, 1243, [](const Terminal& t) { return flag(t.bidiArrowKeySwap_); },
        [](Terminal& t) { t.bidiArrowKeySwap_ = true; },
        [](Terminal& t) { t.bidiArrowKeySwap_ = false; },
        [](ModeRestore& r, bool value) { r.terminal.bidiArrowKeySwap_ = value; },
        [](Terminal& t) { t.bidiArrowKeySwap_ = t.options_.initialBidiArrowKeySwap; }},
    {dec, 2004, [](const Terminal& t) { return flag(t.bracketedPasteMode_); },
        [](Terminal& t) { t.bracketedPasteMode_ = true; },
        [](Terminal& t) { t.bracketedPasteMode_ = false; }},
    {dec, 2026, [](const Terminal& t) { return flag(t.synchronizedOutputActive_); },
        [](Terminal& t) { startSynchronizedOutput(t); },
        [](Terminal& t) { t.endSynchronizedOutput(); }},
    {dec, 2500, [](const Terminal& t) { return flag(t.currentBidiState_.boxMirroring); },
        [](Terminal& t) { setBoxMirroring(t, true); },
        [](Terminal& t) { setBoxMirroring(t, false); },
        [](ModeRestore& r, bool value) {
            r.bidiState.boxMirroring = value;
            r.changed.insert(BidiStateProperty::boxMirroring);
        }},
    {dec, 2501, [](const Terminal& t) { return flag(t.currentBidiState_.autodetectDirection); },
        [](Terminal& t) { setAutodetectDirection(t, true); },
        [](Terminal& t) { setAutodetectDirection(t, false); },
        [](ModeRestore& r, bool value) {
            r.bidiState.autodetectDirection = value;
            r.changed.insert(BidiStateProperty::autodetectDirection);
        }},
};
// clang-format on

namespace {

void logUnhandledSet(const Terminal& terminal, ModeKind kind, int par)
{
    if (terminal.silentLog())
        return;
    if (kind == ModeKind::ansi)
        logInfo(false, "Unhandled verbatim setMode with " + std::to_string(par) + " and []");
    else
        logInfo(false, "Unhandled DEC Private Mode Set (DECSET) with " + std::to_string(par));
}

void logUnhandledReset(const Terminal& terminal, ModeKind kind, int par)
{
    // An ANSI mode without a reset is dropped silently.
    if (terminal.silentLog() || kind == ModeKind::ansi)
        return;
    logInfo(false, "Unhandled DEC Private Mode Reset (DECRST) with " + std::to_string(par));
}

} // namespace

std::span<const ModeRow> modeTable()
{
    return ModeHelpers::modes;
}

const ModeRow* findMode(ModeKind kind, int number)
{
    for (const ModeRow& row : ModeHelpers::modes) {
        if (row.kind == kind && row.number == number)
            return &row;
    }
    return nullptr;
}

// ---------------------------------------------------------------- The mirrored flags

// The print path reads the buffers' copies and DECRQM the terminal's, so each flag changes
// in all three places at once.
void Terminal::setInsertMode(bool on)
{
    insertMode_ = on;
    normalBuffer_->insertMode = on;
    altBuffer_->insertMode = on;
}

void Terminal::setMarginMode(bool on)
{
    marginMode_ = on;
    normalBuffer_->marginMode = on;
    altBuffer_->marginMode = on;
}

void Terminal::setWraparound(bool on)
{
    wraparound_ = on;
    normalBuffer_->wraparound = on;
    altBuffer_->wraparound = on;
}

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
    if (!collect.empty() && !isPrivateCollect(collect)) {
        if (!silentLog_)
            logInfo(silentLog_, "Unhandled setMode (SM) with " + std::to_string(par) + " and " + listText(collect));
        return;
    }
    const ModeKind kind = collect.empty() ? ModeKind::ansi : ModeKind::dec;
    const ModeRow* row = findMode(kind, par);
    if (row != nullptr && row->set != nullptr)
        row->set(*this);
    else
        logUnhandledSet(*this, kind, par);
}

void Terminal::resetMode(int par, std::span<const std::uint8_t> collect)
{
    if (!collect.empty() && !isPrivateCollect(collect))
        return;
    const ModeKind kind = collect.empty() ? ModeKind::ansi : ModeKind::dec;
    const ModeRow* row = findMode(kind, par);
    if (row != nullptr && row->reset != nullptr)
        row->reset(*this);
    else
        logUnhandledReset(*this, kind, par);
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
    } else if (!silentLog_) {
        std::string message = "Unhandled CSI ";
        for (const std::uint8_t byte : collect)
            message += std::to_string(byte);
        message += " with pars=" + listText(pars);
        logInfo(silentLog_, message);
    }
}

void Terminal::softReset()
{
    // The bidi modes and the fallback direction go back together, as one change.
    ModeHelpers::storeBidiState(*this, options_.initialBidiState);
    applyBidiStateToCursorParagraph(BidiStatePropertySet::all());
    updateFullScreen();
    savedBidiPrivateModes_.clear();
    for (const ModeRow& row : ModeHelpers::modes) {
        if (row.softReset != nullptr)
            row.softReset(*this);
    }

    buffer_->setScrollTop(0);
    buffer_->setScrollBottom(rows_ - 1);
    curAttr_ = Attribute::defaultAttribute();
    curAttrChanged();
    buffer_->clearSavedState();
    resetSemanticPromptState(true);

    charset_ = nullptr;
    setgLevel(0);
    conformance_ = TerminalConformance::vt500;
    activeHyperlink_.reset();
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
        conformance_ = TerminalConformance::vt100;
        cc_.send8bit = false;
        return;
    case 62:
        conformance_ = TerminalConformance::vt200;
        break;
    case 63:
        conformance_ = TerminalConformance::vt300;
        break;
    case 64:
        conformance_ = TerminalConformance::vt400;
        break;
    default:
        conformance_ = TerminalConformance::vt500;
        break;
    }
    if (level >= 62 && pars.size() > 1)
        cc_.send8bit = pars[1] == 0 || pars[1] == 2;
}

// ---------------------------------------------------------------- DECRQM

void Terminal::cmdRequestMode(std::span<const int> pars, bool isPrivate)
{
    const int ps = pars.empty() ? 0 : pars[0];
    const ModeRow* row = findMode(isPrivate ? ModeKind::dec : ModeKind::ansi, ps);
    const ModeState state = row != nullptr && row->state != nullptr ? row->state(*this) : ModeState::notRecognized;
    sendResponse(cc_.csi(), isPrivate ? "?" : "", std::to_string(ps), ";",
                 std::to_string(static_cast<int>(state)), "$y");
}

// ---------------------------------------------------------------- XTSAVE / XTRESTORE

void Terminal::cmdSavePrivateModes(std::span<const int> pars)
{
    for (const int par : pars) {
        const ModeRow* row = findMode(ModeKind::dec, par);
        if (row != nullptr && row->restore != nullptr)
            savedBidiPrivateModes_[par] = row->state(*this) == ModeState::set;
    }
}

void Terminal::cmdRestorePrivateModes(std::span<const int> pars)
{
    ModeRestore restore{*this, currentBidiState_, {}};
    for (const int par : pars) {
        const auto saved = savedBidiPrivateModes_.find(par);
        if (saved == savedBidiPrivateModes_.end())
            continue;
        if (const ModeRow* row = findMode(ModeKind::dec, par); row != nullptr && row->restore != nullptr)
            row->restore(restore, saved->second);
    }
    // One bidi change for everything restored, so the paragraph is rewritten once.
    if (!restore.changed.isEmpty())
        ModeHelpers::bidiChange(*this, restore.bidiState, restore.changed);
}

// ---------------------------------------------------------------- Bidi paragraph of the cursor

void Terminal::applyBidiStateToCursorParagraph(BidiStatePropertySet changed)
{
    // Only a cursor at the start of a paragraph's first row takes the change into the
    // existing lines; elsewhere only the defaults for new lines change.
    if (buffer_->x() != 0)
        return;
    CircularBufferLineList& lines = buffer_->lines();
    const long long first = static_cast<long long>(buffer_->yBase()) + buffer_->y();
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
        state.supportMode = currentBidiState_.supportMode;
    if (changed.contains(BidiStateProperty::autodetectDirection))
        state.autodetectDirection = currentBidiState_.autodetectDirection;
    if (changed.contains(BidiStateProperty::fallbackDirection))
        state.fallbackDirection = currentBidiState_.fallbackDirection;
    if (changed.contains(BidiStateProperty::boxMirroring))
        state.boxMirroring = currentBidiState_.boxMirroring;
    for (int row = r; row <= last; ++row)
        lines[row]->setBidiState(state); // raises the line's generation
}

} // namespace corvantix

// SM / RM, DECSET / DECRST, DECRQM, the screen switches, DECSTR, DECSCL, XTSAVE / XTRESTORE
// and the bidi mode changes.
#include "emulator/TerminalModes.h"

#include "TerminalTestSupport.h"

#include <set>

namespace corvantix {
namespace {

using Fixture = TerminalFixture;

std::string decrqmReply(bool isPrivate, int mode, int state)
{
    return std::string("\x1b[") + (isPrivate ? "?" : "") + std::to_string(mode) + ";" + std::to_string(state) + "$y";
}

std::string decrqmQuery(bool isPrivate, int mode)
{
    return std::string("\x1b[") + (isPrivate ? "?" : "") + std::to_string(mode) + "$p";
}

struct SwitchableMode {
    bool isPrivate;
    int mode;
    const char* prepare; // fed first
    int stateAfterSet;
    int stateAfterReset;
};

TEST(ModesTest, SetAndResetAreReportedByDecrqm)
{
    std::vector<SwitchableMode> cases;
    for (const int mode : {4, 20})
        cases.push_back({false, mode, "", 1, 2});
    // One mode per flag the answer is read from.
    for (const int mode : {1, 6, 25, 45, 47, 66, 69, 1000, 1004, 1006, 1243, 2026, 2500})
        cases.push_back({true, mode, "", 1, 2});
    // Reverse wraparound is only taken while autowrap is on.
    cases.push_back({true, 45, "\x1b[?7l", 2, 2});
    for (const SwitchableMode& c : cases) {
        SCOPED_TRACE((c.isPrivate ? "?" : "") + std::to_string(c.mode) + " after " + testing::PrintToString(std::string(c.prepare)));
        Fixture f;
        const std::string prefix = std::string("\x1b[") + (c.isPrivate ? "?" : "") + std::to_string(c.mode);
        feed(*f.terminal, c.prepare);
        feed(*f.terminal, prefix + "h");
        EXPECT_EQ(f.reply(decrqmQuery(c.isPrivate, c.mode)), decrqmReply(c.isPrivate, c.mode, c.stateAfterSet));
        feed(*f.terminal, prefix + "l");
        EXPECT_EQ(f.reply(decrqmQuery(c.isPrivate, c.mode)), decrqmReply(c.isPrivate, c.mode, c.stateAfterReset));
    }
}

TEST(ModesTest, EveryModeTheTableSwitchesIsReportedSwitched)
{
    // Rows whose answer does not follow the switch: fixed answers, and DECCOLM, whose set
    // ends in a full reset that also withdraws the permission to reset it.
    const std::set<std::pair<ModeKind, int>> notFollowing = {
        {ModeKind::ansi, 2}, {ModeKind::dec, 3}, {ModeKind::dec, 95}, {ModeKind::dec, 1034}};
    int checked = 0;
    for (const ModeRow& row : modeTable()) {
        if (row.state == nullptr || row.set == nullptr || row.reset == nullptr
            || notFollowing.contains({row.kind, row.number}))
            continue;
        const bool isPrivate = row.kind == ModeKind::dec;
        const std::string prefix = std::string("\x1b[") + (isPrivate ? "?" : "") + std::to_string(row.number);
        SCOPED_TRACE(prefix.substr(1));
        Fixture f;
        feed(*f.terminal, prefix + "h");
        EXPECT_EQ(f.reply(decrqmQuery(isPrivate, row.number)), decrqmReply(isPrivate, row.number, 1));
        feed(*f.terminal, prefix + "l");
        EXPECT_EQ(f.reply(decrqmQuery(isPrivate, row.number)), decrqmReply(isPrivate, row.number, 2));
        ++checked;
    }
    EXPECT_GE(checked, 30) << "the filter above must not skip the switchable rows";
}

TEST(ModesTest, DecrqmFixedAndUnknownStates)
{
    struct Case { const char* prepare; bool isPrivate; int mode; int state; };
    const std::vector<Case> cases = {
        // permanently set (3), permanently reset (4), fixed, unknown; then initial values
        {"", false, 0, 0}, {"", false, 1, 4}, {"", false, 2, 2}, {"", false, 12, 1}, {"", false, 9999, 0},
        {"", true, 2, 1},  {"", true, 8, 1},  {"", true, 10, 4}, {"", true, 1001, 2}, {"", true, 1047, 0},
        {"", true, 9999, 0}, {"", true, 7, 1}, {"", true, 2501, 1},
        // 1049 is answered as not recognized even while the alternate screen it chose is shown.
        {"\x1b[?1049h", true, 1049, 0},
        {"\x1b[?1049h", true, 47, 1},
        {"\x1b=", true, 66, 1}, // ESC = sets the keypad mode too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.isPrivate ? "?" : "") + std::to_string(c.mode));
        Fixture f;
        feed(*f.terminal, c.prepare);
        EXPECT_EQ(f.reply(decrqmQuery(c.isPrivate, c.mode)), decrqmReply(c.isPrivate, c.mode, c.state));
    }
    // Only the first parameter is answered, and 8-bit controls change the introducer.
    Fixture f;
    EXPECT_EQ(f.reply("\x1b[?2004;1$p"), "\x1b[?2004;2$y");
    feed(*f.terminal, "\x1b[62;2\"p\x1b[?2004h");
    EXPECT_EQ(f.reply("\x1b[?2004$p"), "\x9b?2004;1$y");
    EXPECT_EQ(f.reply("\x1b[12$p"), "\x9b"
                                    "12;1$y");
}

TEST(ModesTest, MirroredFlagsAreWrittenToTheTerminalAndBothBuffers)
{
    struct Case { const char* on; const char* off; bool (Terminal::*terminalFlag)() const; bool Buffer::*bufferFlag; };
    const std::vector<Case> cases = {
        {"\x1b[4h", "\x1b[4l", &Terminal::insertMode, &Buffer::insertMode},
        {"\x1b[?69h", "\x1b[?69l", &Terminal::marginMode, &Buffer::marginMode},
        {"\x1b[?7h", "\x1b[?7l", &Terminal::wraparound, &Buffer::wraparound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.on)));
        Fixture f;
        Terminal& t = *f.terminal;
        for (const bool onAlternate : {false, true}) {
            feed(t, onAlternate ? "\x1b[?1049h" : "");
            feed(t, c.on);
            EXPECT_TRUE((t.*c.terminalFlag)());
            EXPECT_TRUE((t.normalBuffer()).*c.bufferFlag);
            EXPECT_TRUE((t.altBuffer()).*c.bufferFlag);
            feed(t, c.off);
            EXPECT_FALSE((t.*c.terminalFlag)());
            EXPECT_FALSE((t.normalBuffer()).*c.bufferFlag);
            EXPECT_FALSE((t.altBuffer()).*c.bufferFlag);
        }
    }
}

TEST(ModesTest, FocusReportingSendsTheCurrentStateAtOnce)
{
    Fixture f;
    EXPECT_EQ(f.reply("\x1b[?1004h"), "\x1b[I");
    EXPECT_EQ(f.reply("\x1b[?1004l"), "");
    f.delegate.clear();
    f.terminal->setFocusState(false);
    EXPECT_EQ(f.delegate.sent, "") << "focus reporting is off";
    EXPECT_EQ(f.reply("\x1b[?1004h"), "\x1b[O");
    f.delegate.clear();
    f.terminal->setFocusState(true);
    EXPECT_EQ(f.delegate.sent, "\x1b[I");
    feed(*f.terminal, "\x1b[62;2\"p");
    EXPECT_EQ(f.reply("\x1b[?1004h"), "\x9bI");
}

TEST(ModesTest, ColumnModeNeedsPermissionAndEndsInAFullReset)
{
    Fixture f;
    Terminal& t = *f.terminal;
    feed(t, "\x1b[?3h");
    EXPECT_EQ(t.cols(), 80);
    EXPECT_EQ(f.delegate.count("sizeChanged"), 0);
    feed(t, "\x1b[?40h\x1b[4h");
    f.delegate.clear();
    feed(t, "\x1b[?3h");
    EXPECT_EQ(t.cols(), 132);
    EXPECT_EQ(t.buffer().cols(), 132);
    EXPECT_EQ(f.delegate.count("sizeChanged"), 1);
    EXPECT_EQ(f.delegate.count("bufferActivated"), 1);
    // Reset before the host hears the new size.
    EXPECT_LT(std::find(f.delegate.events.begin(), f.delegate.events.end(), "bufferActivated"),
              std::find(f.delegate.events.begin(), f.delegate.events.end(), "sizeChanged"));
    EXPECT_FALSE(t.insertMode());
    EXPECT_FALSE(t.allow80To132()); // reset too
    EXPECT_EQ(f.reply("\x1b[?3$p"), "\x1b[?3;1$y");
    feed(t, "\x1b[?3l"); // permission was reset
    EXPECT_EQ(t.cols(), 132);
    feed(t, "\x1b[?40h");
    f.delegate.clear();
    feed(t, "\x1b[?3l");
    EXPECT_EQ(t.cols(), 80);
    EXPECT_EQ(t.rows(), 25);
    // The host hears the new size before the reset.
    EXPECT_LT(std::find(f.delegate.events.begin(), f.delegate.events.end(), "sizeChanged"),
              std::find(f.delegate.events.begin(), f.delegate.events.end(), "bufferActivated"));
    EXPECT_EQ(f.reply("\x1b[?3$p"), "\x1b[?3;2$y");
}

TEST(ModesTest, Mode47KeepsTheAlternateContentAnd1047DiscardsIt)
{
    struct Case { const char* leave; std::vector<std::string> shownAgain; };
    const std::vector<Case> cases = {
        {"\x1b[?47l", {"alt", "", ""}},
        {"\x1b[?1047l", {"", "", ""}},
        {"\x1b[?1049l", {"", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.leave)));
        Fixture f(10, 3);
        Terminal& t = *f.terminal;
        feed(t, "main");
        feed(t, "\x1b[?47h\x1b[Halt");
        feed(t, c.leave);
        EXPECT_EQ(screenLine(t, 0), "main");
        feed(t, "\x1b[?47h");
        EXPECT_EQ(screenLines(t), c.shownAgain);
    }
}

TEST(ModesTest, SoftResetResetsWhatItShouldAndNothingElse)
{
    TerminalOptions options;
    options.convertEol = true;
    Fixture f(options);
    Terminal& t = *f.terminal;
    test::RecordingDelegate& delegate = f.delegate;
    // Everything DECSTR resets, moved away from its initial value.
    feed(t, "\x1b[7;6H\x1b" "7\x1b[3g\x1b[1G\x1bH\x1b[3G\x1bH");
    feed(t, "\x1b[?25l\x1b[?6h\x1b[4h\x1b[?45h\x1b[?7l\x1b[?66h\x1b[?1h");
    feed(t, "\x1b[3;20r\x1b[1;31m\x1b[?1243h\x1b[?2500h\x1b[8l\x1b[?2500s\x1b[20l");
    feed(t, "\x1b[61\"p");
    // And what it keeps.
    feed(t, "\x1b[?69h\x1b[5;40s\x1b[?1000;1006h\x1b[?2004h\x1b[?1004h\x1b[?5h\x1b G");
    const std::vector<bool> keptTabStops = t.buffer().tabStops;
    ASSERT_TRUE(keptTabStops[0] && keptTabStops[2] && !keptTabStops[8]);
    delegate.clear();
    feed(t, "\x1b[!p");
    EXPECT_FALSE(t.cursorHidden() || t.originMode() || t.reverseWraparound() || t.applicationKeypad() || t.applicationCursor() || t.bidiArrowKeySwap());
    EXPECT_FALSE(t.insertMode() || t.normalBuffer().insertMode || t.altBuffer().insertMode);
    EXPECT_TRUE(t.wraparound() && t.normalBuffer().wraparound && t.altBuffer().wraparound);
    const Buffer& b = t.buffer();
    EXPECT_EQ(std::vector<int>({b.scrollTop(), b.scrollBottom(), b.savedX, b.savedY, b.marginLeft(), b.marginRight()}), std::vector<int>({0, 24, 0, 0, 0, 79}));
    EXPECT_EQ(t.curAttr(), Attribute::defaultAttribute());
    EXPECT_TRUE(t.savedBidiPrivateModes().empty());
    EXPECT_EQ(t.currentBidiState(), BidiPresentationState{});
    EXPECT_TRUE(t.normalBuffer().defaultBidiState == t.currentBidiState() && t.altBuffer().defaultBidiState == t.currentBidiState());
    EXPECT_EQ(t.conformance(), TerminalConformance::vt500);
    EXPECT_TRUE(t.lineFeedMode()); // the options' value
    EXPECT_TRUE(t.charset() == nullptr && t.gLevel() == 0);
    EXPECT_EQ(delegate.count("showCursor"), 1);
    // Kept.
    EXPECT_TRUE(t.marginMode() && t.normalBuffer().marginMode && t.altBuffer().marginMode);
    EXPECT_TRUE(t.mouseMode() == MouseMode::vt200 && t.mouseProtocol() == MouseProtocolEncoding::sgr);
    EXPECT_TRUE(t.bracketedPasteMode() && t.sendFocus() && t.reverseColors() && t.cc().send8bit);
    EXPECT_EQ(t.buffer().tabStops, keptTabStops);
    EXPECT_EQ(delegate.count("mouseModeChanged"), 0);
    EXPECT_EQ(delegate.count("colorChanged(none)"), 1); // the palette reset only
}

TEST(ModesTest, Mode1048SavesAndRestoresTheCursor)
{
    Fixture f;
    feed(*f.terminal, "\x1b[3;7H\x1b[?1048h\x1b[10;1Hx\x1b[?1048l");
    EXPECT_EQ(cursor(*f.terminal), (CursorPosition{6, 2}));
    EXPECT_FALSE(f.terminal->isCurrentBufferAlternate());
}

TEST(ModesTest, ConformanceLevelAndControls)
{
    struct Case { const char* input; TerminalConformance conformance; bool send8bit; };
    const std::vector<Case> cases = {
        {"\x1b[62;2\"p", TerminalConformance::vt200, true},
        {"\x1b[63;1\"p", TerminalConformance::vt300, false},
        {"\x1b[62;2\"p\x1b[61;2\"p", TerminalConformance::vt100, false},
        {"\x1b[62;2\"p\x1b[64\"p", TerminalConformance::vt400, true}, // one parameter keeps the controls
        {"\x1b[62;2\"p\x1b[62;1\"p", TerminalConformance::vt200, false},
        {"\x1b[61\"p\x1b[!p", TerminalConformance::vt500, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        Fixture f;
        feed(*f.terminal, c.input);
        EXPECT_EQ(f.terminal->conformance(), c.conformance);
        EXPECT_EQ(f.terminal->cc().send8bit, c.send8bit);
    }
}

TEST(ModesTest, BidiModesAndTheirSaveAndRestoreAreMirroredIntoBothBufferDefaults)
{
    struct Case { const char* input; BidiPresentationState expected; bool arrowKeySwap = false; };
    const BidiPresentationState initial;
    const BidiPresentationState mirroring{.boxMirroring = true};
    const std::vector<Case> cases = {
        {"\x1b[8l", {.supportMode = BidiSupportMode::explicit_}},
        {"\x1b[?2500h", mirroring},
        {"\x1b[?2500h\x1b[?2501l\x1b[?2500l", {.autodetectDirection = false}},
        {"\x1b[?2500h\x1b[?2500s\x1b[?2500l\x1b[?2500r", mirroring},
        {"\x1b[?2501;1243;7s\x1b[?2501l\x1b[?1243h\x1b[?2501;1243;7r", initial},
        {"\x1b[?2500s\x1b[?2500h\x1b[?2501r", mirroring}, // restoring another mode
        // Values stay saved after a restore.
        {"\x1b[?1243h\x1b[?1243s\x1b[?1243l\x1b[?1243r\x1b[?1243l\x1b[?1243r", initial, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.input)));
        Fixture f;
        Terminal& t = *f.terminal;
        feed(t, c.input);
        EXPECT_EQ(t.currentBidiState(), c.expected);
        EXPECT_EQ(t.bidiArrowKeySwap(), c.arrowKeySwap);
        EXPECT_EQ(t.normalBuffer().defaultBidiState, c.expected);
        EXPECT_EQ(t.altBuffer().defaultBidiState, c.expected);
    }
    // A bidi change redraws the whole screen.
    Fixture f;
    f.terminal->clearUpdateRange();
    feed(*f.terminal, "\x1b[8l");
    EXPECT_EQ(f.terminal->getUpdateRange(), (UpdateRange{0, f.terminal->rows()}));
}

TEST(ModesTest, BidiChangeRewritesOnlyTheParagraphStartingAtTheCursor)
{
    // Rows 1 and 2 continue row 0; row 3 starts a paragraph. changedRows: rows 0..3.
    struct Case { int x, y; std::vector<bool> changedRows; };
    const std::vector<Case> cases = {
        {0, 0, {true, true, true, false}}, {0, 3, {false, false, false, true}},
        {5, 0, {false, false, false, false}}, // not at the start of the row
        {0, 1, {false, false, false, false}}, // a continuation row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("cursor " + std::to_string(c.x) + "," + std::to_string(c.y));
        Fixture f(20, 5);
        Terminal& t = *f.terminal;
        t.buffer().lines()[1]->setIsWrapped(true);
        t.buffer().lines()[2]->setIsWrapped(true);
        std::vector<std::uint64_t> generations;
        for (int row = 0; row < 4; ++row) generations.push_back(t.buffer().lines()[row]->generation());
        moveTo(t, c.x, c.y);
        feed(t, "\x1b[?2500h");
        for (int row = 0; row < 4; ++row) {
            const BufferLine& line = *t.buffer().lines()[row];
            EXPECT_EQ(line.bidiState().boxMirroring, c.changedRows[row]) << row;
            EXPECT_EQ(line.generation() != generations[row], c.changedRows[row]) << row;
        }
    }
}

} // namespace
} // namespace corvantix

#include "emulator/ControlFunctions.h"
#include "emulator/Terminal.h"

#include "RecordingDelegate.h"
#include "engine/platform/LogCapture.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace corvantix {
namespace {

using test::RecordingDelegate;

// A terminal whose dispatch trace is recorded.
struct Traced {
    RecordingDelegate host;
    Terminal terminal{&host};
    std::vector<std::string> calls;

    Traced()
    {
        terminal.dispatchTrace = [this](std::string_view name) { calls.emplace_back(name); };
        host.clear();
    }

    // Feeds the bytes and answers the handlers they reached (and clears the record).
    std::vector<std::string> feed(std::string_view bytes)
    {
        calls.clear();
        terminal.feed(bytes);
        return calls;
    }

    // Feeds with diagnostics on and answers what was logged.
    std::string feedLogged(std::string_view bytes)
    {
        terminal.setSilentLog(false);
        LogCapture log;
        feed(bytes);
        terminal.setSilentLog(true);
        return log.take();
    }
};

struct Route {
    std::string bytes;
    std::vector<std::string> handlers;
};

std::string csi(std::string_view body)
{
    return "\x1b[" + std::string(body);
}

std::string osc(std::string_view body)
{
    return "\x1b]" + std::string(body) + "\x07";
}

void expectRoutes(const std::vector<Route>& routes)
{
    for (const Route& route : routes) {
        Traced traced;
        EXPECT_EQ(traced.feed(route.bytes), route.handlers) << "bytes: " << ::testing::PrintToString(route.bytes);
    }
}

TEST(DispatchExecute, ControlsReachTheirHandlers)
{
    expectRoutes({
        {"\x07", {"bell"}},
        {"\x08", {"cmdBackspace"}},
        {"\x09", {"cmdTab"}},
        {"\x0a", {"cmdLineFeed"}},
        {"\x0b", {"cmdLineFeed"}},
        {"\x0c", {"cmdLineFeed"}},
        {"\x0d", {"cmdCarriageReturn"}},
        {"\x0e", {"cmdShiftOut"}},
        {"\x0f", {"cmdShiftIn"}},
        // C1 controls are executed only inside a sequence; in ground they are text.
        {"\x1b[\x84", {"cmdIndex"}},
        {"\x1b[\x85", {"cmdNextLine"}},
        {"\x1b[\x88", {"cmdTabSet"}},
        {"\x1b[\x81", {}},
        {"\x01\x1a\x1f", {}},
    });

    Traced traced;
    traced.feed("\x07");
    EXPECT_EQ(traced.host.events, std::vector<std::string>{"bell"});
}

TEST(DispatchCsi, FinalBytesReachTheirHandlers)
{
    expectRoutes({
        {csi("@"), {"cmdInsertChars"}},
        {csi("A"), {"cmdCursorUp"}},
        {csi("B"), {"cmdCursorDown"}},
        {csi("C"), {"cmdCursorForward"}},
        {csi("D"), {"cmdCursorBackward"}},
        {csi("E"), {"cmdCursorNextLine"}},
        {csi("F"), {"cmdCursorPrecedingLine"}},
        {csi("G"), {"cmdCursorCharAbsolute"}},
        {csi("H"), {"cmdCursorPosition"}},
        {csi("I"), {"cmdCursorForwardTab"}},
        {csi("J"), {"cmdEraseInDisplay"}},
        {csi("?J"), {"cmdEraseInDisplay"}},
        {csi("K"), {"cmdEraseInLine"}},
        {csi("L"), {"cmdInsertLines"}},
        {csi("M"), {"cmdDeleteLines"}},
        {csi("P"), {"cmdDeleteChars"}},
        {csi("S"), {"cmdScrollUp"}},
        {csi("?S"), {"cmdScrollUp"}},
        {csi("3 S"), {"cmdSelectPresentationDirection"}},
        {csi("T"), {"csiT"}},
        {csi(">T"), {"cmdXtermTitleModeReset"}},
        {csi("?T"), {}},
        {csi("X"), {"cmdEraseChars"}},
        {csi("Z"), {"cmdCursorBackwardTab"}},
        {csi("`"), {"cmdCharPosAbsolute"}},
        {csi("a"), {"cmdHPositionRelative"}},
        {csi("b"), {"cmdRepeatPrecedingCharacter"}},
        {csi("c"), {"cmdDeviceAttributes"}},
        {csi(">c"), {"cmdDeviceAttributes"}},
        {csi("d"), {"cmdLinePosAbsolute"}},
        {csi("e"), {"cmdVPositionRelative"}},
        {csi("f"), {"cmdHVPosition"}},
        {csi("g"), {"cmdTabClear"}},
        {csi("?25h"), {"cmdSetMode"}},
        {csi("2 k"), {"cmdSelectCharacterPath"}},
        {csi("k"), {}},
        {csi("?25l"), {"cmdResetMode"}},
        {csi("5;;7m"), {"cmdCharAttributes"}},
        {csi("6n"), {"cmdDeviceStatus"}},
        {csi("!p"), {"cmdCsiP"}},
        {csi(">q"), {"cmdReportVersion"}},
        {csi("5 q"), {"cmdSetCursorStyle"}},
        {csi("q"), {"cmdSetCursorStyle"}},
        {csi("?2500r"), {"cmdRestorePrivateModes"}},
        {csi("1;5r"), {"cmdSetScrollRegion"}},
        {csi(">1s"), {"cmdSetShiftEscape"}},
        {csi("?2500s"), {"cmdSavePrivateModes"}},
        {csi("s"), {"cmdSaveCursor"}},
        {csi("!s"), {}},
        {csi("18t"), {"csit"}},
        {csi(">2t"), {"cmdXtermTitleModeSet"}},
        {csi("?t"), {}},
        {csi(">1u"), {"cmdCsiU"}},
        {csi("u"), {"cmdCsiU", "cmdRestoreCursor"}}, // the keyboard handler did not take it
        {csi("$v"), {"cmdDECCRA"}},
        {csi("$x"), {"cmdDECFRA"}},
        {csi("*y"), {"cmdDECRQCRA"}},
        {csi("$z"), {"cmdDECERA"}},
        {csi("${"), {"cmdDECSERA"}},
        {csi("'}"), {"cmdInsertColumns"}},
        {csi("'~"), {"cmdDeleteColumns"}},
    });
}

// The bytes that reach a row; none for rows only a guard selects.
std::optional<std::string> bytesOfRow(const ControlFunction& row)
{
    if (row.when != nullptr || row.code == ControlFunction::anyCode)
        return std::nullopt;
    // "!" stands for intermediates that no row of the table names.
    const std::string intermediates = row.intermediates.any ? "!" : std::string(row.intermediates.bytes);
    const char code = static_cast<char>(row.code);
    switch (row.kind) {
    case ControlKind::execute:
        // C1 controls are executed only inside a sequence.
        return row.code < 0x80 ? std::string(1, code) : "\x1b[" + std::string(1, code);
    case ControlKind::esc:
        return "\x1b" + intermediates + code;
    case ControlKind::csi:
        return "\x1b[" + intermediates + code;
    case ControlKind::dcs:
        return "\x1bP" + intermediates + code + "\x1b\\";
    case ControlKind::osc:
        return osc(std::to_string(row.code) + ";x");
    }
    return std::nullopt;
}

TEST(DispatchTable, EveryRowIsReachedByItsOwnBytes)
{
    // A row placed after a broader row of the same final byte would never be reached.
    for (const ControlFunction& row : controlFunctionTable()) {
        const std::optional<std::string> bytes = bytesOfRow(row);
        if (!bytes)
            continue;
        Traced traced;
        const std::vector<std::string> calls = traced.feed(*bytes);
        if (row.name.empty()) {
            EXPECT_TRUE(calls.empty()) << ::testing::PrintToString(*bytes);
            continue;
        }
        ASSERT_FALSE(calls.empty()) << row.name;
        EXPECT_EQ(calls.back(), row.name) << ::testing::PrintToString(*bytes);
    }
}

TEST(DispatchCsi, SaveCursorBecomesSetMarginsInMarginMode)
{
    Traced traced;
    traced.terminal.feed(csi("?69h"));
    EXPECT_EQ(traced.feed(csi("2;10s")), std::vector<std::string>{"cmdSetMargins"});
}

TEST(DispatchCsi, UnusedFinalBytesReachTheFallback)
{
    for (const char final : std::string("NOQRUVWY[\\]^_ijow|")) {
        Traced traced;
        const std::string output = traced.feedLogged(csi(std::string("1;2") + final));
        EXPECT_TRUE(traced.calls.empty()) << final;
        EXPECT_EQ(output, "Info: Corvantix: Unknown CSI Code (collect=[] code=" + std::string(1, final)
                              + " pars=[1, 2])\n");
    }

    Traced traced;
    EXPECT_EQ(traced.feedLogged(csi("?1t")), "Info: Unhandled csiT [63]\n");
    EXPECT_EQ(traced.feedLogged(csi("?T")), "") << "CSI T with other intermediates is dropped silently";
}

TEST(DispatchCsi, InlineHandlersSetTitleModesAndShiftCapture)
{
    Traced traced;
    Terminal& t = traced.terminal;
    traced.feed(csi(">1;3;9t"));
    EXPECT_TRUE(t.xtermTitleQueryHex);
    EXPECT_TRUE(t.xtermTitleQueryUtf);
    EXPECT_FALSE(t.xtermTitleSetHex);
    EXPECT_FALSE(t.xtermTitleSetUtf);
    traced.feed(csi(">0;2t"));
    traced.feed(csi(">3T"));
    EXPECT_TRUE(t.xtermTitleSetHex);
    EXPECT_TRUE(t.xtermTitleSetUtf);
    EXPECT_TRUE(t.xtermTitleQueryHex);
    EXPECT_FALSE(t.xtermTitleQueryUtf);

    traced.feed(csi(">1s"));
    EXPECT_TRUE(t.mouseShiftCapture);
    traced.feed(csi(">5s"));
    EXPECT_TRUE(t.mouseShiftCapture) << "other values change nothing";
    traced.feed(csi(">s"));
    EXPECT_FALSE(t.mouseShiftCapture);
}

TEST(DispatchEsc, FinalBytesAndDesignationsReachTheirHandlers)
{
    expectRoutes({
        {"\x1b" "6", {"indexColumn"}},
        {"\x1b" "7", {"cmdSaveCursor"}},
        {"\x1b" "8", {"cmdRestoreCursor"}},
        {"\x1b" "9", {"indexColumn"}},
        {"\x1b=", {"cmdKeypadApplicationMode"}},
        {"\x1b>", {"cmdKeypadNumericMode"}},
        {"\x1b" "D", {"cmdIndex"}},
        {"\x1b" "E", {"cmdNextLine"}},
        {"\x1bH", {"cmdTabSet"}},
        {"\x1bM", {"reverseIndex"}},
        {"\x1b" "c", {"cmdReset"}},
        {"\x1bn", {"setgLevel"}},
        {"\x1bo", {"setgLevel"}},
        {"\x1b|", {"setgLevel"}},
        {"\x1b}", {"setgLevel"}},
        {"\x1b~", {"setgLevel"}},
        {"\x1b\\", {}},
        {"\x1b(0", {"designateCharset"}},
        {"\x1b)B", {"designateCharset"}},
        {"\x1b*A", {"designateCharset"}},
        {"\x1b+4", {"designateCharset"}},
        {"\x1b-K", {"designateCharset"}},
        {"\x1b.=", {"designateCharset"}},
        {"\x1b/2", {"designateCharset"}},
        {"\x1b#3", {"cmdSetDoubleHeightTop"}},
        {"\x1b#4", {"cmdSetDoubleHeightBottom"}},
        {"\x1b#5", {"cmdSingleWidth"}},
        {"\x1b#6", {"cmdDoubleWidthSingleHeight"}},
        {"\x1b#8", {"cmdDECALN"}},
        {"\x1b%@", {"cmdSelectDefaultCharset"}},
        {"\x1b%G", {"cmdSelectDefaultCharset"}},
        {"\x1b F", {"cmdSet7BitControls"}},
        {"\x1b G", {"cmdSet8BitControls"}},
    });
}

TEST(DispatchEsc, UnknownSequencesReachTheFallback)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\x1bZ", "Info: Corvantix: Unknown ESC Code: ESC + Z txt=[]\n"},
        {"\x1bN", "Info: Corvantix: Unknown ESC Code: ESC + N txt=[]\n"},
        {"\x1b(X", "Info: Corvantix: Unknown ESC Code: ESC + X txt=[40]\n"},
        {"\x1b,A", "Info: Corvantix: Unknown ESC Code: ESC + A txt=[44]\n"},
        {"\x1b#9", "Info: Corvantix: Unknown ESC Code: ESC + 9 txt=[35]\n"},
        {"\x1b%A", "Info: Corvantix: Unknown ESC Code: ESC + A txt=[37]\n"},
        {"\x1b X", "Info: Corvantix: Unknown ESC Code: ESC + X txt=[32]\n"},
        {"\x1b((0", "Info: Corvantix: Unknown ESC Code: ESC + 0 txt=[40, 40]\n"},
    };
    for (const auto& [bytes, logged] : cases) {
        Traced traced;
        EXPECT_EQ(traced.feedLogged(bytes), logged) << ::testing::PrintToString(bytes);
        EXPECT_TRUE(traced.calls.empty());
    }
}

TEST(DispatchEsc, ControlFormKeypadAndFullReset)
{
    Traced traced;
    Terminal& t = traced.terminal;
    traced.feed("\x1b G");
    EXPECT_TRUE(t.cc.send8bit);
    traced.feed("\x1b F");
    EXPECT_FALSE(t.cc.send8bit);
    traced.feed("\x1b=");
    EXPECT_TRUE(t.applicationKeypad);
    traced.feed("\x1b>");
    EXPECT_FALSE(t.applicationKeypad);

    traced.feed("\x1b G\x1b=");
    traced.host.clear();
    traced.feed("\x1b" "c");
    EXPECT_FALSE(t.cc.send8bit);
    EXPECT_FALSE(t.applicationKeypad);
    EXPECT_EQ(traced.host.count("bufferActivated"), 1);
}

TEST(DispatchExecute, TabMovesToTheNextStop)
{
    Traced traced;
    traced.feed("\t");
    EXPECT_EQ(traced.terminal.getCursorLocation(), std::make_pair(8, 0));
    traced.feed("\t\t\t\t\t\t\t\t\t\t");
    EXPECT_EQ(traced.terminal.getCursorLocation(), std::make_pair(79, 0)) << "stops at the last column";
}

TEST(DispatchOsc, NumbersReachTheirHandlers)
{
    expectRoutes({
        {osc("0;t"), {"setTitle"}},
        {osc("2;t"), {"setTitle"}},
        {osc("1;t"), {"setIconTitle"}},
        {osc("4;1;?"), {"oscSetColors"}},
        {osc("6;file:///x"), {"oscSetCurrentDocument"}},
        {osc("7;file:///x"), {"oscSetCurrentDirectory"}},
        {osc("8;;http://x"), {"oscHyperlink"}},
        {osc("10;?"), {"oscDynamicColor"}},
        {osc("11;?"), {"oscDynamicColor"}},
        {osc("12;?"), {"oscDynamicColor"}},
        {osc("52;c;?"), {"oscClipboard"}},
        {osc("104"), {"oscResetColors"}},
        {osc("112"), {"setCursorColor"}},
        {osc("133;A"), {"oscSemanticPrompt"}},
        {osc("777;notify;a;b"), {"oscNotify"}},
        {osc("1337;File=x"), {"oscInlineContent"}},
        {"\x1b_Ga=q\x1b\\", {"handleKittyGraphicsCommand"}},
    });
}

TEST(DispatchOsc, TitlesAreStoredAndAnnounced)
{
    Traced traced;
    Terminal& t = traced.terminal;
    traced.feed(osc("0;first"));
    EXPECT_EQ(t.terminalTitle, "first");
    traced.feed("\x1b]2;second\x1b\\");
    EXPECT_EQ(t.terminalTitle, "second");
    traced.feed(osc("1;icon"));
    EXPECT_EQ(t.iconTitle, "icon");
    EXPECT_EQ(traced.host.events, (std::vector<std::string>{"setTerminalTitle(first)", "setTerminalTitle(second)",
                                                             "setTerminalIconTitle(icon)"}))
        << "OSC 0 does not change the icon title";

    traced.feed(osc("2;bad\xff"));
    EXPECT_EQ(t.terminalTitle, "") << "a title that is not UTF-8 is stored empty";

    traced.host.clear();
    traced.feed(osc(";t"));
    traced.feed(osc("x;t"));
    EXPECT_TRUE(traced.host.events.empty());
    EXPECT_EQ(t.terminalTitle, "");

    // OSC 112 tells the delegate directly; the default delegate stores the value back into
    // the terminal, whose observer tells the delegate once more.
    traced.terminal.setCursorColor(Color(1, 1, 1));
    traced.host.clear();
    traced.feed(osc("112"));
    EXPECT_EQ(traced.host.events, (std::vector<std::string>{"setCursorColor(nil)", "setCursorColor(nil)"}));
    EXPECT_FALSE(t.cursorColor().has_value());
}

TEST(DispatchOsc, UnknownNumbersAndStringsReachTheFallback)
{
    Traced traced;
    EXPECT_EQ(traced.feedLogged(osc("5;x")), "Info: Corvantix: Unknown OSC code: 5\n");
    EXPECT_EQ(traced.feedLogged(osc("110")), "Info: Corvantix: Unknown OSC code: 110\n");
    EXPECT_EQ(traced.feedLogged(osc("9;hello")), "Info: Corvantix: Unknown OSC code: 9\n")
        << "an OSC 9 that is not a progress report";
    EXPECT_EQ(traced.feedLogged("\x1b_Xdata\x1b\\"), "Info: Corvantix: Unknown APC code: X\n");
    EXPECT_EQ(traced.feedLogged(osc("5;x")), "Info: Corvantix: Unknown OSC code: 5\n");
    EXPECT_TRUE(traced.calls.empty());

    // Handlers registered by the host come first.
    std::vector<std::string> received;
    traced.terminal.registerOscHandler(5, [&](std::span<const std::uint8_t> payload) {
        received.push_back(RecordingDelegate::text(payload));
    });
    EXPECT_EQ(traced.feedLogged(osc("5;x")), "");
    EXPECT_EQ(received, std::vector<std::string>{"x"});
}

TEST(DispatchDcs, DecrqssGetsAHandlerAndSixelNoneYet)
{
    Traced traced;
    traced.feed("\x1bP$q");
    EXPECT_NE(dynamic_cast<DECRQSS*>(traced.terminal.parser.activeDcsHandler.get()), nullptr);
    traced.feed("m\x1b\\");
    EXPECT_EQ(traced.terminal.parser.activeDcsHandler, nullptr);

    traced.feed("\x1bPq#0;2;0;0;0");
    EXPECT_EQ(traced.terminal.parser.activeDcsHandler, nullptr);
    traced.feed("\x1b\\");
    traced.feed("\x1bP1$r");
    EXPECT_EQ(traced.terminal.parser.activeDcsHandler, nullptr);
}

} // namespace
} // namespace corvantix

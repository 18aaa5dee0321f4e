// Routes that depend on context: C1 controls inside and outside a sequence, prefixes and
// intermediates that pick another handler for the same final byte, the CSI u and CSI s
// sequences that fall through or change meaning, and the DCS handlers.
#include "emulator/ControlFunctions.h"
#include "emulator/Terminal.h"

#include "TerminalTestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace corvantix {
namespace {

// A terminal whose dispatch trace is recorded.
struct Traced : TerminalFixture {
    std::vector<std::string> calls;

    Traced()
    {
        terminal->dispatchTrace = [this](std::string_view name) { calls.emplace_back(name); };
    }

    // Feeds the bytes and answers the handlers they reached.
    std::vector<std::string> route(std::string_view bytes)
    {
        calls.clear();
        terminal->feed(bytes);
        return calls;
    }
};

struct Route {
    std::string bytes;
    std::vector<std::string> handlers;
};

void PrintTo(const Route& route, std::ostream* out)
{
    *out << ::testing::PrintToString(route.bytes);
}

std::string csi(std::string_view body)
{
    return "\x1b[" + std::string(body);
}

TEST(Dispatch, ContextPicksTheHandler)
{
    const std::vector<Route> routes = {
        // C1 controls are executed only inside a sequence; in ground they are text.
        {"\x1b[\x84", {"cmdIndex"}},
        {"\x1b[\x85", {"cmdNextLine"}},
        {"\x1b[\x88", {"cmdTabSet"}},
        {"\x1b[\x81", {}},
        {"\x01\x1a\x1f", {}},
        // Prefixes and intermediates.
        {csi("?J"), {"cmdEraseInDisplay"}},
        {csi("?S"), {"cmdScrollUp"}},
        {csi("3 S"), {"cmdSelectPresentationDirection"}},
        {csi("T"), {"csiT"}},
        {csi(">T"), {"cmdXtermTitleModeReset"}},
        {csi("?T"), {}},
        {csi(">c"), {"cmdDeviceAttributes"}},
        {csi("2 k"), {"cmdSelectCharacterPath"}},
        {csi("k"), {}},
        {csi("!p"), {"cmdCsiP"}},
        {csi(">q"), {"cmdReportVersion"}},
        {csi("5 q"), {"cmdSetCursorStyle"}},
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
        {csi("1;2N"), {}},
        {csi("1;2|"), {}},
        {"\x1b\\", {}},
        {"\x1b(0", {"designateCharset"}},
        {"\x1b/2", {"designateCharset"}},
        {"\x1b(X", {}},
        {"\x1b,A", {}},
        {"\x1b((0", {}},
        {"\x1b#8", {"cmdDECALN"}},
        {"\x1b#9", {}},
        {"\x1b%G", {"cmdSelectDefaultCharset"}},
        {"\x1b%A", {}},
        {"\x1b G", {"cmdSet8BitControls"}},
        {"\x1b X", {}},
        {"\x1b]9;hello\x07", {}}, // not a progress report
        {"\x1b_Ga=q\x1b\\", {"handleKittyGraphicsCommand"}},
        {"\x1b_Xdata\x1b\\", {}},
    };
    for (const Route& route : routes) {
        Traced traced;
        EXPECT_EQ(traced.route(route.bytes), route.handlers) << ::testing::PrintToString(route);
    }
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
        return "\x1b]" + std::to_string(row.code) + ";x\x07";
    }
    return std::nullopt;
}

TEST(Dispatch, EveryTableRowIsReachedByItsOwnBytes)
{
    // A row placed after a broader row of the same final byte would never be reached.
    for (const ControlFunction& row : controlFunctionTable()) {
        const std::optional<std::string> bytes = bytesOfRow(row);
        if (!bytes)
            continue;
        Traced traced;
        const std::vector<std::string> calls = traced.route(*bytes);
        if (row.name.empty()) {
            EXPECT_TRUE(calls.empty()) << ::testing::PrintToString(*bytes);
            continue;
        }
        ASSERT_FALSE(calls.empty()) << row.name;
        EXPECT_EQ(calls.back(), row.name) << ::testing::PrintToString(*bytes);
    }
}

TEST(Dispatch, SaveCursorBecomesSetMarginsInMarginMode)
{
    Traced traced;
    traced.route("\x1b[?69h");
    EXPECT_EQ(traced.route(csi("2;10s")), std::vector<std::string>{"cmdSetMargins"});
}

TEST(Dispatch, InlineHandlersSetTitleModesAndShiftCapture)
{
    Traced traced;
    Terminal& t = *traced.terminal;
    traced.route(csi(">1;3;9t"));
    EXPECT_TRUE(t.xtermTitleQueryHex);
    EXPECT_TRUE(t.xtermTitleQueryUtf);
    EXPECT_FALSE(t.xtermTitleSetHex);
    EXPECT_FALSE(t.xtermTitleSetUtf);
    traced.route(csi(">0;2t") + csi(">3T"));
    EXPECT_TRUE(t.xtermTitleSetHex);
    EXPECT_TRUE(t.xtermTitleSetUtf);
    EXPECT_TRUE(t.xtermTitleQueryHex);
    EXPECT_FALSE(t.xtermTitleQueryUtf);

    traced.route(csi(">1s"));
    EXPECT_TRUE(t.mouseShiftCapture);
    traced.route(csi(">5s"));
    EXPECT_TRUE(t.mouseShiftCapture) << "other values change nothing";
    traced.route(csi(">s"));
    EXPECT_FALSE(t.mouseShiftCapture);
}

TEST(Dispatch, DecrqssAndSixelGetHandlersOthersNone)
{
    Traced traced;
    Terminal& t = *traced.terminal;
    traced.route("\x1bP$q");
    EXPECT_NE(dynamic_cast<DECRQSS*>(t.parser.activeDcsHandler.get()), nullptr);
    traced.route("m\x1b\\");
    EXPECT_EQ(t.parser.activeDcsHandler, nullptr);

    traced.route("\x1bPq#0;2;0;0;0");
    EXPECT_NE(t.parser.activeDcsHandler, nullptr);
    traced.route("\x1b\\\x1bP1$r");
    EXPECT_EQ(t.parser.activeDcsHandler, nullptr);
}

} // namespace
} // namespace corvantix

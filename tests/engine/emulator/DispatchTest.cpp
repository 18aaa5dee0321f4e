// Routes that depend on context: C1 controls inside and outside a sequence, prefixes and
// intermediates that pick another handler for the same final byte, the CSI u and CSI s
// sequences that fall through or change meaning, and the DCS handlers.
#include "emulator/ControlFunctions.h"

#include "TerminalTestSupport.h"

#include <optional>

namespace corvantix {
namespace {

// A terminal whose dispatch trace is recorded.
struct Traced : TerminalFixture {
    std::vector<std::string> calls;
    Traced() { terminal->setDispatchTrace([this](std::string_view name) { calls.emplace_back(name); }); }
    // Feeds the bytes and answers the handlers they reached.
    std::vector<std::string> route(std::string_view bytes)
    {
        calls.clear();
        terminal->feed(bytes);
        return calls;
    }
};

struct Route { std::string bytes; std::vector<std::string> handlers; };

void PrintTo(const Route& route, std::ostream* out) { *out << ::testing::PrintToString(route.bytes); }

std::string csi(std::string_view body) { return "\x1b[" + std::string(body); }

TEST(Dispatch, ContextPicksTheHandler)
{
    const std::vector<Route> routes = {
        // C1 controls are executed only inside a sequence; in ground they are text.
        {"\x1b[\x84", {"cmdIndex"}},
        {"\x1b[\x85", {"cmdNextLine"}},
        {"\x01\x1a\x1f", {}},
        // Prefixes and intermediates.
        {csi("?J"), {"cmdEraseInDisplay"}},
        {csi("3 S"), {"cmdSelectPresentationDirection"}},
        {csi("T"), {"csiT"}},
        {csi(">T"), {"cmdXtermTitleModeReset"}},
        {csi("2 k"), {"cmdSelectCharacterPath"}},
        {csi("!p"), {"cmdCsiP"}},
        {csi("?2500r"), {"cmdRestorePrivateModes"}},
        {csi(">1s"), {"cmdSetShiftEscape"}},
        {csi("?2500s"), {"cmdSavePrivateModes"}},
        {csi("s"), {"cmdSaveCursor"}},
        {csi(">2t"), {"cmdXtermTitleModeSet"}},
        {csi(">1u"), {"cmdCsiU"}},
        {csi("u"), {"cmdCsiU", "cmdRestoreCursor"}}, // the keyboard handler did not take it
        {csi("'}"), {"cmdInsertColumns"}},
        {csi("1;2N"), {}},
        {"\x1b\\", {}},
        {"\x1b(0", {"designateCharset"}},
        {"\x1b((0", {}},
        {"\x1b#8", {"cmdDECALN"}},
        {"\x1b%G", {"cmdSelectDefaultCharset"}},
        {"\x1b G", {"cmdSet8BitControls"}},
        {"\x1b]9;hello\x07", {}}, // not a progress report
        {"\x1b_Ga=q\x1b\\", {"handleKittyGraphicsCommand"}},
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

} // namespace
} // namespace corvantix

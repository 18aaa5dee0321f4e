// Routes that depend on context: C1 controls inside and outside a sequence, prefixes and
// intermediates that pick another handler for the same final byte, the CSI u and CSI s
// sequences that fall through or change meaning, and the DCS handlers.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

// A terminal whose dispatch trace is recorded.
struct Traced : TerminalFixture {
    std::vector<std::string> calls;
    Traced() { terminal->dispatchTrace = [this](std::string_view name) { calls.emplace_back(name); }; }
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

TEST(Dispatch, SaveCursorBecomesSetMarginsInMarginMode)
{
    Traced traced;
    traced.route("\x1b[?69h");
    EXPECT_EQ(traced.route(csi("2;10s")), std::vector<std::string>{"cmdSetMargins"});
}

} // namespace
} // namespace corvantix

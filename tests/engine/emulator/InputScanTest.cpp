// The scan of bytes the user sends, which notices when a command line is submitted.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using test::RecordingDelegate;

// Each case is a series of sends; the result of each scan is compared.
TEST(InputScanTest, SubmissionsInSeriesOfSends)
{
    struct Case { std::vector<std::string> sends; std::vector<bool> submitted; };
    const std::vector<Case> cases = {
        {{"ls -l\r"}, {true}},
        {{"ls", "\r"}, {false, true}},
        // bracketed paste
        {{"\x1b[200~echo a\recho b\n\x1b[201~", "\r"}, {false, true}},
        {{"\x1b[200~a", "\r", "\x1b[201~", "\r"}, {false, false, false, true}},
        {{"\x1b[2", "00~\r"}, {false, false}},
        // Kitty keyboard protocol
        {{"\x1b[13u"}, {true}},
        {{"\x1b[13;1:2u"}, {true}},   // repeat
        {{"\x1b[13;1:3u"}, {false}},  // release
        {{"\x1b[13:13;1u"}, {true}},  // alternate key codes after ":"
        {{"\x1b[97u"}, {false}},
        {{"\x1b[1;13u"}, {false}},
        {{"\x1b[13~"}, {false}},
        {{"\x1b[", "13u"}, {false, true}},
        {{"\x1b[13;1:", "3u"}, {false, false}},
        // SS3
        {{"\x1bOM"}, {true}},
        {{"\x1bO", "M"}, {false, true}},
        {{"\x1b\x1b[13u"}, {true}},
        // a CR inside a sequence submits and ends it
        {{"\x1b[1\r", "3u"}, {true, false}},
    };
    for (const Case& c : cases) {
        auto terminal = makeTerminal();
        std::vector<bool> results;
        std::string label;
        for (const std::string& send : c.sends) {
            results.push_back(terminal->scanUserInput(bytesOf(send)));
            label += "[" + send + "]";
        }
        EXPECT_EQ(results, c.submitted) << label;
    }
}

TEST(InputScanTest, OnlyTheFirst32ParameterBytesAreExamined)
{
    // In full the modifiers field is "1...1:3", a release; cut to 32 bytes the event type
    // is empty, which submits.
    const std::string params = "13;" + std::string(28, '1') + ":3";
    auto terminal = makeTerminal();
    EXPECT_TRUE(terminal->scanUserInput(bytesOf("\x1b[" + params + "u")));
    EXPECT_EQ(terminal->semanticScanParams().size(), 32u);
    // The end marker of a paste padded past the limit is no longer recognised.
    EXPECT_FALSE(terminal->scanUserInput(bytesOf("\x1b[200~")));
    EXPECT_FALSE(terminal->scanUserInput(bytesOf("\x1b[" + std::string(40, '0') + "201~\r")));
    EXPECT_TRUE(terminal->semanticScanInPaste());
}

TEST(InputScanTest, SubmissionMovesOnlyAnArmedCommandLine)
{
    struct Case { SemanticInputState before; std::string input; SemanticInputState after; };
    const std::vector<Case> cases = {
        {SemanticInputState::armed, "ls\r", SemanticInputState::submitted},
        {SemanticInputState::armed, "\x1b[13;1:3u", SemanticInputState::armed},
        {SemanticInputState::prompt, "ls\r", SemanticInputState::prompt},
        {SemanticInputState::submitted, "\r", SemanticInputState::submitted},
    };
    for (const Case& c : cases) {
        RecordingDelegate delegate;
        auto terminal = makeTerminal(80, 25, &delegate);
        terminal->buffer().semanticInput = c.before;
        delegate.clear();
        terminal->sendUserInput(bytesOf(c.input));
        EXPECT_EQ(terminal->buffer().semanticInput, c.after) << c.input;
        EXPECT_EQ(delegate.sends, std::vector<std::string>{c.input}) << c.input;
    }
}

TEST(InputScanTest, WithoutDelegateTheBytesAreDroppedButScanned)
{
    auto terminal = makeTerminal();
    terminal->buffer().semanticInput = SemanticInputState::armed;
    terminal->sendUserInput(bytesOf("\r"));
    EXPECT_EQ(terminal->buffer().semanticInput, SemanticInputState::submitted);
}

TEST(InputScanTest, ResetsReturnTheScannerToGround)
{
    auto terminal = makeTerminal();
    terminal->scanUserInput(bytesOf("\x1b[200~\x1b[12"));
    ASSERT_TRUE(terminal->semanticScanInPaste());
    terminal->resetSemanticScan();
    EXPECT_TRUE(terminal->scanUserInput(bytesOf("\r")));
    // A soft reset (DECSTR) resets it too.
    terminal->scanUserInput(bytesOf("\x1b[200~"));
    feed(*terminal, "\x1b[!p");
    EXPECT_FALSE(terminal->semanticScanInPaste());
}

} // namespace
} // namespace corvantix

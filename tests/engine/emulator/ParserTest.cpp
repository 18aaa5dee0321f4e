#include "emulator/EscapeSequenceParser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Printable ASCII as is, other bytes as \xNN; long strings only by their length.
std::string show(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > 32)
        return "<" + std::to_string(bytes.size()) + " bytes>";
    std::string text = "'";
    for (std::uint8_t b : bytes) {
        if (b >= 0x20 && b <= 0x7E && b != '\'' && b != '\\') {
            text += static_cast<char>(b);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            text += hex;
        }
    }
    return text + "'";
}

std::string show(std::span<const int> values)
{
    std::string text = "[";
    for (std::size_t k = 0; k < values.size(); ++k) text += (k > 0 ? "," : "") + std::to_string(values[k]);
    return text + "]";
}

std::string hexByte(std::uint8_t b)
{
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    return hex;
}

// The separator before each value after the first: ":" for a sub-parameter, ";" otherwise.
std::vector<std::uint8_t> separatorsOf(const CsiParameters& pars)
{
    std::vector<std::uint8_t> separators;
    for (std::size_t k = 1; k < pars.size(); ++k)
        separators.push_back(pars.isSubParameter(k) ? ':' : ';');
    return separators;
}

using Lines = std::vector<std::string>;

// Installs every callback of a parser and writes each call as one line of text. With
// mergeRuns, consecutive print runs (and consecutive DCS puts) are joined, so that one feed
// and the same bytes in many feeds compare equal.
class Recorder {
public:
    explicit Recorder(EscapeSequenceParser& parser, bool mergeRuns = false)
        : parser(parser)
        , mergeRuns(mergeRuns)
    {
        parser.printHandler = [this](std::span<const std::uint8_t> bytes) { run("print", bytes); };
        parser.executeHandlerFallback = [this](std::uint8_t code) { add("execute " + hexByte(code)); };
        parser.csiHandlerFallback = [this](const CsiParameters& pars, std::span<const std::uint8_t> collect,
                                        std::uint8_t finalByte) {
            add(std::string("csi ") + static_cast<char>(finalByte) + " " + show(pars.values) + " " + show(collect) + " "
                + show(separatorsOf(pars)));
        };
        parser.escHandlerFallback = [this](std::span<const std::uint8_t> collect, std::uint8_t finalByte) {
            add("esc " + show(collect) + " " + static_cast<char>(finalByte));
        };
        parser.oscHandlerFallback = [this](int code, std::span<const std::uint8_t> payload) {
            add("osc " + std::to_string(code) + " " + show(payload));
        };
        parser.apcHandlerFallback = [this](std::uint8_t first, std::span<const std::uint8_t> payload) {
            add(std::string("apc ") + static_cast<char>(first) + " " + show(payload));
        };
        parser.errorHandler = [this](ParsingState state) {
            add("error " + std::string(parserStateName(state.currentState)) + " " + hexByte(state.code));
            return state;
        };
        parser.stringOverflowHandler = [this](std::string_view what) { add("overflow " + std::string(what)); };
        // Strings with final "q" get a handler (any intermediates); others are dropped.
        parser.dcsHandlerFactory = [this](std::span<const std::uint8_t>,
                                       std::uint8_t finalByte) -> std::unique_ptr<DcsHandler> {
            if (finalByte != 'q')
                return nullptr;
            return std::make_unique<Handler>(*this);
        };
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    // A handler still installed would report to a destroyed recorder.
    ~Recorder() { parser.activeDcsHandler.reset(); }
    void recordPrintStateResets() { parser.printStateReset = [this] { add("printStateReset"); }; }
    Lines feed(std::string_view data)
    {
        parser.parse(bytesOf(data));
        return lines;
    }
    Lines feedEachByte(std::string_view data)
    {
        for (std::size_t k = 0; k < data.size(); ++k) parser.parse(bytesOf(data.substr(k, 1)));
        return lines;
    }
    Lines lines;

private:
    class Handler : public DcsHandler {
    public:
        explicit Handler(Recorder& recorder)
            : recorder(recorder)
        {}
        ~Handler() override { recorder.add("drop"); }
        void hook(std::span<const std::uint8_t> collect, std::span<const int> parameters, std::uint8_t finalByte) override
        {
            recorder.add("hook " + show(collect) + " " + static_cast<char>(finalByte) + " " + show(parameters));
        }
        void put(std::span<const std::uint8_t> data) override { recorder.run("put", data); }
        void unhook() override { recorder.add("unhook"); }
    private:
        Recorder& recorder;
    };
    void add(std::string line)
    {
        lines.push_back(std::move(line));
        lastRun.clear();
    }
    void run(const std::string& kind, std::span<const std::uint8_t> bytes)
    {
        if (mergeRuns && lastRunKind == kind && !lastRun.empty() && !lines.empty()) {
            lastRun.insert(lastRun.end(), bytes.begin(), bytes.end());
            lines.back() = kind + " " + show(lastRun);
            return;
        }
        add(kind + " " + show(bytes));
        lastRun.assign(bytes.begin(), bytes.end());
        lastRunKind = kind;
    }
    EscapeSequenceParser& parser;
    bool mergeRuns;
    std::vector<std::uint8_t> lastRun;
    std::string lastRunKind;
};

// The calls `input` gives fed whole must be `expected`, and the same fed one byte per call and
// cut in two at every place.
void expectSameAtEverySplit(const std::string& input, const Lines& expected)
{
    EscapeSequenceParser whole;
    EXPECT_EQ(Recorder(whole, true).feed(input), expected);
    EscapeSequenceParser byteWise;
    EXPECT_EQ(Recorder(byteWise, true).feedEachByte(input), expected);
    for (std::size_t cut = 1; cut < input.size(); ++cut) {
        EscapeSequenceParser parser;
        Recorder recorder(parser, true);
        recorder.feed(std::string_view(input).substr(0, cut));
        EXPECT_EQ(recorder.feed(std::string_view(input).substr(cut)), expected) << "cut at " << cut;
    }
}

struct Case { const char* name; std::string input; Lines expected; };

std::string parameterList(int count)
{
    std::string text;
    for (int k = 1; k <= count; ++k) text += (k > 1 ? ";" : "") + std::to_string(k);
    return text;
}

void expectCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EscapeSequenceParser parser;
        Recorder recorder(parser);
        EXPECT_EQ(recorder.feed(c.input), c.expected);
        EXPECT_EQ(parser.state(), ParserState::ground);
    }
}

TEST(ParserCsi, ParametersIntermediatesAndQuirks)
{
    const std::string twentyFour = parameterList(24);
    expectCases({
        {"two parameters", "\x1b[1;31m", {"csi m [1,31] '' ';'"}},
        {"absent parameter is 0", "\x1b[m", {"csi m [0] '' ''"}},
        {"leading empty parameter", "\x1b[;5H", {"csi H [0,5] '' ';'"}},
        {"mixed separators", "\x1b[38:2:1;4m", {"csi m [38,2,1,4] '' '::;'"}},
        {"private marker", "\x1b[?25l", {"csi l [25] '?' ''"}},
        {"intermediate", "\x1b[2 q", {"csi q [2] ' ' ''"}},
        {"8-bit CSI after ESC", "\x1b\x9b" "2J", {"csi J [2] '' ''"}},
        {"one past the largest", "\x1b[65536m", {"csi m [65535] '' ''"}},
        {"saturated then more digits", "\x1b[1;9999999999999;2m", {"csi m [1,65535,2] '' ';;'"}},
        {"24 parameters dispatch", "\x1b[" + twentyFour + "m",
            {"csi m [1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24] '' " "';;;;;;;;;;;;;;;;;;;;;;;'"}},
        {"25 parameters drop the sequence, the next works", "\x1b[" + parameterList(25) + "m\x1b[5m", {"csi m [5] '' ''"}},
        {"colon right after CSI is an error", "\x1b[:4m", {"error csiEntry 3a", "print '4m'"}},
        {"CAN does not cancel", "\x1b[1\x18m", {"execute 18", "csi m [1] '' ''"}},
        {"SUB returns to ground", "\x1b[1\x1am", {"execute 1a", "print 'm'"}},
        {"C0 control inside is executed", "\x1b[2\rJ", {"execute 0d", "csi J [2] '' ''"}},
        {"C1 control inside leaves the sequence", "\x1b[1\x84m", {"execute 84", "print 'm'"}},
        {"high byte in csiIgnore stays there", "\x1b[1<\xc3mx", {"print 'x'"}},
        {"ESC restarts", "\x1b[12\x1b[3m", {"csi m [3] '' ''"}},
    });
}

TEST(ParserGround, TextControlsAndEscSequences)
{
    expectCases({
        {"text then BEL", "abc\x07", {"print 'abc'", "execute 07"}},
        {"high bytes and 8-bit introducers are text", "caf\xc3\xa9 \x9b" "2J \x9d" "0\n", {"print 'caf\\xc3\\xa9 \\x9b2J \\x9d0'", "execute 0a"}},
        {"EM stays inside the text", "ab\x19" "cd\x07", {"error ground 19", "print 'ab\\x19cd'", "execute 07"}},
        {"ESC cuts the run", "ab\x1b" "7cd", {"print 'ab'", "esc '' 7", "print 'cd'"}},
        {"C0 inside ESC is executed", "\x1b\n(B", {"execute 0a", "esc '(' B"}},
        {"C1 after ESC", "\x1b\x85", {"execute 85"}},
        {"high byte after ESC is an error", "\x1b\xc3x", {"error escape c3", "print 'x'"}},
        {"SOS string swallowed", "\x1bXabc\x07\x1b\\", {"esc '' \\"}},
    });
}

TEST(ParserStrings, OscAndApc)
{
    expectCases({
        {"OSC ended by BEL", "\x1b]0;title\x07", {"osc 0 'title'"}},
        {"OSC ended by ESC \\", "\x1b]0;title\x1b\\", {"osc 0 'title'", "esc '' \\"}},
        {"no code", "\x1b];t\x07", {}},
        {"code past the largest int", "\x1b]4294967296;x\x07", {}},
        {"0x9C first ends the empty string", "\x1b]\x9cx", {"print 'x'"}},
        {"0x9C after a byte is data", "\x1b]0;a\x9c" "b\x07", {"osc 0 'a\\x9cb'"}},
        {"8-bit OSC is not ended by 0x9C once it has a byte", "\x1b\x9d" "0;t\x9c\x07", {"osc 0 't\\x9c'"}},
        {"SUB inside is dropped", "\x1b]0;a\x1a" "b\x07", {"osc 0 'ab'"}},
        {"CAN cancels", "\x1b]0;a\x18" "b", {"print 'b'"}},
        {"EM first is an error", "\x1b]\x19x", {"error oscString 19", "print 'x'"}},
        {"DEL and UTF-8 are data", "\x1b]2;\x7f\xe2\x82\xac\x07", {"osc 2 '\\x7f\\xe2\\x82\\xac'"}},
        {"APC G", "\x1b_Gf=100;AAAA\x1b\\", {"apc G 'f=100;AAAA'", "esc '' \\"}},
        {"8-bit APC after ESC", "\x1b\x9fGa\x07", {"apc G 'a'"}},
        {"APC cancelled", "\x1b_Ga\x18", {}},
    });
}

TEST(ParserDcs, HookPutUnhook)
{
    expectCases({
        {"DECRQSS", "\x1bP$qm\x1b\\", {"hook '$' q [0]", "put 'm'", "unhook", "drop", "esc '' \\"}},
        {"parameters", "\x1bP1;2q#0!10~\x1b\\", {"hook '' q [1,2]", "put '#0!10~'", "unhook", "drop", "esc '' \\"}},
        {"0x9C terminates", "\x1b\x90qab\x9cx", {"hook '' q [0]", "put 'ab'", "unhook", "drop", "print 'x'"}},
        {"DEL splits the data", "\x1bPqa\x7f" "b\x1b\\", {"hook '' q [0]", "put 'a'", "put 'b'", "unhook", "drop", "esc '' \\"}},
        {"no handler: dropped", "\x1bPxdata\x1b\\", {"esc '' \\"}},
        {"25 parameters: dropped", "\x1bP" + parameterList(25) + "qdata\x1b\\x", {"esc '' \\", "print 'x'"}},
        // A string left by SUB keeps its handler until the next hook, which drops it: the
        // next string's data never reaches it.
        {"stale handler dropped at the next hook", "\x1bPqab\x1aZ\x1bPxcd\x1b\\",
            {"hook '' q [0]", "put 'ab'", "execute 1a", "print 'Z'", "drop", "esc '' \\"}},
    });
}

TEST(ParserDcs, PutOncePerFeed)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    recorder.feed("\x1bPq");
    recorder.feed("#0;2;100;0;0");
    recorder.feed("#0!5~");
    EXPECT_EQ(recorder.feed("-\x1b\\"),
        (Lines{"hook '' q [0]", "put '#0;2;100;0;0'", "put '#0!5~'", "put '-'", "unhook", "drop", "esc '' \\"}));
}

TEST(ParserGround, PrintRunsNeverSpanFeeds)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    recorder.feed("ab");
    EXPECT_EQ(recorder.feed("c\x07"), (Lines{"print 'ab'", "print 'c'", "execute 07"}));
}

// Splitting the bytes over many feeds gives the same calls as one feed, once consecutive
// print runs and DCS puts are joined.
TEST(ParserSplit, AnySplitGivesTheSameCalls)
{
    const std::vector<std::string> inputs = {
        "ab\x1b[1;31mcd\x1b[?25h\x1b[38:2:10:20:30m",
        "\x1b]8;;http://host/\x1b\\link\x1b]8;;\x1b\\",
        // UTF-8 with a continuation byte below 0xA0 and a 0x9C inside the body.
        "\x1b]2;ti\xe2\x82\xactle \x9c still\x1b\\y",
        "\x1b\x9fGa\x9c" "b\x07",
        "\x1bP1;2q#0;2;0;0;0#0!10~-\x1b\\z",
        "\x1b\x90q\xc3\xa9\x9cq",
        "\x1b\x9b" "2J\x1b[1\x18m\x1b[2\x1am",
        "caf\xc3\xa9\r\n\x1b[" + parameterList(25) + "m\x1b[5m",
        // DCS data cut short by an 8-bit introducer or a byte that is an error there.
        "\x1bPq#0;2;0;0;0#1~\x9f/0\x07",
        "\x1bPqabc\x9b" "2J",
        "\x1bPqabc\x90q",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(show(bytesOf(input)));
        EscapeSequenceParser whole;
        const Lines expected = Recorder(whole, true).feed(input);
        ASSERT_FALSE(expected.empty());
        expectSameAtEverySplit(input, expected);
    }
}

// A sequence that opens the data and has eight bytes or more after its "[" is read by the
// plain-parameter reader, a word at a time; fed one byte per call the same bytes go through
// the byte reader and the table. Both must give the listed calls, and so must every split.
TEST(ParserCsi, WordReaderAgreesWithTheByteReader)
{
    const std::string tail = "|tail|..";
    const std::vector<Case> cases = {
        {"cursor position", "\x1b[12;45H", {"csi H [12,45] '' ';'"}},
        {"seven digits, clamped", "\x1b[1234567m", {"csi m [65535] '' ''"}},
        {"eight digits, clamped", "\x1b[12345678;2m", {"csi m [65535,2] '' ';'"}},
        {"a run of digits past a word", "\x1b[000000000000000000000000000007H", {"csi H [7] '' ''"}},
        {"the cap and one past it", "\x1b[65535;65536m", {"csi m [65535,65535] '' ';'"}},
        {"leading zeros", "\x1b[0000007;08H", {"csi H [7,8] '' ';'"}},
        {"empty parameters", "\x1b[;;H", {"csi H [0,0,0] '' ';;'"}},
        {"final right after a separator", "\x1b[5;H", {"csi H [5,0] '' ';'"}},
        {"24 parameters dispatch", "\x1b[" + parameterList(24) + "m",
            {"csi m [1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24] '' ';;;;;;;;;;;;;;;;;;;;;;;'"}},
        {"24 parameters and an empty one drop the sequence", "\x1b[" + parameterList(24) + ";m", {}},
        {"25 parameters drop the sequence", "\x1b[" + parameterList(25) + "m", {}},
        {"sub-parameters after plain ones", "\x1b[1;38:2:10:20:30m", {"csi m [1,38,2,10,20,30] '' ';::::'"}},
        {"colon first", "\x1b[38:5:9;1m", {"csi m [38,5,9,1] '' '::;'"}},
        {"private marker after digits", "\x1b[1;2?h", {}},
        {"intermediate after digits", "\x1b[12;3 q", {"csi q [12,3] ' ' ';'"}},
        {"C0 control inside", "\x1b[12\n;45H", {"execute 0a", "csi H [12,45] '' ';'"}},
        {"CAN inside does not cancel", "\x1b[12;4\x18" "5H", {"execute 18", "csi H [12,45] '' ';'"}},
        {"SUB inside returns to ground", "\x1b[12;4\x1a" "5H", {"execute 1a", "print '5H'"}},
        {"DEL inside is ignored", "\x1b[12;4\x7f" "5H", {"csi H [12,45] '' ';'"}},
        {"ESC inside restarts", "\x1b[12;\x1b[3;4H", {"csi H [3,4] '' ';'"}},
        {"high byte inside is an error", "\x1b[12;\xc3" "5H", {"error csiParam c3", "print '5H'"}},
        {"8-bit CSI after ESC", "\x1b\x9b" "12;45H", {"csi H [12,45] '' ';'"}},
        {"no parameters", "\x1b[H", {"csi H [0] '' ''"}},
        {"parameters across words", "\x1b[1;22;333;4444;55555;6;77m", {"csi m [1,22,333,4444,55555,6,77] '' ';;;;;;'"}},
        {"separator as the eighth byte", "\x1b[1234567;8H", {"csi H [65535,8] '' ';'"}},
        {"private marker inside a word", "\x1b[1;2<3H", {}},
        {"C0 control after a separator", "\x1b[1;\x1f" "2;3H", {"execute 1f", "csi H [1,2,3] '' ';;'"}},
        {"byte that carries after a separator", "\x1b[1;\xbb;2H", {"error csiParam bb", "print ';2H'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string input = c.input + tail;
        // The tail joins a print run the case ends with.
        Lines expected = c.expected;
        if (!expected.empty() && expected.back().starts_with("print '"))
            expected.back().insert(expected.back().size() - 1, tail);
        else
            expected.push_back("print '" + tail + "'");
        expectSameAtEverySplit(input, expected);
    }
}

// Sequences back to back, and a sequence that the end of the data cuts inside its
// parameters: the word reader never reads past the data and leaves the rest to the next call.
TEST(ParserCsi, WordReaderStopsAtTheEndOfTheData)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    recorder.feed("\x1b[1;2H\x1b[3;4H\x1b[5;6H\x1b[1234;");
    EXPECT_EQ(parser.state(), ParserState::csiParam);
    EXPECT_EQ(recorder.feed("5678;9H"),
        (Lines{"csi H [1,2] '' ';'", "csi H [3,4] '' ';'", "csi H [5,6] '' ';'", "csi H [1234,5678,9] '' ';;'"}));
}

std::string repeated(char c, std::size_t count) { return std::string(count, c); }

// Data received before an 8-bit introducer or an error ends a DCS string reaches its
// handler; it was dropped when it arrived in the same call as the byte that ended it.
TEST(ParserDcs, DataBeforeAnAbruptEndIsDelivered)
{
    const std::vector<Case> cases = {
        {"APC start", "\x1bPqab\x9fGx\x07", {"hook '' q [0]", "put 'ab'", "apc G 'x'"}},
        {"CSI start", "\x1bPqab\x9b" "1m", {"hook '' q [0]", "put 'ab'", "csi m [1] '' ''"}},
        {"error byte", "\x1bPqab\x19\x07", {"hook '' q [0]", "error dcsPassthrough 19", "put 'ab'", "execute 07"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EscapeSequenceParser parser;
        Recorder recorder(parser);
        EXPECT_EQ(recorder.feed(c.input), c.expected);
    }
}

void feedInChunks(Recorder& recorder, const std::string& data, std::size_t chunk)
{
    for (std::size_t k = 0; k < data.size(); k += chunk) recorder.feed(std::string_view(data).substr(k, chunk));
}

TEST(ParserStrings, OscCap)
{
    const std::size_t cap = EscapeSequenceParser::maxOscLength;
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    // 9 MiB: dropped at its terminator, reported once; the next OSC works.
    feedInChunks(recorder, "\x1b]52;c;" + repeated('A', 9 * 1024 * 1024) + "\x07\x1b]0;ok\x07", 65536);
    EXPECT_EQ(recorder.lines, (Lines{"overflow OSC 52", "osc 0 'ok'"}));
    // Exactly at the cap: dispatched whole.
    recorder.lines.clear();
    feedInChunks(recorder, "\x1b]52;" + repeated('B', cap - 3) + "\x1b\\", 1 << 20);
    EXPECT_EQ(recorder.lines, (Lines{"osc 52 <" + std::to_string(cap - 3) + " bytes>", "esc '' \\"}));
    // One byte past the cap, in one feed.
    recorder.lines.clear();
    recorder.feed("\x1b]52;" + repeated('B', cap - 2) + "\x07");
    EXPECT_EQ(recorder.lines, (Lines{"overflow OSC 52"}));
    // Cancelled overlong strings are dropped silently, like any cancelled string.
    recorder.lines.clear();
    recorder.feed("\x1b]52;" + repeated('B', cap) + "\x18\x1b]1;ok\x07");
    EXPECT_EQ(recorder.lines, (Lines{"osc 1 'ok'"}));
}

TEST(ParserStrings, ApcCap)
{
    const std::size_t cap = EscapeSequenceParser::maxApcLength;
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    feedInChunks(recorder, "\x1b_G" + repeated('A', cap) + "\x1b\\\x1b_Ga=q\x1b\\", 65536);
    EXPECT_EQ(recorder.lines, (Lines{"overflow APC G", "esc '' \\", "apc G 'a=q'", "esc '' \\"}));
    recorder.lines.clear();
    recorder.feed("\x1b_G" + repeated('A', cap - 1) + "\x07");
    EXPECT_EQ(recorder.lines, (Lines{"apc G <" + std::to_string(cap - 1) + " bytes>"}));
}

TEST(ParserErrors, HandlerSeesTheStateAndMayAbort)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    std::vector<ParsingState> seen;
    bool abort = false;
    parser.errorHandler = [&](ParsingState state) {
        seen.push_back(state);
        state.abort = abort;
        return state;
    };
    recorder.feed("xy\x19z\x1bP1q\x19");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].position, 2);
    EXPECT_EQ(seen[0].code, 0x19);
    EXPECT_EQ(seen[0].currentState, ParserState::ground);
    EXPECT_EQ(seen[1].position, 8);
    EXPECT_EQ(seen[1].currentState, ParserState::dcsPassthrough);
    EXPECT_EQ(recorder.lines, (Lines{"print 'xy\\x19z'", "hook '' q [1]"}));
    // Abort: the rest of the data and the pending print run are dropped; the call began in
    // ground, so the next one starts there.
    abort = true;
    recorder.lines.clear();
    recorder.feed("ab\x19" "cd\x1b[5m");
    EXPECT_TRUE(recorder.lines.empty());
    EXPECT_EQ(parser.state(), ParserState::ground);
    abort = false;
    EXPECT_EQ(recorder.feed("ef\x1b[6m"), (Lines{"print 'ef'", "csi m [6] '' ''"}));
}

// An aborted call leaves the parser as the call found it: parameters, intermediates and a
// string begun in an earlier call are read on by the next call.
TEST(ParserErrors, AnAbortKeepsWhatTheCallFound)
{
    const struct {
        const char* name;
        std::string before;
        std::string aborted; // ends with the EM that the handler aborts at
        std::string after;
        Lines expected; // after the aborted call
    } cases[] = {
        {"parameters", "\x1b[1", "2\x19m", "m", {"csi m [1] '' ''"}},
        {"parameter limit passed", "\x1b[" + parameterList(25), "1\x19", "m\x1b[5m", {"csi m [5] '' ''"}},
        {"sub-parameters and a private marker", "\x1b[?4:", "3;1\x19", "2m", {"csi m [4,2] '?' ':'"}},
        {"intermediates", "\x1b(", "\x1b%\x19", "B", {"esc '(' B"}},
        // In a string the error comes where no body has begun: EM inside a body is dropped.
        {"an OSC string that the call cancels", "\x1b]0;ti", "\x18\x1b]\x19", "tle\x07", {"osc 0 'title'"}},
        {"an APC string that the call ends", "\x1b_Gab", "\x1b" "7\x1b_\x19", "cd\x07", {"apc G 'abcd'"}},
        {"text and a sequence opened by the call", "ab", "cd\x1b[3\x19", "ef\x1b[4m", {"print 'ef'", "csi m [4] '' ''"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EscapeSequenceParser parser;
        Recorder recorder(parser);
        recorder.feed(c.before);
        const ParserState state = parser.state();
        parser.errorHandler = [](ParsingState s) {
            s.abort = true;
            return s;
        };
        recorder.lines.clear();
        recorder.feed(c.aborted);
        EXPECT_EQ(parser.state(), state);
        parser.errorHandler = [](ParsingState s) { return s; };
        // Lines of the aborted call (dispatches it made before the error stay made) come first.
        const Lines ofAbortedCall = recorder.lines;
        Lines expected = ofAbortedCall;
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(recorder.feed(c.after), expected);
    }
}

// A DCS string whose handler an aborted call unhooked is not handed to it again: the rest of
// that string is dropped, and the next sequence is read as usual.
TEST(ParserErrors, AnAbortDoesNotBringBackAnEndedDcsHandler)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    recorder.feed("\x1bPq#0");
    parser.errorHandler = [](ParsingState s) {
        s.abort = true;
        return s;
    };
    recorder.feed("!5~\x1b\\\x19");
    EXPECT_EQ(parser.state(), ParserState::dcsPassthrough);
    parser.errorHandler = [](ParsingState s) { return s; };
    EXPECT_EQ(recorder.feed("-\x1b\\\x1b[5m"),
        (Lines{"hook '' q [0]", "put '#0'", "put '!5~'", "unhook", "drop", "esc '' \\", "esc '' \\", "csi m [5] '' ''"}));
}

// Wherever the data is cut, a call that stops at an aborting error before it dispatched
// anything leaves no trace: the rest of the data then gives the calls of one whole feed.
TEST(ParserSplit, AnAbortedCallThatDispatchedNothingLeavesNoTrace)
{
    const std::vector<std::string> inputs = {
        "ab\x1b[1;31mcd\x1b[?25h\x1b[38:2:10:20:30m",
        "\x1b]8;;http://host/\x1b\\link\x1b]8;;\x1b\\",
        "\x1b]2;ti\xe2\x82\xactle \x9c still\x1b\\y",
        "\x1b_Ga=T,f=100;AAAA\x1b\\",
        "\x1bP1;2q#0;2;0;0;0#0!10~-\x1b\\z",
        "\x1b(0q\x1b" "#8\x1b[2 q",
        "\x1b[" + parameterList(25) + "m\x1b[5m",
    };
    for (const std::string& input : inputs) {
        SCOPED_TRACE(show(bytesOf(input)));
        EscapeSequenceParser whole;
        const Lines expected = Recorder(whole, true).feed(input);
        for (std::size_t cut = 0; cut < input.size(); ++cut) {
            for (std::size_t taken = 0; cut + taken <= input.size(); ++taken) {
                EscapeSequenceParser parser;
                Recorder recorder(parser, true);
                recorder.feed(std::string_view(input).substr(0, cut));
                const Lines before = recorder.lines;
                parser.errorHandler = [](ParsingState s) {
                    s.abort = true;
                    return s;
                };
                recorder.feed(input.substr(cut, taken) + "\x19tail\x1b[9m");
                if (recorder.lines != before)
                    continue; // the aborted call dispatched something, which stays done
                parser.errorHandler = [](ParsingState s) { return s; };
                EXPECT_EQ(recorder.feed(std::string_view(input).substr(cut)), expected)
                    << "cut at " << cut << ", aborted after " << taken << " more bytes";
            }
        }
    }
}

TEST(ParserCsi, IntermediatesAreCapped)
{
    EscapeSequenceParser parser;
    Recorder recorder(parser);
    recorder.feed("\x1b" + repeated(' ', 1000) + "F");
    ASSERT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(recorder.lines[0], "esc <" + std::to_string(EscapeSequenceParser::maxCollectLength) + " bytes> F");
}

} // namespace
} // namespace corvantix

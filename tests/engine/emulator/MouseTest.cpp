// Mouse reports: button codes and the bytes of each encoding.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using namespace std::string_literals;

// The mode and the encoding are set by the program's own DECSET sequences.
struct Fixture : TerminalFixture {
    Fixture(MouseMode mode, MouseProtocolEncoding protocol)
    {
        const auto set = [](MouseMode m) {
            switch (m) {
            case MouseMode::x10: return "\x1b[?9h";
            case MouseMode::vt200: return "\x1b[?1000h";
            case MouseMode::buttonEventTracking: return "\x1b[?1002h";
            case MouseMode::anyEvent: return "\x1b[?1003h";
            default: return "";
            }
        };
        const auto encode = [](MouseProtocolEncoding p) {
            switch (p) {
            case MouseProtocolEncoding::utf8: return "\x1b[?1005h";
            case MouseProtocolEncoding::sgr: return "\x1b[?1006h";
            case MouseProtocolEncoding::urxvt: return "\x1b[?1015h";
            case MouseProtocolEncoding::sgrPixel: return "\x1b[?1016h";
            default: return "";
            }
        };
        feed(*terminal, std::string(set(mode)) + encode(protocol));
        delegate.clear();
    }
};

std::string csi(std::string_view body) { return "\x1b[" + std::string(body); }

TEST(MouseTest, ButtonCodes)
{
    struct Case { MouseMode mode; int button; bool release, shift, meta, control; int expected; };
    const std::vector<Case> cases = {
        {MouseMode::vt200, 0, false, false, false, false, 0},
        {MouseMode::vt200, 4, false, false, false, false, 64},
        {MouseMode::vt200, 9, false, false, false, false, 0},
        {MouseMode::vt200, 2, true, false, false, false, 3},  // the released button is not encoded
        {MouseMode::vt200, 0, true, true, false, false, 7},   // a shifted release
        {MouseMode::buttonEventTracking, 1, false, false, true, false, 9},
        {MouseMode::x10, 4, false, false, false, true, 64},   // no modifiers in x10
        {MouseMode::off, 0, false, true, true, true, 0},
    };
    for (const Case& c : cases) {
        Fixture f(c.mode, MouseProtocolEncoding::sgr);
        EXPECT_EQ(f.terminal->encodeButton(c.button, c.release, c.shift, c.meta, c.control), c.expected)
            << "mode " << static_cast<int>(c.mode) << " button " << c.button;
    }
}

// A press, a release, a motion and a wheel event in every encoding.
TEST(MouseTest, ReportsInEachEncoding)
{
    enum class Event { press, release, motion, wheelUp };
    struct Case { MouseProtocolEncoding protocol; Event event; int x, y; std::string expected; };
    const std::vector<Case> cases = {
        {MouseProtocolEncoding::x10, Event::press, 0, 0, csi("M\x20\x21\x21")},
        {MouseProtocolEncoding::x10, Event::release, 4, 2, csi("M\x23\x25\x23")},
        {MouseProtocolEncoding::x10, Event::wheelUp, 0, 0, csi("M\x60\x21\x21")},
        {MouseProtocolEncoding::utf8, Event::motion, 100, 1, csi("M\x40\xc2\x85\x22")},
        {MouseProtocolEncoding::sgr, Event::release, 0, 0, csi("<0;1;1m")},
        {MouseProtocolEncoding::sgr, Event::motion, 9, 4, csi("<32;10;5M")},
        {MouseProtocolEncoding::sgr, Event::wheelUp, 299, 199, csi("<64;300;200M")},
        {MouseProtocolEncoding::urxvt, Event::press, 0, 0, csi("32;1;1M")},
        {MouseProtocolEncoding::urxvt, Event::release, 4, 2, csi("35;5;3M")},
    };
    for (const Case& c : cases) {
        Fixture f(MouseMode::anyEvent, c.protocol);
        Terminal& t = *f.terminal;
        switch (c.event) {
        case Event::press: t.sendEvent(t.encodeButton(0, false, false, false, false), c.x, c.y); break;
        case Event::release: t.sendEvent(t.encodeButton(0, true, false, false, false), c.x, c.y); break;
        case Event::motion: t.sendMotion(t.encodeButton(0, false, false, false, false), c.x, c.y, 0, 0); break;
        case Event::wheelUp: t.sendEvent(t.encodeButton(4, false, false, false, false), c.x, c.y); break;
        }
        EXPECT_EQ(f.delegate.sends, std::vector<std::string>{c.expected})
            << "protocol " << static_cast<int>(c.protocol) << " event " << static_cast<int>(c.event);
    }
}

TEST(MouseTest, SgrReleaseKeepsOnlyModifierBits)
{
    struct Case { int flags; std::string expected; };
    const std::vector<Case> cases = {
        {7, csi("<4;1;1m")},    // shifted release under vt200
        {3 + 8 + 16, csi("<24;1;1m")},
        {35, csi("<35;1;1M")},  // motion with no button: not a release
        {67, csi("<64;1;1m")},  // low bits set, motion clear: treated as a release
    };
    for (const Case& c : cases) {
        Fixture f(MouseMode::vt200, MouseProtocolEncoding::sgr);
        f.terminal->sendMouseReport(c.flags, 0, 0, 0, 0);
        EXPECT_EQ(f.delegate.sent, c.expected) << c.flags;
    }
}

TEST(MouseTest, CoordinateLimitsOfTheByteEncodings)
{
    struct Case { MouseProtocolEncoding protocol; int x; std::string expected; };
    const std::vector<Case> cases = {
        {MouseProtocolEncoding::x10, 221, csi("M\x20\xfe\x21")},
        {MouseProtocolEncoding::x10, 222, csi("M\x20\xff\x21")},
        {MouseProtocolEncoding::x10, 100000, csi("M\x20\xff\x21")},
        {MouseProtocolEncoding::utf8, 93, csi("M\x20\x7e\x21")},        // 126: one byte
        {MouseProtocolEncoding::utf8, 94, csi("M\x20\xc1\xbf\x21")},    // 127: two bytes
        {MouseProtocolEncoding::utf8, 2013, csi("M\x20\xdf\xbe\x21")},  // 2046
        {MouseProtocolEncoding::utf8, 2014, csi("M\x20\x00\x21"s)},      // 2047: the byte 0
        {MouseProtocolEncoding::utf8, 2015, csi("M\x20\xdf\xbf\x21")},  // 2048 and above
        {MouseProtocolEncoding::sgr, 100000, csi("<0;100001;1M")},
        {MouseProtocolEncoding::sgr, -4, csi("<0;1;1M")}, // negative positions are sent as zero
        {MouseProtocolEncoding::x10, -40, csi("M\x20\x21\x21")},
    };
    for (const Case& c : cases) {
        Fixture f(MouseMode::vt200, c.protocol);
        f.terminal->sendEvent(0, c.x, 0);
        EXPECT_EQ(f.delegate.sent, c.expected) << "protocol " << static_cast<int>(c.protocol) << " x " << c.x;
    }
}

TEST(MouseTest, EightBitControlsStartWith9B)
{
    for (const auto protocol : {MouseProtocolEncoding::x10, MouseProtocolEncoding::utf8, MouseProtocolEncoding::sgr,
                                MouseProtocolEncoding::urxvt, MouseProtocolEncoding::sgrPixel}) {
        Fixture sevenBit(MouseMode::vt200, protocol);
        sevenBit.terminal->sendEvent(0, 5, 6);
        Fixture eightBit(MouseMode::vt200, protocol);
        feed(*eightBit.terminal, "\x1b G");
        eightBit.terminal->sendEvent(0, 5, 6);
        ASSERT_EQ(sevenBit.delegate.sent.substr(0, 2), "\x1b[");
        EXPECT_EQ(eightBit.delegate.sends, std::vector<std::string>{"\x9b" + sevenBit.delegate.sent.substr(2)})
            << static_cast<int>(protocol);
    }
}

} // namespace
} // namespace corvantix

// Typing into the real widget: synthesized Qt key events go through the view's key handling
// and come out as the bytes its delegate receives, send by send.
#include "ViewTestSupport.h"

#include "platform/ManualMainQueue.h"

#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QKeyEvent>

#include <chrono>
#include <string>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

using testing::SendLog;

struct Key {
    int code = 0;
    Qt::KeyboardModifiers modifiers = {};
    QString text = {};
    quint32 scanCode = 0;
};

struct TypingView {
    TypingView() : view(QRect(0, 0, 640, 340), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue)
    {
        view.terminalDelegate = &log;
        queue.advance(1s);
    }
    ~TypingView() { view.terminalDelegate = nullptr; }

    void feed(std::string_view bytes) { view.feedText(bytes); }

    void key(QEvent::Type type, const Key& key, bool autoRepeat = false)
    {
        QKeyEvent event(type, key.code, key.modifiers, key.scanCode, 0, 0, key.text, autoRepeat);
        QCoreApplication::sendEvent(&view, &event);
    }
    void press(const Key& k, bool autoRepeat = false) { key(QEvent::KeyPress, k, autoRepeat); }
    void release(const Key& k, bool autoRepeat = false) { key(QEvent::KeyRelease, k, autoRepeat); }

    // The bytes of one press, and nothing else of what was sent before.
    std::string pressed(const Key& k)
    {
        log.sent.clear();
        log.sends.clear();
        press(k);
        return log.sent;
    }

    ManualMainQueue queue;
    SendLog log;
    TerminalView view;
};

const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
const Qt::KeyboardModifiers alt = Qt::AltModifier;
const Qt::KeyboardModifiers pad = Qt::KeypadModifier;

struct ByteCase {
    const char* name;
    const char* modes; // fed before the key
    Key key;
    std::string bytes;
};

// The encoding itself is tabled against the handler; these rows check what the Qt events carry
// into it (Backspace's text, the keypad flag, the modes the view's terminal holds).
TEST(KeyboardView, KeysSendTheirBytes)
{
    const std::vector<ByteCase> cases = {
        {"typed e-acute", "", {Qt::Key_Eacute, {}, "\xc3\xa9"}, "\xc3\xa9"},
        {"Backspace", "", {Qt::Key_Backspace, {}, "\b"}, "\x7f"},
        {"Delete", "", {Qt::Key_Delete, {}, "\x7f"}, "\x1b[3~"},
        {"Up in application cursor mode", "\x1b[?1h", {Qt::Key_Up}, "\x1bOA"},
        {"keypad 5 in application keypad mode", "\x1b=", {Qt::Key_5, pad, "5"}, "\x1bOu"},
        {"Kitty flags 8: letter", "\x1b[>8u", {Qt::Key_A, {}, "a"}, "\x1b[97u"},
    };
    for (const ByteCase& c : cases) {
        SCOPED_TRACE(c.name);
        TypingView t;
        t.feed(c.modes);
        EXPECT_EQ(t.pressed(c.key), c.bytes);
    }
}

TEST(KeyboardView, ViewSettingsReachTheHandler)
{
    TypingView t;
    t.view.backspaceSendsControlH = true;
    EXPECT_EQ(t.pressed({Qt::Key_Backspace, {}, "\b"}), "\b");
    t.view.optionAsMetaKey = false;
    EXPECT_EQ(t.pressed({Qt::Key_F5, alt}), "\x1b[15~");
}

TEST(KeyboardView, ReleasesAndRepeatsUnderKittyEventTypes)
{
    TypingView t;
    t.feed("\x1b[>3u");
    EXPECT_EQ(t.pressed({Qt::Key_Up}), "\x1b[A");

    t.log.sent.clear();
    t.press({Qt::Key_Up}, true);
    EXPECT_EQ(t.log.sent, "\x1b[1;1:2A");

    // X11 puts a release before every repeated press: it is not the key going up.
    t.log.sent.clear();
    t.release({Qt::Key_Up}, true);
    EXPECT_EQ(t.log.sent, "");

    t.release({Qt::Key_Up});
    EXPECT_EQ(t.log.sent, "\x1b[1;1:3A");

    // Text keys are released silently without flag 8, Return too.
    t.log.sent.clear();
    t.release({Qt::Key_A, {}, "a"});
    t.release({Qt::Key_Return, {}, "\r"});
    EXPECT_EQ(t.log.sent, "");

    // Without flag 2 nothing is ever reported on release.
    TypingView plain;
    plain.release({Qt::Key_Up});
    plain.release({Qt::Key_A, {}, "a"});
    EXPECT_EQ(plain.log.sent, "");
}

TEST(KeyboardView, ModifierKeysAreReportedWithTheirSide)
{
    TypingView t;
    t.feed("\x1b[>10u"); // all keys as escape codes, with event types
    EXPECT_EQ(t.pressed({Qt::Key_Shift, {}, "", 50}), "\x1b[57441;2u");
    t.log.sent.clear();
    t.release({Qt::Key_Shift, shift, "", 50});
    EXPECT_EQ(t.log.sent, "\x1b[57441;1:3u");
    EXPECT_EQ(t.pressed({Qt::Key_Shift, {}, "", 62}), "\x1b[57447;2u");
    EXPECT_EQ(t.pressed({Qt::Key_Control, {}, "", 105}), "\x1b[57448;5u");

    // Without flag 8 modifier keys say nothing.
    TypingView plain;
    plain.feed("\x1b[>1u");
    EXPECT_EQ(plain.pressed({Qt::Key_Shift, {}, "", 50}), "");
}

} // namespace
} // namespace corvantix

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
const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
const Qt::KeyboardModifiers alt = Qt::AltModifier;
const Qt::KeyboardModifiers pad = Qt::KeypadModifier;

struct ByteCase {
    const char* name;
    const char* modes; // fed before the key
    Key key;
    std::string bytes;
};

TEST(KeyboardView, KeysSendTheirBytes)
{
    const std::vector<ByteCase> cases = {
        {"letter", "", {Qt::Key_A, {}, "a"}, "a"},
        {"typed e-acute", "", {Qt::Key_Eacute, {}, "\xc3\xa9"}, "\xc3\xa9"},
        {"Control+c", "", {Qt::Key_C, ctrl, "\x03"}, "\x03"},
        {"Return", "", {Qt::Key_Return, {}, "\r"}, "\r"},
        {"Backspace", "", {Qt::Key_Backspace, {}, "\b"}, "\x7f"},
        {"Tab stays in the terminal", "", {Qt::Key_Tab, {}, "\t"}, "\t"},
        {"Shift+Tab", "", {Qt::Key_Backtab, shift, ""}, "\x1b[Z"},
        {"Escape", "", {Qt::Key_Escape, {}, "\x1b"}, "\x1b"},
        {"Delete", "", {Qt::Key_Delete, {}, "\x7f"}, "\x1b[3~"},
        {"Up", "", {Qt::Key_Up}, "\x1b[A"},
        {"Up in application cursor mode", "\x1b[?1h", {Qt::Key_Up}, "\x1bOA"},
        {"Shift+Up", "", {Qt::Key_Up, shift}, "\x1b[1;2A"},
        {"F5", "", {Qt::Key_F5}, "\x1b[15~"},
        {"Control+F5", "", {Qt::Key_F5, ctrl}, "\x1b[15;5~"},
        {"keypad 5", "", {Qt::Key_5, pad, "5"}, "5"},
        {"keypad 5 in application keypad mode", "\x1b=", {Qt::Key_5, pad, "5"}, "\x1bOu"},
        {"Page Up on the alternate screen", "\x1b[?1049h", {Qt::Key_PageUp}, "\x1b[5~"},
        {"Page Up in application cursor mode", "\x1b[?1h", {Qt::Key_PageUp}, "\x1b[5~"},
        {"Shift+Page Up", "", {Qt::Key_PageUp, shift}, "\x1b[5;2~"},
        {"Kitty flags 1: Escape", "\x1b[>1u", {Qt::Key_Escape, {}, "\x1b"}, "\x1b[27u"},
        {"Kitty flags 1: Control+a", "\x1b[>1u", {Qt::Key_A, ctrl, "\x01"}, "\x1b[97;5u"},
        {"Kitty flags 1: letter", "\x1b[>1u", {Qt::Key_A, {}, "a"}, "a"},
        {"Kitty flags 8: letter", "\x1b[>8u", {Qt::Key_A, {}, "a"}, "\x1b[97u"},
    };
    for (const ByteCase& c : cases) {
        SCOPED_TRACE(c.name);
        TypingView t;
        t.feed(c.modes);
        EXPECT_EQ(t.pressed(c.key), c.bytes);
    }
}

TEST(KeyboardView, AltAsMetaSendsEscapeThenTheKeyAsTwoSends)
{
    TypingView t;
    t.press({Qt::Key_A, alt, "a"});
    EXPECT_EQ(t.log.sends, (std::vector<std::string>{"\x1b", "a"}));

    // Super+Alt+o switches Alt-as-Meta off (the key itself still types); Alt+a is then "a".
    t.log.sends.clear();
    t.press({Qt::Key_O, alt | Qt::MetaModifier, "o"});
    EXPECT_FALSE(t.view.optionAsMetaKey);
    t.log.sends.clear();
    t.press({Qt::Key_A, alt, "a"});
    EXPECT_EQ(t.log.sends, (std::vector<std::string>{"a"}));
}

TEST(KeyboardView, ViewSettingsReachTheHandler)
{
    TypingView t;
    t.view.backspaceSendsControlH = true;
    EXPECT_EQ(t.pressed({Qt::Key_Backspace, {}, "\b"}), "\b");
    t.view.optionAsMetaKey = false;
    EXPECT_EQ(t.pressed({Qt::Key_F5, alt}), "\x1b[15~");
}

TEST(KeyboardView, PageUpScrollsTheNormalScreenWithoutSending)
{
    TypingView t;
    t.feed(std::string(200, '\n'));
    const int bottom = t.view.terminal->buffer->yDisp();
    ASSERT_GT(bottom, 2 * t.view.terminal->rows);

    EXPECT_EQ(t.pressed({Qt::Key_PageUp}), "");
    EXPECT_TRUE(t.log.sends.empty());
    EXPECT_EQ(t.view.terminal->buffer->yDisp(), bottom - t.view.terminal->rows);

    EXPECT_EQ(t.pressed({Qt::Key_PageDown}), "");
    EXPECT_EQ(t.view.terminal->buffer->yDisp(), bottom);
}

TEST(KeyboardView, EveryKeyPressEndsTheSelection)
{
    TypingView t;
    t.view.selection->_active = true;
    t.press({Qt::Key_Menu}); // sends nothing
    EXPECT_FALSE(t.view.selection->_active);
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

TEST(KeyboardView, SuperTracksCommandForLinks)
{
    TypingView t;
    t.press({Qt::Key_Meta, {}, "", 133});
    EXPECT_TRUE(t.view.commandActive);
    t.release({Qt::Key_Meta, Qt::MetaModifier, "", 133});
    EXPECT_FALSE(t.view.commandActive);
}

TEST(KeyboardView, FocusChangesAreReportedOnlyWhenAskedFor)
{
    TypingView t;
    QFocusEvent in(QEvent::FocusIn, Qt::OtherFocusReason);
    QFocusEvent out(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(&t.view, &in);
    QCoreApplication::sendEvent(&t.view, &out);
    EXPECT_EQ(t.log.sent, "");
    EXPECT_FALSE(t.view.terminal->reportedFocusState);

    t.feed("\x1b[?1004h");
    t.log.sent.clear();
    QCoreApplication::sendEvent(&t.view, &in);
    EXPECT_EQ(t.log.sent, "\x1b[I");
    EXPECT_TRUE(t.view.terminal->reportedFocusState);
    QCoreApplication::sendEvent(&t.view, &out);
    EXPECT_EQ(t.log.sent, "\x1b[I\x1b[O");
}

} // namespace
} // namespace corvantix

// Typing into the real widget: synthesized Qt key events go through the view's key handling
// and come out as the bytes its delegate receives, send by send.
#include "ViewTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantix {
namespace {

struct Key {
    int code = 0;
    Qt::KeyboardModifiers modifiers = {};
    QString text = {};
};

struct TypingView : testing::ViewFixture {
    void press(const Key& k, bool repeat = false) { key(QEvent::KeyPress, k.code, k.modifiers, k.text, 0, repeat); }
    void release(const Key& k, bool repeat = false) { key(QEvent::KeyRelease, k.code, k.modifiers, k.text, 0, repeat); }
    // The bytes of one press, and nothing else of what was sent before.
    std::string pressed(const Key& k)
    {
        delegate.sent.clear();
        press(k);
        return delegate.sent;
    }
};

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

    t.delegate.sent.clear();
    t.press({Qt::Key_Up}, true);
    EXPECT_EQ(t.delegate.sent, "\x1b[1;1:2A");

    // X11 puts a release before every repeated press: it is not the key going up.
    t.delegate.sent.clear();
    t.release({Qt::Key_Up}, true);
    EXPECT_EQ(t.delegate.sent, "");

    t.release({Qt::Key_Up});
    EXPECT_EQ(t.delegate.sent, "\x1b[1;1:3A");

}

} // namespace
} // namespace corvantix

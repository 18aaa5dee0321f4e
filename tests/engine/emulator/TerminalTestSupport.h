// Small helpers for terminal tests: feeding bytes, reading the screen and the scrollback
// as text, the cursor position, the screen-case runner and one fixture with a recording host.
#pragma once

#include "RecordingDelegate.h"
#include "emulator/Terminal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// A headless terminal of the given size (no delegate, no queue).
inline std::unique_ptr<Terminal> makeTerminal(int cols = 80, int rows = 25, TerminalDelegate* delegate = nullptr)
{
    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    return std::make_unique<Terminal>(delegate, options);
}

// Changes stored options in place; like any store of options, nothing is re-applied: the
// code that reads an option sees the new value.
template <typename Change>
void changeOptions(Terminal& terminal, Change change)
{
    TerminalOptions options = terminal.options();
    change(options);
    terminal.setOptions(options);
}

inline std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// A cell of the visible screen.
inline CharData cellAt(const Terminal& terminal, int col, int row)
{
    return terminal.buffer().lines().peek(terminal.buffer().yBase() + row)->getCell(col);
}

inline void feed(Terminal& terminal, std::string_view bytes) { terminal.feed(bytes); }

inline void feed(Terminal& terminal, std::span<const std::uint8_t> bytes) { terminal.feed(bytes); }

// Feeds the bytes one at a time, as a program writing one byte per read would.
inline void feedByteByByte(Terminal& terminal, std::string_view bytes)
{
    for (char byte : bytes)
        terminal.feed(std::string_view(&byte, 1));
}

// The text of line `index` of the active screen's ring ("" for an empty slot).
inline std::string lineTextAt(const Terminal& terminal, int index)
{
    const auto& line = terminal.buffer().lines().peek(index);
    return line ? terminal.lineDisplayText(*line) : std::string();
}

// The text of one screen row (0-based) of the active screen, trailing blanks trimmed.
inline std::string screenLine(const Terminal& terminal, int row)
{
    const Buffer& screen = terminal.buffer();
    const int index = screen.yBase() + row;
    if (row < 0 || row >= screen.rows() || index >= screen.lines().count())
        return {};
    return lineTextAt(terminal, index);
}

// Every row of the active screen, top to bottom, trailing blanks trimmed.
inline std::vector<std::string> screenLines(const Terminal& terminal)
{
    std::vector<std::string> lines;
    for (int row = 0; row < terminal.buffer().rows(); ++row)
        lines.push_back(screenLine(terminal, row));
    return lines;
}

// The lines above the screen (oldest first), trailing blanks trimmed.
inline std::vector<std::string> scrollbackLines(const Terminal& terminal)
{
    const Buffer& screen = terminal.buffer();
    std::vector<std::string> lines;
    for (int index = 0; index < screen.yBase() && index < screen.lines().count(); ++index)
        lines.push_back(lineTextAt(terminal, index));
    return lines;
}

struct CursorPosition {
    int x = 0; // column, 0-based
    int y = 0; // screen row, 0-based
    friend bool operator==(const CursorPosition&, const CursorPosition&) = default;
};

inline CursorPosition cursor(const Terminal& terminal) { return {terminal.buffer().x(), terminal.buffer().y()}; }

// Lets gtest print cursor positions in failure messages.
inline void PrintTo(const CursorPosition& position, std::ostream* out)
{
    *out << "(" << position.x << ", " << position.y << ")";
}

// Writes ASCII cells straight into a screen row (no print path, no cursor movement).
inline void putRow(Terminal& terminal, int row, std::string_view text)
{
    Buffer& screen = terminal.buffer();
    BufferLine& line = *screen.lines()[screen.yBase() + row];
    for (std::size_t col = 0; col < text.size(); ++col)
        line.setCell(static_cast<int>(col), CharData(static_cast<unsigned char>(text[col]), 1, Attribute{}));
}

inline void putRows(Terminal& terminal, const std::vector<std::string>& rows)
{
    for (std::size_t row = 0; row < rows.size(); ++row)
        putRow(terminal, static_cast<int>(row), rows[row]);
}

inline void setRegion(Terminal& terminal, int top, int bottom)
{
    terminal.buffer().setScrollTop(top);
    terminal.buffer().setScrollBottom(bottom);
}

// DECLRMM on with the given margins, on the terminal and both screens.
inline void setMargins(Terminal& terminal, int left, int right)
{
    terminal.feed("\x1b[?69h");
    terminal.buffer().setMarginLeft(left);
    terminal.buffer().setMarginRight(right);
}

// Places the cursor without any handler's clamping.
inline void moveTo(Terminal& terminal, int x, int y)
{
    terminal.buffer().setX(x);
    terminal.buffer().setY(y);
}

// One case of the screen-case runner: the content put straight into the screen, a scroll
// region and margins, modes fed as bytes, the cursor placed without clamping, then the
// input. Expected: the rows (empty: the content, unchanged) and the cursor (none: where it
// started).
struct ScreenCase {
    const char* name;
    std::string input;
    CursorPosition start;
    std::vector<std::string> screen;
    int top = 0, bottom = -1;  // scroll region; -1: the last row
    int left = -1, right = -1; // margins; -1: margin mode off
    std::optional<CursorPosition> end = std::nullopt;
    std::string modes = {};
};

inline void PrintTo(const ScreenCase& c, std::ostream* out) { *out << c.name; }

// Names parameterised tests after their case's `name`: its words capitalised and joined
// ("the dot alone" gives "TheDotAlone"), as test names allow only letters and digits.
struct NameOfCase {
    template <class Info>
    std::string operator()(const Info& info) const
    {
        std::string result;
        bool startOfWord = true;
        for (const char c : std::string_view(info.param.name)) {
            if (c == '\'')
                continue; // "token's" stays one word
            const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            if (alphanumeric)
                result += startOfWord && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            startOfWord = !alphanumeric;
        }
        return result;
    }
};

inline void expectScreens(int cols, int rows, const std::vector<std::string>& content,
                          const std::vector<ScreenCase>& cases)
{
    for (const ScreenCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(cols, rows);
        putRows(*terminal, content);
        setRegion(*terminal, c.top, c.bottom < 0 ? rows - 1 : c.bottom);
        if (c.left >= 0)
            setMargins(*terminal, c.left, c.right);
        feed(*terminal, c.modes);
        moveTo(*terminal, c.start.x, c.start.y);
        feed(*terminal, c.input);
        EXPECT_EQ(screenLines(*terminal), c.screen.empty() ? content : c.screen);
        EXPECT_EQ(cursor(*terminal), c.end.value_or(c.start));
    }
}

// A terminal with a recording host. The terminal keeps a pointer to the host, so the
// fixture stays where it was made.
struct TerminalFixture {
    test::RecordingDelegate delegate;
    std::unique_ptr<Terminal> terminal;
    explicit TerminalFixture(int cols = 80, int rows = 25) : TerminalFixture(sizedOptions(cols, rows)) {}
    explicit TerminalFixture(TerminalOptions options)
        : terminal(std::make_unique<Terminal>(&delegate, std::move(options)))
    {
        delegate.clear();
    }
    TerminalFixture(const TerminalFixture&) = delete;
    TerminalFixture& operator=(const TerminalFixture&) = delete;
    // Everything the bytes alone made the terminal send.
    std::string reply(std::string_view bytes)
    {
        delegate.clear();
        feed(*terminal, bytes);
        return delegate.sent;
    }
    // The same, one entry per send call.
    std::vector<std::string> replies(std::string_view bytes)
    {
        reply(bytes);
        return delegate.sends;
    }
    static TerminalOptions sizedOptions(int cols, int rows)
    {
        TerminalOptions options;
        options.cols = cols;
        options.rows = rows;
        return options;
    }
};

} // namespace corvantix

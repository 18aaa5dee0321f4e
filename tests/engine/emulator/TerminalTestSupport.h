// Small helpers for terminal tests: feeding bytes, reading the screen and the scrollback
// as text, and the cursor position.
#pragma once

#include "emulator/Terminal.h"

#include <cstdint>
#include <memory>
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

inline void feed(Terminal& terminal, std::string_view bytes)
{
    terminal.feed(bytes);
}

inline void feed(Terminal& terminal, std::span<const std::uint8_t> bytes)
{
    terminal.feed(bytes);
}

// Feeds the bytes one at a time, as a program writing one byte per read would.
inline void feedByteByByte(Terminal& terminal, std::string_view bytes)
{
    for (char byte : bytes)
        terminal.feed(std::string_view(&byte, 1));
}

// The text of line `index` of the active screen's ring ("" for an empty slot).
inline std::string lineTextAt(const Terminal& terminal, int index)
{
    const auto& line = terminal.buffer->lines().peek(index);
    return line ? terminal.lineDisplayText(*line) : std::string();
}

// The text of one screen row (0-based) of the active screen, trailing blanks trimmed.
inline std::string screenLine(const Terminal& terminal, int row)
{
    const Buffer& screen = *terminal.buffer;
    const int index = screen.yBase() + row;
    if (row < 0 || row >= screen.rows() || index >= screen.lines().count())
        return {};
    return lineTextAt(terminal, index);
}

// Every row of the active screen, top to bottom, trailing blanks trimmed.
inline std::vector<std::string> screenLines(const Terminal& terminal)
{
    std::vector<std::string> lines;
    for (int row = 0; row < terminal.buffer->rows(); ++row)
        lines.push_back(screenLine(terminal, row));
    return lines;
}

// The lines above the screen (oldest first), trailing blanks trimmed.
inline std::vector<std::string> scrollbackLines(const Terminal& terminal)
{
    const Buffer& screen = *terminal.buffer;
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

inline CursorPosition cursor(const Terminal& terminal)
{
    return {terminal.buffer->x(), terminal.buffer->y()};
}

// Lets gtest print cursor positions in failure messages.
inline void PrintTo(const CursorPosition& position, std::ostream* out)
{
    *out << "(" << position.x << ", " << position.y << ")";
}

// Writes ASCII cells straight into a screen row (no print path, no cursor movement).
inline void putRow(Terminal& terminal, int row, std::string_view text)
{
    Buffer& screen = *terminal.buffer;
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
    terminal.buffer->setScrollTop(top);
    terminal.buffer->setScrollBottom(bottom);
}

// DECLRMM on with the given margins, on the terminal and both screens.
inline void setMargins(Terminal& terminal, int left, int right)
{
    terminal.feed("\x1b[?69h");
    terminal.buffer->setMarginLeft(left);
    terminal.buffer->setMarginRight(right);
}

// Places the cursor without any handler's clamping.
inline void moveTo(Terminal& terminal, int x, int y)
{
    terminal.buffer->setX(x);
    terminal.buffer->setY(y);
}

} // namespace corvantix

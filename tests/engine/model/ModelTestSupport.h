// Shared by the model tests: cells and lines made from text, the text of a line, and an
// image that only answers its size.
#pragma once

#include "model/Buffer.h"
#include "model/BufferLine.h"

#include <memory>
#include <string>
#include <string_view>

namespace corvantix {

inline CharData cellOf(char32_t c, int8_t width = 1) { return CharData(static_cast<int32_t>(c), width, Attribute{}); }

// A line holding the ASCII text, one cell per byte.
inline std::shared_ptr<BufferLine> lineOf(std::string_view text)
{
    auto line = BufferLine::create(static_cast<int>(text.size()));
    for (size_t i = 0; i < text.size(); ++i)
        line->setCell(static_cast<int>(i), cellOf(static_cast<unsigned char>(text[i])));
    return line;
}

// The cells as text: a wide character's placeholder (code 0, width 0) shows as "_", other
// empty cells as ".", anything past ASCII as "W".
inline std::string textOf(const BufferLine& line)
{
    std::string out;
    for (const CharData& cell : line.cells()) {
        if (cell.code == 0)
            out += cell.width == 0 ? '_' : '.';
        else if (cell.code < 0x80)
            out += static_cast<char>(cell.code);
        else
            out += 'W';
    }
    return out;
}

// Where a buffer's lines and cursor stand, as one comparable text.
inline std::string layoutOf(Buffer& buffer)
{
    return "lines " + std::to_string(buffer.lines().count()) + "/" + std::to_string(buffer.lines().maxLength()) + " base "
           + std::to_string(buffer.yBase()) + " disp " + std::to_string(buffer.yDisp()) + " y " + std::to_string(buffer.y())
           + " saved " + std::to_string(buffer.savedY);
}

class FakeImage : public TerminalImage {
public:
    int pixelWidth() const override { return 10; }
    int pixelHeight() const override { return 20; }
    int col() const override { return col_; }
    void setCol(int col) override { col_ = col; }

private:
    int col_ = 0;
};

} // namespace corvantix

#include "drawing/TextBlink.h"

#include <algorithm>
#include <utility>

namespace corvantix {

std::vector<int> rowsWithBlinkingText(const Terminal& terminal, int cols)
{
    std::vector<int> rows;
    const Buffer& buffer = terminal.buffer();
    const int first = buffer.yDisp();
    const int last = std::min(first + terminal.rows(), buffer.lines().count());
    for (int row = std::max(first, 0); row < last; ++row) {
        const BufferLine* line = terminal.getLine(row);
        if (line == nullptr)
            continue;
        for (int col = 0; col < cols; ++col) {
            if (line->packedCell(col).style().contains(CharacterStyle::blink)) {
                rows.push_back(row);
                break;
            }
            // Columns past the stored cells all read the last one: one look is enough.
            if (col >= line->dataSize())
                break;
        }
    }
    return rows;
}

TextBlinkTimer::TextBlinkTimer(MainQueue& queue, Terminal& terminal, bool& visible, std::function<void()> queueRedraw)
    : queue_(queue), terminal_(terminal), visible_(visible), queueRedraw_(std::move(queueRedraw))
{
}

TextBlinkTimer::~TextBlinkTimer()
{
    if (token_)
        queue_.cancel(*token_);
}

void TextBlinkTimer::setApplicationActive(bool active)
{
    applicationActive = active;
    updateTextBlinkTimer();
}

void TextBlinkTimer::setReduceMotion(bool value)
{
    reduceMotion = value;
    updateTextBlinkTimer();
}

void TextBlinkTimer::updateTextBlinkTimer()
{
    // Called after every output: the screen is searched for blinking text only when the
    // answer is used, never for a view out of sight such as a tab not shown.
    if (inWindow && applicationActive && !reduceMotion
        && !rowsWithBlinkingText(terminal_, terminal_.cols()).empty()) {
        if (token_)
            return;
        visible_ = true;
        schedule();
        return;
    }
    if (token_) {
        queue_.cancel(*token_);
        token_.reset();
    }
    if (!visible_) {
        visible_ = true;
        markRows(rowsWithBlinkingText(terminal_, terminal_.cols()));
        if (queueRedraw_)
            queueRedraw_();
    }
}

void TextBlinkTimer::textBlinkTick()
{
    visible_ = !visible_;
    markRows(rowsWithBlinkingText(terminal_, terminal_.cols()));
    if (queueRedraw_)
        queueRedraw_();
}

void TextBlinkTimer::stopTextBlink()
{
    if (token_) {
        queue_.cancel(*token_);
        token_.reset();
    }
    visible_ = true;
}

void TextBlinkTimer::schedule()
{
    token_ = queue_.postAfter(interval, [this] {
        token_.reset();
        schedule(); // repeating: the next period is armed before this one's work
        textBlinkTick();
    });
}

void TextBlinkTimer::markRows(const std::vector<int>& rows)
{
    const int yDisp = terminal_.buffer().yDisp();
    for (int row : rows)
        terminal_.updateRange(row - yDisp);
}

} // namespace corvantix

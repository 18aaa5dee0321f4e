// The road of output bytes into the terminal and what the host must redraw afterwards:
// feeding, the dirty-row ranges, synchronized output, cursor visibility, titles, focus
// reports, replies to the program, and the diagnostic lines for unhandled sequences.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace corvantix {

namespace {

constexpr int cleanStart = std::numeric_limits<int>::max();
constexpr int cleanEnd = -1;

// The character whose code point is the byte's value.
std::string byteAsCharacter(std::uint8_t byte)
{
    std::string text;
    appendUtf8(text, static_cast<char32_t>(byte));
    return text;
}

} // namespace

// ---------------------------------------------------------------- Payload text

std::optional<std::string> decodeUtf8(std::span<const std::uint8_t> bytes)
{
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t value = 0;
        char32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
            minimum = 0x10000;
        } else {
            return std::nullopt;
        }
        if (bytes.size() - i < length)
            return std::nullopt;
        for (std::size_t k = 1; k < length; ++k) {
            const std::uint8_t next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            value = value << 6 | (next & 0x3F);
        }
        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return std::nullopt;
        i += length;
    }
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::string> decodeAscii(std::span<const std::uint8_t> bytes)
{
    for (const std::uint8_t byte : bytes) {
        if (byte >= 0x80)
            return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

// ---------------------------------------------------------------- Feeding

void Terminal::feed(std::span<const std::uint8_t> bytes)
{
    parser_.parse(bytes);
    // Before the host reads the dirty rows: one pass for every image command of the feed.
    refreshKittyPlaceholderRows();
}

void Terminal::feed(std::string_view text)
{
    feed(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// ---------------------------------------------------------------- Refresh ranges

void Terminal::updateFullScreen()
{
    markedRow_ = -1;
    refreshStart_ = 0;
    refreshEnd_ = rows_;
    scrollInvariantRefreshStart_ = buffer_->yDisp();
    scrollInvariantRefreshEnd_ = buffer_->yDisp() + rows_;
}

void Terminal::scrollDisplayTo(int top)
{
    buffer_->setYDisp(top);
    refresh(0, rows_);
}

void Terminal::refresh(int startRow, int endRow)
{
    updateRange(startRow);
    updateRange(endRow);
}

void Terminal::clearUpdateRange()
{
    markedRow_ = -1;
    refreshStart_ = cleanStart;
    refreshEnd_ = cleanEnd;
    scrollInvariantRefreshStart_ = cleanStart;
    scrollInvariantRefreshEnd_ = cleanEnd;
}

std::optional<UpdateRange> Terminal::getUpdateRange() const
{
    if (refreshStart_ == cleanStart && refreshEnd_ == cleanEnd)
        return std::nullopt;
    return UpdateRange{refreshStart_, refreshEnd_};
}

std::optional<UpdateRange> Terminal::getScrollInvariantUpdateRange() const
{
    if (scrollInvariantRefreshStart_ == cleanStart && scrollInvariantRefreshEnd_ == cleanEnd)
        return std::nullopt;
    return UpdateRange{scrollInvariantRefreshStart_, scrollInvariantRefreshEnd_};
}

std::pair<int, int> Terminal::getCursorLocation() const
{
    return {buffer_->x(), buffer_->y()};
}

int Terminal::getTopVisibleRow() const
{
    return buffer_->yDisp();
}

// ---------------------------------------------------------------- Synchronized output

void Terminal::beginSynchronizedOutput()
{
    // Every begin re-arms the time-out, so a program that keeps repeating it stays
    // synchronized and one that stops is released a second after its last begin.
    if (synchronizedOutputTimeoutItem_) {
        if (queue != nullptr)
            queue->cancel(*synchronizedOutputTimeoutItem_);
        synchronizedOutputTimeoutItem_.reset();
    }
    if (queue == nullptr)
        return;
    const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(synchronizedOutputTimeoutSeconds));
    synchronizedOutputTimeoutItem_ = queue->postAfter(delay, [weak = std::weak_ptr<Terminal*>(lifetime)] {
        if (const auto self = weak.lock())
            (*self)->synchronizedOutputTimedOut();
    });
}

void Terminal::synchronizedOutputTimedOut()
{
    synchronizedOutputTimeoutItem_.reset(); // spent
    if (synchronizedOutputActive_)
        endSynchronizedOutput();
}

void Terminal::endSynchronizedOutput()
{
    if (!synchronizedOutputActive_)
        return;
    synchronizedOutputActive_ = false;
    if (synchronizedOutputTimeoutItem_) {
        if (queue != nullptr)
            queue->cancel(*synchronizedOutputTimeoutItem_);
        synchronizedOutputTimeoutItem_.reset();
    }
    updateRange(0);
    updateRange(rows_ - 1);
    if (tdel != nullptr)
        tdel->synchronizedOutputChanged(*this, false);
}

// ---------------------------------------------------------------- Cursor, titles, focus

void Terminal::showCursor()
{
    if (!cursorHidden_)
        return;
    cursorHidden_ = false;
    if (tdel != nullptr)
        tdel->showCursor(*this);
}

void Terminal::hideCursor()
{
    if (cursorHidden_)
        return;
    cursorHidden_ = true;
    if (tdel != nullptr)
        tdel->hideCursor(*this);
}

void Terminal::setTitle(const std::string& text)
{
    terminalTitle_ = text;
    if (tdel != nullptr)
        tdel->setTerminalTitle(*this, terminalTitle_);
}

void Terminal::setIconTitle(const std::string& text)
{
    iconTitle_ = text;
    if (tdel != nullptr)
        tdel->setTerminalIconTitle(*this, iconTitle_);
}

void Terminal::setFocusState(bool focused)
{
    reportedFocusState_ = focused;
    if (sendFocus_)
        reportFocus();
}

void Terminal::reportFocus()
{
    if (tdel == nullptr)
        return;
    std::vector<std::uint8_t> bytes;
    appendResponseItem(bytes, cc_.csi());
    bytes.push_back(reportedFocusState_ ? 'I' : 'O');
    tdel->send(*this, bytes);
}

void Terminal::linefeedNotify()
{
    if (tdel != nullptr)
        tdel->linefeed(*this);
}

// ---------------------------------------------------------------- Replies

void Terminal::appendResponseItem(std::vector<std::uint8_t>& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

void Terminal::appendResponseItem(std::vector<std::uint8_t>& bytes, std::span<const std::uint8_t> data)
{
    bytes.insert(bytes.end(), data.begin(), data.end());
}

void Terminal::sendBytes(std::span<const std::uint8_t> bytes)
{
    if (tdel != nullptr)
        tdel->send(*this, bytes);
}

void Terminal::sendText(std::string_view text)
{
    if (tdel != nullptr)
        tdel->send(*this, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// ---------------------------------------------------------------- Parser callbacks

void Terminal::logUnknownCsi(std::span<const int> pars, std::span<const std::uint8_t> collect, std::uint8_t code)
{
    if (silentLog_)
        return;
    logInfo(silentLog_, "Corvantix: Unknown CSI Code (collect=" + listText(collect) + " code=" + byteAsCharacter(code)
                           + " pars=" + listText(pars) + ")");
}

void Terminal::logUnknownEsc(std::span<const std::uint8_t> collect, std::uint8_t code)
{
    if (silentLog_)
        return;
    logInfo(silentLog_, "Corvantix: Unknown ESC Code: ESC + " + byteAsCharacter(code) + " txt=" + listText(collect));
}

void Terminal::logUnknownExecute()
{
    logInfo(silentLog_, "Corvantix: Unknown EXECUTE code");
}

void Terminal::logUnknownOsc(int code, std::span<const std::uint8_t>)
{
    if (silentLog_)
        return;
    logInfo(silentLog_, "Corvantix: Unknown OSC code: " + std::to_string(code));
}

void Terminal::logUnknownApc(std::uint8_t code, std::span<const std::uint8_t>)
{
    if (silentLog_)
        return;
    logInfo(silentLog_, "Corvantix: Unknown APC code: " + byteAsCharacter(code));
}

void Terminal::logStringOverflow(std::string_view what)
{
    if (silentLog_)
        return;
    logInfo(silentLog_, "Corvantix: Dropped an overlong string: " + std::string(what));
}

ParsingState Terminal::logParseError(ParsingState state)
{
    if (!silentLog_)
        logInfo(silentLog_, "Corvantix: Parsing error, state: " + state.description());
    return state;
}

} // namespace corvantix

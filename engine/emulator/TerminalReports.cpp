// Status and identification reports, DECRQSS, the cursor style and the scroll region and margins.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <string>

namespace corvantix {

namespace {

std::string_view asText(std::span<const std::uint8_t> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The printable ASCII bytes (0x20-0x7E) of a text.
std::string printableAscii(std::string_view text)
{
    std::string kept;
    for (const char c : text) {
        if (c >= 0x20 && c <= 0x7E)
            kept += c;
    }
    return kept;
}

// CPR / DECXCPR coordinates: origin-relative, never below 1 (neither DECSET 6 nor DECSLRM
// moves the cursor into the region, so it may lie above or left of it). After a character
// in the last column the cursor waits one past it for the wrap; it is reported on the last
// column, where it is shown, never beyond the screen.
std::pair<int, int> reportedCursorPosition(const Terminal& terminal)
{
    const Buffer& screen = terminal.buffer();
    long long row = static_cast<long long>(screen.y()) + 1;
    long long column = static_cast<long long>(std::min(screen.x(), terminal.cols() - 1)) + 1;
    if (terminal.originMode()) {
        row -= screen.scrollTop();
        if (terminal.marginMode())
            column -= screen.marginLeft();
    }
    return {static_cast<int>(std::max(row, 1LL)), static_cast<int>(std::max(column, 1LL))};
}

// DCS 0 $ r ST: the request is not understood.
void answerUnknownRequest(Terminal& terminal, std::string_view request)
{
    if (!terminal.silentLog())
        logInfo(terminal.silentLog(), "Unknown DCS + " + std::string(request));
    terminal.sendResponse(terminal.cc().dcs(), "0$r", terminal.cc().st());
}

std::optional<CursorStyle> cursorStyleForParameter(int ps)
{
    switch (ps) {
    case 0:
    case 1:
        return CursorStyle::blinkBlock;
    case 2:
        return CursorStyle::steadyBlock;
    case 3:
        return CursorStyle::blinkUnderline;
    case 4:
        return CursorStyle::steadyUnderline;
    case 5:
        return CursorStyle::blinkBar;
    case 6:
        return CursorStyle::steadyBar;
    default:
        return std::nullopt;
    }
}

} // namespace

// ---------------------------------------------------------------- DSR

void Terminal::cmdDeviceStatus(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    const int ps = pars.empty() ? 0 : pars[0];
    const std::string_view prefix = asText(collect);

    if (prefix.empty()) {
        switch (ps) {
        case 5:
            sendResponse(cc_.csi(), "0n");
            break;
        case 6: {
            const auto [row, column] = reportedCursorPosition(*this);
            sendResponse(cc_.csi(), std::to_string(row), ";", std::to_string(column), "R");
            break;
        }
        default:
            break;
        }
        return;
    }
    if (prefix != "?")
        return;

    switch (ps) {
    case 6: {
        const auto [row, column] = reportedCursorPosition(*this);
        sendResponse(cc_.csi(), "?", std::to_string(row), ";", std::to_string(column), ";1R");
        break;
    }
    case 15:
        sendResponse(cc_.csi(), "?10n");
        break;
    case 25:
        sendResponse(cc_.csi(), "?21n");
        break;
    case 26:
        sendResponse(cc_.csi(), "?27;1;0;0n");
        break;
    case 55:
        sendResponse(cc_.csi(), "?53n");
        break;
    case 56:
        sendResponse(cc_.csi(), "?57;1n");
        break;
    case 62:
        sendResponse(cc_.csi(), "0*{");
        break;
    case 63: {
        const int id = pars.size() > 1 ? pars[1] : 0;
        sendResponse(cc_.dcs(), std::to_string(id), "!~0000", cc_.st());
        break;
    }
    case 75:
        sendResponse(cc_.csi(), "?70n");
        break;
    case 85:
        sendResponse(cc_.csi(), "?83n");
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- DA, XTVERSION

void Terminal::cmdDeviceAttributes(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!pars.empty() && pars[0] >= 1) {
        if (!silentLog_)
            logInfo(silentLog_, "SendDeviceAttributes got " + listText(pars) + " and " + std::string(asText(collect)));
        return;
    }
    const std::string_view prefix = asText(collect);
    if (prefix == ">") {
        sendResponse(cc_.csi(), ">65;20;1c");
        return;
    }
    if (!prefix.empty())
        return;

    const std::string_view name = options_.termName;
    if (name.starts_with("xterm")) {
        sendResponse(cc_.csi(), "?65", options_.enableSixelReported ? ";4" : "", ";1;2;6;21;22;17;28c");
    } else if (name.starts_with("screen") || name.starts_with("rxvt-unicode")) {
        sendResponse(cc_.csi(), "?1;2c");
    } else if (name.starts_with("linux")) {
        sendResponse(cc_.csi(), "?6c");
    }
}

void Terminal::cmdReportVersion(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (asText(collect) != ">" || pars.size() != 1 || pars[0] != 0)
        return;
    // Always the 7-bit forms, whatever the controls mode.
    sendResponse("\x1bP>|",
                 terminalVersionText(CorvantixBuildInfo::version, std::nullopt, CorvantixBuildInfo::version),
                 "\x1b\\");
}

std::string terminalVersionText(std::optional<std::string_view> version, std::optional<std::string_view> suffix,
                                std::optional<std::string_view> build)
{
    std::string text = "Corvantix";
    if (version) {
        std::string rest = printableAscii(*version);
        if (rest.starts_with('v'))
            rest.erase(0, 1);
        if (!rest.empty())
            text += " " + rest;
    }
    if (suffix) {
        const std::string kept = printableAscii(*suffix);
        if (!kept.empty())
            text += "-" + kept;
    }
    if (build) {
        const std::string kept = printableAscii(*build);
        if (!kept.empty() && kept != "unknown")
            text += "+" + kept;
    }
    text += ":";
    if (text.size() >= 257) {
        text.resize(255);
        text += ":";
    }
    return text;
}

// ---------------------------------------------------------------- DECRQSS

void Terminal::cmdDECRQSS(std::span<const std::uint8_t> data)
{
    const std::string request = decodeAscii(data).value_or(std::string());
    std::string answer;
    if (request == "\"q") {
        answer = "\"q";
    } else if (request == "\"p") {
        answer = "65;1\"p"; // whatever the conformance level
    } else if (request == "r") {
        answer = std::to_string(buffer_->scrollTop() + 1) + ";" + std::to_string(buffer_->scrollBottom() + 1) + "r";
    } else if (request == "m") {
        answer = curAttr_.sgrParameters();
    } else if (request == "s") {
        answer = std::to_string(buffer_->marginLeft() + 1) + ";" + std::to_string(buffer_->marginRight() + 1) + "s";
    } else if (request == " q") {
        answer = "2 q"; // whatever the cursor style
    } else {
        answerUnknownRequest(*this, request);
        return;
    }
    sendResponse(cc_.dcs(), "1$r", answer, cc_.st());
}

void DECRQSS::hook(std::span<const std::uint8_t>, std::span<const int>, std::uint8_t)
{
    data.clear();
    overflowed = false;
}

void DECRQSS::put(std::span<const std::uint8_t> bytes)
{
    // A program may stream any amount of data into the request; only the first bytes are
    // kept, and the request is then answered as not understood.
    const std::size_t room = maximumDataLength - data.size();
    if (bytes.size() > room) {
        overflowed = true;
        bytes = bytes.first(room);
    }
    data.insert(data.end(), bytes.begin(), bytes.end());
}

void DECRQSS::unhook()
{
    if (overflowed) {
        answerUnknownRequest(terminal, decodeAscii(data).value_or(std::string()));
        return;
    }
    terminal.cmdDECRQSS(data);
}

// ---------------------------------------------------------------- DECSCUSR

void Terminal::cmdSetCursorStyle(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (asText(collect) != " ")
        return;
    const std::optional<CursorStyle> style = cursorStyleForParameter(pars.empty() ? 0 : pars[0]);
    if (style)
        setCursorStyle(*style);
}

void Terminal::setCursorStyle(CursorStyle style)
{
    if (style == options_.cursorStyle)
        return;
    options_.cursorStyle = style;
    if (tdel != nullptr)
        tdel->cursorStyleChanged(*this, style);
}

// ---------------------------------------------------------------- DECSTBM, DECSLRM

void Terminal::cmdSetScrollRegion(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collect.empty())
        return;
    const int p1 = pars.empty() ? 0 : pars[0];
    const int p2 = pars.size() > 1 ? pars[1] : 0;
    const int top = std::max(p1 - 1, 0);
    const int bottom = (p2 == 0 ? rows_ : std::min(p2, rows_)) - 1;
    if (top < bottom) {
        buffer_->setScrollTop(top);
        buffer_->setScrollBottom(bottom);
    }
    // Home: with origin mode, the top-left corner of the region.
    setCursor(0, 0);
}

void Terminal::cmdSetMargins(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collect.empty())
        return;
    const int p1 = pars.empty() ? 0 : pars[0];
    const int left = std::max(p1 - 1, 0);
    const int right = std::clamp(pars.size() > 1 ? pars[1] - 1 : cols_ - 1, 0, cols_ - 1);
    buffer_->setMarginLeft(std::min(left, right));
    buffer_->setMarginRight(right);
}

} // namespace corvantix

// Operating system commands: palette, dynamic colours, directory, hyperlinks, progress,
// clipboard, notifications, inline files.
//
// No handler here writes to the screen or reports an error: bad payloads are dropped, and
// whatever was applied before the bad part stays applied. Replies are always framed as
// OSC ... ST, whatever terminator the request used.
#include "emulator/Terminal.h"

#include "model/TinyAtom.h"
#include "platform/Base64.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

namespace {

using Bytes = std::span<const std::uint8_t>;

std::string_view asText(Bytes bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The pieces of `text` between separators; empty pieces are kept unless dropEmpty.
std::vector<std::string_view> split(std::string_view text, char separator, bool dropEmpty)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        const std::string_view field = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!dropEmpty || !field.empty())
            fields.push_back(field);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return fields;
}

std::size_t findByte(Bytes bytes, std::uint8_t byte, std::size_t from)
{
    for (std::size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] == byte)
            return i;
    }
    return bytes.size();
}

// Unsigned decimal digits only; none when empty, not a digit, or beyond `limit`.
std::optional<int> parseIndex(Bytes digits, int limit)
{
    if (digits.empty())
        return std::nullopt;
    int value = 0;
    for (const std::uint8_t byte : digits) {
        if (byte < '0' || byte > '9')
            return std::nullopt;
        value = value * 10 + (byte - '0');
        if (value > limit)
            return std::nullopt;
    }
    return value;
}

// A decimal integer with an optional leading "+" or "-"; none for anything else, an
// overflowing value included.
std::optional<std::int64_t> parseInteger(std::string_view text)
{
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '-' || text.front() == '+'))
            return std::nullopt;
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// An integer within low...high, else none.
std::optional<int> parseIntegerIn(std::string_view text, int low, int high)
{
    const std::optional<std::int64_t> value = parseInteger(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return static_cast<int>(*value);
}

} // namespace

// ---------------------------------------------------------------- OSC 4, 104: palette

void Terminal::oscSetColors(std::span<const std::uint8_t> payload)
{
    std::size_t p = 0;
    while (p < payload.size()) {
        const std::size_t semicolon = findByte(payload, ';', p);
        if (semicolon == payload.size())
            return; // a trailing index without a colour
        const std::optional<int> index = parseIndex(payload.subspan(p, semicolon - p), 255);
        if (!index || static_cast<std::size_t>(*index) >= ansiColors_.size())
            return; // stops the whole command; earlier pairs stay applied
        const std::size_t colorStart = semicolon + 1;
        if (colorStart < payload.size() && payload[colorStart] == '?') {
            sendResponse(cc_.osc(), "4;" + std::to_string(*index) + ";" + ansiColors_[*index].formatXcolor(), cc_.st());
            p = colorStart + 1;
            if (p < payload.size() && payload[p] == ';')
                ++p;
            continue;
        }
        const std::size_t colorEnd = findByte(payload, ';', colorStart);
        if (const std::optional<Color> color = Color::parseXcolorBytes(payload.subspan(colorStart, colorEnd - colorStart))) {
            ansiColors_[*index] = *color;
            if (tdel != nullptr)
                tdel->colorChanged(*this, *index);
        }
        p = colorEnd == payload.size() ? colorEnd : colorEnd + 1;
    }
}

void Terminal::oscResetColors(std::span<const std::uint8_t> payload)
{
    if (payload.empty()) {
        resetPalette();
        return;
    }
    const std::optional<std::string> text = decodeAscii(payload);
    if (!text)
        return;
    for (const std::string_view field : split(*text, ';', true)) {
        // A field that is not a number resets entry 0: it is not skipped.
        const std::int64_t n = parseInteger(field).value_or(0);
        if (n < 0 || n > 255 || static_cast<std::size_t>(n) >= ansiColors_.size()
            || static_cast<std::size_t>(n) >= defaultAnsiColors_.size())
            continue;
        const int index = static_cast<int>(n);
        ansiColors_[index] = defaultAnsiColors_[index];
        if (tdel != nullptr)
            tdel->colorChanged(*this, index);
    }
}

void Terminal::resetPalette()
{
    ansiColors_ = defaultAnsiColors_;
    if (tdel != nullptr)
        tdel->colorChanged(*this, std::nullopt);
}

// ---------------------------------------------------------------- OSC 10, 11, 12: dynamic colours

void Terminal::oscDynamicColor(std::span<const std::uint8_t> payload, int start)
{
    const std::vector<std::string_view> fields = split(asText(payload), ';', true);
    if (fields.empty())
        return;

    // The colours queries report, fetched once for the whole command.
    const TerminalColors fetched = tdel != nullptr ? tdel->getColors(*this)
                                                   : TerminalColors{foregroundColor_, backgroundColor_};

    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t n = static_cast<std::size_t>(start) + i;
        if (start < 0 || n > 2)
            continue;
        const std::string_view field = fields[i];
        if (field.front() == '?') {
            const Color& color = n == 0 ? fetched.foreground
                                 : n == 1 ? fetched.background
                                          : (cursorColor_ ? *cursorColor_ : fetched.foreground);
            sendResponse(cc_.osc(), std::to_string(10 + n) + ";" + color.formatXcolor(), cc_.st());
            continue;
        }
        const std::optional<Color> color = Color::parseXcolorBytes(field);
        if (!color)
            continue;
        // The setter tells the delegate once, and the handler tells it again.
        switch (n) {
        case 0:
            setForegroundColor(*color);
            if (tdel != nullptr)
                tdel->setForegroundColor(*this, *color);
            break;
        case 1:
            setBackgroundColor(*color);
            if (tdel != nullptr)
                tdel->setBackgroundColor(*this, *color);
            break;
        default:
            setCursorColor(*color);
            if (tdel != nullptr)
                tdel->setCursorColor(*this, *color);
            break;
        }
    }
}

// ---------------------------------------------------------------- OSC 6, 7: document and directory

void Terminal::oscSetCurrentDocument(std::span<const std::uint8_t> payload)
{
    if (tdel == nullptr || !tdel->trustsHost(*this))
        return;
    std::optional<std::string> text = decodeUtf8(payload);
    if (!text)
        return;
    hostCurrentDocument_ = std::move(*text);
    if (tdel != nullptr)
        tdel->hostCurrentDocumentUpdated(*this);
}

void Terminal::oscSetCurrentDirectory(std::span<const std::uint8_t> payload)
{
    if (tdel == nullptr || !tdel->trustsHost(*this))
        return;
    std::optional<std::string> text = decodeUtf8(payload);
    if (!text)
        return;
    hostCurrentDirectory_ = std::move(*text);
    if (tdel != nullptr)
        tdel->hostCurrentDirectoryUpdated(*this);
}

// ---------------------------------------------------------------- OSC 8: hyperlinks

void Terminal::oscHyperlink(std::span<const std::uint8_t> payload)
{
    if ((payload.size() == 1 && payload[0] == ';') || payload.size() > maximumHyperlinkPayloadLength) {
        activeHyperlink_.reset();
        return;
    }
    // Registered lazily, when the first cell inside the link is written.
    activeHyperlink_ = ActiveHyperlink::pending(decodeAscii(payload).value_or(std::string()));
}

std::optional<std::uint16_t> Terminal::resolveActiveHyperlinkCode()
{
    if (!activeHyperlink_)
        return std::nullopt;
    switch (activeHyperlink_->kind) {
    case ActiveHyperlink::Case::unavailable:
        return std::nullopt;
    case ActiveHyperlink::Case::resolved:
        return activeHyperlink_->code;
    case ActiveHyperlink::Case::pending:
        break;
    }
    const std::optional<std::uint16_t> code = registerHyperlinkPayload(std::move(activeHyperlink_->text));
    // Until the next OSC 8, cells of an unavailable link carry no payload.
    activeHyperlink_ = code ? ActiveHyperlink::resolved(*code) : ActiveHyperlink::unavailable();
    return code;
}

TinyAtom Terminal::linkPayload()
{
    if (!activeHyperlink_)
        return {};
    return TinyAtom{resolveActiveHyperlinkCode().value_or(0)};
}

std::optional<std::uint16_t> Terminal::registerHyperlinkPayload(std::string text)
{
    const auto tryRegister = [&]() -> std::optional<TinyAtom> {
        if (payloadCodes_.size() >= maximumPayloadCodes)
            return std::nullopt;
        return TinyAtom::register_(text);
    };
    std::optional<TinyAtom> atom = tryRegister();
    if (!atom) {
        // Codes this terminal no longer shows come back by a prune, which is too costly to
        // run for every link once the codes are exhausted: the first refusal prunes, then
        // every payloadPruneInterval-th. A link without a code is written without one.
        const bool prune = failedPayloadRegistrations_ == 0;
        failedPayloadRegistrations_ = (failedPayloadRegistrations_ + 1) % payloadPruneInterval;
        if (prune) {
            pruneUnusedPayloadCodes();
            atom = tryRegister();
        }
    }
    if (!atom)
        return std::nullopt;
    payloadCodes_.insert(atom->code);
    return atom->code;
}

// ---------------------------------------------------------------- OSC 9: progress

std::optional<ProgressReport> parseProgressReport(std::span<const std::uint8_t> payload)
{
    const std::optional<std::string> text = decodeAscii(payload);
    if (!text)
        return std::nullopt;
    const std::vector<std::string_view> fields = split(*text, ';', false);
    if (fields.size() < 2 || fields[0] != "4")
        return std::nullopt;
    if (fields[1].size() != 1 || fields[1][0] < '0' || fields[1][0] > '4')
        return std::nullopt;
    const std::optional<ProgressReportState> state = progressReportStateFromRaw(fields[1][0] - '0');
    if (!state)
        return std::nullopt;

    std::optional<std::uint8_t> number;
    if (fields.size() >= 3 && !fields[2].empty()) {
        const std::optional<std::int64_t> value = parseInteger(fields[2]);
        if (!value)
            return std::nullopt;
        number = static_cast<std::uint8_t>(std::clamp<std::int64_t>(*value, 0, 100));
    }

    ProgressReport report{*state, std::nullopt};
    if (*state == ProgressReportState::remove)
        return report;
    if (number)
        report.progress = number;
    else if (*state == ProgressReportState::set)
        report.progress = 0;
    return report;
}

// ---------------------------------------------------------------- OSC 52: clipboard

void Terminal::oscClipboard(std::span<const std::uint8_t> payload)
{
    const std::size_t semicolon = findByte(payload, ';', 0);
    if (payload.empty() || semicolon == payload.size())
        return;
    std::string target = decodeAscii(payload.first(semicolon)).value_or(std::string());
    if (target.empty())
        target = "c";
    const Bytes data = payload.subspan(semicolon + 1);

    if (data.size() == 1 && data[0] == '?') {
        // Whether a program may read the clipboard is the host's decision.
        if (tdel == nullptr)
            return;
        const std::optional<std::vector<std::uint8_t>> content = tdel->clipboardRead(*this);
        if (!content)
            return;
        sendResponse(cc_.osc(), "52;" + target + ";" + base64Encode(*content), cc_.st());
        return;
    }

    const std::optional<std::vector<std::uint8_t>> decoded = base64Decode(data);
    if (!decoded || tdel == nullptr)
        return;
    tdel->clipboardCopy(*this, *decoded);
}

// ---------------------------------------------------------------- OSC 777: notifications

void Terminal::oscNotify(std::span<const std::uint8_t> payload)
{
    const std::optional<std::string> text = decodeUtf8(payload);
    if (!text)
        return;
    const std::vector<std::string_view> fields = split(*text, ';', false);
    if (fields.size() < 3 || fields[0] != "notify")
        return;
    const std::string title(fields[1]);
    // The body keeps its own semicolons.
    const std::string body(std::string_view(*text).substr(static_cast<std::size_t>(fields[2].data() - text->data())));
    if (tdel != nullptr)
        tdel->notify(*this, title, body);
}

// ---------------------------------------------------------------- OSC 1337: inline files

void Terminal::oscInlineContent(std::span<const std::uint8_t> payload)
{
    const std::size_t equals = findByte(payload, '=', 0);
    if (equals == payload.size())
        return;
    const std::optional<std::string> key = decodeUtf8(payload.first(equals));
    if (!key || tdel == nullptr)
        return;
    if (*key != "File") {
        tdel->inlineContentReceived(*this, payload);
        return;
    }

    const std::size_t colon = findByte(payload, ':', equals + 1);
    if (colon == payload.size())
        return;
    const std::map<std::string, std::string> arguments
        = parseInlineFileArguments(payload.subspan(equals + 1, colon - (equals + 1)));
    const auto inlineValue = arguments.find("inline");
    if (inlineValue == arguments.end() || inlineValue->second != "1") {
        tdel->inlineContentReceived(*this, payload);
        return;
    }

    const std::optional<std::vector<std::uint8_t>> data = base64Decode(payload.subspan(colon + 1));
    if (!data)
        return; // no fallback to inlineContentReceived
    const auto aspect = arguments.find("preserveAspectRatio");
    const bool preserveAspectRatio = aspect == arguments.end() || aspect->second == "1";
    tdel->createImage(*this, *data, parseImageSizeRequest(arguments, "width"),
                      parseImageSizeRequest(arguments, "height"), preserveAspectRatio);
}

std::map<std::string, std::string> Terminal::parseInlineFileArguments(std::span<const std::uint8_t> arguments)
{
    std::map<std::string, std::string> result;
    std::size_t start = 0;
    while (start <= arguments.size()) {
        const std::size_t end = findByte(arguments, ';', start);
        const Bytes field = arguments.subspan(start, end - start);
        const std::size_t equals = findByte(field, '=', 0);
        // The walk ends at the first field it cannot read, keeping what it has.
        if (field.empty() || equals == field.size())
            break;
        std::optional<std::string> name = decodeUtf8(field.first(equals));
        std::optional<std::string> value = decodeUtf8(field.subspan(equals + 1));
        if (!name || !value)
            break;
        result[std::move(*name)] = std::move(*value);
        if (end == arguments.size())
            break;
        start = end + 1;
    }
    return result;
}

ImageSizeRequest Terminal::parseImageSizeRequest(const std::map<std::string, std::string>& arguments,
                                                 std::string_view key)
{
    const auto found = arguments.find(std::string(key));
    if (found == arguments.end() || found->second == "auto")
        return ImageSizeRequest::automatic();
    const std::string_view value = found->second;
    if (value.ends_with('%')) {
        const std::optional<int> n = parseIntegerIn(value.substr(0, value.size() - 1), 1, 100);
        return n ? ImageSizeRequest::percent(*n) : ImageSizeRequest::automatic();
    }
    if (value.ends_with("px")) {
        const std::optional<int> n = parseIntegerIn(value.substr(0, value.size() - 2), 1, 4095);
        return n ? ImageSizeRequest::pixels(*n) : ImageSizeRequest::automatic();
    }
    const std::optional<int> n = parseIntegerIn(value, 1, 199);
    return n ? ImageSizeRequest::cells(*n) : ImageSizeRequest::automatic();
}

} // namespace corvantix

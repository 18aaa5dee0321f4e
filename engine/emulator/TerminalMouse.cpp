// Mouse reporting: button codes and the report encodings (X10, UTF-8, SGR, urxvt, SGR pixels).
//
// The host decides which events to report; this file only encodes them and sends each
// report as one reply.
#include "emulator/Terminal.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace corvantix {

namespace {

constexpr int motionFlag = 32;
// Largest value the extended UTF-8 form can carry; it is also sent as the byte 0x00.
constexpr int utfLimit = 2047;

// Reports are built from non-negative values; a negative one (a caller's mistake) is sent
// as 0 rather than wrapped into a byte or printed with a sign.
std::int64_t nonNegative(int value)
{
    return std::max<std::int64_t>(value, 0);
}

void appendDecimal(std::vector<std::uint8_t>& bytes, std::int64_t value)
{
    const std::string text = std::to_string(value);
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// One coordinate byte of the X10 form: capped at 0xFF.
std::uint8_t x10Byte(std::int64_t value)
{
    return static_cast<std::uint8_t>(std::min<std::int64_t>(value, 0xFF));
}

bool isSgrRelease(std::int64_t flags)
{
    return (flags & 3) == 3 && (flags & motionFlag) == 0;
}

} // namespace

int Terminal::encodeButton(int button, bool release, bool shift, bool meta, bool control) const
{
    int code = 0;
    if (release) {
        code = 3;
    } else {
        switch (button) {
        case 0: code = 0; break;
        case 1: code = 1; break;
        case 2: code = 2; break;
        case 4: code = 64; break;
        case 5: code = 65; break;
        default: code = 0; break;
        }
    }
    switch (mouseMode_) {
    case MouseMode::vt200:
    case MouseMode::buttonEventTracking:
    case MouseMode::anyEvent:
        if (shift)
            code += 4;
        if (meta)
            code += 8;
        if (control)
            code += 16;
        break;
    case MouseMode::off:
    case MouseMode::x10:
        break;
    }
    return code;
}

void Terminal::sendEvent(int buttonFlags, int x, int y)
{
    sendMouseReport(buttonFlags, x, y, x, y);
}

void Terminal::sendMotion(int buttonFlags, int x, int y, int px, int py)
{
    sendMouseReport(buttonFlags + motionFlag, x, y, px, py);
}

void Terminal::sendMouseReport(int buttonFlags, int x, int y, int px, int py)
{
    // 64-bit arithmetic: the offsets below cannot overflow whatever the caller passes.
    std::int64_t b = nonNegative(buttonFlags);
    const std::int64_t col = nonNegative(x);
    const std::int64_t row = nonNegative(y);

    std::vector<std::uint8_t> body;
    switch (mouseProtocol_) {
    case MouseProtocolEncoding::x10:
        body.push_back('M');
        body.push_back(x10Byte(b + 32));
        body.push_back(x10Byte(col + 33));
        body.push_back(x10Byte(row + 33));
        break;
    case MouseProtocolEncoding::utf8:
        body.push_back('M');
        encodeMouseUtf(body, static_cast<int>(std::min<std::int64_t>(b + 32, utfLimit + 1)));
        encodeMouseUtf(body, static_cast<int>(std::min<std::int64_t>(col + 33, utfLimit + 1)));
        encodeMouseUtf(body, static_cast<int>(std::min<std::int64_t>(row + 33, utfLimit + 1)));
        break;
    case MouseProtocolEncoding::sgr:
    case MouseProtocolEncoding::sgrPixel: {
        const bool release = isSgrRelease(b);
        if (release)
            b &= ~std::int64_t{1 | 2 | motionFlag};
        const bool pixels = mouseProtocol_ == MouseProtocolEncoding::sgrPixel;
        body.push_back('<');
        appendDecimal(body, b);
        body.push_back(';');
        appendDecimal(body, pixels ? nonNegative(px) : col + 1);
        body.push_back(';');
        appendDecimal(body, pixels ? nonNegative(py) : row + 1);
        body.push_back(release ? 'm' : 'M');
        break;
    }
    case MouseProtocolEncoding::urxvt:
        appendDecimal(body, b + 32);
        body.push_back(';');
        appendDecimal(body, col + 1);
        body.push_back(';');
        appendDecimal(body, row + 1);
        body.push_back('M');
        break;
    }
    sendResponse(cc_.csi(), std::span<const std::uint8_t>(body));
}

void encodeMouseUtf(std::vector<std::uint8_t>& bytes, int value)
{
    if (value == utfLimit) {
        bytes.push_back(0x00);
        return;
    }
    value = std::max(value, 0);
    if (value <= 126) {
        bytes.push_back(static_cast<std::uint8_t>(value));
        return;
    }
    const int v = std::min(value, utfLimit);
    bytes.push_back(static_cast<std::uint8_t>(0xC0 | (v >> 6)));
    bytes.push_back(static_cast<std::uint8_t>(0x80 | (v & 0x3F)));
}

} // namespace corvantix

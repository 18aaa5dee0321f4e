#include "Streams.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace corvantix::bench {

namespace {

class Writer {
public:
    explicit Writer(std::size_t size) : limit(size) { bytes.reserve(size + 256); }

    bool full() const { return bytes.size() >= limit; }
    void text(std::string_view s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void byte(char c) { bytes.push_back(static_cast<std::uint8_t>(c)); }
    void number(int value)
    {
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (n > 0)
            byte(digits[--n]);
    }
    void scalar(char32_t c)
    {
        if (c < 0x80) {
            byte(static_cast<char>(c));
        } else if (c < 0x800) {
            byte(static_cast<char>(0xC0 | (c >> 6)));
            byte(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            byte(static_cast<char>(0xE0 | (c >> 12)));
            byte(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            byte(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            byte(static_cast<char>(0xF0 | (c >> 18)));
            byte(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            byte(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            byte(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    void csi() { text("\x1b["); }
    // CUP with 1-based row and column.
    void cursorTo(int row, int col)
    {
        csi();
        number(row);
        byte(';');
        number(col);
        byte('H');
    }
    std::vector<std::uint8_t> finish()
    {
        bytes.resize(limit);
        return std::move(bytes);
    }

private:
    std::size_t limit;
    std::vector<std::uint8_t> bytes;
};

// Printable ASCII that looks like program output: words of letters and digits with the
// occasional punctuation, separated by single spaces.
void asciiText(Writer& out, int length, Random& random)
{
    static constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static constexpr std::string_view punctuation = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
    int word = random.between(1, 9);
    for (int i = 0; i < length; ++i) {
        if (word == 0) {
            out.byte(' ');
            word = random.between(1, 9);
        } else if (random.chance(5)) {
            out.byte(punctuation[random.below(punctuation.size())]);
            --word;
        } else {
            out.byte(letters[random.below(letters.size())]);
            --word;
        }
    }
}

int asciiLineLength(Random& random)
{
    const int pick = static_cast<int>(random.below(100));
    if (pick < 10)
        return 0;
    if (pick < 40)
        return 79 + static_cast<int>(random.below(3)); // 79, 80, 81: the edges of an 80-column row
    return random.between(1, 200);
}

void colorParameters(Writer& out, int base, Random& random)
{
    out.number(base);
    if (random.chance(50)) {
        out.text(";5;");
        out.number(static_cast<int>(random.below(256)));
    } else {
        out.text(";2;");
        out.number(static_cast<int>(random.below(256)));
        out.byte(';');
        out.number(static_cast<int>(random.below(256)));
        out.byte(';');
        out.number(static_cast<int>(random.below(256)));
    }
}

// One token of the unicode stream; returns the columns it takes.
int unicodeToken(Writer& out, Random& random)
{
    static constexpr std::array<char32_t, 8> combining = {0x0301, 0x0300, 0x0308, 0x0323, 0x0327, 0x030A, 0x0302, 0x0331};
    static constexpr std::array<char32_t, 6> emoji = {0x1F44D, 0x1F44B, 0x1F9D1, 0x1F469, 0x1F468, 0x1F64C};
    static constexpr std::array<std::u32string_view, 6> zwjSequences = {
        U"\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466", // family
        U"\U0001F469\u200D\U0001F4BB",                                 // technologist
        U"\U0001F3F3\uFE0F\u200D\U0001F308",                           // rainbow flag
        U"\U0001F9D1\U0001F3FD\u200D\U0001F373",                       // cook, medium skin
        U"\u2764\uFE0F\u200D\U0001F525",                               // heart on fire
        U"\U0001F441\uFE0F\u200D\U0001F5E8\uFE0F",                     // eye in speech bubble
    };
    static constexpr std::array<std::string_view, 8> flags = {"US", "DE", "JP", "FR", "BR", "IN", "GB", "KR"};

    switch (random.below(10)) {
    case 0:
    case 1: { // CJK ideographs
        const int n = random.between(1, 6);
        for (int i = 0; i < n; ++i)
            out.scalar(0x4E00 + random.below(0x9FFF - 0x4E00));
        return n * 2;
    }
    case 2: { // Latin letters with one or two combining marks
        const int n = random.between(1, 6);
        for (int i = 0; i < n; ++i) {
            out.scalar('a' + random.below(26));
            const int marks = random.between(1, 2);
            for (int k = 0; k < marks; ++k)
                out.scalar(combining[random.below(combining.size())]);
        }
        return n;
    }
    case 3: // an emoji with a skin tone
        out.scalar(emoji[random.below(emoji.size())]);
        out.scalar(0x1F3FB + random.below(5));
        return 2;
    case 4: { // a ZWJ sequence
        for (char32_t c : zwjSequences[random.below(zwjSequences.size())])
            out.scalar(c);
        return 2;
    }
    case 5: { // a flag: two regional indicators
        const std::string_view flag = flags[random.below(flags.size())];
        out.scalar(0x1F1E6 + static_cast<char32_t>(flag[0] - 'A'));
        out.scalar(0x1F1E6 + static_cast<char32_t>(flag[1] - 'A'));
        return 2;
    }
    case 6: { // Hebrew
        const int n = random.between(2, 8);
        for (int i = 0; i < n; ++i)
            out.scalar(0x05D0 + random.below(27));
        return n;
    }
    case 7: { // Arabic
        const int n = random.between(2, 8);
        for (int i = 0; i < n; ++i)
            out.scalar(0x0627 + random.below(0x064A - 0x0627 + 1));
        return n;
    }
    case 8: { // Hangul syllables
        const int n = random.between(1, 5);
        for (int i = 0; i < n; ++i)
            out.scalar(0xAC00 + random.below(0xD7A3 - 0xAC00 + 1));
        return n * 2;
    }
    default: { // box drawing
        const int n = random.between(2, 12);
        for (int i = 0; i < n; ++i)
            out.scalar(0x2500 + random.below(0x80));
        return n;
    }
    }
}

} // namespace

std::vector<std::uint8_t> makeAsciiLines(std::size_t size, Random& random)
{
    Writer out(size);
    while (!out.full()) {
        asciiText(out, asciiLineLength(random), random);
        out.text("\r\n");
    }
    return out.finish();
}

std::vector<std::uint8_t> makeSgrDense(std::size_t size, int cols, int rows, Random& random)
{
    Writer out(size);
    out.text("\x1b[?1049h\x1b[2J");
    while (!out.full()) {
        for (int row = 1; row <= rows && !out.full(); ++row) {
            out.cursorTo(row, 1);
            for (int col = 0; col < cols; ++col) {
                out.text("\x1b[0");
                if (random.chance(30))
                    out.text(";1");
                if (random.chance(30))
                    out.text(";3");
                if (random.chance(30))
                    out.text(";4");
                out.byte(';');
                colorParameters(out, 38, random);
                out.byte(';');
                colorParameters(out, 48, random);
                out.byte('m');
                out.byte(static_cast<char>(0x21 + random.below(94)));
            }
        }
    }
    return out.finish();
}

std::vector<std::uint8_t> makeUnicode(std::size_t size, int cols, Random& random)
{
    Writer out(size);
    while (!out.full()) {
        // Mostly lines that fit, some that wrap.
        const int target = random.chance(80) ? random.between(0, cols - 2) : random.between(cols, cols * 2);
        int width = 0;
        while (width < target) {
            width += unicodeToken(out, random);
            if (random.chance(30)) {
                out.byte(' ');
                ++width;
            }
        }
        out.text("\r\n");
    }
    return out.finish();
}

std::vector<std::uint8_t> makeRegionScroll(std::size_t size, int cols, int rows, Random& random)
{
    Writer out(size);
    const int top = rows / 4 + 1;             // 1-based
    const int bottom = top + rows / 2 - 1;    // half of the screen
    out.text("\x1b[2J");
    out.csi();
    out.number(top);
    out.byte(';');
    out.number(bottom);
    out.byte('r');
    out.cursorTo(bottom, 1);
    while (!out.full()) {
        asciiText(out, cols, random);
        out.text("\r\n");
    }
    return out.finish();
}

std::vector<std::uint8_t> makeCursorMotion(std::size_t size, int cols, int rows, Random& random)
{
    Writer out(size);
    out.text("\x1b[?1049h\x1b[2J");
    while (!out.full()) {
        out.cursorTo(random.between(1, rows), random.between(1, cols));
        const int pick = static_cast<int>(random.below(100));
        if (pick < 8) {
            out.csi();
            out.number(static_cast<int>(random.below(3)));
            out.byte('K'); // EL 0, 1 or 2
        } else if (pick < 16) {
            out.csi();
            out.number(random.between(1, cols / 2));
            out.byte('X'); // ECH
        } else {
            out.byte(static_cast<char>(0x21 + random.below(94)));
        }
    }
    return out.finish();
}

// What `yes` shows on a terminal: one character per line, its line feed turned into a
// carriage return and a line feed by the pseudo-terminal, so every third byte scrolls a
// full scrollback by one line. A line feed should cost no more than the cells it writes.
std::vector<std::uint8_t> makeShortLines(std::size_t size)
{
    Writer out(size);
    while (!out.full())
        out.text("y\r\n");
    return out.finish();
}

const std::vector<std::string>& streamNames()
{
    // New streams go last: each stream's seed follows its place in this list.
    static const std::vector<std::string> names = {"ascii-lines", "sgr-dense", "unicode", "region-scroll",
                                                   "cursor-motion", "short-lines"};
    return names;
}

Stream makeStream(const std::string& name, std::size_t size, int cols, int rows, std::uint64_t seed)
{
    const auto& names = streamNames();
    const auto position = static_cast<std::uint64_t>(std::find(names.begin(), names.end(), name) - names.begin());
    Random random(seed + position);
    if (name == "ascii-lines")
        return {name, makeAsciiLines(size, random)};
    if (name == "sgr-dense")
        return {name, makeSgrDense(size, cols, rows, random)};
    if (name == "unicode")
        return {name, makeUnicode(size, cols, random)};
    if (name == "region-scroll")
        return {name, makeRegionScroll(size, cols, rows, random)};
    if (name == "short-lines")
        return {name, makeShortLines(size)};
    return {name, makeCursorMotion(size, cols, rows, random)};
}

} // namespace corvantix::bench

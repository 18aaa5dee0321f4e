// Text from every corner of Unicode and the fuzzers' inputs turned into the GPU renderer's
// rows: whatever the fonts cover, every row is built and nothing crashes.
#include "GLTestSupport.h"

#include <unicode/uchar.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "model/Buffer.h"
#include "model/CharData.h"

namespace corvantix {
namespace {

using namespace gltest;

// The first, middle and last scalar of every Unicode block ICU knows. Controls and
// surrogates are left out: they are not text a row can show.
std::vector<char32_t> blockSamples()
{
    std::vector<char32_t> samples;
    UChar32 start = 0;
    int block = ublock_getCode(0);
    const auto close = [&](UChar32 end) {
        if (block == UBLOCK_NO_BLOCK || block == UBLOCK_INVALID_CODE)
            return;
        for (const UChar32 c : {start, start + (end - start) / 2, end}) {
            const int8_t type = u_charType(c);
            if (type != U_CONTROL_CHAR && type != U_SURROGATE)
                samples.push_back(static_cast<char32_t>(c));
        }
    };
    for (UChar32 c = 1; c <= 0x10FFFF; ++c) {
        const int code = ublock_getCode(c);
        if (code != block) {
            close(c - 1);
            start = c;
            block = code;
        }
    }
    close(0x10FFFF);
    return samples;
}

class MetalTextSweepGLTest : public GLViewRowsTest {
protected:
    void SetUp() override
    {
        GLContextTest::SetUp();
        startRendererOnView(QRect(0, 0, 640, 400));
    }

    // Builds every line of the buffer; counts the rows built and the glyphs they hold.
    void buildEveryLine(int& rows, std::size_t& glyphs)
    {
        const Buffer& buffer = view->terminal->buffer();
        const CellDimension cell = *view->cellDimension;
        for (int line = 0; line < buffer.lines().count(); ++line) {
            const RowDrawData data = renderer->buildRowDrawData(cell.width, cell.height, descent + leading, view->width(),
                                                                1.0, line, buffer, buffer.yDisp(), {});
            glyphs += data.glyphCellsGray.size() + data.glyphCellsColor.size();
            ++rows;
        }
    }

    // The glyphs of one line.
    std::size_t glyphsOf(int line)
    {
        const Buffer& buffer = view->terminal->buffer();
        const CellDimension cell = *view->cellDimension;
        const RowDrawData data = renderer->buildRowDrawData(cell.width, cell.height, descent + leading, view->width(), 1.0,
                                                            line, buffer, buffer.yDisp(), {});
        return data.glyphCellsGray.size() + data.glyphCellsColor.size();
    }

};

// Letters, digits, punctuation and symbols that take a cell of their own show something: their
// glyph or the missing-glyph box.
bool showsInk(char32_t c)
{
    // Hangul vowel and final jamo join the syllable before them and take no cell; the
    // blank Braille pattern has no dots.
    const int jamo = u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_HANGUL_SYLLABLE_TYPE);
    if (jamo == U_HST_VOWEL_JAMO || jamo == U_HST_TRAILING_JAMO || c == 0x2800)
        return false;
    switch (u_charType(static_cast<UChar32>(c))) {
    case U_UPPERCASE_LETTER: case U_LOWERCASE_LETTER: case U_TITLECASE_LETTER: case U_OTHER_LETTER:
    case U_DECIMAL_DIGIT_NUMBER: case U_LETTER_NUMBER: case U_OTHER_NUMBER:
    case U_DASH_PUNCTUATION: case U_START_PUNCTUATION: case U_END_PUNCTUATION: case U_OTHER_PUNCTUATION:
    case U_MATH_SYMBOL: case U_CURRENCY_SYMBOL: case U_OTHER_SYMBOL:
        return !u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_DEFAULT_IGNORABLE_CODE_POINT);
    default:
        return false;
    }
}

TEST_F(MetalTextSweepGLTest, EveryBlockOfUnicodeBuildsItsRows)
{
    const std::vector<char32_t> samples = blockSamples();
    ASSERT_GT(samples.size(), 900u) << "ICU knows fewer blocks than expected";
    // Each sample alone on its line (so a cell shows exactly it), then all of them run
    // together (so neighbours shape and fall back against each other).
    const auto screenRows = static_cast<std::size_t>(view->terminal->rows());
    int drawn = 0;
    for (std::size_t first = 0; first < samples.size(); first += screenRows) {
        std::string bytes = "\x1b[H\x1b[2J";
        for (std::size_t i = first; i < samples.size() && i < first + screenRows; ++i) {
            bytes += "\x1b[" + std::to_string(i - first + 1) + ";1H";
            appendUtf8(bytes, samples[i]);
        }
        view->feedText(bytes);
        const int top = view->terminal->buffer().yDisp();
        for (std::size_t i = first; i < samples.size() && i < first + screenRows; ++i) {
            const std::size_t glyphs = glyphsOf(top + static_cast<int>(i - first));
            if (showsInk(samples[i])) {
                EXPECT_GT(glyphs, 0u) << "U+" << std::hex << static_cast<unsigned>(samples[i]) << " drew nothing";
                ++drawn;
            }
        }
    }
    EXPECT_GT(drawn, 300);

    std::string all = "\x1b[H\x1b[2J";
    for (const char32_t c : samples)
        appendUtf8(all, c);
    view->feedText(all);
    int rows = 0;
    std::size_t glyphs = 0;
    buildEveryLine(rows, glyphs);
    EXPECT_GT(glyphs, static_cast<std::size_t>(drawn) / 2);
}

TEST_F(MetalTextSweepGLTest, TheFuzzersInputsBuildTheirRows)
{
    const std::filesystem::path root(HALVOREN_SOURCE_DIR);
    std::vector<std::filesystem::path> files;
    for (const char* folder : {"fuzz/corpus", "tests/engine/data/fuzz"}) {
        for (const auto& entry : std::filesystem::directory_iterator(root / folder))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    ASSERT_GE(files.size(), 10u) << "the fuzz inputs are missing";
    int rows = 0;
    std::size_t glyphs = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        view->feedText("\x1b" "c");
        view->feedText(bytes);
        buildEveryLine(rows, glyphs);
    }
    EXPECT_GT(rows, 0);
    EXPECT_GT(glyphs, 0u);
}

} // namespace
} // namespace corvantix

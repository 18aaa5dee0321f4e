#include "style/VisibleText.h"

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(VisibleText, ControlCharactersBecomeSymbolsOnOneLine)
{
    const struct { const char16_t* text; const char16_t* shown; } cases[] = {
        {u"nl\nx", u"nl\u240Ax"}, {u"\tx\r", u"\u2409x\u240D"}, {u"c\u0001d\u001B", u"c\u2401d\u241B"},
        {u"del\u007F", u"del\u2421"}, {u"a\u0085b\u2028c\u2029", u"a\u2424b\u2424c\u2424"}, {u"\u009B", u"\uFFFD"},
        {u"abc\u202Edcba.txt", u"abc\uFFFDdcba.txt"}, {u"\u202A\u202B\u202C\u202D", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {u"\u2066a\u2067b\u2068c\u2069", u"\uFFFDa\uFFFDb\uFFFDc\uFFFD"}, {u"\u2029\u202F\u2065\u206A", u"\u2424\u202F\u2065\u206A"},
        {u"\u200Ea\u200F\u061C", u"\u200Ea\u200F\u061C"}, {u"\u05E2\u05D1\u05E8\u05D9\u05EA \u0645\u062D\u0645\u0651\u062F", u"\u05E2\u05D1\u05E8\u05D9\u05EA \u0645\u062D\u0645\u0651\u062F"},
        {u"caf\u00E9 #{x} ; |", u"caf\u00E9 #{x} ; |"}, {u"\u00A0 \U0001F600", u"\u00A0 \U0001F600"}, {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visibleText(QString::fromUtf16(c.text)), QString::fromUtf16(c.shown)) << QString::fromUtf16(c.text).toStdString();
}

} // namespace
} // namespace halvoren

#include "style/VisibleText.h"

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(VisibleText, ControlCharactersBecomeSymbolsOnOneLine)
{
    const struct { const char16_t* text; const char16_t* shown; } cases[] = {
        {u"nl\nx", u"nl\u240Ax"}, {u"\tx\r", u"\u2409x\u240D"}, {u"c\u0001d\u001B", u"c\u2401d\u241B"},
        {u"del\u007F", u"del\u2421"}, {u"a\u0085b\u2028c\u2029", u"a\u2424b\u2424c\u2424"}, {u"\u009B", u"\uFFFD"},
        {u"caf\u00E9 #{x} ; |", u"caf\u00E9 #{x} ; |"}, {u"\u00A0 \U0001F600", u"\u00A0 \U0001F600"}, {u"", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visibleText(QString::fromUtf16(c.text)), QString::fromUtf16(c.shown)) << QString::fromUtf16(c.text).toStdString();
}

} // namespace
} // namespace halvoren

#include "style/VisibleText.h"

namespace halvoren {

namespace {

// The explicit embeddings, overrides and isolates and their ends: one in a name would reorder
// the text after it (the rest of a banner, a title, a notification) until the paragraph ends.
// The plain marks (left-to-right, right-to-left, Arabic letter) start nothing and are kept.
bool startsOrEndsAnEmbedding(char16_t u)
{
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString visibleText(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));
        else if (u == 0x7F)
            c = QChar(char16_t(0x2421));
        else if (u == 0x85 || u == 0x2028 || u == 0x2029)
            c = QChar(char16_t(0x2424));
        else if ((u >= 0x80 && u <= 0x9F) || startsOrEndsAnEmbedding(u))
            c = QChar(char16_t(0xFFFD));
    }
    return shown;
}

} // namespace halvoren

#include "style/VisibleText.h"

namespace halvoren {

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
        else if (u >= 0x80 && u <= 0x9F)
            c = QChar(char16_t(0xFFFD));
    }
    return shown;
}

} // namespace halvoren

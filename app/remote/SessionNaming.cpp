#include "remote/SessionNaming.h"

#include <QByteArray>

#include <cstdint>

namespace halvoren {
namespace {

// White space and line breaks as trimmed from a path: blanks of every kind, tab, the line
// feed to carriage return controls, next line, and the line and paragraph separators.
bool isTrimmedSpace(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85)
        return true;
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

// The "\s" of the label rule: tab, line feed, form feed, carriage return and every
// separator (vertical tab and next line are not in it). Kept explicit because the other
// clients apply the same set to name the same folder.
bool isLabelSpace(QChar c)
{
    const char16_t u = c.unicode();
    if (u == u'\t' || u == u'\n' || u == u'\f' || u == u'\r')
        return true;
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

// Characters tmux does not store as given in a session name: it escapes a backslash as two,
// a control, unassigned or surrogate character as octal ("\001"), and a "$" before a letter,
// "_" or "{" as "\$". The stored name would then differ from ours and every exact target
// would miss it.
bool isUnstorable(char32_t c)
{
    if (c == U'\\')
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_NotAssigned:
    case QChar::Other_Surrogate:
        return true;
    default:
        return false;
    }
}

bool startsVariable(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || u == u'_' || u == u'{';
}

} // namespace

QString normalizeProjectPath(const QString& path)
{
    qsizetype begin = 0;
    qsizetype end = path.size();
    while (begin < end && isTrimmedSpace(path.at(begin)))
        ++begin;
    while (end > begin && isTrimmedSpace(path.at(end - 1)))
        --end;

    QString normalized;
    normalized.reserve(end - begin);
    for (qsizetype k = begin; k < end; ++k) {
        const QChar c = path.at(k);
        if (c == u'/' && normalized.endsWith(u'/'))
            continue;
        normalized.append(c);
    }
    while (normalized.size() >= 2 && normalized.endsWith(u'/'))
        normalized.chop(1);
    return normalized;
}

QString fnv1aHex(const QString& text)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    const QByteArray bytes = text.toUtf8();
    for (const char byte : bytes) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 0x100000001b3ULL;
    }
    return QStringLiteral("%1").arg(static_cast<qulonglong>(hash), 16, 16, QLatin1Char('0'));
}

QString tmuxSessionName(const QString& path)
{
    const QString normalized = normalizeProjectPath(path);
    const qsizetype slash = normalized.lastIndexOf(u'/');
    QString label = slash >= 0 ? normalized.mid(slash + 1) : normalized;
    for (QChar& c : label) {
        if (c == u'.' || c == u':' || c == u'/' || isLabelSpace(c))
            c = u'_';
    }
    // From the end, so that a "$" made "_" also counts as the "_" after an earlier "$".
    for (qsizetype k = label.size() - 1; k >= 0; --k) {
        const QChar c = label.at(k);
        if (c.isLowSurrogate() && k > 0 && label.at(k - 1).isHighSurrogate()) {
            if (isUnstorable(QChar::surrogateToUcs4(label.at(k - 1), c))) {
                label.replace(k - 1, 2, u'_');
            }
            --k;
            continue;
        }
        if (isUnstorable(c.unicode()) || (c == u'$' && k + 1 < label.size() && startsVariable(label.at(k + 1))))
            label[k] = u'_';
    }
    return QLatin1String(sessionNamePrefix) + label + QLatin1Char('-') + fnv1aHex(normalized);
}

} // namespace halvoren

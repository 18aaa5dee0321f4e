#include "remote/PasswordAutofill.h"

#include "platform/RegexUtil.h"

#include <QTextBoundaryFinder>

#include <cstdlib>
#include <string_view>

namespace halvoren {

namespace {

const corvantix::RegularExpression& passwordPromptRegex()
{
    static const corvantix::RegularExpression regex(u"(?i)password\\s*:\\s*$");
    // The pattern is fixed: failing to compile it is a defect of the program.
    if (!regex.isValid())
        std::abort();
    return regex;
}

// The last `count` grapheme clusters of `text`. A huge chunk is first cut to a generous
// number of code units, so the cost stays bounded whatever arrives.
QString lastCharacters(const QString& input, int count)
{
    if (input.size() <= count)
        return input;
    const qsizetype bound = qsizetype(count) * 16;
    const QString text = input.size() > bound ? input.right(bound) : input;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype start = text.size();
    for (int kept = 0; kept < count; ++kept) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            return text;
        start = previous;
    }
    return text.mid(start);
}

} // namespace

bool matchesPasswordPrompt(const QString& line)
{
    const std::u16string_view text(reinterpret_cast<const char16_t*>(line.utf16()), static_cast<size_t>(line.size()));
    return !passwordPromptRegex().allMatches(text).empty();
}

std::optional<QString> PasswordAutofill::feed(const QString& text)
{
    if (hasSent)
        return std::nullopt;
    tail = lastCharacters(tail + text, tailLength);
    const qsizetype lineBreak = std::max(tail.lastIndexOf(u'\r'), tail.lastIndexOf(u'\n'));
    const QString lastLine = lineBreak < 0 ? tail : tail.mid(lineBreak + 1);
    if (!matchesPasswordPrompt(lastLine))
        return std::nullopt;
    hasSent = true;
    return password + u'\r';
}

} // namespace halvoren

#include "remote/PasswordAutofill.h"

#include "platform/RegexUtil.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace halvoren {

namespace {

const corvantix::RegularExpression& passwordPromptRegex()
{
    // ssh's password request, exactly; or its keyboard-interactive form, where the server's
    // question follows ssh's "(user@host) ". A user or host never holds white space, so text
    // before the prompt on its line makes it some program's output.
    static const corvantix::RegularExpression regex(
        u"^(?:\\S+@\\S+'s password: \\z|\\(\\S+@\\S+\\) .*(?i:password)\\s*:\\s*$)");
    // The pattern is fixed: failing to compile it is a defect of the program.
    if (!regex.isValid())
        std::abort();
    return regex;
}

} // namespace

bool matchesPasswordPrompt(const QString& line)
{
    if (line.size() > PasswordAutofill::maximumLineLength)
        return false;
    const std::u16string_view text(reinterpret_cast<const char16_t*>(line.utf16()), static_cast<size_t>(line.size()));
    return !passwordPromptRegex().allMatches(text).empty();
}

std::optional<QString> PasswordAutofill::feed(const QString& text)
{
    if (hasSent)
        return std::nullopt;
    const qsizetype lineBreak = std::max(text.lastIndexOf(u'\r'), text.lastIndexOf(u'\n'));
    if (lineBreak >= 0) {
        line.clear();
        lineCut = false;
    }
    const QStringView rest = QStringView(text).mid(lineBreak + 1);
    if (!lineCut && line.size() + rest.size() > maximumLineLength) {
        // Only its end would be left: that end could look like a prompt that the line is not.
        line.clear();
        lineCut = true;
    }
    if (lineCut)
        return std::nullopt;
    line += rest;
    if (!matchesPasswordPrompt(line))
        return std::nullopt;
    hasSent = true;
    line.clear();
    return password + u'\r';
}

} // namespace halvoren

#include "platform/RegexUtil.h"

#include <unicode/uregex.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <limits>

namespace corvantix {

void RegularExpression::Closer::operator()(URegularExpression* expression) const
{
    uregex_close(expression);
}

RegularExpression::RegularExpression(std::u16string_view pattern)
{
    if (pattern.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    URegularExpression* expression = uregex_open(pattern.data(), static_cast<int32_t>(pattern.size()), 0,
                                                 &parseError, &status);
    if (U_FAILURE(status)) {
        if (expression != nullptr)
            uregex_close(expression);
        return;
    }
    compiled_.reset(expression);
}

RegularExpression::~RegularExpression() = default;

std::vector<RegularExpression::Match> RegularExpression::allMatches(std::u16string_view text, int timeLimit) const
{
    std::vector<Match> matches;
    if (!compiled_ || text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return matches;

    UErrorCode status = U_ZERO_ERROR;
    // The clone shares the compiled pattern and carries its own match state.
    std::unique_ptr<URegularExpression, Closer> matcher(uregex_clone(compiled_.get(), &status));
    if (U_FAILURE(status) || !matcher)
        return matches;
    uregex_setText(matcher.get(), text.data(), static_cast<int32_t>(text.size()), &status);
    if (timeLimit > 0)
        uregex_setTimeLimit(matcher.get(), timeLimit, &status);
    if (U_FAILURE(status))
        return matches;

    while (uregex_findNext(matcher.get(), &status) && U_SUCCESS(status)) {
        const int32_t start = uregex_start(matcher.get(), 0, &status);
        const int32_t end = uregex_end(matcher.get(), 0, &status);
        if (U_FAILURE(status))
            break;
        matches.push_back({start, end});
    }
    return matches;
}

std::string utf16ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t scalar = text[i];
        ++i;
        if (U16_IS_LEAD(scalar)) {
            if (i < text.size() && U16_IS_TRAIL(text[i])) {
                scalar = U16_GET_SUPPLEMENTARY(scalar, text[i]);
                ++i;
            } else {
                scalar = 0xFFFD;
            }
        } else if (U16_IS_TRAIL(scalar)) {
            scalar = 0xFFFD;
        }
        if (scalar < 0x80) {
            out.push_back(static_cast<char>(scalar));
        } else if (scalar < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
            out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        } else if (scalar < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
            out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
            out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
        }
    }
    return out;
}

void appendUtf16(std::u16string& out, char32_t scalar)
{
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
        scalar = 0xFFFD;
    if (scalar < 0x10000) {
        out.push_back(static_cast<char16_t>(scalar));
        return;
    }
    out.push_back(static_cast<char16_t>(U16_LEAD(scalar)));
    out.push_back(static_cast<char16_t>(U16_TRAIL(scalar)));
}

} // namespace corvantix

// A compiled ICU regular expression over UTF-16 text, and the UTF-16 conversions its
// callers need.
//
// The compiled pattern is immutable after construction and may be shared by every thread
// (a process-wide expression lives in a function-local static). ICU matcher objects are not
// safe to share while matching, so every search works on its own clone of the pattern.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct URegularExpression;

namespace corvantix {

class RegularExpression {
public:
    // A match as UTF-16 offsets: start ..< end.
    struct Match {
        int start = 0;
        int end = 0;

        friend bool operator==(const Match&, const Match&) = default;
    };

    // Compiles the expression with ICU's default options (no flags). A pattern that does
    // not compile gives an object for which isValid() is false and that finds nothing.
    explicit RegularExpression(std::u16string_view pattern);
    ~RegularExpression();
    RegularExpression(const RegularExpression&) = delete;
    RegularExpression& operator=(const RegularExpression&) = delete;

    bool isValid() const { return compiled_ != nullptr; }

    // Every match over the whole text, in order, non-overlapping (an empty match moves the
    // search on by one position, as ICU's find does). Empty when invalid or on an ICU error.
    // With a time limit (in ICU's match steps, roughly milliseconds; 0: none) a search that
    // runs out of time ends with the matches found so far.
    std::vector<Match> allMatches(std::u16string_view text, int timeLimit = 0) const;

private:
    struct Closer {
        void operator()(URegularExpression* expression) const;
    };
    std::unique_ptr<URegularExpression, Closer> compiled_;
};

// UTF-8 of UTF-16 text; unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// Appends the UTF-16 form of one scalar (a value that is no scalar appends U+FFFD).
void appendUtf16(std::u16string& out, char32_t scalar);

} // namespace corvantix

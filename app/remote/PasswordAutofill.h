// Types a remembered server password once, at the first password prompt that ssh shows.
//
// The tab feeds every chunk of output it receives; when the last, unfinished line of the
// output is a password prompt ("password", optional blanks, ":" and optional blanks, in
// any letter case), the answer is the password and a carriage return, which the tab sends
// as typed input. After one answer the instance stays silent for good.
#pragma once

#include <QString>

#include <optional>

namespace halvoren {

class PasswordAutofill {
public:
    // Output kept between chunks, in user-perceived characters.
    static constexpr int tailLength = 512;

    explicit PasswordAutofill(QString password) : password(std::move(password)) {}

    // The text to type, once; nothing otherwise.
    std::optional<QString> feed(const QString& text);

    bool sent() const { return hasSent; }

private:
    QString password;
    QString tail;
    bool hasSent = false;
};

// Whether `line` (no line break inside) ends in a password prompt.
bool matchesPasswordPrompt(const QString& line);

} // namespace halvoren

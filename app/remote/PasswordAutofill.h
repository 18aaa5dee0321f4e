// Types a remembered server password once, at ssh's own password prompt.
//
// The tab feeds every chunk of output it receives; when the last, unfinished line of the
// output is wholly a prompt of ssh ("<user>@<host>'s password: ", or a keyboard-interactive
// question that ssh prefixes with "(<user>@<host>) " and that ends in "password:"), the answer
// is the password and a carriage return, which the tab sends as typed input. A prompt of any
// other program ("Password: ", sudo's) never gets it. After one answer the instance stays
// silent for good.
#pragma once

#include <QString>

#include <optional>

namespace halvoren {

class PasswordAutofill {
public:
    // A last line longer than this (in UTF-16 code units) is no prompt of ssh: its start is
    // no longer known once it is cut, and ssh's prompt is a user, a host and a few words.
    static constexpr qsizetype maximumLineLength = 1024;

    explicit PasswordAutofill(QString password) : password(std::move(password)) {}

    // The text to type, once; nothing otherwise.
    std::optional<QString> feed(const QString& text);

    bool sent() const { return hasSent; }

private:
    QString password;
    // The output's last line so far, unless it grew past maximumLineLength (`lineCut`).
    QString line;
    bool lineCut = false;
    bool hasSent = false;
};

// Whether `line` (no line break inside) is wholly a password prompt of ssh. The user and host
// are whatever ssh prints (a host renamed in ~/.ssh/config shows its new name).
bool matchesPasswordPrompt(const QString& line);

} // namespace halvoren

// Small readers shared by the parsers of host output. None of them fails: a bad number is
// simply not a number.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

namespace halvoren {

// The non-empty lines of a text; a carriage return, a line feed and the pair of both each
// end a line.
QStringList splitLines(const QString& text);

// Without blanks and tabs at either end.
QString trimBlanks(const QString& text);
QStringView trimBlanks(QStringView text);

// An optional "+" or "-" then decimal digits only, within 64 bits.
std::optional<qint64> parseStrictInteger(const QString& text);

// A finite decimal number in C-locale syntax, the whole text consumed.
std::optional<double> parseDecimal(const QString& text);

// Ordering by Unicode code point (UTF-16 code units order supplementary characters wrongly).
bool codePointLess(const QString& a, const QString& b);

// In the file-system encoding, as program paths, arguments and environments are handed to a
// child process.
std::string local8(const QString& text);
std::vector<std::string> local8(const QStringList& list);

struct CodePointLess {
    bool operator()(const QString& a, const QString& b) const { return codePointLess(a, b); }
};

} // namespace halvoren

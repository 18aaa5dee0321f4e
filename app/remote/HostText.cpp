#include "remote/HostText.h"

#include <QByteArray>
#include <QFile>

#include <charconv>
#include <cmath>
#include <locale>
#include <sstream>

namespace halvoren {

QStringList splitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = text.size();
    for (qsizetype k = 0; k <= size; ++k) {
        if (k < size && text.at(k) != u'\n' && text.at(k) != u'\r')
            continue;
        if (k > start)
            lines << text.mid(start, k - start);
        if (k + 1 < size && text.at(k) == u'\r' && text.at(k + 1) == u'\n')
            ++k;
        start = k + 1;
    }
    return lines;
}

QString trimBlanks(const QString& text)
{
    return trimBlanks(QStringView(text)).toString();
}

QStringView trimBlanks(QStringView text)
{
    while (!text.isEmpty() && (text.front() == u' ' || text.front() == u'\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
    return text;
}

std::optional<qint64> parseStrictInteger(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    qsizetype digits = 0;
    if (!bytes.isEmpty() && (bytes.front() == '+' || bytes.front() == '-'))
        digits = 1;
    if (digits == bytes.size())
        return std::nullopt;
    for (qsizetype k = digits; k < bytes.size(); ++k) {
        if (bytes.at(k) < '0' || bytes.at(k) > '9')
            return std::nullopt;
    }
    // from_chars takes a "-" but not a "+".
    const char* begin = bytes.constData() + (bytes.front() == '+' ? 1 : 0);
    const char* end = bytes.constData() + bytes.size();
    qint64 value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value, 10);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

std::optional<double> parseDecimal(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    // Not strtod: it follows the process locale's decimal separator.
    std::istringstream stream(bytes.toStdString());
    stream.imbue(std::locale::classic());
    double value = 0;
    stream >> std::noskipws >> value;
    if (stream.fail() || !stream.eof() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool codePointLess(const QString& a, const QString& b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype k = 0; k < common; ++k) {
        const char16_t x = a.at(k).unicode();
        const char16_t y = b.at(k).unicode();
        if (x == y)
            continue;
        // Surrogates stand for code points above every other UTF-16 unit.
        const bool xHigh = x >= 0xD800 && x <= 0xDFFF;
        const bool yHigh = y >= 0xD800 && y <= 0xDFFF;
        if (xHigh != yHigh)
            return yHigh;
        return x < y;
    }
    return a.size() < b.size();
}

std::string local8(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

std::vector<std::string> local8(const QStringList& list)
{
    std::vector<std::string> out;
    out.reserve(size_t(list.size()));
    for (const QString& text : list)
        out.push_back(local8(text));
    return out;
}

} // namespace halvoren

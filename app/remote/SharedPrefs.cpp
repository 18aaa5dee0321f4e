#include "remote/SharedPrefs.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>

namespace halvoren {
namespace {

NameSet stringSetFromJSON(const QJsonValue& value)
{
    NameSet set;
    if (!value.isArray())
        return set;
    for (const QJsonValue element : value.toArray()) {
        if (element.isString())
            set.insert(element.toString());
    }
    return set;
}

// The writer's one set of escapes, for two outputs: the text itself, and a count of its UTF-8
// bytes that allocates nothing (a file near its size holds a hundred thousand names, measured
// at every change).
struct TextOut {
    QString& text;
    void ascii(QLatin1String run) { text += run; }
    void unit(QChar c) { text += c; }
    void end() {}
};

struct Utf8Count {
    qsizetype bytes = 0;
    // A high surrogate whose partner is still to come.
    bool high = false;
    void ascii(QLatin1String run)
    {
        end();
        bytes += run.size();
    }
    void unit(QChar c)
    {
        const char16_t u = c.unicode();
        if (high) {
            high = false;
            if (QChar::isLowSurrogate(u)) {
                bytes += 4;
                return;
            }
            bytes += loneSurrogateBytes;
        }
        if (QChar::isHighSurrogate(u))
            high = true;
        else if (QChar::isLowSurrogate(u))
            bytes += loneSurrogateBytes;
        else
            bytes += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    }
    void end()
    {
        if (high)
            bytes += loneSurrogateBytes;
        high = false;
    }
    // What QString::toUtf8 writes for a surrogate without its partner: "?".
    static constexpr qsizetype loneSurrogateBytes = 1;
};

template <typename Out>
void writeJsonString(Out& out, const QString& text)
{
    out.ascii(QLatin1String("\""));
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out.ascii(QLatin1String("\\\"")); break;
        case u'\\': out.ascii(QLatin1String("\\\\")); break;
        case u'/': out.ascii(QLatin1String("\\/")); break;
        case u'\b': out.ascii(QLatin1String("\\b")); break;
        case u'\f': out.ascii(QLatin1String("\\f")); break;
        case u'\n': out.ascii(QLatin1String("\\n")); break;
        case u'\r': out.ascii(QLatin1String("\\r")); break;
        case u'\t': out.ascii(QLatin1String("\\t")); break;
        default:
            if (c.unicode() < 0x20) {
                static constexpr char hex[] = "0123456789abcdef";
                const char escape[] = {'\\', 'u', '0', '0', hex[c.unicode() >> 4], hex[c.unicode() & 0xF]};
                out.ascii(QLatin1String(escape, sizeof escape));
            } else {
                out.unit(c);
            }
        }
    }
    out.ascii(QLatin1String("\""));
}

template <typename Out>
void writeJsonArray(Out& out, const NameSet& set)
{
    out.ascii(QLatin1String("["));
    bool first = true;
    for (const QString& item : set) {
        if (!first)
            out.ascii(QLatin1String(","));
        first = false;
        writeJsonString(out, item);
    }
    out.ascii(QLatin1String("]"));
}

template <typename Out>
void writeSharedPrefs(Out& out, const NameSet& favorites, const NameSet& hidden)
{
    out.ascii(QLatin1String("{\"favorites\":"));
    writeJsonArray(out, favorites);
    out.ascii(QLatin1String(",\"hidden\":"));
    writeJsonArray(out, hidden);
    out.ascii(QLatin1String(",\"version\":1}"));
    out.end();
}

} // namespace

std::optional<SharedPrefs> parseSharedPrefs(QStringView text)
{
    const QByteArray bytes = text.trimmed().toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    return SharedPrefs{stringSetFromJSON(object.value(QLatin1String("favorites"))),
                       stringSetFromJSON(object.value(QLatin1String("hidden")))};
}

QString encodeSharedPrefs(const NameSet& favorites, const NameSet& hidden)
{
    QString text;
    TextOut out{text};
    writeSharedPrefs(out, favorites, hidden);
    return text;
}

qsizetype encodedSharedPrefsBytes(const NameSet& favorites, const NameSet& hidden)
{
    // Counted by the writer itself, so the two can never disagree on a character's escape.
    Utf8Count count;
    writeSharedPrefs(count, favorites, hidden);
    return count.bytes;
}

namespace {

// The CRC of `cksum`: polynomial 0x04C11DB7, most significant bit first, no reflection.
constexpr std::array<quint32, 256> cksumTable = [] {
    std::array<quint32, 256> table{};
    for (quint32 index = 0; index < 256; ++index) {
        quint32 crc = index << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        table[index] = crc;
    }
    return table;
}();

quint32 cksumStep(quint32 crc, quint8 byte)
{
    return (crc << 8) ^ cksumTable[((crc >> 24) ^ byte) & 0xFF];
}

} // namespace

QString cksumLine(QByteArrayView bytes)
{
    quint32 crc = 0;
    for (const char byte : bytes)
        crc = cksumStep(crc, quint8(byte));
    // The length follows the bytes, least significant byte first, as many as it takes.
    for (quint64 length = quint64(bytes.size()); length != 0; length >>= 8)
        crc = cksumStep(crc, quint8(length & 0xFF));
    return QString::number(~crc) + u' ' + QString::number(bytes.size());
}

bool applyPendingNames(NameSet& names, const QHash<QString, bool>& pending)
{
    bool changed = false;
    for (auto change = pending.cbegin(); change != pending.cend(); ++change) {
        if (change.value())
            changed |= names.insert(change.key()).second;
        else
            changed |= names.erase(change.key()) > 0;
    }
    return changed;
}

bool dropSatisfiedNames(QHash<QString, bool>& pending, const NameSet& names)
{
    bool dropped = false;
    for (auto change = pending.begin(); change != pending.end();) {
        if ((names.count(change.key()) > 0) == change.value()) {
            change = pending.erase(change);
            dropped = true;
        } else {
            ++change;
        }
    }
    return dropped;
}

} // namespace halvoren

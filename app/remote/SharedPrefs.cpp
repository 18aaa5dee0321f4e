#include "remote/SharedPrefs.h"

#include "remote/ShellQuote.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

void appendJsonString(QString& out, const QString& text)
{
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': out += QLatin1String("\\\""); break;
        case u'\\': out += QLatin1String("\\\\"); break;
        case u'/': out += QLatin1String("\\/"); break;
        case u'\b': out += QLatin1String("\\b"); break;
        case u'\f': out += QLatin1String("\\f"); break;
        case u'\n': out += QLatin1String("\\n"); break;
        case u'\r': out += QLatin1String("\\r"); break;
        case u'\t': out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
}

void appendJsonArray(QString& out, const NameSet& set)
{
    out += u'[';
    bool first = true;
    for (const QString& item : set) {
        if (!first)
            out += u',';
        first = false;
        appendJsonString(out, item);
    }
    out += u']';
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
    QString out = QStringLiteral("{\"favorites\":");
    appendJsonArray(out, favorites);
    out += QLatin1String(",\"hidden\":");
    appendJsonArray(out, hidden);
    out += QLatin1String(",\"version\":1}");
    return out;
}

qsizetype encodedSharedPrefsBytes(const NameSet& favorites, const NameSet& hidden)
{
    // Measured on what is written, so the two can never disagree on a character's escape.
    return encodeSharedPrefs(favorites, hidden).toUtf8().size();
}

QString uploadSharedPrefsScript(const NameSet& favorites, const NameSet& hidden)
{
    // A temporary name per writer: two clients writing at once must not rename each
    // other's half-written file into place.
    const QString payload = QString::fromLatin1(encodeSharedPrefs(favorites, hidden).toUtf8().toBase64());
    // mv puts a file into a folder of the target's name: only a file, or nothing at all, is
    // replaced, so a folder there neither loses its place nor gathers our temporary files.
    return QStringLiteral("mkdir -p ~/.halvoren && printf %s ") + shellQuote(payload) +
           QStringLiteral(" | base64 --decode > ~/.halvoren/shared.json.tmp.$$"
                          " && { [ -f ~/.halvoren/shared.json ] || { [ ! -e ~/.halvoren/shared.json ]"
                          " && [ ! -L ~/.halvoren/shared.json ]; }; }"
                          " && mv ~/.halvoren/shared.json.tmp.$$ ~/.halvoren/shared.json"
                          " || rm -f ~/.halvoren/shared.json.tmp.$$\n");
}

} // namespace halvoren

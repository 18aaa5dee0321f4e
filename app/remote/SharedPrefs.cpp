#include "remote/SharedPrefs.h"

#include "remote/ShellQuote.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace halvoren {
namespace {

NameSet stringSetFromJSON(const QJsonValue& value, qsizetype maximumNameBytes, bool& skipped)
{
    NameSet set;
    if (!value.isArray())
        return set;
    for (const QJsonValue element : value.toArray()) {
        if (!element.isString())
            continue;
        QString name = element.toString();
        if (maximumNameBytes >= 0 && name.size() > maximumNameBytes / 3 && name.toUtf8().size() > maximumNameBytes) {
            skipped = true;
            continue;
        }
        set.insert(std::move(name));
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

std::optional<SharedPrefs> parseSharedPrefs(const QString& text, qsizetype maximumNameBytes, bool* skippedLongNames)
{
    const QByteArray bytes = text.trimmed().toUtf8();
    if (bytes.isEmpty())
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    bool skipped = false;
    SharedPrefs prefs{stringSetFromJSON(object.value(QLatin1String("favorites")), maximumNameBytes, skipped),
                      stringSetFromJSON(object.value(QLatin1String("hidden")), maximumNameBytes, skipped)};
    if (skippedLongNames)
        *skippedLongNames = skipped;
    return prefs;
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

QString uploadSharedPrefsScript(const NameSet& favorites, const NameSet& hidden)
{
    // A temporary name per writer: two clients writing at once must not rename each
    // other's half-written file into place.
    const QString payload = QString::fromLatin1(encodeSharedPrefs(favorites, hidden).toUtf8().toBase64());
    return QStringLiteral("mkdir -p ~/.halvoren && printf %s ") + shellQuote(payload) +
           QStringLiteral(" | base64 --decode > ~/.halvoren/shared.json.tmp.$$"
                          " && mv ~/.halvoren/shared.json.tmp.$$ ~/.halvoren/shared.json"
                          " || rm -f ~/.halvoren/shared.json.tmp.$$\n");
}

} // namespace halvoren

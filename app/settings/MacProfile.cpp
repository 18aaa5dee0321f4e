#include "settings/MacProfile.h"

#include <QDateTime>
#include <QJsonValue>
#include <QStringList>

#include <chrono>
#include <cmath>
#include <limits>

namespace halvoren {

QString MacProfile::newID()
{
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return QStringLiteral("p") + QString::number(std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}

namespace {

// A present key of the wrong type fails the whole profile; null counts as absent.
struct Reader {
    const QJsonObject& object;
    bool failed = false;

    std::optional<QString> text(const char* key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        if (!value.isString()) {
            failed = true;
            return std::nullopt;
        }
        return value.toString();
    }

    std::optional<int> integer(const char* key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull())
            return std::nullopt;
        const double number = value.toDouble();
        if (!value.isDouble() || std::trunc(number) != number || number < std::numeric_limits<int>::min()
            || number > std::numeric_limits<int>::max()) {
            failed = true;
            return std::nullopt;
        }
        return static_cast<int>(number);
    }
};

bool isBlank(const QString& text)
{
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

// Unicode white space and line breaks, as the quick-connect field splits its words.
QStringList splitOnWhitespace(const QString& line)
{
    QStringList tokens;
    QString current;
    for (const QChar c : line) {
        if (c.isSpace()) {
            if (!current.isEmpty())
                tokens.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty())
        tokens.append(current);
    return tokens;
}

// The options of ssh whose value is a separate word.
bool isValuedSSHOption(const QString& token)
{
    static const QStringList valuedSSHOptions = {
        QStringLiteral("-i"), QStringLiteral("-o"), QStringLiteral("-F"), QStringLiteral("-J"), QStringLiteral("-b"),
        QStringLiteral("-c"), QStringLiteral("-D"), QStringLiteral("-L"), QStringLiteral("-R"),
    };
    return valuedSSHOptions.contains(token);
}

void readPort(const QString& text, int& port)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (ok)
        port = value;
}

} // namespace

std::optional<MacProfile> MacProfile::fromJson(const QJsonObject& object)
{
    Reader reader{object};
    MacProfile profile;
    const std::optional<QString> id = reader.text("id");
    const std::optional<QString> host = reader.text("host");
    const std::optional<QString> name = reader.text("name");
    const std::optional<int> port = reader.integer("port");
    const std::optional<QString> username = reader.text("username");
    const std::optional<QString> projectsRoot = reader.text("projectsRoot");
    if (reader.failed)
        return std::nullopt;

    profile.id = id ? *id : newID();
    profile.host = host.value_or(QString());
    const QString givenName = name.value_or(QString());
    if (!isBlank(givenName))
        profile.name = givenName;
    else
        profile.name = profile.host.isEmpty() ? QStringLiteral("Machine") : profile.host;
    profile.port = port.value_or(22);
    profile.username = username.value_or(QString());
    profile.projectsRoot = projectsRoot.value_or(QStringLiteral("~/projets"));
    return profile;
}

QJsonObject MacProfile::toJson() const
{
    return QJsonObject{
        {QStringLiteral("id"), id},
        {QStringLiteral("name"), name},
        {QStringLiteral("host"), host},
        {QStringLiteral("port"), port},
        {QStringLiteral("username"), username},
        {QStringLiteral("projectsRoot"), projectsRoot},
    };
}

bool isSafeSSHName(const QString& text)
{
    if (text.startsWith(u'-'))
        return false;
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool isUsableProfile(const MacProfile& profile)
{
    return !profile.host.isEmpty() && isSafeSSHName(profile.host) && isSafeSSHName(profile.username);
}

std::optional<MacProfile> parseSSHCommand(const QString& line)
{
    const QStringList tokens = splitOnWhitespace(line);
    if (tokens.isEmpty())
        return std::nullopt;

    int port = 22;
    std::optional<QString> user;
    std::optional<QString> host;
    const qsizetype count = tokens.size();
    for (qsizetype i = 0; i < count;) {
        const QString& token = tokens[i];
        const bool hasNext = i + 1 < count;
        if (token == u"ssh") {
            i += 1;
        } else if (token == u"-p" && hasNext) {
            readPort(tokens[i + 1], port);
            i += 2;
        } else if (token.startsWith(u"-p") && token.size() >= 3) {
            readPort(token.mid(2), port);
            i += 1;
        } else if (token == u"-l" && hasNext) {
            user = tokens[i + 1];
            i += 2;
        } else if (token.startsWith(u"-l") && token.size() >= 3) {
            user = token.mid(2);
            i += 1;
        } else if (!token.startsWith(u'-')) {
            if (!host) {
                const qsizetype at = token.indexOf(u'@');
                if (at >= 0) {
                    user = token.left(at);
                    host = token.mid(at + 1);
                } else {
                    host = token;
                }
            }
            i += 1;
        } else {
            i += isValuedSSHOption(token) ? 2 : 1;
        }
    }
    if (!host || host->isEmpty())
        return std::nullopt;

    MacProfile profile;
    profile.id = MacProfile::newID();
    profile.host = *host;
    profile.port = port;
    profile.username = user.value_or(QString());
    profile.name = profile.username.isEmpty() ? profile.host : profile.username + u'@' + profile.host;
    if (!isUsableProfile(profile))
        return std::nullopt;
    return profile;
}

} // namespace halvoren

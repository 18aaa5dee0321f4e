// A saved SSH server: how to reach it and where its projects are, with its JSON form and
// the reading of a typed "ssh …" line.
#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace halvoren {

struct MacProfile {
    QString id;
    QString name;
    QString host;
    int port = 22;
    QString username;
    QString projectsRoot = QStringLiteral("~/projets");

    friend bool operator==(const MacProfile&, const MacProfile&) = default;

    // "p" + microseconds since the epoch.
    static QString newID();

    // Lenient reading: any subset of the keys, null as missing, other keys ignored. Nothing
    // when a present key holds the wrong JSON type (a port must be a whole number).
    static std::optional<MacProfile> fromJson(const QJsonObject& object);
    // All six keys.
    QJsonObject toJson() const;
};

// Whether a host or user name can stand as ssh's destination: it must not begin with "-"
// (ssh would read it as an option) and holds no white space and no control character.
bool isSafeSSHName(const QString& text);
// A profile the program agrees to connect to: a safe, non-empty host and a safe username.
bool isUsableProfile(const MacProfile& profile);

// The profile of a quick-connect line such as "ssh -p 2222 ana@srv"; nothing when the line
// names no usable destination.
std::optional<MacProfile> parseSSHCommand(const QString& line);

} // namespace halvoren

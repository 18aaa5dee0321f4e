// The saved server profiles ("profiles_v2", a JSON array of profile objects) and the key of
// each server's remembered password ("pwd_" + id), in the keychain.
//
// Without a Secret Service the profile list, and never a password, is kept in a private
// file (mode 0600) beside the preferences; one log line says so. A stored list that cannot
// be read in full is copied aside ("profiles_v2.bak") before it is first replaced, so no
// server the user saved is silently lost.
#pragma once

#include "settings/MacProfile.h"
#include "platform/SecretStore.h"

#include <QList>
#include <QString>
#include <QThreadPool>

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <optional>

namespace halvoren {

struct DecodedProfiles {
    QList<MacProfile> profiles;
    // False when the text is not a JSON array or some element was skipped.
    bool complete = true;
};

// Reads each element on its own: an element that is not a readable profile is skipped.
DecodedProfiles decodeProfiles(const QString& text);
// Compact JSON array of six-key objects.
QString encodeProfiles(const QList<MacProfile>& profiles);

class ProfileStore {
public:
    static inline const QString profilesKey = QStringLiteral("profiles_v2");
    static inline const QString backupKey = QStringLiteral("profiles_v2.bak");
    static QString passwordKey(const QString& profileID) { return QStringLiteral("pwd_") + profileID; }

    // `fallbackDirectory`: where the list goes when there is no Secret Service.
    ProfileStore(SecretStore& secrets, QString fallbackDirectory);
    ~ProfileStore();

    QCoro::Task<QList<MacProfile>> loadProfiles();
    QCoro::Task<> saveProfiles(QList<MacProfile> profiles);

    QString fallbackPath() const { return fallbackDirectory + u'/' + profilesKey; }

private:
    // Reads or writes one of the two items in the fallback folder, off the main thread.
    QCoro::Task<std::optional<QString>> readFallback(QString key);
    QCoro::Task<bool> writeFallback(QString key, QString text);
    QCoro::Task<> removeFallback(QString key);
    void noteFallback(const QString& reason);

    SecretStore& secrets;
    const QString fallbackDirectory;
    QThreadPool files;
    // A stored text that was not read in full, to copy aside before the next save.
    std::optional<QString> unreadText;
    bool fallbackNoted = false;
    // Counts saves, so that an older one that resumes late does not write the file.
    std::uint64_t saveGeneration = 0;
};

} // namespace halvoren

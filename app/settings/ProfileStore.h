// The saved server profiles ("profiles_v2", a JSON array of profile objects) and the key of
// each server's remembered password ("pwd_" + id), in the keychain.
//
// Without a Secret Service the profile list, and never a password, is kept in a private
// file (mode 0600) beside the preferences; one log line says so. A stored list that cannot
// be read in full is copied aside ("profiles_v2.bak") before it is first replaced, so no
// server the user saved is silently lost.
//
// Every change the user makes is also kept in a journal of its own (a private file beside
// the fallback, by profile id: saved or removed) until a keychain write holding it is
// answered; the journal is replayed over whatever list loads. So a change is never lost to
// a keychain that does not answer, to a quit while a write waits, or to a list restored
// from an older copy; and after a load the keychain refused, no list is stored there over
// one that was never read.
#pragma once

#include "settings/MacProfile.h"
#include "platform/SecretStore.h"

#include <QList>
#include <QString>
#include <QFuture>
#include <QThreadPool>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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

// A profile of a loaded list that got a new id.
struct ProfileRenaming {
    QString oldID;
    QString newID;
};

// Gives a fresh id, unique in the list, to each profile whose id is "local" (the id of this
// computer's connection) or repeats the id of an earlier profile; every other id is kept as
// it is, whatever it holds. `makeID` makes candidates (MacProfile::newID, which may repeat).
QList<ProfileRenaming> giveUniqueIDs(QList<MacProfile>& profiles,
                                     const std::function<QString()>& makeID = &MacProfile::newID);

// The changes of the list not yet known to be in the keychain, by profile id, oldest first.
// Shared with the file thread, which writes it as it is when its turn comes.
struct ProfileJournal;

class ProfileStore {
public:
    static inline const QString profilesKey = QStringLiteral("profiles_v2");
    static inline const QString backupKey = QStringLiteral("profiles_v2.bak");
    // The journal's file in the fallback folder.
    static inline const QString journalName = QStringLiteral("profiles_v2.journal");
    static QString passwordKey(const QString& profileID) { return QStringLiteral("pwd_") + profileID; }
    // The id of this computer's connection, which no server may have.
    static inline const QString localID = QStringLiteral("local");

    // `fallbackDirectory`: where the list goes when there is no Secret Service.
    ProfileStore(SecretStore& secrets, QString fallbackDirectory);
    ~ProfileStore();

    // The stored list, with unique ids (giveUniqueIDs): when some profile got a new one, the
    // list is stored again, the old id's remembered password is copied to the new one (and
    // removed from "local", which names no server).
    // Waits for the keychain's answer however long it takes; callers that cannot wait bound
    // their own wait with answerBound.
    // The journal is replayed over the list read, and the result stored when that changed
    // it. When the keychain refused the read (not merely had no list), the keychain is not
    // written again until the next start: saves go to the file only, and the journal keeps
    // every change for the next load.
    QCoro::Task<QList<MacProfile>> loadProfiles();
    // `profiles` must hold every change noted so far: once the keychain answers this write,
    // those changes leave the journal.
    QCoro::Task<> saveProfiles(QList<MacProfile> profiles);
    // Keeps a change of the list (a saved or a removed profile) in the journal, on disk
    // before any keychain write that follows it is asked for.
    void noteEdit(const MacProfile& profile, bool removed);
    // Whether the keychain refused the last load: the list loaded may lack its servers.
    bool loadWasRefused() const { return loadRefused; }
    // How long a keychain call of this store may go unanswered.
    std::chrono::milliseconds answerBound() const { return secrets.bound(); }

    QString fallbackPath() const { return fallbackDirectory + u'/' + profilesKey; }
    QString journalPath() const { return fallbackDirectory + u'/' + journalName; }

private:
    // Reads or writes one of the two items in the fallback folder, off the main thread.
    QCoro::Task<std::optional<QString>> readFallback(QString key);
    QCoro::Task<bool> writeFallback(QString key, QString text);
    QCoro::Task<> removeFallback(QString key);
    void noteFallback(const QString& reason);
    // Writes the journal as it is when the file thread gets to it (removes it when empty).
    void storeJournal();
    // Stores `profiles`, which hold the journal's changes up to number `covers`: once the
    // keychain has it, those leave the journal, and any later one stays.
    QCoro::Task<> saveCovering(QList<MacProfile> profiles, std::uint64_t covers);

    SecretStore& secrets;
    const QString fallbackDirectory;
    QThreadPool files;
    // A stored text that was not read in full, to copy aside before the next save.
    std::optional<QString> unreadText;
    bool fallbackNoted = false;
    // Counts saves, so that an older one that resumes late does not write the file.
    std::uint64_t saveGeneration = 0;
    // The keychain refused the load: it is not written until the next start.
    bool loadRefused = false;
    const std::shared_ptr<ProfileJournal> journal;
    // The journal's file has been read into `journal`.
    QFuture<void> journalRead;
    // Gone with the store: a job that resumes late does nothing.
    const std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

} // namespace halvoren

#include "settings/ProfileStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

namespace halvoren {

namespace {

// A profile list is a few hundred bytes per server; anything this large is not ours.
constexpr qint64 maximumFallbackSize = 4 * 1024 * 1024;

// No service, or one that did not answer in time (a write waiting for a prompt no desktop
// shows): the list goes to the file, which a later load finds when the keychain has none.
bool failed(const SecretOutcome& outcome)
{
    return outcome.status == SecretStatus::unavailable || outcome.status == SecretStatus::unanswered;
}

} // namespace

DecodedProfiles decodeProfiles(const QString& text)
{
    DecodedProfiles decoded;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        decoded.complete = false;
        return decoded;
    }
    for (const QJsonValue element : document.array()) {
        std::optional<MacProfile> profile;
        if (element.isObject())
            profile = MacProfile::fromJson(element.toObject());
        if (profile)
            decoded.profiles.append(std::move(*profile));
        else
            decoded.complete = false;
    }
    return decoded;
}

QString encodeProfiles(const QList<MacProfile>& profiles)
{
    QJsonArray array;
    for (const MacProfile& profile : profiles)
        array.append(profile.toJson());
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<ProfileRenaming> giveUniqueIDs(QList<MacProfile>& profiles, const std::function<QString()>& makeID)
{
    QSet<QString> taken;
    for (const MacProfile& profile : std::as_const(profiles))
        taken.insert(profile.id);
    taken.insert(ProfileStore::localID);
    QList<ProfileRenaming> renamed;
    QSet<QString> kept;
    for (MacProfile& profile : profiles) {
        if (profile.id != ProfileStore::localID && !kept.contains(profile.id)) {
            kept.insert(profile.id);
            continue;
        }
        // Ids made in one microsecond are equal: ask again until one is free.
        QString fresh = makeID();
        while (taken.contains(fresh))
            fresh = makeID();
        taken.insert(fresh);
        renamed.append({profile.id, fresh});
        profile.id = fresh;
    }
    return renamed;
}

ProfileStore::ProfileStore(SecretStore& store, QString directory)
    : secrets(store), fallbackDirectory(std::move(directory))
{
    files.setMaxThreadCount(1);
}

ProfileStore::~ProfileStore()
{
    files.waitForDone();
}

void ProfileStore::noteFallback(const QString& reason)
{
    if (fallbackNoted)
        return;
    fallbackNoted = true;
    corvantix::logInfo(false, "keychain: no usable Secret Service (" + reason.toStdString()
                                  + "); server profiles are kept in " + fallbackPath().toStdString()
                                  + ", passwords are not kept");
}

QCoro::Task<std::optional<QString>> ProfileStore::readFallback(QString key)
{
    const QString path = fallbackDirectory + u'/' + key;
    // The job is a named future: a temporary lambda inside the awaited expression is
    // destroyed twice by g++ 12.
    QFuture<std::optional<QString>> reading = QtConcurrent::run(&files, [path]() -> std::optional<QString> {
        const std::optional<QByteArray> bytes = readSmallFile(path, maximumFallbackSize);
        if (!bytes)
            return std::nullopt;
        return QString::fromUtf8(*bytes);
    });
    co_return co_await reading;
}

QCoro::Task<bool> ProfileStore::writeFallback(QString key, QString text)
{
    const QString path = fallbackDirectory + u'/' + key;
    QFuture<std::optional<QString>> writing =
        QtConcurrent::run(&files, [path, bytes = text.toUtf8()] { return writeFileAtomically(path, bytes, 0600); });
    const std::optional<QString> failure = co_await writing;
    if (failure)
        corvantix::logInfo(false, "keychain: cannot write " + failure->toStdString());
    co_return !failure;
}

QCoro::Task<> ProfileStore::removeFallback(QString key)
{
    const QString path = fallbackDirectory + u'/' + key;
    QFuture<bool> removing = QtConcurrent::run(&files, [path] { return QFile::remove(path); });
    co_await removing;
}

QCoro::Task<QList<MacProfile>> ProfileStore::loadProfiles()
{
    // However long the keychain takes (it may wait for the user to unlock it): a list read
    // late is still the list, and nothing read yet is not an empty one.
    QCoro::Task<SecretOutcome> reading = secrets.readItemPatiently(profilesKey);
    const SecretOutcome stored = co_await std::move(reading);
    std::optional<QString> text;
    if (stored.status == SecretStatus::ok) {
        text = stored.value;
    } else {
        if (failed(stored))
            noteFallback(stored.error);
        // Also when the service has no item: a list saved while it was missing lives there.
        text = co_await readFallback(profilesKey);
    }
    if (!text)
        co_return QList<MacProfile>{};
    DecodedProfiles decoded = decodeProfiles(*text);
    if (!decoded.complete)
        unreadText = *text;
    const QList<ProfileRenaming> renamed = giveUniqueIDs(decoded.profiles);
    if (renamed.isEmpty())
        co_return std::move(decoded.profiles);
    // The passwords first: a list stored with new ids must find theirs. The first profile of
    // a repeated id keeps it, and so its password; "local"'s goes once the list no longer
    // names it.
    bool movesLocal = false;
    for (const ProfileRenaming& renaming : renamed) {
        movesLocal = movesLocal || renaming.oldID == localID;
        QCoro::Task<std::optional<QString>> reading = secrets.secureRead(passwordKey(renaming.oldID));
        const std::optional<QString> password = co_await std::move(reading);
        if (!password)
            continue;
        QCoro::Task<> writing = secrets.secureWrite(passwordKey(renaming.newID), *password);
        co_await std::move(writing);
    }
    QCoro::Task<> saving = saveProfiles(decoded.profiles);
    co_await std::move(saving);
    if (movesLocal) {
        QCoro::Task<> deleting = secrets.secureDelete(passwordKey(localID));
        co_await std::move(deleting);
    }
    co_return std::move(decoded.profiles);
}

QCoro::Task<> ProfileStore::saveProfiles(QList<MacProfile> profiles)
{
    const QString json = encodeProfiles(profiles);
    const std::uint64_t generation = ++saveGeneration;
    const std::optional<QString> backup = std::exchange(unreadText, std::nullopt);
    // Both writes are queued before anything is awaited, so the keychain receives the lists
    // of overlapping saves in the order they were made.
    // The copy goes in the list's sequence: the list is not replaced before the copy is kept.
    std::optional<QCoro::Task<SecretOutcome>> backupWrite;
    if (backup)
        backupWrite.emplace(secrets.writeItem(backupKey, *backup, profilesKey));
    QCoro::Task<SecretOutcome> listWrite = secrets.writeItem(profilesKey, json);

    if (backupWrite) {
        const SecretOutcome kept = co_await std::move(*backupWrite);
        if (failed(kept))
            co_await writeFallback(backupKey, *backup);
    }
    const SecretOutcome saved = co_await std::move(listWrite);
    // A newer list is on its way; the file must not end up with this older one.
    if (generation != saveGeneration)
        co_return;
    if (saved.status == SecretStatus::ok) {
        // The keychain holds the whole list now; a file from a time without it is stale.
        co_await removeFallback(profilesKey);
        co_return;
    }
    noteFallback(saved.error);
    co_await writeFallback(profilesKey, json);
}

} // namespace halvoren

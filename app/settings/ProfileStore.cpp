#include "settings/ProfileStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <mutex>

namespace halvoren {

struct ProfileJournal {
    struct Entry {
        QString id;
        // Nothing when the profile was removed.
        std::optional<MacProfile> profile;
        // The number of its latest change: a keychain write covers the changes made before it.
        std::uint64_t change = 0;
    };

    std::mutex lock;
    // Guarded by `lock`.
    QList<Entry> entries;
    std::uint64_t changes = 0;

    void note(const QString& id, std::optional<MacProfile> profile)
    {
        std::lock_guard guard(lock);
        ++changes;
        const auto found = std::find_if(entries.begin(), entries.end(), [&id](const Entry& e) { return e.id == id; });
        if (found == entries.end()) {
            entries.append({id, std::move(profile), changes});
            return;
        }
        // A profile saved again after its removal is appended again, as the list does.
        if (!found->profile && profile) {
            entries.erase(found);
            entries.append({id, std::move(profile), changes});
            return;
        }
        found->profile = std::move(profile);
        found->change = changes;
    }
    // Entries of an earlier run, read from the file: older than any change noted since, and
    // covered only by writes asked for from now on.
    void addOlder(const QList<Entry>& older)
    {
        std::lock_guard guard(lock);
        QList<Entry> merged;
        for (const Entry& entry : older) {
            if (std::none_of(entries.cbegin(), entries.cend(), [&entry](const Entry& e) { return e.id == entry.id; }))
                merged.append({entry.id, entry.profile, ++changes});
        }
        entries = merged + entries;
    }
    std::uint64_t latest()
    {
        std::lock_guard guard(lock);
        return changes;
    }
    QList<Entry> snapshot()
    {
        std::lock_guard guard(lock);
        return entries;
    }
    // The entries and the number of the latest change they hold, taken at one moment.
    std::pair<QList<Entry>, std::uint64_t> snapshotWithLatest()
    {
        std::lock_guard guard(lock);
        return {entries, changes};
    }
    // Forgets the entries whose latest change is at most `upTo`; whether any went.
    bool clear(std::uint64_t upTo)
    {
        std::lock_guard guard(lock);
        return entries.removeIf([upTo](const Entry& e) { return e.change <= upTo; }) > 0;
    }
};

namespace {

// A profile list is a few hundred bytes per server; anything this large is not ours.
constexpr qint64 maximumFallbackSize = 4 * 1024 * 1024;
// The journal holds one entry per server changed since the keychain last took a list.
constexpr qint64 maximumJournalSize = 1024 * 1024;
constexpr qsizetype maximumJournalEntries = 4096;
constexpr qsizetype maximumIDLength = 1024;

// {"edits": [{"save": {six keys}} or {"remove": id}, …]}, oldest first.
QByteArray encodeJournal(const QList<ProfileJournal::Entry>& entries)
{
    QJsonArray edits;
    for (const ProfileJournal::Entry& entry : entries) {
        QJsonObject edit;
        if (entry.profile)
            edit.insert(QStringLiteral("save"), entry.profile->toJson());
        else
            edit.insert(QStringLiteral("remove"), entry.id);
        edits.append(edit);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("edits"), edits}}).toJson(QJsonDocument::Compact);
}

bool usableID(const QJsonValue& id)
{
    return id.isString() && !id.toString().isEmpty() && id.toString().size() <= maximumIDLength;
}

// The file is anybody's bytes: entries that are not exactly a saved profile with its id or a
// removed id are skipped, and a later entry of an id replaces an earlier one.
QList<ProfileJournal::Entry> decodeJournal(const QByteArray& bytes, bool& complete)
{
    complete = true;
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonValue edits = document.isObject() ? document.object().value(QStringLiteral("edits")) : QJsonValue();
    if (!edits.isArray() || edits.toArray().size() > maximumJournalEntries) {
        complete = false;
        return {};
    }
    ProfileJournal read;
    for (const QJsonValue element : edits.toArray()) {
        const QJsonObject edit = element.toObject();
        const QJsonValue saved = edit.value(QStringLiteral("save"));
        const QJsonValue removed = edit.value(QStringLiteral("remove"));
        std::optional<MacProfile> profile;
        if (edit.size() == 1 && saved.isObject() && usableID(saved.toObject().value(QStringLiteral("id"))))
            profile = MacProfile::fromJson(saved.toObject());
        if (profile) {
            const QString id = profile->id;
            read.note(id, std::move(profile));
        } else if (edit.size() == 1 && usableID(removed))
            read.note(removed.toString(), std::nullopt);
        else
            complete = false;
    }
    return read.entries;
}

// No service, a locked one, or one that did not answer in time (a write waiting for a prompt
// no desktop shows): the list goes to the file, which a later load finds when the keychain
// has none.
bool failed(const SecretOutcome& outcome)
{
    return outcome.status == SecretStatus::unavailable || outcome.status == SecretStatus::unanswered
           || outcome.status == SecretStatus::locked;
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
    : secrets(store), fallbackDirectory(std::move(directory)), journal(std::make_shared<ProfileJournal>())
{
    files.setMaxThreadCount(1);
    // The first job of the file thread: every write of the journal comes after it, and so
    // keeps the changes of the earlier run.
    journalRead = QtConcurrent::run(&files, [journal = journal, path = journalPath()] {
        const std::optional<QByteArray> bytes = readSmallFile(path, maximumJournalSize);
        if (!bytes) {
            if (QFile::exists(path))
                corvantix::logInfo(false, "keychain: ignoring " + path.toStdString() + ", which is not a small file");
            return;
        }
        bool complete = true;
        journal->addOlder(decodeJournal(*bytes, complete));
        if (!complete)
            corvantix::logInfo(false, "keychain: skipped unreadable entries of " + path.toStdString());
    });
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

void ProfileStore::noteEdit(const MacProfile& profile, bool removed)
{
    journal->note(profile.id, removed ? std::nullopt : std::optional<MacProfile>(profile));
    storeJournal();
}

void ProfileStore::storeJournal()
{
    static_cast<void>(QtConcurrent::run(&files, [journal = journal, path = journalPath()] {
        const QList<ProfileJournal::Entry> entries = journal->snapshot();
        if (entries.isEmpty()) {
            QFile::remove(path);
            return;
        }
        if (const std::optional<QString> failure = writeFileAtomically(path, encodeJournal(entries), 0600))
            corvantix::logInfo(false, "keychain: cannot write " + failure->toStdString());
    }));
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
    const std::weak_ptr<bool> life = alive;
    QFuture<void> journalReading = journalRead;
    co_await journalReading;
    if (life.expired())
        co_return QList<MacProfile>{};
    // However long the keychain takes (it may wait for the user to unlock it): a list read
    // late is still the list, and nothing read yet is not an empty one.
    QCoro::Task<SecretOutcome> reading = secrets.readItemPatiently(profilesKey);
    const SecretOutcome stored = co_await std::move(reading);
    if (life.expired())
        co_return QList<MacProfile>{};
    // A refused read (a dismissed unlock prompt, or no service at all) says nothing of the
    // keychain's list: a list stored there now would replace one nobody has read.
    loadRefused = failed(stored);
    std::optional<QString> text;
    if (stored.status == SecretStatus::ok) {
        text = stored.value;
    } else {
        if (stored.status == SecretStatus::locked)
            corvantix::logInfo(false, "keychain: the keychain is locked, so the saved servers are not shown; "
                                      "changes made to them are kept and added once a start finds it unlocked");
        else if (failed(stored))
            noteFallback(stored.error);
        // Also when the service has no item: a list saved while it was missing lives there.
        text = co_await readFallback(profilesKey);
        if (life.expired())
            co_return QList<MacProfile>{};
    }
    DecodedProfiles decoded;
    if (text) {
        decoded = decodeProfiles(*text);
        if (!decoded.complete)
            unreadText = *text;
    }
    // The changes not known to be stored go over whatever was read; a write of the result
    // holds these and no later one, whatever happens while it waits.
    const auto [changes, covered] = journal->snapshotWithLatest();
    for (const ProfileJournal::Entry& change : changes) {
        const auto found = std::find_if(decoded.profiles.begin(), decoded.profiles.end(),
                                        [&change](const MacProfile& p) { return p.id == change.id; });
        if (!change.profile)
            decoded.profiles.removeIf([&change](const MacProfile& p) { return p.id == change.id; });
        else if (found != decoded.profiles.end())
            *found = *change.profile;
        else
            decoded.profiles.append(*change.profile);
    }
    const QList<ProfileRenaming> renamed = giveUniqueIDs(decoded.profiles);
    if (renamed.isEmpty()) {
        if (!changes.isEmpty())
            saveCovering(decoded.profiles, covered);
        co_return std::move(decoded.profiles);
    }
    // The passwords first: a list stored with new ids must find theirs. The first profile of
    // a repeated id keeps it, and so its password; "local"'s goes once the list no longer
    // names it.
    bool movesLocal = false;
    for (const ProfileRenaming& renaming : renamed) {
        movesLocal = movesLocal || renaming.oldID == localID;
        QCoro::Task<std::optional<QString>> reading = secrets.secureRead(passwordKey(renaming.oldID));
        const std::optional<QString> password = co_await std::move(reading);
        if (life.expired())
            co_return QList<MacProfile>{};
        if (!password)
            continue;
        QCoro::Task<> writing = secrets.secureWrite(passwordKey(renaming.newID), *password);
        co_await std::move(writing);
        if (life.expired())
            co_return QList<MacProfile>{};
    }
    QCoro::Task<> saving = saveCovering(decoded.profiles, covered);
    co_await std::move(saving);
    if (life.expired())
        co_return QList<MacProfile>{};
    if (movesLocal) {
        QCoro::Task<> deleting = secrets.secureDelete(passwordKey(localID));
        co_await std::move(deleting);
    }
    co_return std::move(decoded.profiles);
}

QCoro::Task<> ProfileStore::saveProfiles(QList<MacProfile> profiles)
{
    return saveCovering(std::move(profiles), journal->latest());
}

QCoro::Task<> ProfileStore::saveCovering(QList<MacProfile> profiles, std::uint64_t covers)
{
    const std::weak_ptr<bool> life = alive;
    const QString json = encodeProfiles(profiles);
    const std::uint64_t generation = ++saveGeneration;
    const std::optional<QString> backup = std::exchange(unreadText, std::nullopt);
    if (loadRefused) {
        // Kept in the file, and in the journal for the next load, until a start reads the
        // keychain's own list.
        if (backup)
            co_await writeFallback(backupKey, *backup);
        if (!life.expired() && generation == saveGeneration)
            co_await writeFallback(profilesKey, json);
        co_return;
    }
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
    if (life.expired())
        co_return;
    // The keychain holds every change made before this list: the journal lets them go.
    if (saved.status == SecretStatus::ok && journal->clear(covers))
        storeJournal();
    // A newer list is on its way; the file must not end up with this older one.
    if (generation != saveGeneration)
        co_return;
    if (saved.status == SecretStatus::ok) {
        // The keychain holds the whole list now; a file from a time without it is stale.
        co_await removeFallback(profilesKey);
        co_return;
    }
    if (life.expired())
        co_return;
    noteFallback(saved.error);
    co_await writeFallback(profilesKey, json);
}

} // namespace halvoren

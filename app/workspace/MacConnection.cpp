#include "workspace/MacConnection.h"

#include "workspace/AssignAndNotify.h"
#include "settings/Prefs.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>

namespace halvoren {

namespace {

QCollator nameCollator()
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

void sortNames(QStringList& names)
{
    const QCollator collator = nameCollator();
    std::stable_sort(names.begin(), names.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

MacConnection::MacConnection() : id(localID) {}

MacConnection::MacConnection(std::shared_ptr<SSHLink> serverLink)
    : id(serverLink->profile().id), profile(serverLink->profile()), link(std::move(serverLink))
{
}

void MacConnection::setTmuxAvailable(bool value)
{
    assign(this, tmuxAvailableValue, value, &MacConnection::tmuxAvailableChanged);
}

void MacConnection::setSectionExpanded(bool value)
{
    assign(this, sectionExpandedValue, value, &MacConnection::sectionExpandedChanged);
}

void MacConnection::setHiddenExpanded(bool value)
{
    assign(this, hiddenExpandedValue, value, &MacConnection::hiddenExpandedChanged);
}

void MacConnection::setProjects(const QList<MacProject>& value)
{
    assign(this, projectsValue, value, &MacConnection::projectsChanged);
}

void MacConnection::setFavorites(const QSet<QString>& value)
{
    assign(this, favoritesValue, value, &MacConnection::favoritesChanged);
}

void MacConnection::setHidden(const QSet<QString>& value)
{
    assign(this, hiddenValue, value, &MacConnection::hiddenChanged);
}

namespace {

bool putName(QSet<QString>& names, const QString& name, bool in)
{
    if (names.contains(name) == in)
        return false;
    if (in)
        names.insert(name);
    else
        names.remove(name);
    return true;
}

} // namespace

void MacConnection::setFavorite(const QString& name, bool favorite)
{
    if (putName(favoritesValue, name, favorite))
        Q_EMIT favoritesChanged();
}

void MacConnection::setHiddenName(const QString& name, bool hidden)
{
    if (putName(hiddenValue, name, hidden))
        Q_EMIT hiddenChanged();
}

void MacConnection::setLiveSessions(const QSet<QString>& value)
{
    assign(this, liveSessionsValue, value, &MacConnection::liveSessionsChanged);
}

void MacConnection::setGitInfo(const QHash<QString, GitInfo>& value)
{
    assign(this, gitInfoValue, value, &MacConnection::gitInfoChanged);
}

void MacConnection::mergeGitInfo(const QHash<QString, GitInfo>& value)
{
    for (auto entry = value.cbegin(); entry != value.cend(); ++entry)
        gitInfoValue.insert(entry.key(), entry.value());
    Q_EMIT gitInfoChanged();
}

void MacConnection::setExpanded(const QSet<QString>& value)
{
    assign(this, expandedValue, value, &MacConnection::expandedChanged);
}

void MacConnection::insertExpanded(const QString& path)
{
    expandedValue.insert(path);
    Q_EMIT expandedChanged();
}

void MacConnection::storeSubprojects(const QString& path, const QList<MacProject>& list)
{
    subprojectsValue.insert(path, list);
    Q_EMIT subprojectsChanged();
}

void MacConnection::clearExpanded()
{
    expandedValue.clear();
    subprojectsValue.clear();
    Q_EMIT expandedChanged();
    Q_EMIT subprojectsChanged();
}

void MacConnection::setUnreachable(bool value)
{
    assign(this, unreachableValue, value, &MacConnection::unreachableChanged);
}

QString serverProjectRoot(const QString& projectsRoot, const QString& remoteHome)
{
    const QString root = projectsRoot.isEmpty() ? QStringLiteral("~/projets") : projectsRoot;
    if (root == QStringLiteral("~"))
        return remoteHome;
    if (root.startsWith(QStringLiteral("~/")))
        return remoteHome + root.mid(1);
    return root;
}

QStringList MacConnection::projectRoots() const
{
    if (!link) {
        QStringList roots = (prefs != nullptr ? *prefs : Prefs::shared()).projectsRoots();
        if (extraRoots == nullptr)
            return roots;
        // A root written another way ("/a/./b", "/a/b/") is the same folder: listed once.
        for (const QString& extra : *extraRoots) {
            const QString clean = QDir::cleanPath(extra);
            if (!extra.isEmpty() && std::none_of(roots.cbegin(), roots.cend(), [&clean](const QString& root) {
                    return QDir::cleanPath(root) == clean;
                }))
                roots << extra;
        }
        return roots;
    }
    return {serverProjectRoot(link->profile().projectsRoot, link->remoteHome())};
}

QStringList localFolderNames(const QString& root)
{
    return readLocalFolderNames(root).value_or(QStringList{});
}

std::optional<QStringList> readLocalFolderNames(const QString& root)
{
    const QFileInfo info(root);
    if (!info.exists())
        return QStringList{};
    const QDir folder(root);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable())
        return std::nullopt;
    QStringList names;
    for (const QString& name : folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (name.startsWith(u'.'))
            continue;
        // Follows links, so a link to a folder counts as one.
        if (QFileInfo(root + u'/' + name).isDir())
            names.append(name);
    }
    sortNames(names);
    return names;
}

// Awaited values and the arguments of awaited calls are named locals: g++ 12 mishandles some
// temporaries that live across a suspension.
Task<QStringList> MacConnection::listFolders(QString root)
{
    std::optional<QStringList> names = co_await tryListFolders(std::move(root));
    co_return names.value_or(QStringList{});
}

Task<std::optional<QStringList>> MacConnection::tryListFolders(QString root)
{
    if (!link) {
        // The file system may be slow (a network mount): read it off the main thread.
        QFuture<std::optional<QStringList>> reading = QtConcurrent::run([root] { return readLocalFolderNames(root); });
        std::optional<QStringList> names = co_await reading;
        co_return names;
    }
    // The link outlives this call even if the connection is dropped meanwhile.
    const std::shared_ptr<SSHLink> server = link;
    // A missing root is empty, as here; a root that cannot be entered is a failure, so the list
    // it had is kept.
    QString command = folderListingCommand(root);
    std::optional<QByteArray> input;
    ShellResult<QString> listing = co_await server->runCommand(std::move(command), std::move(input), 25.0);
    if (!listing)
        co_return std::nullopt;
    co_return parseFolderListing(listing.value());
}

QList<MacProject> MacConnection::visibleProjects() const
{
    QList<MacProject> visible;
    for (const MacProject& project : projectsValue) {
        if (!hiddenValue.contains(project.name))
            visible.append(project);
    }
    const QCollator collator = nameCollator();
    std::stable_sort(visible.begin(), visible.end(), [&](const MacProject& a, const MacProject& b) {
        const bool favoriteA = favoritesValue.contains(a.name);
        const bool favoriteB = favoritesValue.contains(b.name);
        if (favoriteA != favoriteB)
            return favoriteA;
        return collator.compare(a.name, b.name) < 0;
    });
    return visible;
}

QList<MacProject> MacConnection::hiddenProjects() const
{
    QList<MacProject> hiddenList;
    for (const MacProject& project : projectsValue) {
        if (hiddenValue.contains(project.name))
            hiddenList.append(project);
    }
    const QCollator collator = nameCollator();
    std::stable_sort(hiddenList.begin(), hiddenList.end(),
                     [&](const MacProject& a, const MacProject& b) { return collator.compare(a.name, b.name) < 0; });
    return hiddenList;
}

} // namespace halvoren

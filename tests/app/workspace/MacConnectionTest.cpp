#include "workspace/MacConnection.h"

#include "../support/TempFolder.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <unistd.h>

namespace halvoren {
namespace {

TEST(MacConnection, ServerRootTildeStandsForTheRemoteHome)
{
    const std::pair<QString, QString> cases[] = {{QString(), QStringLiteral("/home/ana/projets")},
                                                 {QStringLiteral("~"), QStringLiteral("/home/ana")},
                                                 {QStringLiteral("~/code"), QStringLiteral("/home/ana/code")},
                                                 {QStringLiteral("/srv/www"), QStringLiteral("/srv/www")}};
    for (const auto& [root, expected] : cases)
        EXPECT_EQ(serverProjectRoot(root, QStringLiteral("/home/ana")), expected);
}

TEST(MacConnection, LocalListingKeepsVisibleFoldersAndLinksToThemSorted)
{
    test::TempFolder root;
    ASSERT_TRUE(root.valid());
    for (const char* name : {".git", ".cache", "b", "A", "c d"})
        ASSERT_TRUE(QDir().mkpath(root.file(QString::fromLatin1(name))));
    ASSERT_TRUE(test::writeAll(root.file(QStringLiteral("z.txt")), "z"));
    ASSERT_EQ(::symlink("b", QFile::encodeName(root.file(QStringLiteral("linked"))).constData()), 0);
    ASSERT_EQ(::symlink("z.txt", QFile::encodeName(root.file(QStringLiteral("file-link"))).constData()), 0);
    MacConnection local;
    // Waits however the listing ends: at once or on a later turn of the loop.
    const QStringList names = QCoro::waitFor(local.listFolders(root.path()));
    EXPECT_EQ(names, (QStringList{QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("c d"), QStringLiteral("linked")}));
    EXPECT_TRUE(localFolderNames(root.file(QStringLiteral("missing"))).isEmpty());
}

MacProject project(const char* name, const char* root = "/r")
{
    const QString path = QString::fromLatin1(root) + u'/' + QString::fromLatin1(name);
    return MacProject{QString::fromLatin1(name), path, QStringLiteral("kq-") + QString::fromLatin1(name)};
}

QStringList names(const QList<MacProject>& projects)
{
    QStringList out;
    for (const MacProject& p : projects)
        out << p.name + u'@' + p.path.section(u'/', 1, 1);
    return out;
}

TEST(MacConnection, FavouritesFirstHiddenApartByNameAcrossRoots)
{
    MacConnection local;
    local.setProjects({project("a"), project("b"), project("c"), project("D"), project("b", "/s"), project("a", "/s")});
    local.setHidden({QStringLiteral("b")});
    local.setFavorites({QStringLiteral("c")});
    EXPECT_EQ(names(local.visibleProjects()),
              (QStringList{QStringLiteral("c@r"), QStringLiteral("a@r"), QStringLiteral("a@s"), QStringLiteral("D@r")}));
    EXPECT_EQ(names(local.hiddenProjects()), (QStringList{QStringLiteral("b@r"), QStringLiteral("b@s")}));
}

TEST(MacConnection, WholeValuesNotifyOnChangeInPlaceEditsAlways)
{
    MacConnection local;
    QSignalSpy favorites(&local, &MacConnection::favoritesChanged);
    QSignalSpy expanded(&local, &MacConnection::expandedChanged);
    local.setFavorites({});
    local.setFavorites({QStringLiteral("x")});
    local.setFavorites({QStringLiteral("x")});
    local.insertExpanded(QStringLiteral("/p"));
    local.insertExpanded(QStringLiteral("/p"));
    EXPECT_EQ(favorites.count(), 1);
    EXPECT_EQ(expanded.count(), 2);
}

} // namespace
} // namespace halvoren

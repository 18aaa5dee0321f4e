// A server connection lists the folders of its project root over ssh (see SshServer.h).
#include "model/MacConnection.h"

#include "../RunSync.h"
#include "../SshServer.h"
#include "../../support/TempFolder.h"

#include <QDir>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(ConnectionServer, ListsTheVisibleFoldersOfARootWithAQuoteInItsName)
{
    test::TempFolder home;
    ASSERT_TRUE(home.valid());
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    {
        test::SshServer server;
        ASSERT_TRUE(server.running()) << server.failure().toStdString();
        const QString root = server.remoteHome() + QStringLiteral("/it's root");
        for (const char* name : {".git", "b", "A"})
            ASSERT_TRUE(QDir().mkpath(root + u'/' + QString::fromLatin1(name)));
        ASSERT_TRUE(test::writeAll(root + QStringLiteral("/z.txt"), "z"));

        SSHLink::setProgramForTests(server.keyClient());
        MacProfile profile = server.profile();
        profile.projectsRoot = QStringLiteral("~/it's root");
        MacConnection connection(std::make_shared<SSHLink>(profile));
        ASSERT_TRUE(test::runSync(connection.link->fetchRemoteHome()));
        ASSERT_EQ(connection.projectRoots(), QStringList{root});
        EXPECT_EQ(test::runSync(connection.listFolders(root)), (QStringList{QStringLiteral("A"), QStringLiteral("b")}));
        // A root that is not there lists nothing.
        EXPECT_TRUE(test::runSync(connection.listFolders(root + QStringLiteral("/none"))).isEmpty());
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
    qputenv("HOME", savedHome);
}

} // namespace
} // namespace halvoren

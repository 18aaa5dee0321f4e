// Files dropped on a tab reach its project's "Upload" folder, here and on a loopback sshd (see
// SshServer.h), and their paths are typed into the tab; the tab's view runs a recorder of
// what it is sent instead of a shell.
#include "workspace/MacModel.h"

#include "app/remote/SshServer.h"
#include "app/support/ParamName.h"
#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "tab/MacTab.h"

#include <QDir>
#include <QThreadPool>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace halvoren {
namespace {

struct DropCase { const char* name; bool overSSH; };

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class DroppedFiles : public testing::TestWithParam<DropCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.valid());
        if (GetParam().overSSH) {
            server.emplace();
            ASSERT_TRUE(server->running()) << server->failure().toStdString();
            SSHLink::setProgramForTests(server->keyClient());
            // As a started server tab leaves it.
            controlDirectory();
        }
        MacConnection* connection = model.localConnection();
        project = work.file(QStringLiteral("project"));
        if (server) {
            connection = new MacConnection(std::make_shared<SSHLink>(server->profile()));
            model.appendConnection(connection);
            project = server->remoteHome() + QStringLiteral("/project");
        }
        tab = model.makeTab(*connection, MacProject{QStringLiteral("project"), project, QStringLiteral("kq-project")});
        model.insertTab(tab, 0);
        tab->terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                                    std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt,
                                    work.path().toStdString());
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(work.file(QStringLiteral("ready"))); }, 20000));
    }

    void drop(const QStringList& names)
    {
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << QUrl::fromLocalFile(name.startsWith(u'/') ? name : work.file(name));
        tab->onDropFiles(*tab, urls);
    }
    QByteArray typed() const { return test::readAll(work.file(QStringLiteral("typed"))); }
    // Waits until the tab was typed exactly `expected`.
    bool typedBecomes(const QByteArray& expected) const
    {
        return QTest::qWaitFor([&] { return typed() == expected; }, 20000);
    }
    // The message shown, then those waiting for their turn.
    QStringList banners() const
    {
        QStringList all;
        if (model.banner())
            all << *model.banner();
        return all + model.waitingBanners();
    }
    QString uploads() const { return project + QStringLiteral("/Upload/"); }

    test::TempFolder work;
    test::EnvironmentOverride home{"HOME", work.path()};
    std::optional<test::SshServer> server;
    struct ProgramReset {
        ~ProgramReset() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    } programReset;
    PreferenceStore store{work.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    QString project;
    MacTab* tab = nullptr;
};

TEST_P(DroppedFiles, ReadableOnesAreUploadedAndTypedTheOtherNamed)
{
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("a b.txt")), "one"));
    ASSERT_TRUE(QDir().mkpath(work.file(QStringLiteral("folder"))));
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("c.txt")), "three"));
    drop({QStringLiteral("a b.txt"), QStringLiteral("folder"), QStringLiteral("c.txt")});
    EXPECT_TRUE(typedBecomes("Upload/a_b.txt Upload/c.txt ")) << typed().toStdString();
    EXPECT_EQ(banners(), QStringList{QStringLiteral("Fichier illisible : folder")});
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files), (QStringList{QStringLiteral("a_b.txt"), QStringLiteral("c.txt")}));
    EXPECT_EQ(test::readAll(uploads() + QStringLiteral("a_b.txt")), QByteArray("one"));
    EXPECT_EQ(test::readAll(uploads() + QStringLiteral("c.txt")), QByteArray("three"));
}

// Only regular files are read: a pipe would block its reader for ever (and the exit, which
// waits for the worker pool), a device would be read as a file. A link to a regular file is
// still one.
TEST_P(DroppedFiles, PipesAndDevicesAreRefusedWithoutHoldingAWorker)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(work.file(QStringLiteral("pipe"))).constData(), 0600), 0);
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("last.txt")), "last"));
    ASSERT_TRUE(QFile::link(work.file(QStringLiteral("last.txt")), work.file(QStringLiteral("link.txt"))));
    drop({QStringLiteral("pipe"), QStringLiteral("/dev/null"), QStringLiteral("link.txt"), QStringLiteral("last.txt")});
    EXPECT_TRUE(typedBecomes("Upload/link.txt Upload/last.txt ")) << typed().toStdString();
    EXPECT_EQ(banners(), (QStringList{QStringLiteral("Fichier illisible : pipe"), QStringLiteral("Fichier illisible : null")}));
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files), (QStringList{QStringLiteral("last.txt"), QStringLiteral("link.txt")}));
    EXPECT_EQ(test::readAll(uploads() + QStringLiteral("link.txt")), QByteArray("last"));
    EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(1000));
}

// The file system's longest name: the temporary file beside it must not be named after it.
TEST_P(DroppedFiles, ANameOfTheLongestSizeIsUploaded)
{
    const QString name = QString(251, u'n') + QStringLiteral(".txt");
    ASSERT_EQ(QFile::encodeName(name).size(), 255);
    ASSERT_TRUE(test::writeAll(work.file(name), "long"));
    drop({name});
    EXPECT_TRUE(typedBecomes("Upload/" + name.toUtf8() + ' ')) << typed().toStdString();
    EXPECT_EQ(banners(), QStringList());
    EXPECT_EQ(QDir(uploads()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    EXPECT_EQ(test::readAll(uploads() + name), QByteArray("long"));
}

INSTANTIATE_TEST_SUITE_P(Hosts, DroppedFiles,
                         testing::Values(DropCase{"this_computer", false}, DropCase{"loopback_server", true}),
                         test::ParamName());

} // namespace
} // namespace halvoren

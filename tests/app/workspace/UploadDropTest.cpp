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
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct DropCase { const char* name; bool overSSH; };

void PrintTo(const DropCase& c, std::ostream* os) { *os << c.name; }

class DroppedFiles : public testing::TestWithParam<DropCase> {};

TEST_P(DroppedFiles, ReadableOnesAreUploadedAndTypedTheOtherNamed)
{
    test::TempFolder work;
    ASSERT_TRUE(work.valid());
    test::EnvironmentOverride home("HOME", work.path());
    std::optional<test::SshServer> server;
    if (GetParam().overSSH) {
        server.emplace();
        ASSERT_TRUE(server->running()) << server->failure().toStdString();
        SSHLink::setProgramForTests(server->keyClient());
        // As a started server tab leaves it.
        controlDirectory();
    }
    struct ProgramReset {
        ~ProgramReset() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    } programReset;
    PreferenceStore store(work.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    Notifier notifier(QDBusConnection(QStringLiteral("no-bus")));
    MacModel model(prefs, nullptr, &notifier);
    MacConnection* connection = model.localConnection();
    QString project = work.file(QStringLiteral("project"));
    if (server) {
        connection = new MacConnection(std::make_shared<SSHLink>(server->profile()));
        model.appendConnection(connection);
        project = server->remoteHome() + QStringLiteral("/project");
    }
    MacTab* tab = model.makeTab(*connection, MacProject{QStringLiteral("project"), project, QStringLiteral("kq-project")});
    model.insertTab(tab, 0);
    tab->terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                                std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt,
                                work.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(work.file(QStringLiteral("ready"))); }, 20000));
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("a b.txt")), "one"));
    ASSERT_TRUE(QDir().mkpath(work.file(QStringLiteral("folder"))));
    ASSERT_TRUE(test::writeAll(work.file(QStringLiteral("c.txt")), "three"));
    QSignalSpy banners(&model, &MacModel::bannerChanged);
    tab->onDropFiles(*tab, {QUrl::fromLocalFile(work.file(QStringLiteral("a b.txt"))),
                            QUrl::fromLocalFile(work.file(QStringLiteral("folder"))),
                            QUrl::fromLocalFile(work.file(QStringLiteral("c.txt")))});
    const QByteArray expected = "Upload/a_b.txt Upload/c.txt ";
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(work.file(QStringLiteral("typed"))) == expected; }, 20000))
        << test::readAll(work.file(QStringLiteral("typed"))).toStdString();
    EXPECT_EQ(model.banner().value_or(QString()).toStdString(), "Fichier illisible : folder");
    EXPECT_EQ(banners.count(), 1);
    const QString uploads = project + QStringLiteral("/Upload/");
    EXPECT_EQ(QDir(uploads).entryList(QDir::Files), (QStringList{QStringLiteral("a_b.txt"), QStringLiteral("c.txt")}));
    EXPECT_EQ(test::readAll(uploads + QStringLiteral("a_b.txt")), QByteArray("one"));
    EXPECT_EQ(test::readAll(uploads + QStringLiteral("c.txt")), QByteArray("three"));
}

INSTANTIATE_TEST_SUITE_P(Hosts, DroppedFiles,
                         testing::Values(DropCase{"this_computer", false}, DropCase{"loopback_server", true}),
                         test::ParamName());

} // namespace
} // namespace halvoren

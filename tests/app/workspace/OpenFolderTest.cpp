// Opening a project whose folder went after the listing, through the workspace, on this
// computer's private tmux and on the loopback sshd: no session is made and no shell runs, the
// banner says why, the tab goes and the project list is read again. A running session of a
// folder that went still opens; a path no folder can have opens nothing anywhere.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "platform/Notifier.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "tab/MacTab.h"

#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::tmux;
using test::tmuxOption;

QStringList sessions()
{
    return tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")})
        .split(u'\n', Qt::SkipEmptyParts);
}

bool listed(const MacConnection& connection, const QString& path)
{
    const QList<MacProject>& projects = connection.projects();
    return std::any_of(projects.cbegin(), projects.cend(), [&](const MacProject& p) { return p.path == path; });
}

TEST(OpenFolder, AFolderGoneSinceTheListingOpensNothingHere)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString projects = root.file(QStringLiteral("projets"));
    // The last name holds a right-to-left override: its banner must not turn the text after it.
    for (const char* name : {"gone", "kept", "other", "lost \u202Egpj.exe"})
        ASSERT_TRUE(QDir().mkpath(projects + u'/' + QString::fromUtf8(name)));
    // The user's shell records how each start was asked for: only login shells that run our
    // commands ("-l -c") may appear, never one the user would type into.
    const QString log = root.file(QStringLiteral("shells"));
    const QString recording = root.file(QStringLiteral("recording-shell"));
    ASSERT_TRUE(test::writeAll(recording, ("#!/bin/sh\nprintf '[%s %s]\\n' \"$1\" \"$2\" >> " + shellQuote(log) +
                                           "\nexec /bin/sh \"$@\"\n").toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(recording, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    test::EnvironmentOverride shell("SHELL", recording);

    test::ClockedModel m;
    m.prefs.setProjectsRoots({projects});
    QCoro::waitFor(m.model.start());
    ASSERT_TRUE(m.local().tmuxAvailable());
    const auto project = [&](const char* name) {
        for (const MacProject& p : m.local().projects()) {
            if (p.name == QString::fromUtf8(name))
                return p;
        }
        return MacProject{};
    };
    const MacProject gone = project("gone");
    const MacProject kept = project("kept");
    const MacProject other = project("other");
    const MacProject lost = project("lost \u202Egpj.exe");
    ASSERT_FALSE(gone.path.isEmpty() || kept.path.isEmpty() || other.path.isEmpty() || lost.path.isEmpty());
    const QStringList before = sessions();

    ASSERT_TRUE(QDir(gone.path).removeRecursively());
    m.model.openProject(gone, m.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.model.tabs().isEmpty() && m.model.banner(); }, 30000));
    EXPECT_EQ(m.model.banner(), QStringLiteral("Dossier introuvable : ") + gone.path);
    EXPECT_EQ(sessions(), before);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !listed(m.local(), gone.path); }, 30000));
    EXPECT_TRUE(listed(m.local(), kept.path));
    const QStringList started = QString::fromUtf8(test::readAll(log)).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(std::all_of(started.cbegin(), started.cend(), [](const QString& s) { return s == QStringLiteral("[-l -c]"); }))
        << started.join(u'\n').toStdString();
    EXPECT_TRUE(m.prefs.tabs(m.local().id).isEmpty());

    // A session that runs is opened whatever became of its folder.
    m.model.setBanner(std::nullopt);
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), kept.session, QStringLiteral("-c"), kept.path});
    ASSERT_TRUE(QDir(kept.path).removeRecursively());
    m.model.openProject(kept, m.local());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return tmuxOption(kept.session, QStringLiteral("@hv_open")) == QStringLiteral("1");
    }, 30000));
    EXPECT_EQ(m.model.tabs().size(), 1);
    EXPECT_FALSE(m.model.banner());

    // Opened over another tab, a tab that could not open its folder hands the focus back.
    m.model.openProject(other, m.local());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return tmuxOption(other.session, QStringLiteral("@hv_open")) == QStringLiteral("1");
    }, 30000));
    ASSERT_EQ(m.model.tabs().size(), 2);
    MacTab& first = *m.model.tabs().front();
    m.model.activate(first);
    ASSERT_TRUE(QDir(lost.path).removeRecursively());
    m.model.openProject(lost, m.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.model.tabs().size() == 2 && m.model.banner(); }, 30000));
    EXPECT_EQ(m.model.banner(), QStringLiteral("Dossier introuvable : ") + projects + QStringLiteral("/lost \uFFFDgpj.exe"));
    EXPECT_EQ(m.model.activeTabID().value_or(QString()).toStdString(), first.id().toStdString());

    for (MacTab* tab : QList<MacTab*>(m.model.tabs()))
        m.model.removeTab(*tab);
    for (const MacProject& p : {kept, other})
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + p.session});
}

// Longer than any Linux path: no tab, nothing on the host, one short message.
TEST(OpenFolder, APathLongerThanAnyFolderOpensNothing)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    test::ClockedModel m;
    m.prefs.setProjectsRoots({root.path()});
    QCoro::waitFor(m.model.start());
    ASSERT_TRUE(m.local().tmuxAvailable());
    const QStringList before = sessions();
    QString tooLong = root.path() + u'/';
    tooLong += QString(4097 - tooLong.size(), u'x');
    m.model.openProject(MacProject{QStringLiteral("x"), tooLong, tmuxSessionName(tooLong)}, m.local());
    EXPECT_TRUE(m.model.tabs().isEmpty());
    ASSERT_TRUE(m.model.banner());
    EXPECT_TRUE(m.model.banner()->startsWith(QStringLiteral("Chemin trop long : ") + root.path()));
    EXPECT_LE(m.model.banner()->size(), 100);
    EXPECT_EQ(sessions(), before);
    for (MacTab* tab : QList<MacTab*>(m.model.tabs()))
        m.model.removeTab(*tab);
}

TEST(OpenFolder, AFolderGoneOrClosedOnAServerOpensNothing)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    const QString remote = host.remoteHome();
    // Every interactive shell of the account leaves a line.
    ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\ncase $- in *i*) echo x >> \"$HOME/interactive\";; esac\n"));
    const QString gone = host.project(QStringLiteral("gone"));
    // Made by this test's account, which is not hvtest, and closed to others.
    const QString closed = host.project(QStringLiteral("closed"));
    ASSERT_FALSE(gone.isEmpty() || closed.isEmpty());
    ASSERT_TRUE(QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    Notifier notifier(QDBusConnection(QStringLiteral("no-bus")));
    MacModel model(prefs, nullptr, &notifier);
    model.setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(model.connect(host.profile)));
    MacConnection& connection = *model.connection(host.profile.id);
    ASSERT_TRUE(connection.tmuxAvailable());
    ASSERT_TRUE(listed(connection, gone) && listed(connection, closed));
    ASSERT_TRUE(QDir(gone).removeRecursively());

    const struct { QString path; const char* message; } cases[] = {
        {gone, "Dossier introuvable : "},
        {closed, "Dossier inaccessible : "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        model.setBanner(std::nullopt);
        model.openProject(MacProject{QFileInfo(c.path).fileName(), c.path, tmuxSessionName(c.path)}, connection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.tabs().isEmpty() && model.banner(); }, 30000));
        EXPECT_EQ(model.banner(), QString::fromUtf8(c.message) + c.path);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return !listed(connection, gone); }, 30000));
    const ShellResult<QString> left = QCoro::waitFor(
        connection.link->runScript(QStringLiteral("tmux list-sessions -F '#{session_name}' 2>/dev/null\ntrue\n"), 25));
    ASSERT_TRUE(left);
    EXPECT_EQ(left.value(), QString());
    EXPECT_FALSE(QFile::exists(remote + QStringLiteral("/interactive")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !connection.syncing; }, 30000));
    QCoro::waitFor(connection.link->closeMaster());
}

} // namespace
} // namespace halvoren

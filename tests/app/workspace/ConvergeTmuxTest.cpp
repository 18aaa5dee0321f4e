// Two workspace models with their own preferences on one private tmux server, polled on
// clocks the test moves: what one opens, closes and reorders the other follows, and killing
// a session leaves its numbered siblings alone.
#include "workspace/MacModel.h"

#include "app/support/HostileNames.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/TmuxCommands.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace halvoren {
namespace {

using test::tmux;
using test::tmuxOption;

bool alive(const QString& session)
{
    return QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("has-session"), QStringLiteral("-t"), u'=' + session}) == 0;
}

struct Instance : test::ClockedModel {
    // One poll, waited for.
    void poll()
    {
        clock->advance(MacModel::pollInterval);
        EXPECT_TRUE(QTest::qWaitFor([this] { return !local().syncing; }, 30000));
    }
    QStringList names() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names;
    }
};

TEST(Converge, TwoModelsFollowOneHostsTabs)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    for (const char* name : {"alpha", "beta", "gamma", "delta"})
        QDir(root.path()).mkpath(QString::fromLatin1(name));
    const auto project = [&root](const QString& name) {
        const QString path = root.file(name);
        return MacProject{name, path, tmuxSessionName(path)};
    };
    // The server lives for the whole test, whatever the tabs do.
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});

    Instance a;
    Instance b;
    QCoro::waitFor(a.model.start());
    QCoro::waitFor(b.model.start());
    ASSERT_TRUE(a.local().tmuxAvailable());
    EXPECT_EQ(tmux({QStringLiteral("show-options"), QStringLiteral("-gqv"), QStringLiteral("@hv_sync")}), QStringLiteral("1"));

    const MacProject alpha = project(QStringLiteral("alpha"));
    a.model.openProject(alpha, a.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(alpha.session, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
    b.poll();
    b.poll();
    EXPECT_EQ(b.names(), QStringList{QStringLiteral("alpha")});

    a.model.closeTab(*a.model.tabs().front());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(alpha.session, QStringLiteral("@hv_open")).isEmpty(); }, 30000));
    b.poll();
    b.poll();
    EXPECT_TRUE(b.names().isEmpty());
    EXPECT_TRUE(alive(alpha.session));

    const MacProject beta = project(QStringLiteral("beta"));
    const MacProject gamma = project(QStringLiteral("gamma"));
    a.model.openProject(beta, a.local());
    a.model.openProject(gamma, a.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(gamma.session, QStringLiteral("@hv_order")) == QStringLiteral("2"); }, 30000));
    b.poll();
    b.poll();
    EXPECT_EQ(b.names(), (QStringList{QStringLiteral("beta"), QStringLiteral("gamma")}));
    // A tab B's user has just opened holds B's order back.
    const MacProject delta = project(QStringLiteral("delta"));
    b.model.openProject(delta, b.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(delta.session, QStringLiteral("@hv_order")) == QStringLiteral("3"); }, 30000));
    a.model.moveTabs({1}, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(gamma.session, QStringLiteral("@hv_order")) == QStringLiteral("1"); }, 30000));
    b.poll();
    b.poll();
    EXPECT_EQ(b.names(), (QStringList{QStringLiteral("beta"), QStringLiteral("gamma"), QStringLiteral("delta")}));
    b.clock->advance(MacModel::reorderHoldOff);
    b.poll();
    EXPECT_EQ(b.names(), (QStringList{QStringLiteral("gamma"), QStringLiteral("beta"), QStringLiteral("delta")}));

    // The numbered session of a folder whose base session is gone.
    a.model.openAnotherSession(QStringLiteral("alpha"), alpha.path, a.local());
    const QString second = alpha.session + QStringLiteral("-2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(second, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
    QCoro::waitFor(a.model.killSession(alpha.session, a.local()));
    EXPECT_FALSE(alive(alpha.session));
    QCoro::waitFor(a.model.killSession(alpha.session, a.local()));
    EXPECT_TRUE(alive(second));
    EXPECT_EQ(tmuxOption(second, QStringLiteral("@hv_open")), QStringLiteral("1"));
}

// Folders whose names tmux or a shell could misread, opened, listed, followed, reordered,
// closed and reopened through the workspace itself.
TEST(Converge, HostileFolderNamesAreOpenedAndFollowedAsText)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString projects = root.file(QStringLiteral("projets"));
    const QStringList names = test::hostileFolderNames();
    QStringList paths;
    for (const QString& name : names) {
        paths << projects + u'/' + name;
        ASSERT_TRUE(QDir().mkpath(paths.back()));
    }
    paths.sort();
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});

    Instance a;
    Instance b;
    // B does not list these folders: it learns each real path from the session itself.
    a.prefs.setProjectsRoots({projects});
    b.prefs.setProjectsRoots({root.file(QStringLiteral("elsewhere"))});
    QCoro::waitFor(a.model.start());
    QCoro::waitFor(b.model.start());
    ASSERT_EQ(a.local().projects().size(), names.size());
    for (const MacProject& project : a.local().projects())
        a.model.openProject(project, a.local());
    for (const MacProject& project : a.local().projects()) {
        SCOPED_TRACE(project.path.toStdString());
        // The tags are written one after the other: the path is the last of the tab's own.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !tmuxOption(project.session, QStringLiteral("@hv_path")).isEmpty(); }, 30000));
        EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
        EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_path")), test::cleanedTag(project.path).trimmed());
        EXPECT_EQ(tmux({QStringLiteral("-u"), QStringLiteral("display-message"), QStringLiteral("-p"), QStringLiteral("-t"),
                        u'=' + project.session + u':', QStringLiteral("#{session_path}")}),
                  project.path.trimmed());
        // The picker finds the folder's session.
        const QList<FolderSession> sessions = QCoro::waitFor(a.model.listFolderSessions(project.path, a.local()));
        EXPECT_TRUE(std::any_of(sessions.cbegin(), sessions.cend(), [&](const FolderSession& s) { return s.name == project.session; }));
    }
    // The other model rebuilds the tabs from the tags, each in its real folder although the
    // tags hold the line break as a blank.
    b.poll();
    b.poll();
    QStringList followed;
    for (const MacTab* tab : b.model.tabs()) {
        if (tab->project.path.startsWith(projects + u'/')) // not the tabs other tests left open
            followed << tab->project.path;
    }
    followed.sort();
    EXPECT_EQ(followed, paths);

    // Reordered, closed and reopened.
    MacTab* last = a.model.tabs().back();
    const QString moved = last->project.session;
    // Each script the model runs raises the connection's write count as it starts and again
    // as it ends: both runs are waited for, or their coroutines would outlive the model.
    const int writes = a.local().writeEpoch;
    a.model.moveTabs({a.model.tabs().size() - 1}, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(moved, QStringLiteral("@hv_order")) == QStringLiteral("1"); }, 30000));
    a.model.closeTab(*a.model.tabs().front());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return tmuxOption(moved, QStringLiteral("@hv_open")).isEmpty() && a.local().writeEpoch >= writes + 4;
    }, 30000));
    a.model.reopenClosedTab();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(moved, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
    EXPECT_EQ(a.model.tabs().size(), names.size());

    // One session per folder, and no name ran a command.
    int ours = 0;
    for (const QString& session : tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")}).split(u'\n')) {
        for (const MacProject& project : a.local().projects())
            ours += session == project.session ? 1 : 0;
    }
    EXPECT_EQ(ours, names.size());
    for (Instance* instance : {&a, &b}) {
        for (MacTab* tab : instance->model.tabs())
            tab->stop();
    }
    for (const MacProject& project : a.local().projects())
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
    QStringList created;
    for (const QString& place : {root.path(), QDir::currentPath()}) {
        QDirIterator files(place, {QStringLiteral("pwned*")}, QDir::AllEntries | QDir::Hidden | QDir::System,
                           place == root.path() ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (files.hasNext())
            created << files.next();
    }
    EXPECT_EQ(created, QStringList{});
}

// The longest folder name a file system allows (85 three-byte letters, 255 bytes) keeps its
// tab through everything a tab goes through, and so does its numbered session "N (2)".
TEST(Converge, TheLongestFolderNameKeepsItsTab)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString projects = root.file(QStringLiteral("projets"));
    const QString name(85, QChar(0x6F22));
    ASSERT_EQ(name.toUtf8().size(), 255);
    const QString path = projects + u'/' + name;
    ASSERT_TRUE(QDir().mkpath(path));
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});

    Instance a;
    Instance b;
    a.prefs.setProjectsRoots({projects});
    b.prefs.setProjectsRoots({projects});
    QCoro::waitFor(a.model.start());
    QCoro::waitFor(b.model.start());
    ASSERT_EQ(a.local().projects().size(), 1);
    const MacProject project = a.local().projects().front();
    EXPECT_EQ(project.name, name);
    a.model.openProject(project, a.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(project.session, QStringLiteral("@hv_path")) == path; }, 30000));
    EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_name")), name);

    // Its numbered session, named "N (2)" on the host.
    a.model.openAnotherSession(name, path, a.local());
    const QString second = project.session + QStringLiteral("-2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(second, QStringLiteral("@hv_path")) == path; }, 30000));
    EXPECT_EQ(tmuxOption(second, QStringLiteral("@hv_name")), name + QStringLiteral(" (2)"));
    // Past the hold-off of a tab just opened, which would hide a refused row for ten seconds.
    a.clock->advance(MacModel::reorderHoldOff);
    a.poll();
    EXPECT_EQ(a.names(), (QStringList{name, name + QStringLiteral(" (2)")}));
    EXPECT_FALSE(a.model.banner().has_value()) << a.model.banner()->toStdString();

    // Listed: the other model follows both, by name, in the host's order, also once reordered.
    b.poll();
    b.poll();
    EXPECT_EQ(b.names(), (QStringList{name, name + QStringLiteral(" (2)")}));
    a.model.moveTabs({1}, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(second, QStringLiteral("@hv_order")) == QStringLiteral("1"); }, 30000));
    b.clock->advance(MacModel::reorderHoldOff);
    b.poll();
    EXPECT_EQ(b.names(), (QStringList{name + QStringLiteral(" (2)"), name}));

    // Restored by a model that starts now.
    {
        Instance c;
        QCoro::waitFor(c.model.start());
        EXPECT_EQ(c.names(), (QStringList{name + QStringLiteral(" (2)"), name}));
        for (MacTab* tab : c.model.tabs())
            tab->stop();
    }

    // Closed, the session kept; followed; reopened.
    const int writes = a.local().writeEpoch;
    a.model.closeTab(*a.model.tabs().front());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return tmuxOption(second, QStringLiteral("@hv_open")).isEmpty() && a.local().writeEpoch >= writes + 2;
    }, 30000));
    EXPECT_TRUE(alive(second));
    b.poll();
    EXPECT_EQ(b.names(), QStringList{name});
    a.model.reopenClosedTab();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(second, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
    a.clock->advance(MacModel::reorderHoldOff);
    a.poll();
    EXPECT_EQ(a.model.tabs().size(), 2);

    for (Instance* instance : {&a, &b}) {
        for (MacTab* tab : instance->model.tabs())
            tab->stop();
    }
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + second});
}

// A session named beyond every folder's limit (another program's, opened from the session
// picker) is a tab like any other: it stays open and tagged, and a model started now opens it.
TEST(Converge, ASessionNamedBeyondEveryFolderKeepsItsTab)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString path = root.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(path));
    const QString session = tmuxSessionName(path) + u'-' + QString(300, u'9');
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), session, QStringLiteral("-c"), path});
    ASSERT_TRUE(alive(session));

    Instance a;
    QCoro::waitFor(a.model.start());
    a.model.openProject(MacProject{QStringLiteral("site"), path, session}, a.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(session, QStringLiteral("@hv_path")) == path; }, 30000));
    EXPECT_EQ(tmuxOption(session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    // Past the hold-off of a tab just opened, after which an unlisted tab would close.
    a.clock->advance(MacModel::reorderHoldOff);
    a.poll();
    const auto sessions = [](const MacModel& model) {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.session;
        return names;
    };
    EXPECT_TRUE(sessions(a.model).contains(session));
    EXPECT_FALSE(a.model.banner().has_value()) << a.model.banner()->toStdString();
    EXPECT_EQ(tmuxOption(session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    Instance b;
    QCoro::waitFor(b.model.start());
    EXPECT_TRUE(sessions(b.model).contains(session));
    for (Instance* instance : {&a, &b}) {
        for (MacTab* tab : instance->model.tabs())
            tab->stop();
    }
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + session});
}

// The login profile puts a relative folder first in PATH and each project holds a bin/tmux that
// leaves a file and fails: a saved tab restored at start and a tab the phone opened are
// attached by the host's own tmux, and each session's shell stays in its folder.
TEST(Converge, RestoredAndPhoneOpenedTabsRunNoTmuxTheirProjectsHold)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    test::EnvironmentOverride shell("SHELL", QStringLiteral("/bin/sh"));
    ASSERT_TRUE(test::writeAll(root.file(QStringLiteral(".profile")), "export PATH=\"./bin:$PATH\"\n"));
    const QString ran = root.file(QStringLiteral("project-tmux-ran"));
    QList<MacProject> projects;
    for (const char* name : {"saved", "phone"}) {
        const QString path = root.file(QLatin1String(name));
        const QString stand = path + QStringLiteral("/bin/tmux");
        ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/bin")));
        ASSERT_TRUE(test::writeAll(stand, "#!/bin/sh\ntouch '" + ran.toUtf8() + "'\nexit 1\n"));
        ASSERT_TRUE(QFile::setPermissions(stand, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        projects << MacProject{QLatin1String(name), path, tmuxSessionName(path)};
    }
    const MacProject& saved = projects.at(0);
    const MacProject& phone = projects.at(1);
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});

    Instance a;
    a.prefs.setTabs(MacConnection::localID, {PersistedTab{saved.name, saved.path, saved.session}});
    QCoro::waitFor(a.model.start());
    ASSERT_EQ(a.names(), QStringList{saved.name});
    // The phone makes its session in the folder and tags it open.
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), phone.session, QStringLiteral("-c"), phone.path});
    for (const auto& [option, value] : {std::pair{QStringLiteral("@hv_open"), QStringLiteral("1")},
                                        {QStringLiteral("@hv_name"), phone.name},
                                        {QStringLiteral("@hv_path"), phone.path},
                                        {QStringLiteral("@hv_order"), QStringLiteral("2")}})
        tmux({QStringLiteral("set"), QStringLiteral("-t"), u'=' + phone.session + u':', option, value});
    a.poll();
    ASSERT_EQ(a.names(), (QStringList{saved.name, phone.name}));
    for (const MacProject& project : projects) {
        SCOPED_TRACE(project.name.toStdString());
        const auto attached = [&] {
            return !tmux({QStringLiteral("list-clients"), QStringLiteral("-t"), u'=' + project.session}).isEmpty();
        };
        const MacTab* tab = a.model.tabs().at(projects.indexOf(project));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !tab->isLive() || attached(); }, 20000));
        EXPECT_TRUE(attached());
        EXPECT_EQ(tmux({QStringLiteral("display-message"), QStringLiteral("-p"), QStringLiteral("-t"), u'=' + project.session + u':',
                        QStringLiteral("#{pane_current_path}")}),
                  project.path);
    }
    EXPECT_FALSE(QFile::exists(ran));
    for (MacTab* tab : a.model.tabs())
        tab->stop();
    for (const MacProject& project : projects)
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

// Started from inside the tmux of another server (TMUX names its socket, as in one's own
// "tmux -S" or "tmux -L work"), the workspace restores a saved tab, opens a project and keeps
// both over its polls, all on the default server of TMUX_TMPDIR; the other server gets nothing.
TEST(Converge, InsideAnotherTmuxTheTabsLiveOnTheDefaultServer)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    QList<MacProject> projects;
    for (const char* name : {"saved", "opened"}) {
        const QString path = root.file(QLatin1String(name));
        ASSERT_TRUE(QDir().mkpath(path));
        projects << MacProject{QLatin1String(name), path, tmuxSessionName(path)};
    }
    const MacProject& saved = projects.at(0);
    const MacProject& opened = projects.at(1);
    // Both servers named by their sockets: the test's own commands never follow TMUX.
    const auto on = [](const QString& socket) {
        return [socket](const QStringList& arguments) { return tmux(QStringList{QStringLiteral("-S"), socket} + arguments); };
    };
    const auto onDefault =
        on(qEnvironmentVariable("TMUX_TMPDIR") + QStringLiteral("/tmux-") + QString::number(::getuid()) + QStringLiteral("/default"));
    const auto onOther = on(root.file(QStringLiteral("other")));
    onDefault({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});
    onOther({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("elsewhere")});
    const QString pid = onOther({QStringLiteral("display-message"), QStringLiteral("-p"), QStringLiteral("#{pid}")});
    ASSERT_FALSE(pid.isEmpty());
    test::EnvironmentOverride inside("TMUX", root.file(QStringLiteral("other")) + u',' + pid + QStringLiteral(",0"));
    inside.set("TMUX_PANE", QStringLiteral("%0"));

    Instance a;
    a.prefs.setTabs(MacConnection::localID, {PersistedTab{saved.name, saved.path, saved.session}});
    QCoro::waitFor(a.model.start());
    ASSERT_TRUE(a.local().tmuxAvailable());
    a.model.openProject(opened, a.local());
    const auto option = [&onDefault](const MacProject& project, const QString& name) {
        return onDefault({QStringLiteral("show-options"), QStringLiteral("-qv"), QStringLiteral("-t"), u'=' + project.session + u':', name});
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return option(opened, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
    a.poll();
    a.poll();
    EXPECT_EQ(a.names().join(u' ').toStdString(), "saved opened");
    EXPECT_FALSE(a.model.banner()) << a.model.banner().value_or(QString()).toStdString();
    for (const MacProject& project : projects) {
        SCOPED_TRACE(project.name.toStdString());
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return !onDefault({QStringLiteral("list-clients"), QStringLiteral("-t"), u'=' + project.session}).isEmpty();
        }, 20000));
        EXPECT_EQ(option(project, QStringLiteral("@hv_path")).toStdString(), project.path.toStdString());
    }
    EXPECT_EQ(onOther({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")}).toStdString(),
              "elsewhere");
    EXPECT_EQ(onOther({QStringLiteral("show-options"), QStringLiteral("-gqv"), QStringLiteral("@hv_sync")}).toStdString(), "");
    for (MacTab* tab : a.model.tabs())
        tab->stop();
    for (const MacProject& project : projects)
        onDefault({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
    onOther({QStringLiteral("kill-server")});
}

} // namespace
} // namespace halvoren

// A command that finishes in a background tab the user typed into reaches the desktop as one
// notification, on a recording notification server of the test's own (the test runs under
// dbus-run-session); tmux's repaints after the workspace's own writes do not.
#include "workspace/MacModel.h"

#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/ManualClock.h"
#include "app/workspace/PrivateTmux.h"
#include "platform/Notifier.h"
#include "remote/SessionNaming.h"
#include "tab/MacTab.h"
#include "tab/TermView.h"

#include <QDBusConnection>
#include <QDir>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;
    QStringList bodies;
    QList<uint> closed;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        summaries << summary;
        bodies << body;
        return uint(summaries.size());
    }
    void CloseNotification(uint id) { closed << id; }
};

// The recording server, on a connection of its own to the test's session bus.
class FinishedNotification : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "no session bus: run under dbus-run-session (Debian package dbus)";
        QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
        ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                             QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    }
    // The tabs' sessions stay tagged open on the private server, which serves the whole run: a
    // later test, or the same one repeated, would start by restoring them as its own tabs.
    void TearDown() override { test::tmux({QStringLiteral("kill-server")}); }
    Recorder recorder;
};

TEST_F(FinishedNotification, PromptBurstInAnArmedBackgroundTabPostsOnce)
{
    test::ClockedModel workspace(QDBusConnection::sessionBus());
    MacModel& model = workspace.model;
    const std::shared_ptr<test::ManualClock>& clock = workspace.clock;
    model.isFrontmost = [] { return true; };
    model.localConnection()->setTmuxAvailable(false);
    const auto add = [&model](const QString& name) {
        MacTab* tab = model.makeTab(*model.localConnection(), MacProject{name, u"/p/"_qs + name, u"kq-"_qs + name});
        model.insertTab(tab, model.tabs().size());
        return tab;
    };
    // A name holding an override and a line feed: the body shows both as symbols, so the
    // sentence after the name reads as written.
    MacTab* agent = add(QStringLiteral("agent\u202Etxt.\nx"));
    model.activate(*add(QStringLiteral("editor")));

    model.noteInput(*agent);
    model.noteOutput(*agent, QString(598, u'x') + QStringLiteral("$ "));
    clock->advance(MacModel::decisionDelay);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.summaries.isEmpty(); }, 10000));
    // The same burst again within the repeat window, armed again: dropped.
    model.noteInput(*agent);
    model.noteOutput(*agent, QString(598, u'x') + QStringLiteral("$ "));
    clock->advance(MacModel::decisionDelay);
    QTest::qWait(300);
    EXPECT_EQ(recorder.summaries, QStringList{QStringLiteral("Agent terminé")});
    EXPECT_EQ(recorder.bodies, QStringList{QStringLiteral("agent\uFFFDtxt.\u240Ax") + Notifier::bodySuffix});
    EXPECT_TRUE(agent->attention());
}

using test::tmux;
using test::tmuxOption;

// The rows of the tab's screen, one line each.
QString screen(MacTab& tab)
{
    const corvantix::Terminal& terminal = tab.terminal->getTerminal();
    const corvantix::Buffer& rows = terminal.buffer();
    std::string text;
    for (int row = 0; row < rows.rows(); ++row)
        text += terminal.rowText(rows, rows.yBase() + row, 0, -1) + '\n';
    return QString::fromStdString(text);
}

void type(MacTab& tab, std::string_view text)
{
    tab.terminal->sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

TEST_F(FinishedNotification, RepaintsAfterWritesAreNoFinishedCommandButNewTextIs)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const auto project = [&root](const QString& name) {
        QDir(root.path()).mkpath(name);
        const QString path = root.file(name);
        return MacProject{name, path, tmuxSessionName(path)};
    };
    // The server lives for the whole test, whatever the tabs do; its status line shows no
    // clock, whose minute would change the screen of a repaint that crosses it.
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});
    tmux({QStringLiteral("set-option"), QStringLiteral("-g"), QStringLiteral("status-right"), QString()});

    test::ClockedModel workspace(QDBusConnection::sessionBus());
    MacModel& model = workspace.model;
    const std::shared_ptr<test::ManualClock>& clock = workspace.clock;
    model.isFrontmost = [] { return true; };
    QCoro::waitFor(model.start());
    MacConnection& local = *model.localConnection();
    ASSERT_TRUE(local.tmuxAvailable());
    const auto open = [&](const QString& name) -> MacTab* {
        const MacProject opened = project(name);
        model.openProject(opened, local);
        if (!QTest::qWaitFor([&] { return tmuxOption(opened.session, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000))
            return nullptr;
        MacTab* tab = model.tabs().back();
        return QTest::qWaitFor([&] { return !screen(*tab).trimmed().isEmpty(); }, 30000) ? tab : nullptr;
    };

    MacTab* alpha = open(QStringLiteral("alpha"));
    ASSERT_NE(alpha, nullptr);
    qint64 repainted = 0;
    alpha->onOutput = [&repainted, forward = alpha->onOutput](MacTab& tab, const QString& text) {
        if (!tab.outputChangesScreen)
            repainted += text.toUtf8().size();
        forward(tab, text);
    };
    // The start's own burst goes quiet first, then the user types a command.
    clock->advance(MacModel::quietPeriod + MacModel::activityInterval);
    type(*alpha, "echo ess''ai2\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen(*alpha).contains(QStringLiteral("\nessai2\n")); }, 30000));
    clock->advance(3.0);
    ASSERT_TRUE(model.armed.contains(alpha->id()));

    // Three projects opened, one closed and two reordered: tmux repaints alpha each time.
    MacTab* beta = open(QStringLiteral("beta"));
    ASSERT_NE(beta, nullptr);
    ASSERT_NE(open(QStringLiteral("gamma")), nullptr);
    MacTab* delta = open(QStringLiteral("delta"));
    ASSERT_NE(delta, nullptr);
    const QString deltaSession = delta->project.session;
    model.closeTab(*delta);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(deltaSession, QStringLiteral("@hv_open")).isEmpty(); }, 30000));
    model.moveTabs({2}, 1);
    const QString gammaSession = project(QStringLiteral("gamma")).session;
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(gammaSession, QStringLiteral("@hv_order")) == QStringLiteral("2"); }, 30000));
    QTest::qWait(1500);
    EXPECT_GT(repainted, MacModel::busyBurstBytes);

    clock->advance(15.0);
    QTest::qWait(500);
    EXPECT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();
    EXPECT_FALSE(alpha->attention());
    // Still waiting for its command's real end.
    EXPECT_TRUE(model.armed.contains(alpha->id()));

    // New text in a background tab right after one of our writes, then quiet: notified.
    ASSERT_NE(model.activeTabID(), std::optional(beta->id()));
    // Twelve rows of 55 characters stay on the screen: however tmux paints them, that is
    // more than the busy burst.
    type(*beta, "sleep 1; seq -f 'ligne-%02g-............................................' 1 12\r");
    model.moveTabs({2}, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen(*beta).contains(QStringLiteral("\nligne-12-")); }, 30000));
    QTest::qWait(500);
    clock->advance(MacModel::quietPeriod + MacModel::activityInterval + MacModel::decisionDelay);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.bodies.isEmpty(); }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(recorder.bodies, QStringList{QStringLiteral("beta") + Notifier::bodySuffix});
    EXPECT_TRUE(beta->attention());
    EXPECT_FALSE(alpha->attention());
}

// A started model on the run's private tmux server, its projects in a home of its own, and
// the tabs it opens.
struct TmuxWorkspace {
    test::TempFolder root;
    test::EnvironmentOverride home{"HOME", root.path()};
    test::ClockedModel workspace{QDBusConnection::sessionBus()};
    MacModel& model = workspace.model;
    test::ManualClock& clock = *workspace.clock;

    TmuxWorkspace()
    {
        // The server lives for the whole test, whatever the tabs do; window names stay put and
        // no clock shows, so a program's status line reads the same while it runs.
        tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});
        tmux({QStringLiteral("set-option"), QStringLiteral("-gw"), QStringLiteral("automatic-rename"), QStringLiteral("off")});
        tmux({QStringLiteral("set-option"), QStringLiteral("-g"), QStringLiteral("status-right"), QString()});
        model.isFrontmost = [] { return true; };
        QCoro::waitFor(model.start());
    }
    MacProject project(const QString& name) const
    {
        QDir(root.path()).mkpath(name);
        const QString path = root.file(name);
        return MacProject{name, path, tmuxSessionName(path)};
    }
    MacTab* open(const QString& name)
    {
        const MacProject opened = project(name);
        model.openProject(opened, *model.localConnection());
        if (!QTest::qWaitFor([&] { return tmuxOption(opened.session, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000))
            return nullptr;
        MacTab* tab = model.tabs().back();
        return QTest::qWaitFor([&] { return !screen(*tab).trimmed().isEmpty(); }, 30000) ? tab : nullptr;
    }
    // Bytes of the tab's output from now on, whatever the model makes of them.
    std::shared_ptr<qint64> countOutput(MacTab& tab)
    {
        auto bytes = std::make_shared<qint64>(0);
        tab.onOutput = [bytes, forward = tab.onOutput](MacTab& target, const QString& text) {
            *bytes += text.toUtf8().size();
            forward(target, text);
        };
        return bytes;
    }
};

// The tmux client of a hidden tab the user typed into draws its whole screen again after our
// resize and after it attaches again: neither is a command that finished.
TEST_F(FinishedNotification, ResizeAndReattachOfAnArmedHiddenTabPostNothing)
{
    ASSERT_TRUE(test::tmuxInstalled());
    TmuxWorkspace w;
    ASSERT_TRUE(w.model.localConnection()->tmuxAvailable());
    MacTab* alpha = w.open(QStringLiteral("alpha"));
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(w.open(QStringLiteral("beta")), nullptr);
    ASSERT_NE(w.model.activeTabID(), std::optional(alpha->id()));
    // A full screen to draw again, written without the user: nothing is armed by it.
    tmux({QStringLiteral("send-keys"), QStringLiteral("-t"), u'=' + alpha->project.session + u':',
          QStringLiteral("seq -f 'ligne-%02g-........................................' 1 40"), QStringLiteral("Enter")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen(*alpha).contains(QStringLiteral("ligne-40-")); }, 30000));
    w.clock.advance(MacModel::quietPeriod + MacModel::activityInterval + MacModel::decisionDelay);
    type(*alpha, "echo ess''ai\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen(*alpha).contains(QStringLiteral("\nessai\n")); }, 30000));
    w.clock.advance(MacModel::quietPeriod + MacModel::activityInterval);
    ASSERT_TRUE(w.model.armed.contains(alpha->id()));
    ASSERT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();

    // A larger text: every tab's grid shrinks and tmux draws alpha's screen again.
    const std::shared_ptr<qint64> redrawn = w.countOutput(*alpha);
    const int columns = alpha->terminal->getTerminal().cols();
    w.model.setFontSize(w.model.fontSize() + 6);
    ASSERT_NE(alpha->terminal->getTerminal().cols(), columns);
    ASSERT_TRUE(QTest::qWaitFor([&] { return *redrawn > MacModel::busyBurstBytes; }, 30000));
    QTest::qWait(1000);
    w.clock.advance(15.0);
    QTest::qWait(300);
    EXPECT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();
    EXPECT_TRUE(w.model.armed.contains(alpha->id()));

    // Its client ends and attaches again on the next listing: its first drawing is no output.
    *redrawn = 0;
    tmux({QStringLiteral("detach-client"), QStringLiteral("-s"), u'=' + alpha->project.session});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alpha->isLive(); }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        if (!alpha->isLive())
            w.clock.advance(MacModel::pollInterval);
        return alpha->isLive() && *redrawn > MacModel::busyBurstBytes;
    }, 30000));
    QTest::qWait(1000);
    w.clock.advance(15.0);
    QTest::qWait(300);
    EXPECT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();
    EXPECT_TRUE(w.model.armed.contains(alpha->id()));
    EXPECT_FALSE(alpha->attention());
}

// Over ssh a tab's client attaches well after its start (the connection, the password the
// user typed): its switch to the alternate screen starts the redraw window again, so its first
// drawing of a full screen is no finished command, however late it comes.
TEST_F(FinishedNotification, AClientThatAttachesLateDrawsNoFinishedCommand)
{
    ASSERT_TRUE(test::tmuxInstalled());
    TmuxWorkspace w;
    MacTab* beta = w.open(QStringLiteral("beta"));
    ASSERT_NE(beta, nullptr);
    // The project's session is there already, with a full screen to draw.
    const MacProject alpha = w.project(QStringLiteral("alpha"));
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), alpha.session, QStringLiteral("-c"), alpha.path});
    tmux({QStringLiteral("send-keys"), QStringLiteral("-t"), u'=' + alpha.session + u':',
          QStringLiteral("seq -f 'ligne-%02g-........................................' 1 40"), QStringLiteral("Enter")});
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return tmux({QStringLiteral("capture-pane"), QStringLiteral("-p"), QStringLiteral("-t"), u'=' + alpha.session + u':'})
            .contains(QStringLiteral("ligne-40-"));
    }, 30000));
    // The tab's client attaches only when the test lets it, as over ssh once connected.
    const QString go = w.root.file(QStringLiteral("go"));
    const QString slowShell = w.root.file(QStringLiteral("slow-shell"));
    ASSERT_TRUE(test::writeAll(slowShell, "#!/bin/sh\ncase \"$*\" in *' attach '*) while [ ! -e '" + QFile::encodeName(go)
                                               + "' ]; do sleep 0.05; done;; esac\nexec /bin/sh \"$@\"\n"));
    ASSERT_TRUE(QFile::setPermissions(slowShell, QFile::ReadOwner | QFile::ExeOwner));
    test::EnvironmentOverride shell("SHELL", slowShell);
    w.model.openProject(alpha, *w.model.localConnection());
    MacTab* tab = w.model.tabs().back();
    ASSERT_EQ(tab->project.session, alpha.session);
    w.model.activate(*beta);
    // The password typed at ssh's prompt.
    w.model.noteInput(*tab);
    const std::shared_ptr<qint64> drawn = w.countOutput(*tab);
    w.clock.advance(MacModel::redrawSettle + 1.0);
    ASSERT_TRUE(test::writeAll(go, ""));
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen(*tab).contains(QStringLiteral("ligne-40-")); }, 30000)) << screen(*tab).toStdString();
    QTest::qWait(1000);
    ASSERT_GT(*drawn, MacModel::busyBurstBytes);
    w.clock.advance(15.0);
    QTest::qWait(300);
    EXPECT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();
    EXPECT_TRUE(w.model.armed.contains(tab->id()));
    EXPECT_FALSE(tab->attention());
}

// A command that prints the same line every second leaves a full screen's text as it was, yet
// it runs: nothing while it does, one notification when it ends.
TEST_F(FinishedNotification, TheSameLinePrintedAgainKeepsACommandBusyUntilItEnds)
{
    ASSERT_TRUE(test::tmuxInstalled());
    TmuxWorkspace w;
    MacTab* alpha = w.open(QStringLiteral("alpha"));
    ASSERT_NE(alpha, nullptr);
    ASSERT_NE(w.open(QStringLiteral("beta")), nullptr);
    w.clock.advance(MacModel::quietPeriod + MacModel::activityInterval);
    const QString stop = w.root.file(QStringLiteral("stop"));
    type(*alpha, "seq 1 300; yes waiting | head -n 200; while [ ! -e " + stop.toStdString()
                     + " ]; do sleep 1; echo waiting; done\r");
    corvantix::Terminal& terminal = alpha->terminal->getTerminal();
    const auto allWaiting = [&] {
        const QStringList rows = screen(*alpha).split(u'\n');
        // The rows of the pane: all but tmux's status line and the row of the cursor.
        return std::all_of(rows.cbegin(), rows.cbegin() + terminal.rows() - 2,
                           [](const QString& row) { return row.trimmed() == QStringLiteral("waiting"); });
    };
    ASSERT_TRUE(QTest::qWaitFor(allWaiting, 30000)) << screen(*alpha).toStdString();
    ASSERT_TRUE(w.model.armed.contains(alpha->id()));
    // Each new line, then a tick: six lines, twelve seconds of the model's time.
    for (int line = 0; line < 6; ++line) {
        const std::uint64_t scrolled = terminal.scrolledLineCount();
        ASSERT_TRUE(QTest::qWaitFor([&] { return terminal.scrolledLineCount() > scrolled; }, 10000));
        w.clock.advance(MacModel::activityInterval);
    }
    QTest::qWait(300);
    EXPECT_TRUE(recorder.bodies.isEmpty()) << recorder.bodies.join(u'|').toStdString();
    EXPECT_TRUE(allWaiting()) << "the screen's text must read the same while it runs";

    ASSERT_TRUE(test::writeAll(stop, ""));
    // The shell's prompt on the pane's last row, where the loop left the cursor.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !screen(*alpha).split(u'\n').at(terminal.rows() - 2).trimmed().isEmpty(); }, 30000));
    QTest::qWait(500);
    w.clock.advance(MacModel::quietPeriod + MacModel::activityInterval + MacModel::decisionDelay);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.bodies.isEmpty(); }, 10000));
    w.clock.advance(15.0);
    QTest::qWait(300);
    EXPECT_EQ(recorder.bodies, QStringList{QStringLiteral("alpha") + Notifier::bodySuffix});
}

// Start-up makes the first tab active while it restores the tabs, then the one the user was
// on: only that one was looked at, so only its notification is withdrawn.
TEST_F(FinishedNotification, ARestartKeepsTheNotificationOfTheTabNotShown)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});
    PreferenceStore store(root.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    Notifier notifier(QDBusConnection::sessionBus());
    const auto project = [&root](const QString& name) {
        QDir(root.path()).mkpath(name);
        const QString path = root.file(name);
        return MacProject{name, path, tmuxSessionName(path)};
    };
    const MacProject alpha = project(QStringLiteral("alpha"));
    const MacProject beta = project(QStringLiteral("beta"));
    const QString alphaKey = MacConnection::localID + QStringLiteral("::") + alpha.session;
    const QString betaKey = MacConnection::localID + QStringLiteral("::") + beta.session;
    {
        MacModel first(prefs, nullptr, &notifier);
        first.clock = std::make_shared<test::ManualClock>();
        QCoro::waitFor(first.start());
        for (const MacProject& opened : {alpha, beta}) {
            first.openProject(opened, *first.localConnection());
            ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(opened.session, QStringLiteral("@hv_open")) == QStringLiteral("1"); }, 30000));
        }
        ASSERT_EQ(first.activeTabID(), std::optional(betaKey));
        ASSERT_EQ(prefs.activeTab(), 1);
        notifier.post(alphaKey, QStringLiteral("alpha"));
        notifier.post(betaKey, QStringLiteral("beta"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.bodies.size() == 2; }, 10000));
        QTest::qWait(200);
    }

    MacModel second(prefs, nullptr, &notifier);
    second.clock = std::make_shared<test::ManualClock>();
    QCoro::waitFor(second.start());
    ASSERT_EQ(second.tabs().size(), 2);
    EXPECT_EQ(second.tabs().front()->id(), alphaKey);
    EXPECT_EQ(second.activeTabID(), std::optional(betaKey));
    EXPECT_EQ(prefs.activeTab(), 1);
    const uint alphaNumber = uint(recorder.bodies.indexOf(QStringLiteral("alpha") + Notifier::bodySuffix) + 1);
    const uint betaNumber = uint(recorder.bodies.indexOf(QStringLiteral("beta") + Notifier::bodySuffix) + 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.closed.contains(betaNumber); }, 10000));
    QTest::qWait(300);
    EXPECT_FALSE(recorder.closed.contains(alphaNumber)) << "the notification of a tab never shown was withdrawn";
}

} // namespace
} // namespace halvoren

#include "FinishedNotificationTest.moc"

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

#include <gtest/gtest.h>

namespace halvoren {
namespace {

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;
    QStringList bodies;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body, const QStringList&,
                const QVariantMap&, int)
    {
        summaries << summary;
        bodies << body;
        return uint(summaries.size());
    }
    void CloseNotification(uint) {}
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
    MacTab* agent = add(QStringLiteral("agent"));
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
    // The server lives for the whole test, whatever the tabs do.
    tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("keeper")});

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

} // namespace
} // namespace halvoren

#include "FinishedNotificationTest.moc"

// A command that finishes in a background tab the user typed into reaches the desktop as one
// notification, on a recording notification server of the test's own (the test runs under
// dbus-run-session).
#include "workspace/MacModel.h"

#include "app/support/TempFolder.h"
#include "app/workspace/ManualClock.h"
#include "platform/Notifier.h"
#include "tab/MacTab.h"

#include <QDBusConnection>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

class Recorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList summaries;

public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&, const QStringList&,
                const QVariantMap&, int)
    {
        summaries << summary;
        return uint(summaries.size());
    }
    void CloseNotification(uint) {}
};

TEST(FinishedNotification, PromptBurstInAnArmedBackgroundTabPostsOnce)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: run under dbus-run-session (Debian package dbus)";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    Recorder recorder;
    ASSERT_TRUE(serverBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                         QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    test::TempFolder folder;
    PreferenceStore store(folder.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    Notifier notifier(QDBusConnection::sessionBus());
    MacModel model(prefs, nullptr, &notifier);
    auto clock = std::make_shared<test::ManualClock>();
    model.clock = clock;
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

} // namespace
} // namespace halvoren

#include "FinishedNotificationTest.moc"

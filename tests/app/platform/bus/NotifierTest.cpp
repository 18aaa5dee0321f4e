// The notifier against a recording notification server of our own on a private session bus
// (the test runs under dbus-run-session): one notification per tab, replaced and closed by
// the tab's key, and a click that reaches onTap with that key, also in a later run of the
// notifier, in a process of its own, as long as the server is the same one.
#include "platform/Notifier.h"

#include "app/support/TempFolder.h"
#include "platform/PreferenceStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

class RecordingServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit RecordingServer(QDBusConnection bus) : bus(bus) {}
    // Replaced id, summary, body and actions of every Notify.
    QList<std::tuple<uint, QString, QString, QStringList>> calls;
    QMap<uint, QString> shown;
    QList<uint> closed;
    QList<int> expireTimeouts;
    QStringList capabilities{QStringLiteral("actions")};
    void emitSignal(const char* name, uint id, const QVariant& argument)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, QString::fromLatin1(name));
        bus.send(signal << id << argument);
    }

public Q_SLOTS:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int expireTimeout)
    {
        expireTimeouts << expireTimeout;
        calls.append({replaces, summary, body, actions});
        const uint id = replaces != 0 ? replaces : uint(calls.size());
        shown.insert(id, body);
        return id;
    }
    void CloseNotification(uint id)
    {
        closed << id;
        shown.remove(id);
        emitSignal("NotificationClosed", id, 3u);
    }
    QStringList GetCapabilities() { return capabilities; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = QStringLiteral("essai");
        version = QStringLiteral("1.0");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }

private:
    QDBusConnection bus;
};

TEST(Notifier, OneNotificationPerTabReplacedClosedAndClicked)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: run under dbus-run-session (Debian package dbus)";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    RecordingServer server(serverBus);
    ASSERT_TRUE(serverBus.registerObject(path, &server, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverBus.registerService(interface));
    Notifier notifier(QDBusConnection::sessionBus());
    QStringList taps;
    notifier.onTap = [&taps](const QString& key) { taps << key; };
    const QString a = QStringLiteral("local::kq-a");
    const QString b = QStringLiteral("p1::kq-b");
    notifier.post(a, QStringLiteral("web"));
    // Posted again before the server answered the first: still one notification.
    notifier.post(a, QStringLiteral("web / api"));
    notifier.post(b, QStringLiteral("docs"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 3; }));
    EXPECT_EQ(server.shown.size(), 2);
    const auto& [replaced, summary, body, actions] = server.calls.front();
    EXPECT_EQ(summary, QStringLiteral("Agent terminé"));
    EXPECT_EQ(body, QStringLiteral("web — l'agent a fini ou attend votre réponse."));
    EXPECT_TRUE(actions.contains(QStringLiteral("default")));
    // Never expires by itself: it goes when dismissed, replaced or cleared.
    EXPECT_EQ(server.expireTimeouts, (QList<int>{0, 0, 0}));
    const uint idA = server.shown.key(QStringLiteral("web / api — l'agent a fini ou attend votre réponse."));
    ASSERT_NE(idA, 0u);
    EXPECT_EQ(std::get<0>(server.calls.at(2)), idA);
    server.emitSignal("ActionInvoked", server.shown.key(QStringLiteral("docs — l'agent a fini ou attend votre réponse.")),
                      QStringLiteral("default"));
    server.emitSignal("ActionInvoked", 77, QStringLiteral("default")); // another program's notification
    ASSERT_TRUE(QTest::qWaitFor([&] { return !taps.isEmpty(); }));
    QTest::qWait(100);
    EXPECT_EQ(taps, QStringList{b});
    notifier.clear(a);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.closed.contains(idA); }));
    // Cleared before the server numbered it: closed once it does.
    notifier.post(a, QStringLiteral("web"));
    notifier.clear(a);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.closed.size() == 2; }));
    EXPECT_EQ(server.shown.size(), 1);
    serverBus.unregisterService(interface);
}

// One round trip on the notifier's connection: what the bus sent it before is handled after.
void settle()
{
    QDBusConnection::sessionBus().interface()->serviceOwner(interface);
    QCoreApplication::sendPostedEvents();
}

// A server that reads markup in bodies gets the tab's title escaped; one that does not gets it
// as typed. The notifier asks again when another server takes the name.
TEST(Notifier, TheBodyIsEscapedOnlyForAServerThatReadsMarkup)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: run under dbus-run-session (Debian package dbus)";
    const QString title = QStringLiteral("<s>barre</s> z & <img src=F>");
    const QString escaped = QStringLiteral("&lt;s&gt;barre&lt;/s&gt; z &amp; &lt;img src=F&gt;");
    const QString key = QStringLiteral("local::kq-a");
    Notifier notifier(QDBusConnection::sessionBus());
    // Each server in turn, the notifier staying the same: markup, then none, then markup.
    const std::pair<bool, QString> servers[] = {{true, escaped}, {false, title}, {true, escaped}};
    int round = 0;
    for (const auto& [markup, body] : servers) {
        SCOPED_TRACE(markup ? "body-markup" : "no body-markup");
        const QString name = QStringLiteral("server-%1").arg(++round);
        QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        RecordingServer server(serverBus);
        if (markup)
            server.capabilities << QStringLiteral("body") << QStringLiteral("body-markup");
        ASSERT_TRUE(serverBus.registerObject(path, &server, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus.registerService(interface)) << "another test left the notification service registered";
        settle();
        notifier.post(key, title);
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.calls.size() == 1; }, 10000));
        EXPECT_EQ(std::get<2>(server.calls.front()), body + Notifier::bodySuffix);
        serverBus.unregisterService(interface);
        QDBusConnection::disconnectFromBus(name);
        settle();
    }
}

TEST(Notifier, NumbersOfAServerThatRestartedAreNeverUsedAgain)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: run under dbus-run-session (Debian package dbus)";
    QDBusConnection firstBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("first"));
    RecordingServer first(firstBus);
    ASSERT_TRUE(firstBus.registerObject(path, &first, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(firstBus.registerService(interface)) << "another test left the notification service registered";
    Notifier notifier(QDBusConnection::sessionBus());
    QStringList taps;
    notifier.onTap = [&taps](const QString& key) { taps << key; };
    const QString a = QStringLiteral("local::kq-a");
    notifier.post(a, QStringLiteral("web"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.calls.size() == 1; }));
    const uint id = first.shown.firstKey();
    settle();

    firstBus.unregisterService(interface);
    QDBusConnection::disconnectFromBus(QStringLiteral("first"));
    QDBusConnection secondBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
    RecordingServer second(secondBus);
    ASSERT_TRUE(secondBus.registerObject(path, &second, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(secondBus.registerService(interface));
    // The same number, now another program's notification.
    second.shown.insert(id, QStringLiteral("another program"));
    settle();

    second.emitSignal("ActionInvoked", id, QStringLiteral("default"));
    notifier.clear(a);
    notifier.post(a, QStringLiteral("web"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.calls.size() == 1; }));
    EXPECT_EQ(std::get<0>(second.calls.front()), 0u);
    EXPECT_TRUE(second.closed.isEmpty());
    EXPECT_TRUE(taps.isEmpty());
    secondBus.unregisterService(interface);
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}

// The stored number of a tab's notification, 0 when there is none.
uint storedId(const QString& statePath, const QString& key)
{
    QFile file(statePath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return uint(QJsonDocument::fromJson(file.readAll()).object().value(u"notifications"_qs).toObject().value(key).toDouble());
}

// A later run of the notifier in a process of its own, on the same bus and state file.
struct LaterRun {
    QProcess process;
    QString output;
    explicit LaterRun(const QString& statePath)
    {
        process.start(QStringLiteral(HALVOREN_LATER_RUN_NOTIFIER), {statePath});
    }
    bool ready() { return waitFor(QStringLiteral("ready\n")); }
    bool waitFor(const QString& line)
    {
        return QTest::qWaitFor([&] {
            output += QString::fromUtf8(process.readAllStandardOutput());
            return output.contains(line);
        }, 10000);
    }
    void command(const QString& line) { process.write((line + u'\n').toUtf8()); }
    // Ends the run once its input is done; true when it ended well.
    bool finish()
    {
        process.closeWriteChannel();
        const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 10000);
        output += QString::fromUtf8(process.readAllStandardOutput());
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

TEST(Notifier, AnEarlierRunsNotificationIsClickedReplacedAndWithdrawnByItsTabOnTheSameServerOnly)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: run under dbus-run-session (Debian package dbus)";
    QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    auto server = std::make_unique<RecordingServer>(serverBus);
    ASSERT_TRUE(serverBus.registerObject(path, server.get(), QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverBus.registerService(interface));
    test::TempFolder folder;
    const QString statePath = folder.file(QStringLiteral("notifications.json"));
    const QString a = QStringLiteral("local::kq-a");
    const QString b = QStringLiteral("p1::kq-b");

    {
        PreferenceStore state(statePath);
        Notifier first(QDBusConnection::sessionBus(), &state);
        first.post(a, QStringLiteral("web"));
        first.post(b, QStringLiteral("docs"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return storedId(statePath, a) != 0 && storedId(statePath, b) != 0; }, 10000));
    }
    const uint idA = storedId(statePath, a);
    const uint idB = storedId(statePath, b);
    ASSERT_TRUE(server->shown.contains(idA));

    {
        LaterRun later(statePath);
        ASSERT_TRUE(later.ready());
        // A click on the earlier run's notification reaches this run with its tab.
        server->emitSignal("ActionInvoked", idA, QStringLiteral("default"));
        ASSERT_TRUE(later.waitFor(u"tap "_qs + a + u'\n'));
        // A new one for the tab replaces it; showing the tab withdraws it.
        later.command(u"post "_qs + a + u" web / api"_qs);
        ASSERT_TRUE(QTest::qWaitFor([&] { return server->calls.size() == 3; }, 10000));
        EXPECT_EQ(std::get<0>(server->calls.back()), idA);
        later.command(u"clear "_qs + a);
        ASSERT_TRUE(QTest::qWaitFor([&] { return server->closed.contains(idA); }, 10000));
        ASSERT_TRUE(later.finish());
        EXPECT_EQ(later.output.count(u"tap "_qs), 1);
    }
    EXPECT_EQ(storedId(statePath, a), 0u);
    EXPECT_EQ(storedId(statePath, b), idB);

    // The notification server restarts: same program, a new process on the bus.
    serverBus.unregisterService(interface);
    QDBusConnection::disconnectFromBus(QStringLiteral("server"));
    QDBusConnection restartedBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("restarted"));
    RecordingServer restarted(restartedBus);
    ASSERT_TRUE(restartedBus.registerObject(path, &restarted, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(restartedBus.registerService(interface));
    // It hands out the old number again, to another program's notification.
    restarted.shown.insert(idB, QStringLiteral("another program"));
    {
        LaterRun later(statePath);
        ASSERT_TRUE(later.ready());
        restarted.emitSignal("ActionInvoked", idB, QStringLiteral("default"));
        later.command(u"clear "_qs + b);
        later.command(u"post "_qs + b + u" docs"_qs);
        ASSERT_TRUE(QTest::qWaitFor([&] { return restarted.calls.size() == 1; }, 10000));
        EXPECT_EQ(std::get<0>(restarted.calls.front()), 0u);
        QTest::qWait(200);
        ASSERT_TRUE(later.finish());
        EXPECT_FALSE(later.output.contains(u"tap "_qs)) << later.output.toStdString();
    }
    EXPECT_TRUE(restarted.closed.isEmpty());
    EXPECT_EQ(restarted.shown.value(idB), QStringLiteral("another program"));
    restartedBus.unregisterService(interface);
}

} // namespace
} // namespace halvoren

#include "NotifierTest.moc"

// The notifier against a recording notification server of our own on a private session bus
// (the test runs under dbus-run-session): one notification per tab, replaced and closed by
// the tab's key, and a click that reaches onTap with that key.
#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
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
}

} // namespace
} // namespace halvoren

#include "NotifierTest.moc"

// The private keyring of run-with-keyring.sh, driven as a desktop drives its own: its login
// collection locked (as by a session that logs in without unlocking it), unlocked again with
// the test password (no prompt can be shown here), and its daemon restarted during a run.
// These talk to the daemon on a bus connection of their own, not through libsecret, so they
// do not depend on the library state the code under test keeps.
#pragma once

#include <QProcess>
#include <QString>

#include <gio/gio.h>
#include <gtest/gtest.h>

namespace halvoren::test {

inline constexpr const char* secretsName = "org.freedesktop.secrets";
inline constexpr const char* secretsPath = "/org/freedesktop/secrets";
inline constexpr const char* loginCollection = "/org/freedesktop/secrets/collection/login";

// Whether this test runs in the private keyring; the tests that need it assert it first.
inline bool inPrivateKeyring()
{
    return qEnvironmentVariable("HOME").startsWith(QStringLiteral("/tmp/hv-keyring-"))
           && qEnvironmentVariableIsSet("HV_KEYRING_DAEMON");
}

// One method call on the keyring daemon over a fresh private connection; its reply, or
// nothing (with the failure added to the test) when it failed.
class KeyringBus {
public:
    KeyringBus()
    {
        GError* error = nullptr;
        gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (address != nullptr) {
            bus = g_dbus_connection_new_for_address_sync(address,
                                                         static_cast<GDBusConnectionFlags>(
                                                             G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT
                                                             | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                         nullptr, nullptr, &error);
            g_free(address);
        }
        check(error, "the session bus");
    }
    ~KeyringBus()
    {
        if (bus != nullptr) {
            g_dbus_connection_close_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
    }
    KeyringBus(const KeyringBus&) = delete;
    KeyringBus& operator=(const KeyringBus&) = delete;

    // Takes `arguments` (floating or not); the reply is the caller's to unref.
    GVariant* call(const char* path, const char* interface, const char* method, GVariant* arguments)
    {
        if (bus == nullptr)
            return nullptr;
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(bus, secretsName, path, interface, method, arguments, nullptr,
                                                      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
        check(error, method);
        return reply;
    }

private:
    static void check(GError* error, const char* what)
    {
        if (error == nullptr)
            return;
        ADD_FAILURE() << what << ": " << error->message;
        g_error_free(error);
    }

    GDBusConnection* bus = nullptr;
};

// Locks the login collection with the Secret Service's own Lock call.
inline bool lockKeyring()
{
    KeyringBus bus;
    const gchar* collections[] = {loginCollection};
    GVariant* reply = bus.call(secretsPath, "org.freedesktop.Secret.Service", "Lock",
                               g_variant_new("(@ao)", g_variant_new_objv(collections, 1)));
    if (reply != nullptr)
        g_variant_unref(reply);
    return reply != nullptr;
}

// Unlocks it with the test password, through the keyring daemon's own interface for
// unlocking without a prompt: a plain-text session carries the password, as the daemon's
// tools do it.
inline bool unlockKeyring()
{
    KeyringBus bus;
    GVariant* opened = bus.call(secretsPath, "org.freedesktop.Secret.Service", "OpenSession",
                                g_variant_new("(sv)", "plain", g_variant_new_string("")));
    if (opened == nullptr)
        return false;
    const gchar* session = nullptr;
    g_variant_get(opened, "(v&o)", nullptr, &session);
    const QByteArray password = qEnvironmentVariable("HV_KEYRING_PASSWORD").toUtf8();
    // A plain session's secret: no parameters, the password as it is.
    GVariant* secret = g_variant_new("(o@ay@ays)", session, g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, "", 0, 1),
                                     g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, password.constData(),
                                                               static_cast<gsize>(password.size()), 1),
                                     "text/plain");
    GVariant* reply = bus.call(secretsPath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                               "UnlockWithMasterPassword", g_variant_new("(o@(oayays))", loginCollection, secret));
    g_variant_unref(opened);
    if (reply != nullptr)
        g_variant_unref(reply);
    return reply != nullptr;
}

// Stops the keyring daemon and starts another over the same keyring, unlocked.
inline bool restartKeyringDaemon()
{
    return QProcess::execute(QStringLiteral("sh"), {qEnvironmentVariable("HV_KEYRING_DAEMON"), QStringLiteral("restart")})
           == 0;
}

} // namespace halvoren::test

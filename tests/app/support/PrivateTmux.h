// A private tmux server for one test: its own socket folder, TMUX unset, HOME and the XDG
// folders a fresh folder, no session bus, the C.UTF-8 locale and /bin/sh the user's shell. The server goes with the object.
#pragma once

#include "TempFolder.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

namespace halvoren::test {

class PrivateTmux {
public:
    PrivateTmux()
    {
        // Canonical, since tmux reports pane folders with links resolved.
        base = QDir(root.path()).canonicalPath();
        QDir().mkpath(file(QStringLiteral("sockets")));
        QDir().mkpath(home());
        // TMUX first: with it set, tmux would talk to the server it names. Every place of the
        // caller's is replaced, so the shells and programs started here never see it.
        for (const char* name : {"TMUX", "TMUX_PANE", "ENV", "LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"})
            environment.set(name, std::nullopt);
        environment.set("TMUX_TMPDIR", file(QStringLiteral("sockets")));
        environment.set("HOME", home());
        environment.set("XDG_CONFIG_HOME", home() + QStringLiteral("/.config"));
        environment.set("XDG_DATA_HOME", home() + QStringLiteral("/.local/share"));
        environment.set("XDG_CACHE_HOME", home() + QStringLiteral("/.cache"));
        environment.set("XDG_STATE_HOME", home() + QStringLiteral("/.local/state"));
        environment.set("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=") + file(QStringLiteral("no-session-bus")));
        environment.set("LANG", QStringLiteral("C.UTF-8"));
        environment.set("SHELL", QStringLiteral("/bin/sh"));
    }
    ~PrivateTmux() { tmux({QStringLiteral("kill-server")}); }
    // Empty when tmux is installed; otherwise the line naming the missing package.
    static std::string missing()
    {
        return QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty()
                   ? "tmux is missing: install the Debian package tmux" : "";
    }
    QString file(const QString& name) const { return base + u'/' + name; }
    QString home() const { return file(QStringLiteral("home")); }
    // A folder below the run's one, made.
    QString folder(const QString& name) const
    {
        QDir().mkpath(file(name));
        return file(name);
    }
    // Runs tmux against the private server; its standard output, trimmed.
    static QString tmux(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral("tmux"), arguments);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    TempFolder root;
    EnvironmentOverride environment;
    QString base;
};

} // namespace halvoren::test
